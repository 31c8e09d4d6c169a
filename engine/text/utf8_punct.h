// UTF-8 stepping and punctuation-token helpers shared by the text pipeline.
// Everything here is pure: byte strings in, new strings or lists out. Positions
// and lengths are in bytes unless a function says code points.
#ifndef DICTACORE_ENGINE_TEXT_UTF8_PUNCT_H_
#define DICTACORE_ENGINE_TEXT_UTF8_PUNCT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dictacore {

// Length of the character that starts with `lead`: 1 to 4. Stray continuation
// bytes and 0xF8..0xFF count as one byte.
int Utf8CharLen(uint8_t lead);

// True when `text` is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// True when `token` is exactly one mark of the wide (CJK and typographic)
// punctuation table.
bool IsUtf8PuncToken(std::string_view token);

// True when the dot ("." or the wide "．") at `pos` sits between two ASCII
// digits, i.e. is a decimal point.
bool IsNumericDot(const std::string& text, size_t pos);

// True when the character [pos, pos + len) is punctuation that is stripped
// before the text goes to the punctuation model. Decimal points are kept.
bool ShouldStripPuncToken(const std::string& text, size_t pos, size_t len);

// Start of the character that ends just before `pos` (0 at or past the ends).
size_t PrevUtf8Start(const std::string& text, size_t pos);

// The text without strippable punctuation; whitespace is kept.
std::string StripPuncForPuncModel(const std::string& text);

// True when the text holds something besides punctuation and whitespace.
bool HasContentText(const std::string& text);

// Every non-punctuation character of `text` as one token (whitespace included),
// with its byte position when `positions` is given. Without `tokens` nothing
// happens.
void CollectPlainTokens(const std::string& text, std::vector<std::string>* tokens,
                        std::vector<size_t>* positions = nullptr);

// Largest start index at which `needle` occurs as a contiguous run in
// `haystack`; 0 for an empty needle, -1 when there is none.
std::ptrdiff_t FindLastTokenSubseq(const std::vector<std::string>& haystack,
                                   const std::vector<std::string>& needle);

// The last `count` characters of `text` (the whole text when it has fewer).
std::string Utf8SuffixByCodepoints(const std::string& text, int count);

// The part of `punctuated` that covers `plain_tail`, led by the punctuation
// placed directly before it; `fallback` (or `punctuated` when the fallback is
// empty) when the tail cannot be found.
std::string ExtractTailByPlain(const std::string& punctuated, const std::string& plain_tail,
                               const std::string& fallback);

bool EndsWith(const std::string& text, const std::string& suffix);

// Removes one sentence-final mark from the end of `*text`; false when there
// was none (or `text` is null or empty).
bool PopOneTerminalPunc(std::string* text);

// The text without any trailing sentence-final marks.
std::string StripTerminalPunc(const std::string& text);

// The text ending in a sentence-final mark: "。" is appended when it has none.
std::string EnsureTerminalPunc(const std::string& text);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_TEXT_UTF8_PUNCT_H_
