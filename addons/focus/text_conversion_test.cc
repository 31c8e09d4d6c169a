#include "addons/focus/text_conversion.h"

#include <gtest/gtest.h>

#include <string>

namespace focusprobe {
namespace {

constexpr char16_t kGrinHigh = 0xD83D;  // U+1F600 as a pair
constexpr char16_t kGrinLow = 0xDE00;
const std::string kGrinUtf8 = "\xF0\x9F\x98\x80";

// Converts and returns what was written to standard error meanwhile.
std::string ConvertCapturingWarnings(const Utf16Text& text, std::string* warnings) {
  testing::internal::CaptureStderr();
  std::string result = PlatformTextToUtf8(text);
  *warnings = testing::internal::GetCapturedStderr();
  return result;
}

TEST(Utf16ToUtf8Test, EncodesEveryLengthOfCharacter) {
  const std::u16string units = {u'A', 0x00E9, 0x20AC, kGrinHigh, kGrinLow};
  EXPECT_EQ(Utf16ToUtf8(units, kConversionBufferBytes), "A\xC3\xA9\xE2\x82\xAC" + kGrinUtf8);
}

TEST(Utf16ToUtf8Test, ReplacesUnpairedSurrogatesWithQuestionMarks) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', kGrinHigh}, 100), "a?");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{kGrinLow, u'b'}, 100), "?b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{kGrinHigh, u'c', kGrinLow}, 100), "?c?");
  // A pair in the wrong order is two unpaired halves.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{kGrinLow, kGrinHigh}, 100), "??");
}

TEST(Utf16ToUtf8Test, StopsBeforeACharacterThatDoesNotFit) {
  const std::u16string units = {u'a', u'b', 0x20AC, u'c'};
  EXPECT_EQ(Utf16ToUtf8(units, 4), "ab");
  EXPECT_EQ(Utf16ToUtf8(units, 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{kGrinHigh, kGrinLow}, 3), "");
}

TEST(TextFromUtf8Test, DecodesEveryLengthOfCharacter) {
  const Utf16Text text = TextFromUtf8("A\xC3\xA9\xE2\x82\xAC" + kGrinUtf8);
  EXPECT_EQ(text.units, (std::u16string{u'A', 0x00E9, 0x20AC, kGrinHigh, kGrinLow}));
  EXPECT_EQ(text.length, 5);
}

// Window titles and accessible names come from other programs: each byte
// that does not start a well-formed sequence stands for itself as U+FFFD,
// and the bytes after it are read afresh.
TEST(TextFromUtf8Test, MalformedBytesBecomeReplacementCharacters) {
  const struct {
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"a\x80" "b", u"a\uFFFDb"},                         // stray continuation byte
      {"a\xE2\x82", u"a\uFFFD\uFFFD"},                   // cut off at the end
      {"\xE2\x82" "b", u"\uFFFD\uFFFDb"},                // cut off by a plain byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong "/"
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong "/", three bytes
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},   // past U+10FFFF
      {"\xFF" + kGrinUtf8, std::u16string{0xFFFD, kGrinHigh, kGrinLow}},
  };
  for (const auto& c : cases) {
    const Utf16Text text = TextFromUtf8(c.bytes);
    EXPECT_EQ(text.units, c.units) << testing::PrintToString(c.bytes);
    EXPECT_EQ(text.length, static_cast<long>(c.units.size()));
  }
}

TEST(PlatformTextTest, EmptyTextGivesEmptyString) {
  std::string warnings;
  EXPECT_EQ(ConvertCapturingWarnings(Utf16Text(), &warnings), "");
  EXPECT_EQ(warnings, "");
}

TEST(PlatformTextTest, StringsUpToTheLimitPassUnchanged) {
  std::string warnings;
  const std::string exact(kMaxStringUnits, 'k');
  EXPECT_EQ(ConvertCapturingWarnings(WholeText(std::u16string(kMaxStringUnits, u'k')), &warnings),
            exact);
  EXPECT_EQ(warnings, "");
}

TEST(PlatformTextTest, LongStringIsCutWithEllipsisAndOneWarningLine) {
  std::string warnings;
  const std::string result =
      ConvertCapturingWarnings(WholeText(std::u16string(600, u'x')), &warnings);
  EXPECT_EQ(result, std::string(512, 'x') + "...");
  EXPECT_EQ(warnings, "[FocusProbe][AXWarn] Truncated AX string from 600 to 512 UTF-16 chars\n");

  ConvertCapturingWarnings(WholeText(std::u16string(513, u'x')), &warnings);
  EXPECT_EQ(warnings, "[FocusProbe][AXWarn] Truncated AX string from 513 to 512 UTF-16 chars\n");
}

TEST(PlatformTextTest, CutCountsUtf16UnitsNotBytes) {
  std::string warnings;
  std::string expected;
  for (int i = 0; i < 512; ++i) expected += "\xC3\xA9";
  EXPECT_EQ(ConvertCapturingWarnings(WholeText(std::u16string(700, 0x00E9)), &warnings),
            expected + "...");
}

TEST(PlatformTextTest, CutNeverSplitsASurrogatePair) {
  std::string warnings;
  // The pair occupies units 511 and 512: the cut falls inside it.
  std::u16string split(511, u'a');
  split += {kGrinHigh, kGrinLow};
  split += std::u16string(50, u'b');
  EXPECT_EQ(ConvertCapturingWarnings(WholeText(split), &warnings),
            std::string(511, 'a') + "...");
  EXPECT_EQ(warnings, "[FocusProbe][AXWarn] Truncated AX string from 563 to 512 UTF-16 chars\n");

  // The pair ends at unit 511: the cut after it keeps it whole.
  std::u16string whole(510, u'a');
  whole += {kGrinHigh, kGrinLow};
  whole += std::u16string(50, u'b');
  EXPECT_EQ(ConvertCapturingWarnings(WholeText(whole), &warnings),
            std::string(510, 'a') + kGrinUtf8 + "...");

  // A lone high half at the cut is no pair: it is cut at 512 and shows as "?".
  std::u16string lone(511, u'a');
  lone += {kGrinHigh, u'c'};
  lone += std::u16string(50, u'b');
  EXPECT_EQ(ConvertCapturingWarnings(WholeText(lone), &warnings),
            std::string(511, 'a') + "?...");
}

TEST(PlatformTextTest, LongStringNeedsOnlyItsLeadingUnits) {
  // What the platform adapter hands over for a long string: its length and
  // the first 513 units.
  Utf16Text head;
  head.length = 100000;
  head.units = std::u16string(511, u'a') + std::u16string{kGrinHigh, kGrinLow};
  std::string warnings;
  EXPECT_EQ(ConvertCapturingWarnings(head, &warnings), std::string(511, 'a') + "...");
  EXPECT_EQ(warnings,
            "[FocusProbe][AXWarn] Truncated AX string from 100000 to 512 UTF-16 chars\n");
}

}  // namespace
}  // namespace focusprobe
