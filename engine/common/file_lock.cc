#include "engine/common/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "engine/common/clock.h"
#include "engine/common/error.h"

namespace dictacore {
namespace {

constexpr auto kFirstPause = std::chrono::milliseconds(1);
constexpr auto kLongestPause = std::chrono::milliseconds(50);

// Tries once; errno tells why not (EWOULDBLOCK: someone else holds it).
bool TryLock(int fd) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

bool ExclusiveFileLock::Acquire(const std::string& path, std::chrono::milliseconds wait,
                                std::string* error) {
  Release();
  // Read access is all flock needs, so a lock file made read-only by
  // whoever created it still serves.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    return Fail(error, "cannot open lock file " + path + ": " + std::strerror(errno));
  }
  const auto deadline = MonotonicClock::now() + wait;
  // flock cannot wait with a time limit, so the wait polls, with pauses that
  // grow from 1 ms: a short edit ahead is followed closely, a long one costs
  // at most twenty wake-ups a second.
  auto pause = std::chrono::duration_cast<MonotonicClock::duration>(kFirstPause);
  for (;;) {
    if (TryLock(fd)) {
      fd_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK) {
      const std::string reason = std::strerror(errno);
      ::close(fd);
      return Fail(error, "cannot lock " + path + ": " + reason);
    }
    const auto now = MonotonicClock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min(pause, deadline - now));
    pause = std::min<MonotonicClock::duration>(pause * 2, kLongestPause);
  }
  ::close(fd);
  return Fail(error, "timed out after " + std::to_string(wait.count()) +
                         " ms waiting for the lock on " + path);
}

void ExclusiveFileLock::Release() {
  if (fd_ < 0) return;
  // Closing the only descriptor of this opening releases the lock.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace dictacore
