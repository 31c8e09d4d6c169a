// Monotonic timing for the engine's [TIMING] lines and polling waits.
#ifndef DICTACORE_ENGINE_COMMON_CLOCK_H_
#define DICTACORE_ENGINE_COMMON_CLOCK_H_

#include <chrono>
#include <cstdint>

namespace dictacore {

using MonotonicClock = std::chrono::steady_clock;

// Measures elapsed time from construction (or the last Restart).
class Stopwatch {
 public:
  Stopwatch() : start_(MonotonicClock::now()) {}
  void Restart() { start_ = MonotonicClock::now(); }
  // Whole milliseconds elapsed: nanoseconds divided by one million, truncated.
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(MonotonicClock::now() - start_)
               .count() /
           1000000;
  }

 private:
  MonotonicClock::time_point start_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_CLOCK_H_
