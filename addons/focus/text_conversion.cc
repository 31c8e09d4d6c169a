#include "addons/focus/text_conversion.h"

#include <algorithm>
#include <cstdio>

namespace focusprobe {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Writes the UTF-8 form of `code_point` to `out` and returns its byte count.
std::size_t EncodeUtf8(char32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units, std::size_t max_bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < units.size()) {
    const char16_t unit = units[i];
    char32_t code_point = unit;
    std::size_t used = 1;
    if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      code_point = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                   (static_cast<char32_t>(units[i + 1]) - 0xDC00);
      used = 2;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      code_point = U'?';
    }
    char bytes[4];
    const std::size_t count = EncodeUtf8(code_point, bytes);
    if (out.size() + count > max_bytes) break;
    out.append(bytes, count);
    i += used;
  }
  return out;
}

std::string PlatformTextToUtf8(const Utf16Text& text) {
  if (text.length <= 0) return std::string();
  const bool truncated = text.length > kMaxStringUnits;
  if (truncated) {
    std::fprintf(stderr, "[FocusProbe][AXWarn] Truncated AX string from %ld to %ld UTF-16 chars\n",
                 text.length, kMaxStringUnits);
  }
  const std::u16string_view units(text.units);
  std::size_t cut = std::min(static_cast<std::size_t>(std::min(text.length, kMaxStringUnits)),
                             units.size());
  // Cutting between the halves of a pair would turn its first half into "?";
  // cut before the pair instead.
  if (truncated && cut > 0 && cut < units.size() && IsHighSurrogate(units[cut - 1]) &&
      IsLowSurrogate(units[cut])) {
    --cut;
  }
  std::string result = Utf16ToUtf8(units.substr(0, cut), kConversionBufferBytes);
  if (result.empty()) return result;
  if (truncated) result += "...";
  return result;
}

}  // namespace focusprobe
