#include "tools/ble-scan/event_loop.h"

#include <algorithm>
#include <thread>

namespace beaconsweep {

namespace {
constexpr int64_t kMaxDelayMs = int64_t{100} * 366 * 24 * 3600 * 1000;
}  // namespace

EventLoop::EventLoop(Clock clock) : clock_(clock), start_(std::chrono::steady_clock::now()) {}

void EventLoop::Post(int64_t delay_ms, std::function<void()> callback) {
  const int64_t due = NowMs() + std::clamp<int64_t>(delay_ms, 0, kMaxDelayMs);
  timers_.emplace(std::make_pair(due, next_sequence_++), std::move(callback));
}

int64_t EventLoop::NowMs() const {
  if (clock_ == Clock::kSimulated) return simulated_now_ms_;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

void EventLoop::Run() {
  quit_ = false;
  while (!quit_ && !timers_.empty()) {
    auto first = timers_.begin();
    const int64_t due = first->first.first;
    if (clock_ == Clock::kSimulated) {
      simulated_now_ms_ = std::max(simulated_now_ms_, due);
    } else {
      std::this_thread::sleep_until(start_ + std::chrono::milliseconds(due));
    }
    std::function<void()> callback = std::move(first->second);
    timers_.erase(first);
    callback();
  }
}

}  // namespace beaconsweep
