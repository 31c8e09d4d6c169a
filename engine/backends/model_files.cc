#include "engine/backends/model_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dictacore {

bool CheckTokensFile(const std::string& path, std::string* error) {
  std::ifstream file(path);
  if (!file.is_open()) return true;
  static constexpr char kSpace[] = " \t\n\r\f\v";
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    // The toolkit's reader, step by step: trim, a token, then either the end
    // of the line or an id followed by nothing but white space. Its quirks
    // stay: an id too large for 32 bits at the very end is accepted.
    const size_t last = line.find_last_not_of(kSpace);
    line.erase(last == std::string::npos ? 0 : last + 1);
    line.erase(0, line.find_first_not_of(kSpace));
    std::istringstream fields(line);
    std::string token;
    fields >> token;
    if (fields.eof()) continue;
    int32_t id = 0;
    fields >> id;
    fields >> std::ws;
    if (fields.eof()) continue;
    return Fail(error, "tokens file " + path + ": line " + std::to_string(number) +
                           " is not '<token> <id>'");
  }
  return true;
}

namespace {

// Empty when nothing is visibly wrong with the file.
std::string ModelFileFault(const ModelFileArg& file) {
  struct stat info {};
  if (::stat(file.path.c_str(), &info) != 0) {
    return errno == ENOENT ? "no such file" : std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(info.st_mode)) return "is a directory, not a model file";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (info.st_size == 0) return "is empty";
  std::ifstream in(file.path, std::ios::binary);
  char first = 0;
  if (!in.read(&first, 1)) return std::string("cannot be read: ") + std::strerror(errno);
  // An ONNX model is a serialized ModelProto, which begins with its field 1,
  // ir_version: tag byte 0x08.
  if (file.onnx && first != 0x08) return "is not an ONNX model";
  return std::string();
}

}  // namespace

std::vector<std::string> DescribeModelFileFaults(const std::vector<ModelFileArg>& files) {
  std::vector<std::string> lines;
  for (const ModelFileArg& file : files) {
    if (file.path.empty()) continue;
    const std::string fault = ModelFileFault(file);
    if (!fault.empty()) lines.push_back(file.option + " " + file.path + ": " + fault);
  }
  return lines;
}

}  // namespace dictacore
