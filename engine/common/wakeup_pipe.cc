#include "engine/common/wakeup_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace dictacore {
namespace {

// Close-on-exec, so the diarization helper does not inherit the pipe, and
// non-blocking, so neither Notify nor Clear can hang.
bool SetPipeFlags(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

WakeupPipe::WakeupPipe() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  if (!SetPipeFlags(fds[0]) || !SetPipeFlags(fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  read_fd_ = fds[0];
  write_fd_ = fds[1];
}

WakeupPipe::~WakeupPipe() {
  if (read_fd_ >= 0) ::close(read_fd_);
  if (write_fd_ >= 0) ::close(write_fd_);
}

void WakeupPipe::Notify() {
  if (write_fd_ < 0) return;
  const char byte = 1;
  while (::write(write_fd_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void WakeupPipe::Clear() {
  if (read_fd_ < 0) return;
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(read_fd_, buffer, sizeof(buffer));
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

void WakeupPipe::Wait(int timeout_ms) {
  if (read_fd_ < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms < 1 ? 1 : timeout_ms));
    return;
  }
  pollfd ready{read_fd_, POLLIN, 0};
  ::poll(&ready, 1, timeout_ms);
}

}  // namespace dictacore
