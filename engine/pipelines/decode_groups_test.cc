#include "engine/pipelines/decode_groups.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace dictacore {
namespace {

constexpr int64_t kRate = 16000;

int64_t Sec(double seconds) { return static_cast<int64_t>(std::llround(seconds * kRate)); }

SampleRange Range(double start, double end) { return {Sec(start), Sec(end)}; }

Options SenseVoiceOptions() {
  Options options;
  options.second_type = "sensevoice";
  return options;
}

Options WhisperOptions() {
  Options options;
  options.second_type = "whisper";
  return options;
}

struct Walk {
  std::vector<GroupCut> cuts;
  std::vector<std::string> log;
  bool ok = false;
};

Walk RunWalk(const std::vector<SampleRange>& ranges, int64_t audio_length,
             const GroupingParams& params, int fail_at_cut = -1) {
  Walk walk;
  walk.ok = WalkDecodeGroups(
      ranges, audio_length, params, [&](const std::string& line) { walk.log.push_back(line); },
      [&](const GroupCut& cut) {
        walk.cuts.push_back(cut);
        return static_cast<int>(walk.cuts.size()) - 1 != fail_at_cut;
      });
  return walk;
}

TEST(GroupingParams, GroupLimitFromMaxSpeech) {
  Options options = SenseVoiceOptions();
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(8.0));
  options.vad_max_speech = 0;
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(8.0));
  options.vad_max_speech = -3;
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(8.0));
  options.vad_max_speech = 0.5;
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(1.0));
  options.vad_max_speech = 12.5;
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(12.5));
  options.vad_max_speech = 1e300;
  EXPECT_EQ(MakeGroupingParams(options).group_limit, INT32_MAX);
  options.vad_max_speech = std::nan("");
  EXPECT_EQ(MakeGroupingParams(options).group_limit, Sec(8.0));
}

TEST(GroupingParams, WindowGapAndPadding) {
  Options options = SenseVoiceOptions();
  GroupingParams params = MakeGroupingParams(options);
  EXPECT_FALSE(params.window_enabled);
  EXPECT_EQ(params.decode_window, INT32_MAX);
  EXPECT_EQ(params.silence_gap, Sec(0.5));
  EXPECT_EQ(params.lookback, Sec(0.2));
  EXPECT_EQ(params.lookahead, Sec(0.1));

  params = MakeGroupingParams(WhisperOptions());
  EXPECT_TRUE(params.window_enabled);
  EXPECT_EQ(params.decode_window, 29 * kRate);

  options.vad_min_silence = -1;
  options.vad_lookback = -1;
  options.vad_lookahead = 0;
  params = MakeGroupingParams(options);
  EXPECT_EQ(params.silence_gap, 1);
  EXPECT_EQ(params.lookback, 0);
  EXPECT_EQ(params.lookahead, 0);
}

TEST(DecodeGroups, GapOfExactlyTheSilenceGapStaysInOneGroup) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  const SampleRange first = Range(1.0, 2.0);
  const SampleRange joined{first.end + params.silence_gap, first.end + params.silence_gap + kRate};
  Walk walk = RunWalk({first, joined}, Sec(10), params);
  ASSERT_TRUE(walk.ok);
  ASSERT_EQ(walk.cuts.size(), 1u);
  EXPECT_EQ(walk.cuts[0].reason, "flush");
  EXPECT_EQ(walk.cuts[0].group, (SampleRange{first.start, joined.end}));

  const SampleRange apart{joined.start + 1, joined.end + 1};
  walk = RunWalk({first, apart}, Sec(10), params);
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_EQ(walk.cuts[0].reason, "silence_gap");
  EXPECT_EQ(walk.cuts[0].group, first);
  EXPECT_EQ(walk.cuts[1].reason, "flush");
  EXPECT_EQ(walk.cuts[1].group, apart);
}

TEST(DecodeGroups, SpanOverTheLimitCutsBeforeAdding) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  // 0-4 s and 4.2-8 s fit in 8 s exactly; 8.3-9 s would make the span 9 s.
  const Walk walk = RunWalk({Range(0, 4), Range(4.2, 8), Range(8.3, 9)}, Sec(20), params);
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_EQ(walk.cuts[0].reason, "max_duration");
  EXPECT_EQ(walk.cuts[0].group, Range(0, 8));
  EXPECT_EQ(walk.cuts[1].reason, "flush");
  EXPECT_EQ(walk.cuts[1].group, Range(8.3, 9));
}

TEST(DecodeGroups, LongSegmentIsClosedOnItsOwnRightAfterItIsAdded) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  const Walk walk = RunWalk({Range(1, 21)}, Sec(30), params);
  ASSERT_EQ(walk.cuts.size(), 1u);
  EXPECT_EQ(walk.cuts[0].reason, "max_duration");
  EXPECT_EQ(walk.cuts[0].padded, Range(0.8, 21.1));
  // Decoded as one padded range with SenseVoice.
  EXPECT_EQ(SplitForDecodeWindow(walk.cuts[0].padded, params).size(), 1u);
}

TEST(DecodeGroups, WhisperWindowSplitsLongPaddedRanges) {
  Options options = WhisperOptions();
  options.vad_max_speech = 60;
  const GroupingParams params = MakeGroupingParams(options);
  // A 20 s segment stays one piece: its padded range is within 29 s.
  EXPECT_EQ(SplitForDecodeWindow(Range(0.8, 21.1), params).size(), 1u);
  // A 45 s padded range becomes a 29 s and a 16 s piece.
  const auto pieces = SplitForDecodeWindow(Range(0, 45), params);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], Range(0, 29));
  EXPECT_EQ(pieces[1], Range(29, 45));
}

TEST(DecodeGroups, WhisperGroupOverTheWindowCutsWithMaxSpan) {
  Options options = WhisperOptions();
  options.vad_max_speech = 60;
  const GroupingParams params = MakeGroupingParams(options);
  const Walk walk = RunWalk({Range(0, 20), Range(20.3, 28), Range(28.2, 31)}, Sec(40), params);
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_EQ(walk.cuts[0].reason, "max_span");
  EXPECT_EQ(walk.cuts[0].group, Range(0, 28));
  // A single segment longer than the window closes its group at once.
  const Walk single = RunWalk({Range(0, 35)}, Sec(40), params);
  ASSERT_EQ(single.cuts.size(), 1u);
  EXPECT_EQ(single.cuts[0].reason, "max_span");
}

TEST(DecodeGroups, PaddingNeverLeavesTheRecording) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  const Walk walk = RunWalk({Range(0.05, 1.0), Range(3.0, 3.98)}, Sec(4), params);
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_EQ(walk.cuts[0].padded, Range(0, 1.1));
  EXPECT_EQ(walk.cuts[1].padded, Range(2.8, 4.0));
}

TEST(DecodeGroups, NeighbouringGroupsMayShareAudio) {
  Options options = SenseVoiceOptions();
  options.vad_min_silence = 0.1;
  options.vad_lookback = 0.5;
  options.vad_lookahead = 0.5;
  const Walk walk = RunWalk({Range(1, 2), Range(2.3, 3)}, Sec(5), MakeGroupingParams(options));
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_GT(walk.cuts[0].padded.end, walk.cuts[1].padded.start);
}

TEST(DecodeGroups, AccumulatedCountsOnlyNewlyCoveredSamples) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  // The second segment overlaps the first by one second.
  const Walk walk = RunWalk({Range(0, 2), Range(1, 3)}, Sec(5), params);
  ASSERT_EQ(walk.cuts.size(), 1u);
  EXPECT_EQ(walk.cuts[0].accumulated, Sec(3));
  ASSERT_EQ(walk.log.size(), 3u);
  EXPECT_EQ(walk.log[1],
            "[OFFLINE2PASS][VAD] start=1.000000s end=3.000000s raw=2.000000s added=1.000000s "
            "acc=3.000000s max=8.000000s span=3.000000s span_max=disabled");
}

TEST(DecodeGroups, LogLinesForSenseVoiceAndWhisper) {
  Walk walk = RunWalk({Range(1, 2.5)}, Sec(5), MakeGroupingParams(SenseVoiceOptions()));
  ASSERT_EQ(walk.log.size(), 2u);
  EXPECT_EQ(walk.log[0],
            "[OFFLINE2PASS][VAD] start=1.000000s end=2.500000s raw=1.500000s added=1.500000s "
            "acc=1.500000s max=8.000000s span=1.500000s span_max=disabled");
  EXPECT_EQ(walk.log[1],
            "[OFFLINE2PASS][CUT] reason=flush group_start=1.000000s group_end=2.500000s "
            "padded_start=0.800000s padded_end=2.600000s acc=1.500000s max=8.000000s "
            "span=1.500000s span_max=disabled");
  walk = RunWalk({Range(1, 2.5)}, Sec(5), MakeGroupingParams(WhisperOptions()));
  EXPECT_NE(walk.log[1].find("span_max=29.000000s"), std::string::npos) << walk.log[1];
}

TEST(DecodeGroups, EmptyRangesAreSkippedWithoutLogLines) {
  const Walk walk = RunWalk({Range(1, 1), Range(2, 1.5), Range(3, 4)}, Sec(5),
                            MakeGroupingParams(SenseVoiceOptions()));
  ASSERT_EQ(walk.cuts.size(), 1u);
  EXPECT_EQ(walk.log.size(), 2u);
}

TEST(DecodeGroups, NoSegmentsGiveNoCut) {
  const Walk walk = RunWalk({}, Sec(5), MakeGroupingParams(SenseVoiceOptions()));
  EXPECT_TRUE(walk.ok);
  EXPECT_TRUE(walk.cuts.empty());
  EXPECT_TRUE(walk.log.empty());
}

TEST(DecodeGroups, FailedCutStopsTheWalk) {
  const GroupingParams params = MakeGroupingParams(SenseVoiceOptions());
  const Walk walk = RunWalk({Range(0, 1), Range(3, 4), Range(6, 7)}, Sec(10), params, 0);
  EXPECT_FALSE(walk.ok);
  EXPECT_EQ(walk.cuts.size(), 1u);
}

TEST(TailCompensation, CoversTheRestOfTheAudioInGroupLimitPieces) {
  std::vector<SampleRange> ranges = {Range(1, 2)};
  EXPECT_TRUE(CompensateTail(&ranges, Sec(19), Sec(8)));
  ASSERT_EQ(ranges.size(), 4u);
  EXPECT_EQ(ranges[1], Range(2, 10));
  EXPECT_EQ(ranges[2], Range(10, 18));
  EXPECT_EQ(ranges[3], Range(18, 19));
}

TEST(TailCompensation, NoSpeechMeansTheWholeRecording) {
  std::vector<SampleRange> ranges;
  EXPECT_TRUE(CompensateTail(&ranges, Sec(10), Sec(8)));
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], Range(0, 8));
  EXPECT_EQ(ranges[1], Range(8, 10));
  // Each piece is then its own group: 8 s reaches the limit only when a
  // further piece is added.
  const Walk walk = RunWalk(ranges, Sec(10), MakeGroupingParams(SenseVoiceOptions()));
  ASSERT_EQ(walk.cuts.size(), 2u);
  EXPECT_EQ(walk.cuts[0].reason, "max_duration");
  EXPECT_EQ(walk.cuts[1].reason, "flush");
}

TEST(TailCompensation, ClipsRangesAndSkipsWhenSpeechReachesTheEnd) {
  std::vector<SampleRange> ranges = {{-100, Sec(1)}, Range(2, 12)};
  EXPECT_FALSE(CompensateTail(&ranges, Sec(10), Sec(8)));
  EXPECT_EQ(ranges[0], (SampleRange{0, Sec(1)}));
  EXPECT_EQ(ranges[1], Range(2, 10));
  std::vector<SampleRange> beyond = {Range(20, 21)};
  EXPECT_TRUE(CompensateTail(&beyond, Sec(10), Sec(8)));
  EXPECT_LE(beyond[0].end, beyond[0].start);  // empty: skipped by the walk
}

TEST(RoundedSamples, RoundsHalfAwayAndCaps) {
  EXPECT_EQ(RoundedSamples(0.5, 16000), 8000);
  EXPECT_EQ(RoundedSamples(-1, 16000), 0);
  EXPECT_EQ(RoundedSamples(std::nan(""), 16000), 0);
  EXPECT_EQ(RoundedSamples(1e12, 16000), INT32_MAX);
  EXPECT_EQ(RoundedSamples(0.25, 2), 1);  // half a sample rounds up
  EXPECT_EQ(RoundedSamples(0.75, 2), 2);
}

}  // namespace
}  // namespace dictacore
