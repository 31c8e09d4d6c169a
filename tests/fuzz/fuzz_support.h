// Small helpers shared by the fuzz targets: invariant checks that end the run
// with a report, in-memory files with a path, and argument splitting.
#ifndef DICTACORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define DICTACORE_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A broken invariant is a finding: report it and abort so that libFuzzer
// keeps the input as a crash artifact.
#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                   \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

namespace fuzz {

// One anonymous in-memory file per process, reachable by a path so that code
// which opens files by name reads the fuzz input without touching the disk.
class MemFile {
 public:
  MemFile() : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
    if (fd_ < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() { ::close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  // Replaces the file's content.
  void Set(const uint8_t* data, size_t size) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
  }
  void Set(const std::string& text) {
    Set(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  std::string path_;
};

// The input split at NUL bytes, the way a command line arrives: every piece
// is one argument (empty pieces included).
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  return pieces;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A time field of the tab-separated line formats, read with strtod: false
// when no number starts the field or it is out of range.
inline bool ReadTimeField(const std::string& field, double* value) {
  const char* begin = field.c_str();
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(begin, &end);
  return end != begin && errno != ERANGE;
}

// "start<TAB>end<TAB>label": the first two fields and everything after the
// second tab; false when the line has fewer than two tabs.
inline bool SplitAtTwoTabs(const std::string& line, std::string* first, std::string* second,
                           std::string* rest) {
  const size_t tab1 = line.find('\t');
  if (tab1 == std::string::npos) return false;
  const size_t tab2 = line.find('\t', tab1 + 1);
  if (tab2 == std::string::npos) return false;
  *first = line.substr(0, tab1);
  *second = line.substr(tab1 + 1, tab2 - tab1 - 1);
  *rest = line.substr(tab2 + 1);
  return true;
}

inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }
inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

}  // namespace fuzz

#endif  // DICTACORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
