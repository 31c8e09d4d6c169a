// Small POSIX descriptor helpers.
#ifndef DICTACORE_ENGINE_COMMON_POSIX_IO_H_
#define DICTACORE_ENGINE_COMMON_POSIX_IO_H_

#include <string>

namespace dictacore {

// Writes every byte of `data` to `fd`, retrying interrupted and partial
// writes and waiting while a non-blocking descriptor is full. False on the
// first other error (errno tells which).
bool WriteAllToFd(int fd, const std::string& data);

// pipe() with both ends close-on-exec, so that no child started elsewhere
// inherits them. False when that fails (errno tells why); nothing stays open.
bool MakeCloseOnExecPipe(int fds[2]);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_POSIX_IO_H_
