// The UTF-8 and punctuation helpers over arbitrary bytes (malformed and
// truncated sequences included). Checked: stepping never leaves the text and
// lands on character starts, the stripped text is exactly the plain tokens
// joined, token searches return real and last matches, suffixes and tails are
// suffixes of their input, and the terminal-mark helpers are idempotent.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "engine/text/utf8_punct.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace dictacore;

bool IsContinuation(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }
bool IsAsciiSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

constexpr std::array<std::string_view, 7> kTerminal = {"。", "！", "？", "…", ".", "!", "?"};

bool EndsWithTerminal(const std::string& text) {
  for (std::string_view mark : kTerminal) {
    if (fuzz::EndsWith(text, std::string(mark))) return true;
  }
  return false;
}

bool MatchesAt(const std::vector<std::string>& haystack, const std::vector<std::string>& needle,
               size_t start) {
  if (start + needle.size() > haystack.size()) return false;
  for (size_t k = 0; k < needle.size(); ++k) {
    if (haystack[start + k] != needle[k]) return false;
  }
  return true;
}

void CheckStepping(const std::string& text) {
  for (size_t pos = 0; pos <= text.size() + 1; ++pos) {
    if (pos < text.size()) {
      const int len = Utf8CharLen(static_cast<uint8_t>(text[pos]));
      FUZZ_CHECK(len >= 1 && len <= 4);
      for (size_t width = 0; width <= 5; ++width) {
        const bool strip = ShouldStripPuncToken(text, pos, width);
        FUZZ_CHECK(!strip || width > 0);
      }
      if (IsNumericDot(text, pos)) {
        FUZZ_CHECK(pos > 0 && text[pos - 1] >= '0' && text[pos - 1] <= '9');
        FUZZ_CHECK(text[pos] == '.' || text.compare(pos, 3, "．") == 0);
      }
    } else {
      FUZZ_CHECK(!ShouldStripPuncToken(text, pos, 1));
      FUZZ_CHECK(!IsNumericDot(text, pos));
    }
    const size_t prev = PrevUtf8Start(text, pos);
    if (pos == 0 || pos > text.size()) {
      FUZZ_CHECK(prev == 0);
      continue;
    }
    FUZZ_CHECK(prev < pos);
    if (prev > 0) FUZZ_CHECK(!IsContinuation(text[prev]));
    for (size_t i = prev + 1; i < pos; ++i) FUZZ_CHECK(IsContinuation(text[i]));
  }
}

void CheckStripping(const std::string& text) {
  std::vector<std::string> tokens;
  std::vector<size_t> positions;
  CollectPlainTokens(text, &tokens, &positions);
  FUZZ_CHECK(tokens.size() == positions.size());
  std::string joined;
  for (size_t i = 0; i < tokens.size(); ++i) {
    FUZZ_CHECK(!tokens[i].empty() && tokens[i].size() <= 4);
    FUZZ_CHECK(i == 0 || positions[i] >= positions[i - 1] + tokens[i - 1].size());
    FUZZ_CHECK(text.compare(positions[i], tokens[i].size(), tokens[i]) == 0);
    FUZZ_CHECK(!IsUtf8PuncToken(tokens[i]) || tokens[i] == "．");
    joined += tokens[i];
  }
  const std::string stripped = StripPuncForPuncModel(text);
  FUZZ_CHECK(stripped == joined);
  bool content = false;
  for (char ch : stripped) content |= !IsAsciiSpace(ch);
  FUZZ_CHECK(HasContentText(text) == content);

  std::vector<std::string> without_positions;
  CollectPlainTokens(text, &without_positions);
  FUZZ_CHECK(without_positions == tokens);
}

void CheckSuffix(const std::string& text, int count) {
  const std::string suffix = Utf8SuffixByCodepoints(text, count);
  if (count < 1 || text.empty()) {
    FUZZ_CHECK(suffix.empty());
    return;
  }
  FUZZ_CHECK(!suffix.empty() && fuzz::EndsWith(text, suffix));
  size_t starts = 0;
  for (char ch : suffix) starts += IsContinuation(ch) ? 0 : 1;
  if (suffix == text) {
    FUZZ_CHECK(starts <= static_cast<size_t>(count));
  } else {
    FUZZ_CHECK(!IsContinuation(suffix[0]) && starts == static_cast<size_t>(count));
  }
}

void CheckTail(const std::string& punctuated, const std::string& tail,
               const std::string& fallback) {
  const std::string result = ExtractTailByPlain(punctuated, tail, fallback);
  if (tail.empty()) {
    FUZZ_CHECK(result == punctuated);
    return;
  }
  std::vector<std::string> tokens;
  std::vector<size_t> positions;
  CollectPlainTokens(punctuated, &tokens, &positions);
  std::vector<std::string> tail_tokens;
  CollectPlainTokens(tail, &tail_tokens);

  const std::ptrdiff_t index = tail_tokens.empty() ? -1 : FindLastTokenSubseq(tokens, tail_tokens);
  if (index < 0) {
    FUZZ_CHECK(result == (fallback.empty() ? punctuated : fallback));
    return;
  }
  // The tail plus only punctuation and blanks the model put in front of it.
  const size_t first = positions[static_cast<size_t>(index)];
  FUZZ_CHECK(fuzz::EndsWith(punctuated, result) && result.size() >= punctuated.size() - first);
  const size_t start = punctuated.size() - result.size();
  // Walking back from the tail's first token to the start of the result
  // crosses only punctuation and single blanks, and the result does not
  // begin with a blank.
  size_t point = first;
  bool last_was_blank = false;
  while (point > start) {
    const size_t prev = PrevUtf8Start(punctuated, point);
    FUZZ_CHECK(prev >= start && prev < point);
    last_was_blank = point - prev == 1 && IsAsciiSpace(punctuated[prev]);
    FUZZ_CHECK(last_was_blank || ShouldStripPuncToken(punctuated, prev, point - prev));
    point = prev;
  }
  FUZZ_CHECK(!last_was_blank);
}

void CheckTokenSearch(const std::vector<std::string>& haystack,
                      const std::vector<std::string>& needle) {
  const std::ptrdiff_t found = FindLastTokenSubseq(haystack, needle);
  if (needle.empty()) {
    FUZZ_CHECK(found == 0);
    return;
  }
  if (found < 0) {
    FUZZ_CHECK(found == -1);
    for (size_t s = 0; s + needle.size() <= haystack.size(); ++s) {
      FUZZ_CHECK(!MatchesAt(haystack, needle, s));
    }
    return;
  }
  FUZZ_CHECK(MatchesAt(haystack, needle, static_cast<size_t>(found)));
  for (size_t s = static_cast<size_t>(found) + 1; s + needle.size() <= haystack.size(); ++s) {
    FUZZ_CHECK(!MatchesAt(haystack, needle, s));
  }
}

void CheckTerminalMarks(const std::string& text) {
  const std::string stripped = StripTerminalPunc(text);
  FUZZ_CHECK(fuzz::StartsWith(text, stripped));
  FUZZ_CHECK(!EndsWithTerminal(stripped));
  FUZZ_CHECK(StripTerminalPunc(stripped) == stripped);
  std::string popped = text;
  const bool any = PopOneTerminalPunc(&popped);
  FUZZ_CHECK(any == EndsWithTerminal(text));
  FUZZ_CHECK(fuzz::StartsWith(text, popped) && (any ? popped.size() < text.size() : popped == text));
  FUZZ_CHECK(!PopOneTerminalPunc(nullptr));

  const std::string ensured = EnsureTerminalPunc(text);
  if (text.empty()) {
    FUZZ_CHECK(ensured.empty());
    return;
  }
  FUZZ_CHECK(ensured == text || ensured == text + "。");
  FUZZ_CHECK(EndsWithTerminal(ensured));
  FUZZ_CHECK(EnsureTerminalPunc(ensured) == ensured);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const int count = provider.ConsumeIntegralInRange<int>(-2, 40);
  const std::string tail = provider.ConsumeRandomLengthString(48);
  const std::string fallback = provider.ConsumeRandomLengthString(16);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  CheckStepping(text);
  CheckStripping(text);
  CheckSuffix(text, count);
  CheckSuffix(text, 1);
  CheckTail(text, tail, fallback);
  CheckTerminalMarks(text);
  FUZZ_CHECK(EndsWith(text, tail) == (!tail.empty() && fuzz::EndsWith(text, tail)));

  std::vector<std::string> haystack;
  std::vector<std::string> needle;
  CollectPlainTokens(text, &haystack);
  CollectPlainTokens(tail, &needle);
  CheckTokenSearch(haystack, needle);
  if (!haystack.empty()) {
    // A run taken from the haystack itself is always found, at or after it.
    const size_t from = static_cast<size_t>(count < 0 ? 0 : count) % haystack.size();
    const std::vector<std::string> run(haystack.begin() + static_cast<std::ptrdiff_t>(from),
                                       haystack.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                              haystack.size(), from + 3)));
    FUZZ_CHECK(FindLastTokenSubseq(haystack, run) >= static_cast<std::ptrdiff_t>(from));
    CheckTokenSearch(haystack, run);
  }
  CheckTokenSearch(needle, haystack);
  return 0;
}
