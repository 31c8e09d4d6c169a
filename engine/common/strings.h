// Small string helpers shared across the engine.
#ifndef DICTACORE_ENGINE_COMMON_STRINGS_H_
#define DICTACORE_ENGINE_COMMON_STRINGS_H_

#include <cstddef>
#include <string>

namespace dictacore {

// ASCII-only lower-casing, byte by byte; other bytes are kept.
std::string AsciiLower(std::string text);

// `value` in fixed notation with `decimals` digits after the point, as
// printf's %.Nf writes it (1.25 with 6 decimals is "1.250000").
std::string FormatFixed(double value, int decimals);

// At most `limit` bytes of `text` for a log line, cut at a character
// boundary so the line stays valid UTF-8, with "..." when cut.
std::string ShortenForLog(const std::string& text, size_t limit);

// `dir` and `name` joined with one "/" unless `dir` is empty or already ends
// with one.
std::string JoinPath(const std::string& dir, const std::string& name);

// Reads the number at the start of `text` the way strtod does (leading white
// space skipped, trailing characters ignored; infinity and NaN spellings
// accepted). False when there is no number or it is out of range.
bool ParseLeadingDouble(const std::string& text, double* value);

// The same for single precision, as strtof (and so std::stof) reads it.
bool ParseLeadingFloat(const std::string& text, float* value);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_STRINGS_H_
