#include "engine/diarization/speaker_assign.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace dictacore {
namespace {

using nlohmann::json;

// Log messages printed while `body` runs with a real emitter.
std::vector<std::string> CaptureLogs(const std::function<void(EventEmitter*)>& body) {
  EventEmitter emitter;
  ::testing::internal::CaptureStdout();
  body(&emitter);
  const std::string out = ::testing::internal::GetCapturedStdout();
  std::vector<std::string> messages;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const json event = json::parse(line);
    EXPECT_EQ(event["type"], "log");
    messages.push_back(event["message"].get<std::string>());
  }
  return messages;
}

SegmentResult Seg(double start, double end, const std::string& text) {
  return {start, end, text, ""};
}

DiarizationSegment Turn(double start, double end, const std::string& speaker) {
  return {start, end, speaker};
}

// --- Utf8Scan ---------------------------------------------------------------

TEST(Utf8Scan, LengthsPositionsAndPunctuation) {
  const std::string text = "a,\xC3\xA9\xE3\x80\x82\xF0\x9F\x98\x80\"";  // a , é 。 😀 "
  const std::vector<Utf8Cp> chars = Utf8Scan(text);
  ASSERT_EQ(chars.size(), 6u);
  const uint64_t pos[] = {0, 1, 2, 4, 7, 11};
  const uint64_t len[] = {1, 1, 2, 3, 4, 1};
  const bool punct[] = {false, true, false, true, false, false};
  for (size_t i = 0; i < chars.size(); ++i) {
    EXPECT_EQ(chars[i].pos, pos[i]) << i;
    EXPECT_EQ(chars[i].len, len[i]) << i;
    EXPECT_EQ(chars[i].punct, punct[i]) << i;
  }
}

TEST(Utf8Scan, OnlySixAsciiMarksArePunctuation) {
  for (char ch : std::string("!,.:;?")) EXPECT_TRUE(Utf8Scan(std::string(1, ch))[0].punct) << ch;
  for (char ch : std::string("'\"-()a 1")) EXPECT_FALSE(Utf8Scan(std::string(1, ch))[0].punct) << ch;
}

TEST(Utf8Scan, TruncatedAndStrayBytesCountAsOneByte) {
  // A three-byte lead with only one byte after it, then a stray continuation.
  const std::vector<Utf8Cp> cut = Utf8Scan("\xE3\x80");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].len, 1u);
  EXPECT_EQ(cut[1].pos, 1u);
  const std::vector<Utf8Cp> stray = Utf8Scan("\x80\xFF" "a");
  ASSERT_EQ(stray.size(), 3u);
  EXPECT_TRUE(Utf8Scan("").empty());
}

// --- SplitTextByWeights -----------------------------------------------------

TEST(SplitTextByWeights, CutMovesToJustAfterNearbyPunctuation) {
  // Nine characters, the third a comma: target 2 moves to 3.
  const auto pieces = SplitTextByWeights("ab,cdefgh", {2, 7});
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "ab,");
  EXPECT_EQ(pieces[1], "cdefgh");
}

TEST(SplitTextByWeights, WithoutPunctuationCutsAtTheProportionalTarget) {
  const auto pieces = SplitTextByWeights("abcdefghij", {3, 7});
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "abc");
  EXPECT_EQ(pieces[1], "defghij");
}

TEST(SplitTextByWeights, AtEqualDistanceTheLaterCutWins) {
  // Target 5 in "abcd,e.fghij": marks end characters 5 and 7, so cut 5 (k=0)
  // wins; shifting the target to 6 leaves 5 and 7 at equal distance.
  EXPECT_EQ(SplitTextByWeights("abcd,e.fghij", {5, 7})[0], "abcd,");
  EXPECT_EQ(SplitTextByWeights("abcd,e.fghij", {6, 6})[0], "abcd,e.");
}

TEST(SplitTextByWeights, PunctuationBeyondTheRadiusIsNotUsed) {
  // 20 characters: radius 4; the only mark ends character 16, target is 5.
  const std::string text = "aaaaaaaaaaaaaaa.bbbb";
  EXPECT_EQ(SplitTextByWeights(text, {1, 3})[0], "aaaaa");
  // Within reach at target 12 (k = 4).
  EXPECT_EQ(SplitTextByWeights(text, {12, 8})[0], "aaaaaaaaaaaaaaa.");
}

TEST(SplitTextByWeights, WidePunctuationAndMultibyteCharacters) {
  // 你好，世界 — the wide comma is character 3; weights 1:1 give target 3.
  const auto pieces = SplitTextByWeights("你好，世界再见", {3, 4});
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "你好，");
  EXPECT_EQ(pieces[1], "世界再见");
}

TEST(SplitTextByWeights, CutsThatWouldNotMoveForwardArePushedOn) {
  const auto pieces = SplitTextByWeights("ab", {1, 0, 1});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], "a");
  EXPECT_EQ(pieces[1], "b");
  EXPECT_EQ(pieces[2], "");
}

TEST(SplitTextByWeights, DegenerateWeightsAndTexts) {
  EXPECT_EQ(SplitTextByWeights("hello", {}), std::vector<std::string>{"hello"});
  EXPECT_EQ(SplitTextByWeights("hello", {4.0}), std::vector<std::string>{"hello"});
  EXPECT_EQ(SplitTextByWeights("", {1, 2, 3}), std::vector<std::string>(3));
  EXPECT_EQ(SplitTextByWeights("hello", {-1, 0}), (std::vector<std::string>{"hello", ""}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(SplitTextByWeights("hello", {nan, 0}), (std::vector<std::string>{"hello", ""}));
  // A negative weight counts as nothing: the first piece would be empty, so
  // its cut is raised to one character.
  EXPECT_EQ(SplitTextByWeights("hello", {-5, 1}), (std::vector<std::string>{"h", "ello"}));
  // One character, two weights: the last piece is empty.
  EXPECT_EQ(SplitTextByWeights("x", {1, 1}), (std::vector<std::string>{"x", ""}));
}

TEST(SplitTextByWeights, InfiniteWeightsNeverBreakTheCuts) {
  const double inf = std::numeric_limits<double>::infinity();
  const auto pieces = SplitTextByWeights("abcdef", {inf, 1, inf});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], "abcdef");
}

TEST(SplitTextByWeights, PiecesAlwaysRebuildTheText) {
  const std::string text = "Hello, world. 你好！ This is fine; yes?";
  for (const std::vector<double>& weights :
       std::vector<std::vector<double>>{{1, 1}, {1, 2, 3}, {5, 0.1, 0.1, 5}, {0.01, 9}}) {
    const auto pieces = SplitTextByWeights(text, weights);
    ASSERT_EQ(pieces.size(), weights.size());
    std::string joined;
    for (const std::string& piece : pieces) joined += piece;
    EXPECT_EQ(joined, text);
  }
}

// --- AssignAndSplitBySpeakers -----------------------------------------------

TEST(AssignAndSplit, SingleOverlapGetsTheFirstOutputLabel) {
  std::vector<SegmentResult> results = {Seg(10.0, 12.0, "hello there")};
  AssignAndSplitBySpeakers(&results, {Turn(9.0, 13.0, "SPEAKER_03")}, nullptr);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  EXPECT_EQ(results[0].text, "hello there");
  EXPECT_DOUBLE_EQ(results[0].start, 10.0);
  EXPECT_DOUBLE_EQ(results[0].end, 12.0);
}

TEST(AssignAndSplit, NothingHappensWithoutInputs) {
  std::vector<SegmentResult> results = {Seg(0, 1, "x")};
  AssignAndSplitBySpeakers(&results, {}, nullptr);
  EXPECT_EQ(results[0].speaker, "");
  std::vector<SegmentResult> empty;
  AssignAndSplitBySpeakers(&empty, {Turn(0, 1, "SPEAKER_00")}, nullptr);
  EXPECT_TRUE(empty.empty());
  AssignAndSplitBySpeakers(nullptr, {Turn(0, 1, "SPEAKER_00")}, nullptr);
}

TEST(AssignAndSplit, TinyOverlapsAreIgnoredAndNearestCentreDecides) {
  // One turn overlaps by 0.001 s, the other only touches; the nearest centre
  // is the later turn's (5.2505 vs 0.5005 for a segment centred at 3.0005).
  std::vector<SegmentResult> results = {Seg(1.0, 5.001, "word")};
  const std::vector<DiarizationSegment> turns = {Turn(0.0, 1.001, "SPEAKER_04"),
                                                 Turn(5.001, 5.5, "SPEAKER_09")};
  const auto logs = CaptureLogs([&](EventEmitter* e) { AssignAndSplitBySpeakers(&results, turns, e); });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0],
            "[DIARIZATION] no overlap for ASR [1.000s,5.001s]; nearest diar=SPEAKER_09 dist=2.250s");
}

TEST(AssignAndSplit, NearestCentreTieGoesToTheEarlierTurn) {
  std::vector<SegmentResult> results = {Seg(4.0, 6.0, "x")};
  AssignAndSplitBySpeakers(&results, {Turn(0.0, 2.0, "B"), Turn(8.0, 10.0, "A")}, nullptr);
  EXPECT_EQ(results[0].speaker, "B");
}

TEST(AssignAndSplit, NoOverlapWithoutEmitterLogsNothing) {
  std::vector<SegmentResult> results = {Seg(4.0, 6.0, "x")};
  const auto logs = CaptureLogs([&](EventEmitter*) {
    AssignAndSplitBySpeakers(&results, {Turn(0.0, 2.0, "SPEAKER_01")}, nullptr);
  });
  EXPECT_TRUE(logs.empty());
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
}

TEST(AssignAndSplit, SameLabelGapsFoldBelowOneSecond) {
  // Gap 0.9 s folds; gap 1.2 s keeps two spans of one label: either way the
  // segment stays whole with that one speaker.
  for (double gap : {0.9, 1.2}) {
    std::vector<SegmentResult> results = {Seg(0.0, 6.0, "one two three")};
    const std::vector<DiarizationSegment> turns = {Turn(0.0, 2.0, "SPEAKER_01"),
                                                   Turn(2.0 + gap, 6.0, "SPEAKER_01")};
    const auto logs =
        CaptureLogs([&](EventEmitter* e) { AssignAndSplitBySpeakers(&results, turns, e); });
    ASSERT_EQ(results.size(), 1u) << gap;
    EXPECT_EQ(results[0].text, "one two three");
    EXPECT_EQ(results[0].speaker, "SPEAKER_00");
    EXPECT_TRUE(logs.empty());
  }
}

TEST(AssignAndSplit, FoldingDecidesWhetherAThirdSpeakerSplits) {
  // A _ A(gap 0.9) then B: the A spans fold, so two spans split the text.
  std::vector<SegmentResult> results = {Seg(0.0, 6.0, "aaaa bbbb")};
  AssignAndSplitBySpeakers(&results,
                           {Turn(0.0, 1.5, "SPEAKER_05"), Turn(2.4, 3.0, "SPEAKER_05"),
                            Turn(3.0, 6.0, "SPEAKER_02")},
                           nullptr);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_DOUBLE_EQ(results[0].start, 0.0);
  EXPECT_DOUBLE_EQ(results[0].end, 3.0);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  EXPECT_EQ(results[1].speaker, "SPEAKER_01");
}

TEST(AssignAndSplit, ShortMinoritySpanIsDroppedAndNotSplit) {
  std::vector<SegmentResult> results = {Seg(0.0, 4.0, "mostly one voice")};
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    AssignAndSplitBySpeakers(&results, {Turn(0.0, 3.8, "SPEAKER_00"), Turn(3.8, 4.0, "SPEAKER_01")},
                             e);
  });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  EXPECT_EQ(results[0].text, "mostly one voice");
  EXPECT_TRUE(logs.empty());
}

TEST(AssignAndSplit, ShortSpanIsKeptWhenItIsATenthOfTheSegment) {
  // 0.2 s of a 1.5 s segment is under 0.25 s but above 10 %: split.
  std::vector<SegmentResult> results = {Seg(0.0, 1.5, "aaaaaaaaaaaaa, bb")};
  AssignAndSplitBySpeakers(&results, {Turn(0.0, 1.3, "SPEAKER_00"), Turn(1.3, 1.5, "SPEAKER_01")},
                           nullptr);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].text, "aaaaaaaaaaaaa,");
  EXPECT_EQ(results[1].text, "bb");
  EXPECT_EQ(results[1].speaker, "SPEAKER_01");
}

TEST(AssignAndSplit, WithNoKeptSpanTheLongestMergedSpanWins) {
  // Both spans are 0.2 s and 0.24 s of a 10 s segment: neither is kept.
  std::vector<SegmentResult> results = {Seg(0.0, 10.0, "quiet")};
  AssignAndSplitBySpeakers(&results, {Turn(1.0, 1.2, "SPEAKER_07"), Turn(5.0, 5.24, "SPEAKER_03")},
                           nullptr);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  EXPECT_DOUBLE_EQ(results[0].end, 10.0);
  // And the label it got is SPEAKER_03's: a later segment of SPEAKER_07
  // becomes SPEAKER_01.
  std::vector<SegmentResult> two = {Seg(0.0, 10.0, "quiet"), Seg(20.0, 21.0, "later")};
  AssignAndSplitBySpeakers(&two,
                           {Turn(1.0, 1.2, "SPEAKER_07"), Turn(5.0, 5.24, "SPEAKER_03"),
                            Turn(20.0, 21.0, "SPEAKER_07")},
                           nullptr);
  EXPECT_EQ(two[0].speaker, "SPEAKER_00");
  EXPECT_EQ(two[1].speaker, "SPEAKER_01");
}

TEST(AssignAndSplit, EvenSplitUsesSpanTimesAndIsCountedOnce) {
  std::vector<SegmentResult> results = {Seg(0.0, 4.0, "first half. second half"),
                                        Seg(5.0, 9.0, "again one, again two")};
  const std::vector<DiarizationSegment> turns = {
      Turn(0.0, 2.0, "SPEAKER_01"), Turn(2.0, 4.5, "SPEAKER_00"), Turn(5.0, 7.0, "SPEAKER_01"),
      Turn(7.0, 9.0, "SPEAKER_00")};
  const auto logs =
      CaptureLogs([&](EventEmitter* e) { AssignAndSplitBySpeakers(&results, turns, e); });
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].text, "first half.");
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
  EXPECT_DOUBLE_EQ(results[0].end, 2.0);
  EXPECT_EQ(results[1].text, "second half");
  EXPECT_EQ(results[1].speaker, "SPEAKER_01");
  EXPECT_DOUBLE_EQ(results[1].start, 2.0);
  EXPECT_DOUBLE_EQ(results[1].end, 4.0);
  EXPECT_EQ(results[2].text, "again one,");
  EXPECT_DOUBLE_EQ(results[2].start, 5.0);
  EXPECT_EQ(results[3].text, "again two");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0], "[DIARIZATION] split 2 ASR segment(s) across speaker boundaries");
}

TEST(AssignAndSplit, BlankPiecesProduceNoSegment) {
  // Three equal spans over "aa    bb": the middle piece is only spaces.
  std::vector<SegmentResult> results = {Seg(0.0, 3.0, "aa    bb")};
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    AssignAndSplitBySpeakers(&results,
                             {Turn(0.0, 1.0, "SPEAKER_00"), Turn(1.0, 2.0, "SPEAKER_01"),
                              Turn(2.0, 3.0, "SPEAKER_02")},
                             e);
  });
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].text, "aa");
  EXPECT_DOUBLE_EQ(results[0].end, 1.0);
  EXPECT_EQ(results[1].text, "bb");
  EXPECT_DOUBLE_EQ(results[1].start, 2.0);
  // The middle speaker produced no segment, so it took no number.
  EXPECT_EQ(results[1].speaker, "SPEAKER_01");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0], "[DIARIZATION] split 1 ASR segment(s) across speaker boundaries");
}

TEST(AssignAndSplit, EnrolledNamesPassAndClustersRenumberInTranscriptOrder) {
  std::vector<SegmentResult> results = {Seg(0.0, 1.0, "a"), Seg(2.0, 3.0, "b"),
                                        Seg(4.0, 5.0, "c"), Seg(6.0, 7.0, "d"),
                                        Seg(8.0, 9.0, "e"), Seg(10.0, 11.0, "f")};
  // The diarization list is not in transcript order.
  const std::vector<DiarizationSegment> turns = {
      Turn(10.0, 11.0, "SPEAKER_"), Turn(4.0, 5.0, "SPEAKER_02"), Turn(0.0, 1.0, "Alice"),
      Turn(2.0, 3.0, "SPEAKER_05"), Turn(6.0, 7.0, "SPEAKER_05"), Turn(8.0, 9.0, "SPEAKER_1x")};
  AssignAndSplitBySpeakers(&results, turns, nullptr);
  ASSERT_EQ(results.size(), 6u);
  EXPECT_EQ(results[0].speaker, "Alice");
  EXPECT_EQ(results[1].speaker, "SPEAKER_00");
  EXPECT_EQ(results[2].speaker, "SPEAKER_01");
  EXPECT_EQ(results[3].speaker, "SPEAKER_00");
  EXPECT_EQ(results[4].speaker, "SPEAKER_1x");
  EXPECT_EQ(results[5].speaker, "SPEAKER_");
}

TEST(AssignAndSplit, LongClusterNumbersStayWide) {
  std::vector<SegmentResult> results = {Seg(0.0, 1.0, "a")};
  AssignAndSplitBySpeakers(&results, {Turn(0.0, 1.0, "SPEAKER_123")}, nullptr);
  EXPECT_EQ(results[0].speaker, "SPEAKER_00");
}

// --- RunOfflineDiarization --------------------------------------------------

// A backend with a scripted answer; the real backends are tested on their own.
class ScriptedBackend : public DiarizationBackend {
 public:
  bool Init(const DiarizationInitOptions&, std::string*) override { return true; }
  bool IsReady() const override { return ready; }
  bool Process(const std::vector<float>& samples, int sample_rate,
               std::vector<DiarizationSegment>* out, std::string* error) override {
    ++calls;
    seen_rate = sample_rate;
    seen_samples = samples.size();
    if (!succeed) {
      *error = "helper gone";
      return false;
    }
    *out = answer;
    return true;
  }
  bool ready = true;
  bool succeed = true;
  int calls = 0;
  int seen_rate = 0;
  size_t seen_samples = 0;
  std::vector<DiarizationSegment> answer;
};

TEST(RunOfflineDiarization, OffDoesNothingAndClearsTheList) {
  Options options;
  ScriptedBackend backend;
  std::vector<DiarizationSegment> out = {Turn(0, 1, "stale")};
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_TRUE(RunOfflineDiarization(options, &backend, std::vector<float>(10), e, &out));
  });
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(logs.empty());
  EXPECT_EQ(backend.calls, 0);
}

TEST(RunOfflineDiarization, MissingOrUnreadyBackendIsSkipped) {
  Options options;
  options.diarization = true;
  ScriptedBackend unready;
  unready.ready = false;
  std::vector<DiarizationSegment> out;
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_TRUE(RunOfflineDiarization(options, nullptr, {}, e, &out));
    EXPECT_TRUE(RunOfflineDiarization(options, &unready, {}, e, &out));
  });
  EXPECT_EQ(logs, std::vector<std::string>(2, "diarization skipped: backend not initialized"));
  EXPECT_EQ(unready.calls, 0);
}

TEST(RunOfflineDiarization, ReportsSegmentsAndAudioLength) {
  Options options;
  options.diarization = true;
  ScriptedBackend backend;
  backend.answer = {Turn(0, 1, "SPEAKER_00"), Turn(1, 2, "SPEAKER_01")};
  std::vector<DiarizationSegment> out;
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_TRUE(RunOfflineDiarization(options, &backend, std::vector<float>(197440), e, &out));
  });
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(backend.seen_rate, 16000);
  EXPECT_EQ(backend.seen_samples, 197440u);
  EXPECT_EQ(logs, std::vector<std::string>{"diarization segments=2 audio_s=12.340000"});
}

TEST(RunOfflineDiarization, FailureIsLoggedAndReturned) {
  Options options;
  options.diarization = true;
  ScriptedBackend backend;
  backend.succeed = false;
  std::vector<DiarizationSegment> out;
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_FALSE(RunOfflineDiarization(options, &backend, std::vector<float>(5), e, &out));
  });
  EXPECT_EQ(logs, std::vector<std::string>{"diarization failed: helper gone"});
}

}  // namespace
}  // namespace dictacore
