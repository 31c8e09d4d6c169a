#include "engine/text/punc_refine.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text/utf8_punct.h"
#include "tests/support/kit.h"

namespace dictacore {
namespace {

// The kit's punctuation model puts "，" after every fourth token (a Latin
// word or a CJK character) and ends the text with "。".
class PuncRefineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    punc_ = new PuncBackend();
    PuncInitOptions options;
    options.model = testing::ModelPath("punct/model.onnx");
    std::string error;
    ASSERT_TRUE(punc_->Init(options, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete punc_;
    punc_ = nullptr;
  }

  // Runs `body` and returns the event lines it wrote.
  std::vector<nlohmann::json> Events(const std::function<void()>& body) {
    ::testing::internal::CaptureStdout();
    body();
    std::istringstream in(::testing::internal::GetCapturedStdout());
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(in, line);) events.push_back(nlohmann::json::parse(line));
    return events;
  }

  static PuncBackend* punc_;
  EventEmitter emitter_;
};

PuncBackend* PuncRefineTest::punc_ = nullptr;

TEST_F(PuncRefineTest, RefineStripsThenPunctuates) {
  EXPECT_EQ(RefineTextWithPunc(punc_, &emitter_, "你好，世界今天！"), "你好世界，今天。");
  EXPECT_EQ(RefineTextWithPunc(punc_, &emitter_, ""), "");
  // Only punctuation: nothing is left to punctuate.
  EXPECT_EQ(RefineTextWithPunc(punc_, &emitter_, "，。！"), "");
}

TEST_F(PuncRefineTest, WithoutAReadyBackendTextPassesThrough) {
  PuncBackend unready;
  const auto events = Events([&] {
    EXPECT_EQ(RefineTextWithPunc(nullptr, &emitter_, "，。"), "，。");
    EXPECT_EQ(RefineTextWithPunc(&unready, &emitter_, "a, b"), "a, b");
    EXPECT_EQ(ApplyRealtimePunc(nullptr, &emitter_, "你好", nullptr, 3, true), "你好");
    EmitPunctuatedForPartial(&unready, &emitter_, 1, "你好", -1);
  });
  EXPECT_TRUE(events.empty()) << "an absent backend is not an error";
}

TEST_F(PuncRefineTest, RealtimeFinalMarks) {
  const std::string final_text = RefineRealtimeTextWithPunc(punc_, &emitter_, "你好世界今天", true);
  EXPECT_EQ(final_text, "你好世界，今天。");
  const std::string open = RefineRealtimeTextWithPunc(punc_, &emitter_, "你好世界今天", false);
  EXPECT_EQ(open, "你好世界，今天");
  // Without a backend the final mark is still handled.
  EXPECT_EQ(RefineRealtimeTextWithPunc(nullptr, &emitter_, "ok?!", false), "ok");
  EXPECT_EQ(RefineRealtimeTextWithPunc(nullptr, &emitter_, "ok", true), "ok。");
}

TEST_F(PuncRefineTest, RealtimeNeverEndsWithATerminalMarkWhenNotFinal) {
  for (const char* text : {"hello", "hello world good morning", "你好世界。", "a b c d e f g h"}) {
    const std::string open = RefineRealtimeTextWithPunc(punc_, &emitter_, text, false);
    std::string copy = open;
    EXPECT_FALSE(PopOneTerminalPunc(&copy)) << open;
    const std::string closed = RefineRealtimeTextWithPunc(punc_, &emitter_, text, true);
    copy = closed;
    EXPECT_TRUE(PopOneTerminalPunc(&copy)) << closed;
  }
}

TEST_F(PuncRefineTest, RealtimePieceWithoutContextIsPunctuatedWhole) {
  std::string context;
  EXPECT_EQ(ApplyRealtimePunc(punc_, &emitter_, "你好世界今天", &context, 24, false),
            "你好世界，今天");
  EXPECT_EQ(context, "你好世界今天");
}

TEST_F(PuncRefineTest, RealtimePieceWithContextKeepsTheJunctionMark) {
  // Context "你好世界" makes the model put its comma right before 今.
  std::string context = "你好世界";
  EXPECT_EQ(ApplyRealtimePunc(punc_, &emitter_, "今天天气", &context, 24, false), "，今天天气");
  EXPECT_EQ(context, "今天天气");
  // Final pieces end with a sentence mark.
  context = "你好世界";
  EXPECT_EQ(ApplyRealtimePunc(punc_, &emitter_, "今天", &context, 24, true), "，今天。");
}

TEST_F(PuncRefineTest, ContextLengthLimitsTheKeptCharacters) {
  std::string context;
  ApplyRealtimePunc(punc_, &emitter_, "今天天气很好", &context, 3, false);
  EXPECT_EQ(context, "气很好");
  ApplyRealtimePunc(punc_, &emitter_, "今天天气很好", &context, 0, false);
  EXPECT_EQ(context, "");
  // The context is built from the piece's own plain text, not the model input.
  context = "abc";
  ApplyRealtimePunc(punc_, &emitter_, "你好，世界", &context, 24, false);
  EXPECT_EQ(context, "你好世界");
}

TEST_F(PuncRefineTest, PunctuationOnlyPieceIsReturnedUnchanged) {
  std::string context = "keep";
  EXPECT_EQ(ApplyRealtimePunc(punc_, &emitter_, "。", &context, 24, true), "。");
  EXPECT_EQ(context, "keep");
}

TEST_F(PuncRefineTest, PartialIsEmittedAsPunctuatedEvent) {
  const auto events = Events([&] {
    EmitPunctuatedForPartial(punc_, &emitter_, 7, "你好世界今天", 3);
    EmitPunctuatedForPartial(punc_, &emitter_, 8, "", 3);
  });
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["type"], "punctuated");
  EXPECT_EQ(events[0]["sessionId"], 3);
  EXPECT_EQ(events[0]["segment_id"], 7);
  EXPECT_EQ(events[0]["text"], "你好世界，今天。");
}

TEST_F(PuncRefineTest, PartialWithoutContentIsNotEmitted) {
  // The text is given to the model as it is: "，" comes back as "。".
  const auto events = Events([&] { EmitPunctuatedForPartial(punc_, &emitter_, 2, "，", -1); });
  EXPECT_TRUE(events.empty());
}

// The model failing on a piece of text (here: text that is not UTF-8, which
// the backend refuses): every path logs the failure in its own words, keeps
// the text and goes on.
TEST_F(PuncRefineTest, ModelFailureKeepsTheTextAndSaysSo) {
  const std::string bad = "hello \xc3(world";
  const std::string reason = "SherpaOfflinePunctuationAddPunct() failed: text is not valid UTF-8";
  std::string context = "你好";
  std::vector<std::string> returned;
  // Checked as raw lines: an event carrying the malformed text itself would
  // not parse as JSON.
  ::testing::internal::CaptureStdout();
  returned.push_back(RefineTextWithPunc(punc_, &emitter_, bad));
  returned.push_back(RefineRealtimeTextWithPunc(punc_, &emitter_, bad, true));
  returned.push_back(RefineRealtimeTextWithPunc(punc_, &emitter_, bad + "。", false));
  returned.push_back(ApplyRealtimePunc(punc_, &emitter_, bad, &context, 3, true));
  EmitPunctuatedForPartial(punc_, &emitter_, 7, bad, -1);
  const std::string out = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(returned, (std::vector<std::string>{bad, bad + "。", bad, bad}));
  EXPECT_EQ(context, "你好") << "a failed piece leaves the context alone";
  const std::string refine_failed =
      nlohmann::json({{"message", "Punctuation refine failed: " + reason}, {"type", "log"}}).dump();
  const std::string punc_failed =
      nlohmann::json({{"message", "Punc failed (seg=7): " + reason}, {"type", "log"}}).dump();
  EXPECT_EQ(out, refine_failed + "\n" + refine_failed + "\n" + refine_failed + "\n" +
                     refine_failed + "\n" + punc_failed + "\n");
  // The model is fine for the next text.
  EXPECT_EQ(RefineTextWithPunc(punc_, &emitter_, "你好世界今天"), "你好世界，今天。");
}

}  // namespace
}  // namespace dictacore
