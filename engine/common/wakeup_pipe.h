// A wake-up one thread posts and another waits for, together with its own
// descriptors in one poll(): a self-pipe, so it works alike on Linux and
// macOS.
#ifndef DICTACORE_ENGINE_COMMON_WAKEUP_PIPE_H_
#define DICTACORE_ENGINE_COMMON_WAKEUP_PIPE_H_

namespace dictacore {

class WakeupPipe {
 public:
  // When no pipe can be made, fd() is -1: Wait() then only pauses, and
  // pollers see no wake-up.
  WakeupPipe();
  ~WakeupPipe();
  WakeupPipe(const WakeupPipe&) = delete;
  WakeupPipe& operator=(const WakeupPipe&) = delete;

  // Any thread; never blocks (a full pipe already holds a wake-up).
  void Notify();
  // Empties the pipe. The waiting side calls it before it looks at what the
  // wake-ups are about, so that one posted after the look is kept.
  void Clear();
  // Returns once a wake-up is pending or `timeout_ms` has passed.
  void Wait(int timeout_ms);
  // Readable while a wake-up is pending; -1 without a pipe.
  int fd() const { return read_fd_; }

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_WAKEUP_PIPE_H_
