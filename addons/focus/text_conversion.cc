#include "addons/focus/text_conversion.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

// The code point of the well-formed sequence at the start of `bytes` and its
// length; a length of 0 when the sequence is not well-formed.
std::size_t DecodeUtf8(std::string_view bytes, char32_t* code_point) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  std::size_t count = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2;
    value = lead & 0x1F;
    smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3;
    value = lead & 0x0F;
    smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4;
    value = lead & 0x07;
    smallest = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < count) return 0;
  for (std::size_t k = 1; k < count; ++k) {
    const auto next = static_cast<unsigned char>(bytes[k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code_point = value;
  return count;
}

}  // namespace

Utf16Text TextFromUtf8(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t code_point = 0;
    const std::size_t used = DecodeUtf8(utf8.substr(i), &code_point);
    if (used == 0) {
      units.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    i += used;
    if (code_point < 0x10000) {
      units.push_back(static_cast<char16_t>(code_point));
      continue;
    }
    code_point -= 0x10000;
    units.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
  }
  return WholeText(std::move(units));
}

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
