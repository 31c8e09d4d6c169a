// Small POSIX descriptor helpers.
#ifndef DICTACORE_ENGINE_COMMON_POSIX_IO_H_
#define DICTACORE_ENGINE_COMMON_POSIX_IO_H_

#include <string>

namespace dictacore {

// Writes every byte of `data` to `fd`, retrying interrupted and partial
// writes and waiting while a non-blocking descriptor is full. False on the
// first other error (errno tells which).
bool WriteAllToFd(int fd, const std::string& data);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_POSIX_IO_H_
