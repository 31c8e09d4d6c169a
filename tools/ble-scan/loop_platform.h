// The main-queue half of Platform for systems without a platform run loop:
// timers on an EventLoop, unbuffered writes to file descriptor 1, and
// process exit. Central-manager operations are left to subclasses.
#ifndef BEACONSWEEP_LOOP_PLATFORM_H_
#define BEACONSWEEP_LOOP_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <string>

#include "tools/ble-scan/event_loop.h"
#include "tools/ble-scan/platform.h"

namespace beaconsweep {

class LoopPlatform : public Platform {
 public:
  explicit LoopPlatform(EventLoop::Clock clock) : loop_(clock) {}

  void RunAfter(int64_t delay_ms, std::function<void()> callback) override;
  // Returns only when the loop runs dry or a subclass quits it from Terminate.
  int RunMainLoop() override;
  void WriteStandardOutput(const std::string& bytes) override;
  void Terminate(int status) override;

 protected:
  EventLoop& loop() { return loop_; }
  void set_exit_status(int status) { exit_status_ = status; }

 private:
  EventLoop loop_;
  int exit_status_ = 0;
};

}  // namespace beaconsweep

#endif  // BEACONSWEEP_LOOP_PLATFORM_H_
