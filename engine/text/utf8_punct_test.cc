#include "engine/text/utf8_punct.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dictacore {
namespace {

using Tokens = std::vector<std::string>;

TEST(Utf8Stepping, CharLenByLeadByte) {
  EXPECT_EQ(Utf8CharLen(0x00), 1);
  EXPECT_EQ(Utf8CharLen('a'), 1);
  EXPECT_EQ(Utf8CharLen(0x7F), 1);
  EXPECT_EQ(Utf8CharLen(0x80), 1);  // stray continuation byte
  EXPECT_EQ(Utf8CharLen(0xBF), 1);
  EXPECT_EQ(Utf8CharLen(0xC0), 2);
  EXPECT_EQ(Utf8CharLen(0xDF), 2);
  EXPECT_EQ(Utf8CharLen(0xE0), 3);
  EXPECT_EQ(Utf8CharLen(0xEF), 3);
  EXPECT_EQ(Utf8CharLen(0xF0), 4);
  EXPECT_EQ(Utf8CharLen(0xF7), 4);
  EXPECT_EQ(Utf8CharLen(0xF8), 1);
  EXPECT_EQ(Utf8CharLen(0xFF), 1);
}

TEST(IsValidUtf8, WellFormedSequencesOnly) {
  for (const std::string& good :
       {std::string(), std::string("plain ascii\t\n"), std::string("你好，世界"),
        std::string("\xc2\x80"), std::string("\xdf\xbf"), std::string("\xe0\xa0\x80"),
        std::string("\xed\x9f\xbf"), std::string("\xee\x80\x80"),
        std::string("\xf0\x90\x80\x80"), std::string("\xf4\x8f\xbf\xbf"),
        std::string("nul\0inside", 11)}) {
    EXPECT_TRUE(IsValidUtf8(good)) << good;
  }
  for (const std::string& bad :
       {std::string("\x80"), std::string("a\xbf"),         // stray continuation
        std::string("\xc0\xaf"), std::string("\xc1\xbf"),  // overlong two-byte
        std::string("\xe0\x9f\xbf"),                       // overlong three-byte
        std::string("\xf0\x8f\xbf\xbf"),                   // overlong four-byte
        std::string("\xed\xa0\x80"),                       // surrogate
        std::string("\xf4\x90\x80\x80"), std::string("\xf5\x80\x80\x80"),  // past U+10FFFF
        std::string("\xff"), std::string("\xfe"),
        std::string("\xc3("), std::string("\xe4\xbdZ"),   // missing continuation
        std::string("你好\xe4\xbd"), std::string("x\xf0"),  // cut off at the end
        std::string("\xf0\x9f\x98")}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << ::testing::PrintToString(bad);
  }
}

TEST(Utf8Stepping, PrevStartWalksBackOverContinuationBytes) {
  const std::string text = "a你b";  // a at 0, 你 at 1..3, b at 4
  EXPECT_EQ(PrevUtf8Start(text, 0), 0u);
  EXPECT_EQ(PrevUtf8Start(text, 1), 0u);
  EXPECT_EQ(PrevUtf8Start(text, 4), 1u);
  EXPECT_EQ(PrevUtf8Start(text, 5), 4u);
  EXPECT_EQ(PrevUtf8Start(text, 6), 0u);  // beyond the end
  // Only continuation bytes down to index 1: the start is 0.
  EXPECT_EQ(PrevUtf8Start(std::string("\x80\x80\x80"), 3), 0u);
  EXPECT_EQ(PrevUtf8Start(std::string("x\x80\x80"), 3), 0u);
}

TEST(Utf8Stepping, TruncatedSequenceAtEndIsOneByteCharacters) {
  // The lead byte of a three-byte character with only one continuation byte:
  // each byte is a token of its own and none is punctuation.
  const std::string text = "ab\xE4\xBD";
  Tokens tokens;
  std::vector<size_t> positions;
  CollectPlainTokens(text, &tokens, &positions);
  EXPECT_EQ(tokens, (Tokens{"a", "b", "\xE4", "\xBD"}));
  EXPECT_EQ(positions, (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(StripPuncForPuncModel(text), text);
}

TEST(Utf8Stepping, TruncatedWidePunctuationIsNotStripped) {
  // First two bytes of "，" (EF BC 8C) at the end of the text.
  const std::string text = std::string("a") + "\xEF\xBC";
  EXPECT_EQ(StripPuncForPuncModel(text), text);
  EXPECT_TRUE(HasContentText(std::string("\xEF\xBC")));
}

TEST(Utf8Stepping, MalformedContinuationBytesAreNotChecked) {
  // A lead byte followed by non-continuation bytes still spans its length.
  Tokens tokens;
  CollectPlainTokens(std::string("\xE4" "ab" "c"), &tokens);
  EXPECT_EQ(tokens, (Tokens{"\xE4" "ab", "c"}));
}

TEST(PunctuationClasses, WideTableMembership) {
  for (const char* mark : {"，", "。", "！", "？", "、", "；", "：", "（", "）", "【", "】", "《", "》", "“",
                           "”", "‘", "’", "「", "」", "『", "』", "…", "—", "～", "·", "．"}) {
    EXPECT_TRUE(IsUtf8PuncToken(mark)) << mark;
  }
  EXPECT_FALSE(IsUtf8PuncToken(","));
  EXPECT_FALSE(IsUtf8PuncToken("你"));
  EXPECT_FALSE(IsUtf8PuncToken("，，"));
  EXPECT_FALSE(IsUtf8PuncToken(""));
}

TEST(PunctuationClasses, NumericDot) {
  EXPECT_FALSE(IsNumericDot(".5", 0));
  EXPECT_FALSE(IsNumericDot("3.", 1));
  EXPECT_FALSE(IsNumericDot("a.5", 1));
  EXPECT_FALSE(IsNumericDot("3.a", 1));
  EXPECT_TRUE(IsNumericDot("3.5", 1));
  EXPECT_TRUE(IsNumericDot("3．5", 1));
  EXPECT_FALSE(IsNumericDot("3．", 1));   // nothing after the wide dot
  EXPECT_FALSE(IsNumericDot("3\xEF\xBC", 1));  // wide dot cut short
  EXPECT_FALSE(IsNumericDot("3,5", 1));
  EXPECT_FALSE(IsNumericDot("3.5", 7));
}

TEST(PunctuationClasses, ShouldStripToken) {
  EXPECT_FALSE(ShouldStripPuncToken("a,b", 1, 0));
  EXPECT_FALSE(ShouldStripPuncToken("a,b", 3, 1));
  EXPECT_TRUE(ShouldStripPuncToken("a,b", 1, 1));
  EXPECT_TRUE(ShouldStripPuncToken("it's", 2, 1));
  EXPECT_TRUE(ShouldStripPuncToken("a-b", 1, 1));
  EXPECT_TRUE(ShouldStripPuncToken("\"", 0, 1));
  EXPECT_FALSE(ShouldStripPuncToken("3.5", 1, 1));
  EXPECT_TRUE(ShouldStripPuncToken("end.", 3, 1));
  EXPECT_FALSE(ShouldStripPuncToken("a b", 1, 1));
  EXPECT_TRUE(ShouldStripPuncToken("好，", 3, 3));
  EXPECT_TRUE(ShouldStripPuncToken("a·b", 1, 2));
  EXPECT_FALSE(ShouldStripPuncToken("3．5", 1, 3));
  EXPECT_TRUE(ShouldStripPuncToken("a．b", 1, 3));
  EXPECT_FALSE(ShouldStripPuncToken("你好", 0, 3));
  EXPECT_FALSE(ShouldStripPuncToken(std::string("\xFF"), 0, 1));
}

TEST(StripPunc, RemovesMarksKeepsSpacesAndDecimals) {
  EXPECT_EQ(StripPuncForPuncModel(""), "");
  EXPECT_EQ(StripPuncForPuncModel("你好，世界。"), "你好世界");
  EXPECT_EQ(StripPuncForPuncModel("Hello, world."), "Hello world");
  EXPECT_EQ(StripPuncForPuncModel("pi is 3.5!"), "pi is 3.5");
  EXPECT_EQ(StripPuncForPuncModel("3．5元"), "3．5元");
  EXPECT_EQ(StripPuncForPuncModel(std::string("a\xFF" "b")), std::string("a\xFF" "b"));
  EXPECT_EQ(StripPuncForPuncModel("「引用」—…"), "引用");
}

TEST(StripPunc, HasContent) {
  EXPECT_FALSE(HasContentText(""));
  EXPECT_FALSE(HasContentText("，。 "));
  EXPECT_FALSE(HasContentText(" \t\r\n\v\f"));
  EXPECT_FALSE(HasContentText("?!..."));
  EXPECT_TRUE(HasContentText("a"));
  EXPECT_TRUE(HasContentText("，好"));
  EXPECT_TRUE(HasContentText("3.5"));
  EXPECT_TRUE(HasContentText(std::string("\x80")));
}

TEST(PlainTokens, TokensAndPositionsStayParallel) {
  Tokens tokens = {"stale"};
  std::vector<size_t> positions = {99};
  CollectPlainTokens("a, b", &tokens, &positions);
  EXPECT_EQ(tokens, (Tokens{"a", " ", "b"}));
  EXPECT_EQ(positions, (std::vector<size_t>{0, 2, 3}));

  CollectPlainTokens("你，好", &tokens, &positions);
  EXPECT_EQ(tokens, (Tokens{"你", "好"}));
  EXPECT_EQ(positions, (std::vector<size_t>{0, 6}));

  CollectPlainTokens("", &tokens, &positions);
  EXPECT_TRUE(tokens.empty());
  EXPECT_TRUE(positions.empty());
}

TEST(PlainTokens, WithoutTokenListNothingHappens) {
  std::vector<size_t> positions = {7};
  CollectPlainTokens("abc", nullptr, &positions);
  EXPECT_EQ(positions, (std::vector<size_t>{7}));
}

TEST(TokenRunSearch, FindsLastOccurrence) {
  EXPECT_EQ(FindLastTokenSubseq({"a", "b", "a"}, {"a"}), 2);
  EXPECT_EQ(FindLastTokenSubseq({"a", "b", "a", "b"}, {"a", "b"}), 2);
  EXPECT_EQ(FindLastTokenSubseq({"a", "b", "c"}, {"a", "b"}), 0);
  EXPECT_EQ(FindLastTokenSubseq({"a", "b"}, {}), 0);
  EXPECT_EQ(FindLastTokenSubseq({}, {}), 0);
  EXPECT_EQ(FindLastTokenSubseq({"a"}, {"a", "a"}), -1);
  EXPECT_EQ(FindLastTokenSubseq({"a", "b"}, {"b", "a"}), -1);
  EXPECT_EQ(FindLastTokenSubseq({"a", "b"}, {"a", "b"}), 0);
  // Comparison is byte for byte.
  EXPECT_EQ(FindLastTokenSubseq({"A"}, {"a"}), -1);
}

TEST(SuffixByCodepoints, CountsCharactersNotBytes) {
  EXPECT_EQ(Utf8SuffixByCodepoints("你好吗", 2), "好吗");
  EXPECT_EQ(Utf8SuffixByCodepoints("你好吗", 3), "你好吗");
  EXPECT_EQ(Utf8SuffixByCodepoints("你好吗", 5), "你好吗");
  EXPECT_EQ(Utf8SuffixByCodepoints("你好吗", 0), "");
  EXPECT_EQ(Utf8SuffixByCodepoints("你好吗", -1), "");
  EXPECT_EQ(Utf8SuffixByCodepoints("", 3), "");
  EXPECT_EQ(Utf8SuffixByCodepoints("ab气很好", 3), "气很好");
  EXPECT_EQ(Utf8SuffixByCodepoints("abc", 1), "c");
  // A run of stray continuation bytes is walked over as one character.
  EXPECT_EQ(Utf8SuffixByCodepoints(std::string("a\x80\x80"), 1), std::string("a\x80\x80"));
}

TEST(TailExtraction, TakesJunctionPunctuationWithTheTail) {
  EXPECT_EQ(ExtractTailByPlain("你好，世界", "世界", ""), "，世界");
  EXPECT_EQ(ExtractTailByPlain("Hello, world", "world", ""), ", world");
  EXPECT_EQ(ExtractTailByPlain("你好世界", "世界", ""), "世界");
}

TEST(TailExtraction, BlanksBeforeTheFirstMarkStayOutside) {
  // The blank between the mark and the tail is kept, the one before the
  // earliest mark is not.
  EXPECT_EQ(ExtractTailByPlain("ok , next", "next", ""), ", next");
  EXPECT_EQ(ExtractTailByPlain("ok ,. next", "next", ""), ",. next");
  EXPECT_EQ(ExtractTailByPlain("“好”。 再见", "再见", ""), "”。 再见");
}

TEST(TailExtraction, LastOccurrenceWins) {
  EXPECT_EQ(ExtractTailByPlain("a, b, a, b.", "a b", ""), ", a, b.");
}

TEST(TailExtraction, FallbacksWhenTailIsMissing) {
  EXPECT_EQ(ExtractTailByPlain("你好，世界", "", "fb"), "你好，世界");
  EXPECT_EQ(ExtractTailByPlain("你好，世界", "再见", "fb"), "fb");
  EXPECT_EQ(ExtractTailByPlain("你好，世界", "再见", ""), "你好，世界");
  // A tail made only of punctuation has no tokens.
  EXPECT_EQ(ExtractTailByPlain("你好，世界", "，", "fb"), "fb");
}

TEST(TailExtraction, WholeTextMatch) {
  EXPECT_EQ(ExtractTailByPlain("，世界。", "世界", ""), "，世界。");
}

TEST(TerminalMarks, EndsWith) {
  EXPECT_TRUE(EndsWith("hello。", "。"));
  EXPECT_FALSE(EndsWith("hello", ""));
  EXPECT_FALSE(EndsWith("lo", "hello"));
  EXPECT_TRUE(EndsWith("hello", "hello"));
}

TEST(TerminalMarks, PopRemovesExactlyOneMark) {
  std::string text = "好。。！";
  EXPECT_TRUE(PopOneTerminalPunc(&text));
  EXPECT_EQ(text, "好。。");
  EXPECT_TRUE(PopOneTerminalPunc(&text));
  EXPECT_EQ(text, "好。");
  std::string latin = "ok?!";
  EXPECT_TRUE(PopOneTerminalPunc(&latin));
  EXPECT_EQ(latin, "ok?");
  std::string none = "好，";
  EXPECT_FALSE(PopOneTerminalPunc(&none));
  EXPECT_EQ(none, "好，");
  std::string empty;
  EXPECT_FALSE(PopOneTerminalPunc(&empty));
  EXPECT_FALSE(PopOneTerminalPunc(nullptr));
}

TEST(TerminalMarks, StripRemovesAllTrailingMarksOnly) {
  EXPECT_EQ(StripTerminalPunc("好。。！"), "好");
  EXPECT_EQ(StripTerminalPunc("ok?!"), "ok");
  EXPECT_EQ(StripTerminalPunc("wait…"), "wait");
  EXPECT_EQ(StripTerminalPunc("say “hi.”"), "say “hi.”");  // closing quote stops it
  EXPECT_EQ(StripTerminalPunc("a, b,"), "a, b,");
  EXPECT_EQ(StripTerminalPunc("。？"), "");
}

TEST(TerminalMarks, EnsureAppendsIdeographicFullStop) {
  EXPECT_EQ(EnsureTerminalPunc(""), "");
  EXPECT_EQ(EnsureTerminalPunc("hello"), "hello。");
  EXPECT_EQ(EnsureTerminalPunc("hello!"), "hello!");
  EXPECT_EQ(EnsureTerminalPunc("好…"), "好…");
  EXPECT_EQ(EnsureTerminalPunc("好，"), "好，。");
}

}  // namespace
}  // namespace dictacore
