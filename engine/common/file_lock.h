// An exclusive advisory lock on a lock file, shared by every process that
// edits the same data.
#ifndef DICTACORE_ENGINE_COMMON_FILE_LOCK_H_
#define DICTACORE_ENGINE_COMMON_FILE_LOCK_H_

#include <chrono>
#include <string>

namespace dictacore {

// flock(2) on a file opened for the purpose. The lock belongs to that one open
// file, so it excludes every other opening (in this process too), does not
// depend on other descriptors of the file, and goes with the process: a
// holder that dies never blocks the next one. It binds only processes that
// take it as well.
class ExclusiveFileLock {
 public:
  ExclusiveFileLock() = default;
  ~ExclusiveFileLock() { Release(); }
  ExclusiveFileLock(const ExclusiveFileLock&) = delete;
  ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

  // Opens `path` (created, mode 0666 less the umask, when missing; never
  // deleted) and takes the lock, trying again with pauses growing up to 50 ms
  // until `wait` has passed. Messages: "cannot open lock file <path>: ...",
  // "cannot lock <path>: ...", "timed out after <n> ms waiting for the lock
  // on <path>".
  bool Acquire(const std::string& path, std::chrono::milliseconds wait, std::string* error);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_FILE_LOCK_H_
