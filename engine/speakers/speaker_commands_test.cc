// In-process checks of the command helpers; the commands themselves run as
// the real program in tests/e2e/speaker_commands_test.cc.
#include "engine/speakers/speaker_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace dictacore {
namespace {

TEST(SamplesDirectory, ExplicitOrBesideTheDatabase) {
  Options options;
  options.speaker_enroll_db = "/data/enroll.txt";
  EXPECT_EQ(SamplesDirectory(options), "/data/samples");
  options.speaker_enroll_db = "enroll.txt";
  EXPECT_EQ(SamplesDirectory(options), "samples");
  options.speaker_enroll_db = "/enroll.txt";
  EXPECT_EQ(SamplesDirectory(options), "/samples");
  options.speaker_enroll_db = "db/sub/enroll.txt";
  EXPECT_EQ(SamplesDirectory(options), "db/sub/samples");
  options.speaker_samples_dir = "/var/voices";
  EXPECT_EQ(SamplesDirectory(options), "/var/voices");
}

TEST(IdentifierOptionsFor, CommandLineSettings) {
  Options options;
  options.speaker_embedding_model = "emb.onnx";
  options.speaker_enroll_db = "db.txt";
  options.diarization_num_threads = 0;
  options.provider_first = "cuda";
  options.speaker_id_threshold = 0.55;
  const SpeakerIdentifierOptions identifier = IdentifierOptionsFor(options);
  EXPECT_EQ(identifier.model, "emb.onnx");
  EXPECT_EQ(identifier.enroll_db, "db.txt");
  EXPECT_EQ(identifier.num_threads, 1);
  EXPECT_EQ(identifier.provider, "cuda");
  EXPECT_FLOAT_EQ(identifier.threshold, 0.55f);
}

TEST(ParseSegmentList, AcceptedLinesInFileOrder) {
  std::istringstream in(
      "start\tend\tlabel\n"
      "\n"
      "2.5\t3\tB\r\n"
      "1\t2\tA\n"
      "0x1p1\t1e1\thex\n"
      "  4\t5junk\tspaced label\t and tab \n"
      "5\t5\tequal\n"
      "6\t5\tbackwards\n"
      "1\t2\t\n"
      "1\t2\n"
      "nan\t2\tnan\n"
      "1\tnan\tnan\n"
      "1e400\t2\thuge\n"
      "-inf\tinf\tall\n"
      "7\t8\tlast");
  const std::vector<DiarizationSegment> segments = ParseSegmentList(in);
  ASSERT_EQ(segments.size(), 6u);
  EXPECT_EQ(segments[0].speaker, "B");
  EXPECT_DOUBLE_EQ(segments[0].start, 2.5);
  EXPECT_EQ(segments[1].speaker, "A");
  EXPECT_DOUBLE_EQ(segments[2].start, 2.0);
  EXPECT_DOUBLE_EQ(segments[2].end, 10.0);
  EXPECT_EQ(segments[3].speaker, "spaced label\t and tab ");
  EXPECT_DOUBLE_EQ(segments[3].end, 5.0);
  EXPECT_EQ(segments[4].speaker, "all");
  EXPECT_TRUE(std::isinf(segments[4].end));
  EXPECT_EQ(segments[5].speaker, "last");
}

TEST(ParseSegmentList, OverLongLinesAreSkipped) {
  const std::string at_limit = "1\t2\t" + std::string(kMaxSegmentLineBytes - 4, 'L');
  const std::string over = "3\t4\t" + std::string(kMaxSegmentLineBytes, 'M');
  std::istringstream in(at_limit + "\n" + over + "\n5\t6\tafter\n" + over);
  const std::vector<DiarizationSegment> segments = ParseSegmentList(in);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].speaker.size(), kMaxSegmentLineBytes - 4);
  EXPECT_EQ(segments[1].speaker, "after");
  EXPECT_DOUBLE_EQ(segments[1].start, 5.0);
}

TEST(ClipSegmentsToRecording, EveryTimeEndsUpInsideTheRecording) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<DiarizationSegment> segments = {
      {1.0, 2.0, "in"}, {-inf, inf, "all"}, {-5.0, 3.0, "neg"}, {8.0, 1e300, "late"},
      {20.0, 30.0, "after"}};
  ClipSegmentsToRecording(10.0, &segments);
  const double expected[][2] = {{1, 2}, {0, 10}, {0, 3}, {8, 10}, {10, 10}};
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_DOUBLE_EQ(segments[i].start, expected[i][0]) << segments[i].speaker;
    EXPECT_DOUBLE_EQ(segments[i].end, expected[i][1]) << segments[i].speaker;
  }
}

// The host cannot reach this message through the command line (an empty
// value selects no command), so it is checked here.
TEST(RunUnregister, NeedsAnIdNameOrDigest) {
  Options options;
  options.speaker_enroll_db = "/tmp/never-written.txt";
  ::testing::internal::CaptureStdout();
  const int status = RunUnregister(options);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "{\"message\":\"unregister requires --unregister-name NAME or --unregister-md5 "
            "MD5\",\"type\":\"error\"}\n");
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace dictacore
