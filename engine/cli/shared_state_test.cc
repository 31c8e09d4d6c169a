#include "engine/cli/shared_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/cli/command_loop.h"
#include "engine/cli/single_model.h"

namespace dictacore {
namespace {

TEST(SinglePartialStep, SecondsToSamples) {
  EXPECT_EQ(SinglePartialStepSamples(0.5, 16000), 8000u);
  EXPECT_EQ(SinglePartialStepSamples(0.1, 16000), 3200u);  // 0.2 s floor
  EXPECT_EQ(SinglePartialStepSamples(0.0, 16000), 8000u);  // default 0.5 s
  EXPECT_EQ(SinglePartialStepSamples(-2.0, 16000), 8000u);
  EXPECT_EQ(SinglePartialStepSamples(std::nan(""), 16000), 8000u);
  EXPECT_EQ(SinglePartialStepSamples(std::numeric_limits<double>::infinity(), 16000), 8000u);
  EXPECT_EQ(SinglePartialStepSamples(std::numeric_limits<double>::denorm_min(), 16000), 3200u);
  EXPECT_EQ(SinglePartialStepSamples(1.0, 0), 16000u);
  EXPECT_EQ(SinglePartialStepSamples(1.0, -5), 16000u);
  EXPECT_EQ(SinglePartialStepSamples(0.25, 10), 3u);  // 2.5 rounds away from zero
  EXPECT_EQ(SinglePartialStepSamples(1e12, 16000), 4294967295u);
}

TEST(SetCommand, ParsesThreeWhitespaceSeparatedItems) {
  EXPECT_EQ(ParseSetPartialInterval("set single-partial-interval 0.5"), 0.5);
  EXPECT_EQ(ParseSetPartialInterval("  set \t single-partial-interval   1.25  "), 1.25);
  EXPECT_EQ(ParseSetPartialInterval("set single-partial-interval 0.05 more words"), 0.05);
  EXPECT_EQ(ParseSetPartialInterval("set single-partial-interval -3"), -3.0);
  EXPECT_FALSE(ParseSetPartialInterval("set single-partial-interval"));
  EXPECT_FALSE(ParseSetPartialInterval("set single-partial-interval abc"));
  EXPECT_FALSE(ParseSetPartialInterval("set other-interval 0.5"));
  EXPECT_FALSE(ParseSetPartialInterval("SET single-partial-interval 0.5"));
  EXPECT_FALSE(ParseSetPartialInterval("set"));
  EXPECT_FALSE(ParseSetPartialInterval(""));
}

TEST(SetCommand, LinesAreClassifiedExactlyAsRead) {
  using Kind = SessionCommand::Kind;
  EXPECT_EQ(ClassifyCommandLine("").kind, Kind::kEmpty);
  EXPECT_EQ(ClassifyCommandLine("start").kind, Kind::kStart);
  EXPECT_EQ(ClassifyCommandLine("stop").kind, Kind::kStop);
  EXPECT_EQ(ClassifyCommandLine("quit").kind, Kind::kQuit);
  EXPECT_EQ(ClassifyCommandLine("manual").kind, Kind::kMode);
  EXPECT_EQ(ClassifyCommandLine("auto").kind, Kind::kMode);
  for (const char* line : {"START", "start ", " start", "start\r", "stop\r", "quit!", " ",
                           "set single-partial-interval", "Auto"}) {
    EXPECT_EQ(ClassifyCommandLine(line).kind, Kind::kUnknown) << line;
  }
  const SessionCommand set = ClassifyCommandLine("set single-partial-interval 0.05 more");
  EXPECT_EQ(set.kind, Kind::kSetPartialInterval);
  EXPECT_EQ(set.seconds, 0.05);
}

TEST(SingleModelLimits, DefaultsAndFallbacks) {
  Options options;
  SingleModelLimits limits = MakeSingleModelLimits(options);
  EXPECT_EQ(limits.trim_cap, 48000);
  EXPECT_EQ(limits.trim_keep, 19200);
  EXPECT_EQ(limits.max_window, 112000);
  EXPECT_EQ(limits.silence, 8000);

  options.single_trim_cap = 0;
  options.single_trim_keep = -1;
  options.single_max_window = 0;
  options.vad_min_silence = 0.1;
  limits = MakeSingleModelLimits(options);
  EXPECT_EQ(limits.trim_cap, 0);
  EXPECT_EQ(limits.trim_keep, 16000);
  EXPECT_EQ(limits.max_window, 112000);
  EXPECT_EQ(limits.silence, 4800);  // at least 0.3 s

  // The window is never smaller than a commit plus what is kept.
  options.single_trim_cap = 5.0;
  options.single_trim_keep = 3.0;
  options.single_max_window = 2.0;
  limits = MakeSingleModelLimits(options);
  EXPECT_EQ(limits.max_window, 80000 + 48000 + 1);
}

}  // namespace
}  // namespace dictacore
