#include "engine/backends/model_files.h"

#include <cstdint>
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

}  // namespace dictacore
