// A single-threaded main queue of one-shot timers, for systems without a
// platform run loop. Time is counted in milliseconds from construction,
// either on the monotonic clock or on a simulated clock that jumps straight
// to the next timer.
#ifndef BEACONSWEEP_EVENT_LOOP_H_
#define BEACONSWEEP_EVENT_LOOP_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace beaconsweep {

class EventLoop {
 public:
  enum class Clock { kMonotonic, kSimulated };

  explicit EventLoop(Clock clock);

  // Runs `callback` after `delay_ms` (negative counts as 0). Timers due at
  // the same time run in the order they were posted. Delays beyond a century
  // are cut to a century, which keeps the clock arithmetic in range.
  void Post(int64_t delay_ms, std::function<void()> callback);

  // Milliseconds since construction.
  int64_t NowMs() const;

  // Runs timers in due order until Quit() is called or none are left.
  void Run();
  void Quit() { quit_ = true; }

 private:
  Clock clock_;
  std::chrono::steady_clock::time_point start_;
  int64_t simulated_now_ms_ = 0;
  uint64_t next_sequence_ = 0;
  bool quit_ = false;
  // Keyed by (due time, posting order).
  std::map<std::pair<int64_t, uint64_t>, std::function<void()>> timers_;
};

}  // namespace beaconsweep

#endif  // BEACONSWEEP_EVENT_LOOP_H_
