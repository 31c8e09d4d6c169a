#include "engine/common/strings.h"

#include <cstdio>

namespace dictacore {

std::string AsciiLower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

std::string FormatFixed(double value, int decimals) {
  const int size = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), "%.*f", decimals, value);
  out.resize(static_cast<size_t>(size));
  return out;
}

}  // namespace dictacore
