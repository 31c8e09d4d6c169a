// A fresh directory under /tmp that is removed with everything in it when the
// owner goes away.
#ifndef DICTACORE_ENGINE_COMMON_SCOPED_TEMP_DIR_H_
#define DICTACORE_ENGINE_COMMON_SCOPED_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace dictacore {

class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& prefix = "dictacore") {
    std::string templ = "/tmp/" + prefix + "-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~ScopedTempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // Empty when the directory could not be created.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to the named file inside the directory; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = File(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return file;
  }

 private:
  std::string path_;
};

// The whole content of a file, or empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string content;
  char buffer[65536];
  while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0) {
    content.append(buffer, static_cast<size_t>(in.gcount()));
  }
  return content;
}

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_SCOPED_TEMP_DIR_H_
