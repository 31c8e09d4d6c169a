#include "engine/text/utf8_punct.h"

#include <array>
#include <cctype>
#include <cstring>

namespace dictacore {
namespace {

// Wide punctuation marks that are stripped like ASCII punctuation. All are
// three bytes long except the middle dot, which is two.
constexpr std::array<std::string_view, 26> kWidePunct = {
    "，", "。", "！", "？", "、", "；", "：", "（", "）", "【", "】", "《", "》",
    "“", "”", "‘", "’", "「", "」", "『", "』", "…", "—", "～", "·", "．"};

// Sentence-final marks, in the order they are tried when popping.
constexpr std::array<std::string_view, 7> kTerminalPunct = {"。", "！", "？", "…", ".", "!", "?"};

constexpr std::string_view kWideDot = "．";

bool IsAsciiSpace(unsigned char c) { return c < 0x80 && std::isspace(c) != 0; }
bool IsAsciiPunct(unsigned char c) { return c < 0x80 && std::ispunct(c) != 0; }
bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool HasAt(const std::string& text, size_t pos, std::string_view what) {
  return pos <= text.size() && text.size() - pos >= what.size() &&
         std::memcmp(text.data() + pos, what.data(), what.size()) == 0;
}

// Length of the character at `pos` as the scans see it: the lead byte's
// length, or one byte when that would run past the end of the text.
size_t CharLenAt(const std::string& text, size_t pos) {
  const size_t len = static_cast<size_t>(Utf8CharLen(static_cast<uint8_t>(text[pos])));
  return pos + len > text.size() ? 1 : len;
}

}  // namespace

int Utf8CharLen(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC0 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  return 1;
}

bool IsValidUtf8(std::string_view text) {
  const auto in = [](uint8_t byte, uint8_t low, uint8_t high) {
    return byte >= low && byte <= high;
  };
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The second byte's range depends on the lead (Unicode table 3-7); the
    // others are plain continuation bytes.
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    size_t length = 0;
    if (in(lead, 0xC2, 0xDF)) {
      length = 2;
    } else if (in(lead, 0xE0, 0xEF)) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (in(lead, 0xF0, 0xF4)) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    if (!in(static_cast<uint8_t>(text[i + 1]), low, high)) return false;
    for (size_t k = 2; k < length; ++k) {
      if (!in(static_cast<uint8_t>(text[i + k]), 0x80, 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

bool IsUtf8PuncToken(std::string_view token) {
  for (std::string_view mark : kWidePunct) {
    if (token == mark) return true;
  }
  return false;
}

bool IsNumericDot(const std::string& text, size_t pos) {
  if (pos == 0 || pos + 1 >= text.size()) return false;
  size_t dot_len = 0;
  if (text[pos] == '.') {
    dot_len = 1;
  } else if (HasAt(text, pos, kWideDot)) {
    dot_len = kWideDot.size();
  } else {
    return false;
  }
  if (pos + dot_len >= text.size()) return false;
  return IsAsciiDigit(static_cast<unsigned char>(text[pos - 1])) &&
         IsAsciiDigit(static_cast<unsigned char>(text[pos + dot_len]));
}

bool ShouldStripPuncToken(const std::string& text, size_t pos, size_t len) {
  if (len == 0 || pos >= text.size()) return false;
  if (len == 1) {
    return IsAsciiPunct(static_cast<unsigned char>(text[pos])) && !IsNumericDot(text, pos);
  }
  for (std::string_view mark : kWidePunct) {
    if (!HasAt(text, pos, mark)) continue;
    if (mark == kWideDot && IsNumericDot(text, pos)) return false;
    return true;
  }
  return false;
}

size_t PrevUtf8Start(const std::string& text, size_t pos) {
  if (pos == 0 || pos > text.size()) return 0;
  for (size_t i = pos - 1; i >= 1; --i) {
    if (!IsContinuation(static_cast<unsigned char>(text[i]))) return i;
  }
  return 0;
}

std::string StripPuncForPuncModel(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t len = CharLenAt(text, pos);
    if (!ShouldStripPuncToken(text, pos, len)) out.append(text, pos, len);
    pos += len;
  }
  return out;
}

bool HasContentText(const std::string& text) {
  for (unsigned char c : StripPuncForPuncModel(text)) {
    if (!IsAsciiSpace(c)) return true;
  }
  return false;
}

void CollectPlainTokens(const std::string& text, std::vector<std::string>* tokens,
                        std::vector<size_t>* positions) {
  if (tokens == nullptr) return;
  tokens->clear();
  if (positions != nullptr) positions->clear();
  for (size_t pos = 0; pos < text.size();) {
    const size_t len = CharLenAt(text, pos);
    if (!ShouldStripPuncToken(text, pos, len)) {
      tokens->emplace_back(text, pos, len);
      if (positions != nullptr) positions->push_back(pos);
    }
    pos += len;
  }
}

std::ptrdiff_t FindLastTokenSubseq(const std::vector<std::string>& haystack,
                                   const std::vector<std::string>& needle) {
  if (needle.empty()) return 0;
  if (needle.size() > haystack.size()) return -1;
  for (size_t start = haystack.size() - needle.size() + 1; start-- > 0;) {
    bool match = true;
    for (size_t k = 0; k < needle.size() && match; ++k) {
      match = haystack[start + k] == needle[k];
    }
    if (match) return static_cast<std::ptrdiff_t>(start);
  }
  return -1;
}

std::string Utf8SuffixByCodepoints(const std::string& text, int count) {
  if (count < 1 || text.empty()) return std::string();
  size_t cut = text.size();
  for (int i = 0; i < count; ++i) {
    if (cut == 0) return text;
    --cut;
    while (cut > 0 && IsContinuation(static_cast<unsigned char>(text[cut]))) --cut;
    if (cut == 0) return text;
  }
  return text.substr(cut);
}

std::string ExtractTailByPlain(const std::string& punctuated, const std::string& plain_tail,
                               const std::string& fallback) {
  if (plain_tail.empty()) return punctuated;
  std::vector<std::string> tokens;
  std::vector<size_t> positions;
  CollectPlainTokens(punctuated, &tokens, &positions);
  std::vector<std::string> tail_tokens;
  CollectPlainTokens(plain_tail, &tail_tokens);

  const std::ptrdiff_t index =
      tail_tokens.empty() ? -1 : FindLastTokenSubseq(tokens, tail_tokens);
  if (index < 0 || static_cast<size_t>(index) >= positions.size()) {
    return fallback.empty() ? punctuated : fallback;
  }

  // Take along the punctuation the model put directly in front of the tail,
  // stepping over single blanks between marks.
  size_t start = positions[static_cast<size_t>(index)];
  size_t point = start;
  while (point > 0) {
    const size_t prev = PrevUtf8Start(punctuated, point);
    const size_t len = point - prev;
    if (ShouldStripPuncToken(punctuated, prev, len)) {
      start = prev;
    } else if (len != 1 || !IsAsciiSpace(static_cast<unsigned char>(punctuated[prev]))) {
      break;
    }
    point = prev;
  }
  return punctuated.substr(start);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  if (suffix.empty() || suffix.size() > text.size()) return false;
  return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool PopOneTerminalPunc(std::string* text) {
  if (text == nullptr || text->empty()) return false;
  for (std::string_view mark : kTerminalPunct) {
    if (EndsWith(*text, std::string(mark))) {
      text->resize(text->size() - mark.size());
      return true;
    }
  }
  return false;
}

std::string StripTerminalPunc(const std::string& text) {
  std::string out = text;
  while (PopOneTerminalPunc(&out)) {
  }
  return out;
}

std::string EnsureTerminalPunc(const std::string& text) {
  if (text.empty()) return text;
  for (std::string_view mark : kTerminalPunct) {
    if (EndsWith(text, std::string(mark))) return text;
  }
  return text + "。";
}

}  // namespace dictacore
