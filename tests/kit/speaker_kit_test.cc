// Smoke tests of the generated speaker models in the real toolkit: the
// embedding model tells the kit's two synthetic voices apart, the embedding
// manager finds an enrolled voice at the engine's identification threshold,
// and offline diarization with the segmentation model recovers the turns of a
// two-voice conversation. Models come from tests/kit/speaker_models.py, audio
// and turn times from tests/kit/speaker_audio.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/backends/sherpa_handles.h"
#include "engine/backends/sherpa_onnx_c_api.h"

namespace dictacore {
namespace {

const std::string kModelDir = std::string(DICTACORE_MODEL_DIR) + "/speaker";
const std::string kAudioDir = std::string(DICTACORE_AUDIO_DIR) + "/speaker";
const std::string kEmbeddingModel = kModelDir + "/embedding.onnx";
const std::string kSegmentationModel = kModelDir + "/segmentation.onnx";

constexpr int kSampleRate = 16000;
// The embedding is a profile over 32 log-spaced pitch candidates (70-400 Hz);
// candidate 16 is the first one above 170 Hz.
constexpr int kEmbeddingDim = 32;
constexpr int kFirstHighPitchCandidate = 16;
// The identification threshold the engine hands to the manager's search.
constexpr float kIdentifyThreshold = 0.7f;
// How far a diarized turn boundary may lie from the true one, in seconds:
// a frame spans 64 ms and the voice decision is smoothed over 0.5 s.
constexpr double kTurnTolerance = 0.25;

std::vector<float> LoadClip(const std::string& name) {
  std::ifstream in(kAudioDir + "/" + name + ".f32", std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamsize bytes = in.tellg();
  in.seekg(0);
  std::vector<float> samples(static_cast<size_t>(bytes) / sizeof(float));
  in.read(reinterpret_cast<char*>(samples.data()), bytes);
  return samples;
}

const nlohmann::json& Manifest() {
  static const nlohmann::json manifest = [] {
    std::ifstream in(kAudioDir + "/manifest.json");
    return in ? nlohmann::json::parse(in) : nlohmann::json::object();
  }();
  return manifest;
}

double Cosine(const std::vector<float>& a, const std::vector<float>& b) {
  double dot = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    dot += static_cast<double>(a[i]) * b[i];
    aa += static_cast<double>(a[i]) * a[i];
    bb += static_cast<double>(b[i]) * b[i];
  }
  return (aa > 0 && bb > 0) ? dot / std::sqrt(aa * bb) : 0.0;
}

SherpaOnnxSpeakerEmbeddingExtractorConfig EmbeddingConfig() {
  SherpaOnnxSpeakerEmbeddingExtractorConfig config{};
  config.model = kEmbeddingModel.c_str();
  config.num_threads = 1;
  config.debug = 0;
  config.provider = "cpu";
  return config;
}

class SpeakerEmbeddingModel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SherpaOnnxSpeakerEmbeddingExtractorConfig config = EmbeddingConfig();
    extractor_.reset(SherpaOnnxCreateSpeakerEmbeddingExtractor(&config));
  }
  static void TearDownTestSuite() { extractor_.reset(); }

  void SetUp() override { ASSERT_NE(extractor_, nullptr) << kEmbeddingModel; }

  static std::vector<float> Embed(const std::vector<float>& samples) {
    OnlineStreamHandle stream(SherpaOnnxSpeakerEmbeddingExtractorCreateStream(extractor_.get()));
    if (!stream) return {};
    SherpaOnnxOnlineStreamAcceptWaveform(stream.get(), kSampleRate, samples.data(),
                                         static_cast<int32_t>(samples.size()));
    SherpaOnnxOnlineStreamInputFinished(stream.get());
    if (SherpaOnnxSpeakerEmbeddingExtractorIsReady(extractor_.get(), stream.get()) != 1) return {};
    EmbeddingHandle embedding(
        SherpaOnnxSpeakerEmbeddingExtractorComputeEmbedding(extractor_.get(), stream.get()));
    if (!embedding) return {};
    const int dim = SherpaOnnxSpeakerEmbeddingExtractorDim(extractor_.get());
    return std::vector<float>(embedding.get(), embedding.get() + dim);
  }

  static std::vector<float> EmbedClip(const std::string& name) {
    const std::vector<float> samples = LoadClip(name);
    EXPECT_FALSE(samples.empty()) << "missing clip " << name;
    std::vector<float> embedding = Embed(samples);
    EXPECT_EQ(embedding.size(), static_cast<size_t>(kEmbeddingDim)) << name;
    return embedding;
  }

  static EmbeddingExtractorHandle extractor_;
};

EmbeddingExtractorHandle SpeakerEmbeddingModel::extractor_;

TEST_F(SpeakerEmbeddingModel, ReportsItsDimension) {
  EXPECT_EQ(SherpaOnnxSpeakerEmbeddingExtractorDim(extractor_.get()), kEmbeddingDim);
}

TEST_F(SpeakerEmbeddingModel, SameVoiceScoresHighAndTheOtherVoiceLow) {
  const std::vector<float> a1 = EmbedClip("a_enroll");
  const std::vector<float> a2 = EmbedClip("a_probe");
  const std::vector<float> b1 = EmbedClip("b_enroll");
  const std::vector<float> b2 = EmbedClip("b_probe");
  // Different sentences by one voice.
  EXPECT_GT(Cosine(a1, a2), 0.9);
  EXPECT_GT(Cosine(b1, b2), 0.9);
  // The same sentence by the two voices, and different ones.
  EXPECT_LT(Cosine(a1, b1), 0.2);
  EXPECT_LT(Cosine(a1, b2), 0.2);
  EXPECT_LT(Cosine(a2, b1), 0.2);
  EXPECT_LT(Cosine(a2, b2), 0.2);
}

TEST_F(SpeakerEmbeddingModel, PeakSitsInTheVoicesPitchRegister) {
  for (const char* name : {"a_enroll", "a_probe", "b_enroll", "b_probe"}) {
    SCOPED_TRACE(name);
    const std::vector<float> embedding = EmbedClip(name);
    ASSERT_FALSE(embedding.empty());
    const auto peak = std::max_element(embedding.begin(), embedding.end()) - embedding.begin();
    if (name[0] == 'a') {
      EXPECT_LT(peak, kFirstHighPitchCandidate);
    } else {
      EXPECT_GE(peak, kFirstHighPitchCandidate);
    }
  }
}

TEST_F(SpeakerEmbeddingModel, IsDeterministicAndIgnoresLoudness) {
  const std::vector<float> samples = LoadClip("a_probe");
  ASSERT_FALSE(samples.empty());
  const std::vector<float> first = Embed(samples);
  EXPECT_EQ(Embed(samples), first);
  std::vector<float> quieter = samples;
  for (float& s : quieter) s *= 0.25f;
  EXPECT_GT(Cosine(Embed(quieter), first), 0.99);
}

TEST_F(SpeakerEmbeddingModel, ManagerFindsTheEnrolledVoiceAtTheIdentifyThreshold) {
  EmbeddingManagerHandle manager(SherpaOnnxCreateSpeakerEmbeddingManager(kEmbeddingDim));
  ASSERT_NE(manager, nullptr);
  const std::vector<float> a = EmbedClip("a_enroll");
  ASSERT_EQ(SherpaOnnxSpeakerEmbeddingManagerAddListFlattened(manager.get(), "alice", a.data(), 1),
            1);

  // Only alice is enrolled: her other sentence is found, the other voice is not.
  const std::vector<float> a_probe = EmbedClip("a_probe");
  const std::vector<float> b_probe = EmbedClip("b_probe");
  {
    EmbeddingSearchHandle found(
        SherpaOnnxSpeakerEmbeddingManagerSearch(manager.get(), a_probe.data(), kIdentifyThreshold));
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found.get(), "alice");
  }
  {
    EmbeddingSearchHandle found(
        SherpaOnnxSpeakerEmbeddingManagerSearch(manager.get(), b_probe.data(), kIdentifyThreshold));
    EXPECT_TRUE(found == nullptr || std::string(found.get()).empty());
  }

  // With bob enrolled too, each probe goes to its own speaker.
  const std::vector<float> b = EmbedClip("b_enroll");
  ASSERT_EQ(SherpaOnnxSpeakerEmbeddingManagerAddListFlattened(manager.get(), "bob", b.data(), 1),
            1);
  EmbeddingSearchHandle found_a(
      SherpaOnnxSpeakerEmbeddingManagerSearch(manager.get(), a_probe.data(), kIdentifyThreshold));
  EmbeddingSearchHandle found_b(
      SherpaOnnxSpeakerEmbeddingManagerSearch(manager.get(), b_probe.data(), kIdentifyThreshold));
  ASSERT_NE(found_a, nullptr);
  ASSERT_NE(found_b, nullptr);
  EXPECT_STREQ(found_a.get(), "alice");
  EXPECT_STREQ(found_b.get(), "bob");
}

struct Turn {
  double start;
  double end;
  int speaker;
};

// Offline diarization as the engine configures it: threshold clustering (0.5)
// with an unknown number of speakers, 0.3 s shortest turn, 0.5 s bridged gap.
std::vector<Turn> Diarize(const std::vector<float>& samples, int* num_speakers) {
  SherpaOnnxOfflineSpeakerDiarizationConfig config{};
  config.segmentation.pyannote.model = kSegmentationModel.c_str();
  config.segmentation.num_threads = 1;
  config.segmentation.provider = "cpu";
  config.embedding = EmbeddingConfig();
  config.clustering.num_clusters = -1;
  config.clustering.threshold = 0.5f;
  config.min_duration_on = 0.3f;
  config.min_duration_off = 0.5f;
  DiarizationHandle diarization(SherpaOnnxCreateOfflineSpeakerDiarization(&config));
  EXPECT_NE(diarization, nullptr);
  if (!diarization) return {};
  EXPECT_EQ(SherpaOnnxOfflineSpeakerDiarizationGetSampleRate(diarization.get()), kSampleRate);

  DiarizationResultHandle result(SherpaOnnxOfflineSpeakerDiarizationProcess(
      diarization.get(), samples.data(), static_cast<int32_t>(samples.size())));
  EXPECT_NE(result, nullptr);
  if (!result) return {};
  *num_speakers = SherpaOnnxOfflineSpeakerDiarizationResultGetNumSpeakers(result.get());
  const int32_t count = SherpaOnnxOfflineSpeakerDiarizationResultGetNumSegments(result.get());
  std::vector<Turn> turns;
  if (count <= 0) return turns;
  DiarizationSegmentsHandle segments(
      SherpaOnnxOfflineSpeakerDiarizationResultSortByStartTime(result.get()));
  for (int32_t i = 0; i < count; ++i) {
    const SherpaOnnxOfflineSpeakerDiarizationSegment& s = segments.get()[i];
    turns.push_back({s.start, s.end, s.speaker});
  }
  return turns;
}

TEST(SpeakerSegmentationModel, DiarizationFindsTheTwoAlternatingVoicesAtTheirTurns) {
  const std::vector<float> samples = LoadClip("two_voices");
  ASSERT_FALSE(samples.empty());
  const nlohmann::json& truth = Manifest()["clips"]["two_voices"]["turns"];
  ASSERT_TRUE(truth.is_array());
  ASSERT_GE(truth.size(), 4u);

  int num_speakers = 0;
  const std::vector<Turn> turns = Diarize(samples, &num_speakers);
  EXPECT_EQ(num_speakers, 2);
  ASSERT_EQ(turns.size(), truth.size());

  std::map<std::string, int> speaker_of_voice;
  for (size_t i = 0; i < turns.size(); ++i) {
    SCOPED_TRACE("turn " + std::to_string(i));
    const double start = truth[i]["start"].get<double>();
    const double end = truth[i]["end"].get<double>();
    EXPECT_NEAR(turns[i].start, start, kTurnTolerance);
    EXPECT_NEAR(turns[i].end, end, kTurnTolerance);
    const std::string voice = truth[i]["voice"].get<std::string>();
    // Every turn of one voice carries one speaker, a different one per voice.
    auto known = speaker_of_voice.emplace(voice, turns[i].speaker);
    EXPECT_EQ(turns[i].speaker, known.first->second) << voice;
  }
  ASSERT_EQ(speaker_of_voice.size(), 2u);
  EXPECT_NE(speaker_of_voice["a"], speaker_of_voice["b"]);
}

TEST(SpeakerSegmentationModel, OneVoiceStaysOneSpeakerAcrossManyChunks) {
  // Two sentences of one voice with a pause, longer than one 5 s window, so
  // the toolkit clusters embeddings of several chunks.
  for (const char* voice : {"a", "b"}) {
    SCOPED_TRACE(voice);
    std::vector<float> samples = LoadClip(std::string(voice) + "_enroll");
    const std::vector<float> second = LoadClip(std::string(voice) + "_probe");
    ASSERT_FALSE(samples.empty());
    ASSERT_FALSE(second.empty());
    samples.insert(samples.end(), kSampleRate, 0.0f);
    samples.insert(samples.end(), second.begin(), second.end());
    ASSERT_GT(samples.size(), 5u * kSampleRate);

    int num_speakers = 0;
    const std::vector<Turn> turns = Diarize(samples, &num_speakers);
    EXPECT_EQ(num_speakers, 1);
    ASSERT_EQ(turns.size(), 2u);
    const double first_end = static_cast<double>(samples.size() - second.size() - kSampleRate) /
                             kSampleRate;
    EXPECT_NEAR(turns[0].start, 0.0, kTurnTolerance);
    EXPECT_NEAR(turns[0].end, first_end, kTurnTolerance);
    EXPECT_NEAR(turns[1].start, first_end + 1.0, kTurnTolerance);
    EXPECT_NEAR(turns[1].end, static_cast<double>(samples.size()) / kSampleRate, kTurnTolerance);
  }
}

}  // namespace
}  // namespace dictacore
