// The toolkit diarization backend over the speaker kit's real models and its
// two-voice conversation.
#include "engine/diarization/sherpa_onnx_diarization.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/diarization/diarization_factory.h"
#include "engine/speakers/speaker_kit_testing.h"

namespace dictacore {
namespace {

// How far a diarized boundary may lie from the true one: the kit's
// segmentation decides per 64 ms frame, smoothed over 0.5 s.
constexpr double kTurnTolerance = 0.25;

DiarizationInitOptions KitOptions() {
  DiarizationInitOptions options;
  options.segmentation_model = kit::SegmentationModel();
  options.embedding_model = kit::EmbeddingModel();
  return options;
}

// The turns match the conversation: one per true turn, near its times, the
// first voice labelled SPEAKER_00 and the other SPEAKER_01 throughout.
void ExpectTrueTurns(const std::vector<DiarizationSegment>& out) {
  const std::vector<kit::TrueTurn> truth = kit::TwoVoiceTurns();
  ASSERT_EQ(truth.size(), 6u);
  ASSERT_EQ(out.size(), truth.size());
  for (size_t i = 0; i < out.size(); ++i) {
    SCOPED_TRACE("turn " + std::to_string(i));
    EXPECT_NEAR(out[i].start, truth[i].start, kTurnTolerance);
    EXPECT_NEAR(out[i].end, truth[i].end, kTurnTolerance);
    EXPECT_EQ(out[i].speaker, truth[i].voice == truth[0].voice ? "SPEAKER_00" : "SPEAKER_01");
    if (i > 0) {
      EXPECT_GE(out[i].start, out[i - 1].start);
    }
  }
}

TEST(SherpaOnnxDiarization, FindsBothVoicesOfTheConversation) {
  const std::vector<float> samples = kit::LoadClip("two_voices");
  ASSERT_FALSE(samples.empty());
  std::string error;
  std::unique_ptr<DiarizationBackend> backend = CreateDiarizationBackend(KitOptions(), &error);
  ASSERT_NE(backend, nullptr) << error;
  EXPECT_TRUE(backend->IsReady());
  std::vector<DiarizationSegment> out;
  ASSERT_TRUE(backend->Process(samples, 16000, &out, &error)) << error;
  ExpectTrueTurns(out);
  // Each call numbers its speakers afresh.
  std::vector<DiarizationSegment> again;
  ASSERT_TRUE(backend->Process(samples, 16000, &again, &error));
  ExpectTrueTurns(again);
}

TEST(SherpaOnnxDiarization, ModelsFoundThroughTheModelDirectory) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_EQ(::symlink(kit::SegmentationModel().c_str(), dir.File("segmentation-3.1.onnx").c_str()),
            0);
  ASSERT_EQ(::symlink(kit::EmbeddingModel().c_str(), dir.File("3dspeaker-Embedding.onnx").c_str()),
            0);
  DiarizationInitOptions options;
  options.model_dir = dir.path();
  SherpaOnnxDiarizationBackend backend;
  std::string error;
  ASSERT_TRUE(backend.Init(options, &error)) << error;
  std::vector<DiarizationSegment> out;
  ASSERT_TRUE(backend.Process(kit::LoadClip("two_voices"), 16000, &out, &error)) << error;
  ExpectTrueTurns(out);
}

TEST(SherpaOnnxDiarization, ClusterCountReachesTheToolkit) {
  DiarizationInitOptions options = KitOptions();
  options.max_speakers = 1;
  options.min_speakers = 2;  // the upper bound wins
  SherpaOnnxDiarizationBackend backend;
  std::string error;
  ASSERT_TRUE(backend.Init(options, &error)) << error;
  std::vector<DiarizationSegment> out;
  ASSERT_TRUE(backend.Process(kit::LoadClip("two_voices"), 16000, &out, &error)) << error;
  ASSERT_FALSE(out.empty());
  std::set<std::string> labels;
  for (const DiarizationSegment& turn : out) labels.insert(turn.speaker);
  EXPECT_EQ(labels, std::set<std::string>{"SPEAKER_00"});
}

TEST(SherpaOnnxDiarization, RateMismatchEmptyAudioAndReinit) {
  SherpaOnnxDiarizationBackend backend;
  std::string error;
  ASSERT_TRUE(backend.Init(KitOptions(), &error)) << error;
  std::vector<DiarizationSegment> out = {{0, 1, "stale"}};
  EXPECT_FALSE(backend.Process(std::vector<float>(8000, 0.1f), 8000, &out, &error));
  EXPECT_EQ(error, "Diarization sample rate mismatch: expected 16000, got 8000");
  EXPECT_TRUE(out.empty());
  out = {{0, 1, "stale"}};
  EXPECT_TRUE(backend.Process({}, 8000, &out, &error));
  EXPECT_TRUE(out.empty());

  // A failed re-initialisation leaves the backend not ready; a good one
  // makes it work again.
  DiarizationInitOptions broken = KitOptions();
  broken.segmentation_model = "/nonexistent/seg.onnx";
  EXPECT_FALSE(backend.Init(broken, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateOfflineSpeakerDiarization() failed");
  EXPECT_FALSE(backend.IsReady());
  ASSERT_TRUE(backend.Init(KitOptions(), &error)) << error;
  ASSERT_TRUE(backend.Process(kit::LoadClip("two_voices"), 16000, &out, &error)) << error;
  EXPECT_EQ(out.size(), 6u);
}

TEST(SherpaOnnxDiarization, SilenceGivesNoTurns) {
  SherpaOnnxDiarizationBackend backend;
  std::string error;
  ASSERT_TRUE(backend.Init(KitOptions(), &error)) << error;
  std::vector<DiarizationSegment> out = {{0, 1, "stale"}};
  ASSERT_TRUE(backend.Process(std::vector<float>(16000 * 3, 0.0f), 16000, &out, &error)) << error;
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace dictacore
