// Conversion of platform strings (UTF-16) to the UTF-8 strings handed to
// script code, with the length limit applied to every string read from the
// accessibility interface or the window list.
#ifndef ADDONS_FOCUS_TEXT_CONVERSION_H_
#define ADDONS_FOCUS_TEXT_CONVERSION_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "addons/focus/accessibility.h"

namespace focusprobe {

// Strings longer than this many UTF-16 code units are cut.
inline constexpr long kMaxStringUnits = 512;
// Size of the conversion buffer: a converted string never exceeds it.
inline constexpr std::size_t kConversionBufferBytes = 4096;

// Converts UTF-16 to UTF-8. A surrogate without its partner becomes "?".
// Conversion stops before the first character that would take the output
// past `max_bytes`, so no character is ever split.
std::string Utf16ToUtf8(std::u16string_view units, std::size_t max_bytes);

// Converts UTF-8 to a platform string, keeping every unit. Each byte that does
// not begin a well-formed sequence (a stray continuation byte, a cut or
// overlong sequence, an encoded surrogate, a value past U+10FFFF) becomes
// U+FFFD, so text from other programs is never trusted to be valid.
Utf16Text TextFromUtf8(std::string_view utf8);

// Converts one platform string. Empty text gives "". A string longer than
// kMaxStringUnits is cut to its first kMaxStringUnits units (one fewer when
// the cut would split a surrogate pair), gets "..." appended, and is reported
// by one warning line on standard error.
std::string PlatformTextToUtf8(const Utf16Text& text);

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_TEXT_CONVERSION_H_
