#include "engine/common/strings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace dictacore {

std::string AsciiLower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

std::string ShortenForLog(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string FormatFixed(double value, int decimals) {
  const int size = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), "%.*f", decimals, value);
  out.resize(static_cast<size_t>(size));
  return out;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

namespace {

template <typename T, T (*Convert)(const char*, char**)>
bool ParseLeading(const std::string& text, T* value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const T parsed = Convert(begin, &end);
  if (end == begin || errno == ERANGE) return false;
  *value = parsed;
  return true;
}

}  // namespace

bool ParseLeadingDouble(const std::string& text, double* value) {
  return ParseLeading<double, std::strtod>(text, value);
}

bool ParseLeadingFloat(const std::string& text, float* value) {
  return ParseLeading<float, std::strtof>(text, value);
}

}  // namespace dictacore
