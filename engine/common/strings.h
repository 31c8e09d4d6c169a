// Small string helpers shared across the engine.
#ifndef DICTACORE_ENGINE_COMMON_STRINGS_H_
#define DICTACORE_ENGINE_COMMON_STRINGS_H_

#include <string>

namespace dictacore {

// ASCII-only lower-casing, byte by byte; other bytes are kept.
std::string AsciiLower(std::string text);

// `value` in fixed notation with `decimals` digits after the point, as
// printf's %.Nf writes it (1.25 with 6 decimals is "1.250000").
std::string FormatFixed(double value, int decimals);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_STRINGS_H_
