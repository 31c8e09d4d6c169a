#include "engine/speakers/speaker_identifier.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/speakers/enroll_db.h"
#include "engine/speakers/speaker_kit_testing.h"
#include "tests/support/sanitizers.h"

namespace dictacore {
namespace {

constexpr int kRate = 16000;

std::vector<std::string> CaptureLogs(const std::function<void(EventEmitter*)>& body) {
  EventEmitter emitter;
  ::testing::internal::CaptureStdout();
  body(&emitter);
  std::istringstream in(::testing::internal::GetCapturedStdout());
  std::vector<std::string> messages;
  for (std::string line; std::getline(in, line);) {
    messages.push_back(nlohmann::json::parse(line)["message"].get<std::string>());
  }
  return messages;
}

// --- Pure pieces --------------------------------------------------------------------

// A buffer whose every sample holds its own index, so gathered audio shows
// which ranges it came from.
std::vector<float> IndexBuffer(size_t n) {
  std::vector<float> samples(n);
  for (size_t i = 0; i < n; ++i) samples[i] = static_cast<float>(i);
  return samples;
}

TEST(GatherClusterAudio, LongestTurnsFirstUpToTheCap) {
  const std::vector<float> buffer = IndexBuffer(30 * kRate);
  const std::vector<DiarizationSegment> turns = {
      {0.0, 3.0, "S"}, {5.0, 15.0, "S"}, {20.0, 28.0, "S"}};
  const std::vector<float> audio = GatherClusterAudio(buffer, kRate, 15.0, turns);
  ASSERT_EQ(audio.size(), 240000u);
  EXPECT_EQ(audio[0], 5.0f * kRate);                 // the 10 s turn
  EXPECT_EQ(audio[159999], 15.0f * kRate - 1);
  EXPECT_EQ(audio[160000], 20.0f * kRate);           // then 5 s of the 8 s turn
  EXPECT_EQ(audio[239999], 25.0f * kRate - 1);
  // No cap: everything, still longest first.
  const std::vector<float> all = GatherClusterAudio(buffer, kRate, 0.0, turns);
  EXPECT_EQ(all.size(), 21u * kRate);
  EXPECT_EQ(all.back(), 3.0f * kRate - 1);
}

TEST(GatherClusterAudio, RangesAreClippedToTheRecording) {
  const std::vector<float> buffer = IndexBuffer(10 * kRate);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Entirely beyond the end, or meaningless: nothing.
  EXPECT_TRUE(GatherClusterAudio(buffer, kRate, 0.0, {{12.0, 14.0, "S"}}).empty());
  EXPECT_TRUE(GatherClusterAudio(buffer, kRate, 0.0, {{1e300, inf, "S"}}).empty());
  EXPECT_TRUE(GatherClusterAudio(buffer, kRate, 0.0, {{nan, 2.0, "S"}, {1.0, nan, "S"}}).empty());
  EXPECT_TRUE(GatherClusterAudio(buffer, kRate, 0.0, {{-5.0, -1.0, "S"}}).empty());
  // Partly outside: the inside part.
  std::vector<float> audio = GatherClusterAudio(buffer, kRate, 0.0, {{9.5, 11.0, "S"}});
  ASSERT_EQ(audio.size(), 8000u);
  EXPECT_EQ(audio.front(), 9.5f * kRate);
  audio = GatherClusterAudio(buffer, kRate, 0.0, {{-inf, 0.5, "S"}});
  ASSERT_EQ(audio.size(), 8000u);
  EXPECT_EQ(audio.front(), 0.0f);
  audio = GatherClusterAudio(buffer, kRate, 0.0, {{-1e300, 1e300, "S"}});
  EXPECT_EQ(audio.size(), buffer.size());
  // A cap beyond any buffer is no cap; a cap below one sample gathers nothing.
  EXPECT_EQ(GatherClusterAudio(buffer, kRate, 1e300, {{0.0, 2.0, "S"}}).size(), 32000u);
  EXPECT_EQ(GatherClusterAudio(buffer, kRate, inf, {{0.0, 2.0, "S"}}).size(), 32000u);
  EXPECT_TRUE(GatherClusterAudio(buffer, kRate, 1e-9, {{0.0, 2.0, "S"}}).empty());
}

TEST(SimilarityToEnrolled, CosineToTheMeanOfSameLengthEmbeddings) {
  EXPECT_FLOAT_EQ(SimilarityToEnrolled({1, 1}, {{1, 0}, {0, 1}}), 1.0f);
  EXPECT_FLOAT_EQ(SimilarityToEnrolled({1, 0}, {{-2, 0}}), -1.0f);
  EXPECT_NEAR(SimilarityToEnrolled({1, 0}, {{1, 1}, {1, 2, 3}}), std::sqrt(0.5), 1e-6);
  EXPECT_EQ(SimilarityToEnrolled({1, 0}, {{1, 2, 3}}), 0.0f);
  EXPECT_EQ(SimilarityToEnrolled({1, 0}, {}), 0.0f);
  EXPECT_EQ(SimilarityToEnrolled({0, 0}, {{1, 0}}), 0.0f);
  EXPECT_EQ(SimilarityToEnrolled({1, 0}, {{1, 0}, {-1, 0}}), 0.0f);
}

// --- Initialisation ---------------------------------------------------------------

TEST(SpeakerIdentifierInit, ModelFileIsProbedBeforeTheToolkit) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  SpeakerIdentifier identifier;
  EXPECT_FALSE(identifier.IsReady());
  EXPECT_EQ(identifier.Dim(), 0);
  SpeakerIdentifierOptions options;
  std::string error;
  EXPECT_FALSE(identifier.Init(options, &error));
  EXPECT_EQ(error, "speaker embedding model path is empty");
  options.model = dir.File("missing.onnx");
  EXPECT_FALSE(identifier.Init(options, &error));
  EXPECT_EQ(error, "speaker embedding model not found or unreadable: " + options.model);
  options.model = dir.Write("empty.onnx", "");
  EXPECT_FALSE(identifier.Init(options, &error));
  EXPECT_EQ(error, "speaker embedding model is empty: " + options.model);
  options.model = dir.path();  // opens, but no byte can be read
  EXPECT_FALSE(identifier.Init(options, &error));
  EXPECT_EQ(error, "speaker embedding model is unreadable: " + options.model);
  EXPECT_FALSE(identifier.IsReady());
}

TEST(SpeakerIdentifierInit, ToolkitRejectingTheModelIsCaught) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  SpeakerIdentifierOptions options;
  // What a large-file storage pointer looks like in place of the model.
  options.model =
      dir.Write("pointer.onnx", "oid sha256:4d7a214614ab2935c943f9e0ff69d22e\nsize 26403889\n");
  SpeakerIdentifier identifier;
  std::string error;
  {
    ::dictacore::testing::ScopedLeakCheckPause toolkit_failure_leaks;
    EXPECT_FALSE(identifier.Init(options, &error));
  }
  const std::string prefix = "failed to load speaker embedding model '" + options.model + "': ";
  const std::string suffix =
      " (not a valid .onnx? check it's the real model, not a git-lfs pointer or a truncated "
      "download)";
  ASSERT_GT(error.size(), prefix.size() + suffix.size()) << error;
  EXPECT_EQ(error.substr(0, prefix.size()), prefix);
  EXPECT_EQ(error.substr(error.size() - suffix.size()), suffix);
  EXPECT_FALSE(identifier.IsReady());
  EXPECT_EQ(identifier.Dim(), 0);
}

class SpeakerIdentifierKit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SpeakerIdentifier plain;
    std::string error;
    ASSERT_TRUE(plain.Init(Options(""), &error)) << error;
    for (const char* clip : {"a_enroll", "a_probe", "b_enroll", "b_probe"}) {
      clips_[clip] = kit::LoadClip(clip);
      ASSERT_FALSE(clips_[clip].empty()) << clip;
      ASSERT_TRUE(plain.ComputeEmbedding(clips_[clip], kRate, &embeddings_[clip], &error)) << error;
    }
  }

  SpeakerIdentifierOptions Options(const std::string& db) const {
    SpeakerIdentifierOptions options;
    options.model = kit::EmbeddingModel();
    options.enroll_db = db;
    return options;
  }

  // A database with voice a as Alice and voice b as Bob.
  std::string AliceAndBob() {
    const std::string db = dir_.File("enroll.txt");
    std::string error;
    EXPECT_TRUE(AppendEnrollEmbedding(db, "", "Alice", "", embeddings_["a_enroll"], &error,
                                      nullptr, nullptr))
        << error;
    EXPECT_TRUE(AppendEnrollEmbedding(db, "", "Bob", "", embeddings_["b_enroll"], &error, nullptr,
                                      nullptr))
        << error;
    return db;
  }

  ScopedTempDir dir_{"identifier"};
  std::map<std::string, std::vector<float>> clips_;
  std::map<std::string, std::vector<float>> embeddings_;
};

TEST_F(SpeakerIdentifierKit, EmbeddingsOfTheKitModel) {
  SpeakerIdentifier identifier;
  std::string error;
  ASSERT_TRUE(identifier.Init(Options(""), &error)) << error;
  EXPECT_TRUE(identifier.IsReady());
  EXPECT_EQ(identifier.Dim(), 32);
  std::vector<float> again;
  ASSERT_TRUE(identifier.ComputeEmbedding(clips_["a_probe"], kRate, &again, &error));
  EXPECT_EQ(again, embeddings_["a_probe"]);
  EXPECT_EQ(again.size(), 32u);
  EXPECT_GT(SimilarityToEnrolled(embeddings_["a_probe"], {embeddings_["a_enroll"]}), 0.9f);
  EXPECT_LT(SimilarityToEnrolled(embeddings_["b_probe"], {embeddings_["a_enroll"]}), 0.5f);

  EXPECT_FALSE(identifier.ComputeEmbedding(clips_["a_probe"], kRate, nullptr, &error));
  EXPECT_EQ(error, "embedding out is null");
  EXPECT_FALSE(identifier.ComputeEmbedding({}, kRate, &again, &error));
  EXPECT_EQ(error, "empty audio for embedding");
  EXPECT_FALSE(identifier.ComputeEmbedding(std::vector<float>(10, 0.1f), kRate, &again, &error));
  EXPECT_EQ(error, "not enough audio to compute a speaker embedding");

  SpeakerIdentifier uninitialised;
  EXPECT_FALSE(uninitialised.ComputeEmbedding(clips_["a_probe"], kRate, &again, &error));
  EXPECT_EQ(error, "speaker identifier not initialized");
}

TEST_F(SpeakerIdentifierKit, DatabaseProblemsFailInit) {
  SpeakerIdentifier identifier;
  std::string error;
  const std::string bad = dir_.Write("bad.txt", "speaker-enroll v2\ndim x\n");
  EXPECT_FALSE(identifier.Init(Options(bad), &error));
  EXPECT_EQ(error, "failed to load enroll DB: bad dim at line 2");
  EXPECT_FALSE(identifier.IsReady());

  const std::string small = dir_.Write("small.txt", "speaker-enroll v2\ndim 2\nspeaker A\nemb - 1 2\n");
  EXPECT_FALSE(identifier.Init(Options(small), &error));
  EXPECT_EQ(error, "enroll DB dim (2) != model dim (32); rebuild enrollment with the same model");

  // Two entries of one name: the toolkit's manager refuses the second.
  const std::string twice = dir_.File("twice.txt");
  ASSERT_TRUE(AppendEnrollEmbedding(twice, "", "Sam", "", embeddings_["a_enroll"], nullptr,
                                    nullptr, nullptr));
  ASSERT_TRUE(AppendEnrollEmbedding(twice, "", "Sam", "", embeddings_["b_enroll"], nullptr,
                                    nullptr, nullptr));
  EXPECT_FALSE(identifier.Init(Options(twice), &error));
  EXPECT_EQ(error, "failed to register enrolled speaker 'Sam'");
  EXPECT_FALSE(identifier.IsReady());
}

TEST_F(SpeakerIdentifierKit, IdentifiesEnrolledVoices) {
  SpeakerIdentifier identifier;
  std::string error;
  ASSERT_TRUE(identifier.Init(Options(AliceAndBob()), &error)) << error;
  float score = -1.0f;
  EXPECT_EQ(identifier.Identify(clips_["a_probe"], kRate, &score), "Alice");
  EXPECT_FLOAT_EQ(score, SimilarityToEnrolled(embeddings_["a_probe"], {embeddings_["a_enroll"]}));
  EXPECT_GT(score, 0.7f);
  EXPECT_EQ(identifier.Identify(clips_["b_probe"], kRate, &score), "Bob");
  EXPECT_GT(score, 0.7f);
  EXPECT_EQ(identifier.Identify(clips_["b_probe"], kRate, nullptr), "Bob");
  // Audio too short for an embedding is nobody, with score 0.
  EXPECT_EQ(identifier.Identify(std::vector<float>(10, 0.1f), kRate, &score), "");
  EXPECT_EQ(score, 0.0f);
}

TEST_F(SpeakerIdentifierKit, UnmatchedVoiceReportsTheBestSimilarity) {
  const std::string db = dir_.File("alice.txt");
  ASSERT_TRUE(AppendEnrollEmbedding(db, "", "Alice", "", embeddings_["a_enroll"], nullptr, nullptr,
                                    nullptr));
  SpeakerIdentifier identifier;
  ASSERT_TRUE(identifier.Init(Options(db), nullptr));
  float score = -1.0f;
  EXPECT_EQ(identifier.Identify(clips_["b_probe"], kRate, &score), "");
  const float expected =
      std::max(0.0f, SimilarityToEnrolled(embeddings_["b_probe"], {embeddings_["a_enroll"]}));
  EXPECT_FLOAT_EQ(score, expected);
  EXPECT_LT(score, 0.7f);
}

TEST_F(SpeakerIdentifierKit, NoEnrolledVoiceprintsMeansNobody) {
  for (const std::string& db :
       {std::string(), dir_.File("missing.txt"),
        dir_.Write("ghost.txt", "speaker-enroll v2\ndim 32\nspeaker Ghost\nid g\n")}) {
    SpeakerIdentifier identifier;
    std::string error;
    ASSERT_TRUE(identifier.Init(Options(db), &error)) << db << ": " << error;
    float score = -1.0f;
    EXPECT_EQ(identifier.Identify(clips_["a_probe"], kRate, &score), "") << db;
    EXPECT_EQ(score, 0.0f);
  }
}

// --- Cluster naming -----------------------------------------------------------------

TEST_F(SpeakerIdentifierKit, ClustersOfTheConversationGetTheirNames) {
  SpeakerIdentifier identifier;
  ASSERT_TRUE(identifier.Init(Options(AliceAndBob()), nullptr));
  const std::vector<float> samples = kit::LoadClip("two_voices");
  std::vector<DiarizationSegment> turns;
  for (const kit::TrueTurn& turn : kit::TwoVoiceTurns()) {
    turns.push_back({turn.start, turn.end, turn.voice == "a" ? "SPEAKER_01" : "SPEAKER_00"});
  }
  ASSERT_EQ(turns.size(), 6u);
  turns.push_back({100.0, 120.0, "SPEAKER_07"});  // beyond the recording: skipped
  std::map<std::string, std::string> names;
  std::map<std::string, float> scores;
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    names = BuildClusterIdentityMap(&identifier, samples, kRate, 15.0, turns, e, &scores);
  });
  EXPECT_EQ(names, (std::map<std::string, std::string>{{"SPEAKER_00", "Bob"},
                                                       {"SPEAKER_01", "Alice"}}));
  ASSERT_EQ(scores.size(), 2u);
  ASSERT_EQ(logs.size(), 2u);
  char expected[96];
  std::snprintf(expected, sizeof(expected), "[SPEAKER_ID] SPEAKER_00 -> Bob (score=%.3f)",
                static_cast<double>(scores["SPEAKER_00"]));
  EXPECT_EQ(logs[0], expected);
  std::snprintf(expected, sizeof(expected), "[SPEAKER_ID] SPEAKER_01 -> Alice (score=%.3f)",
                static_cast<double>(scores["SPEAKER_01"]));
  EXPECT_EQ(logs[1], expected);
  EXPECT_GT(scores["SPEAKER_01"], 0.7f);

  IdentifyAndRelabelSpeakers(&identifier, samples, kRate, 15.0, &turns, nullptr);
  EXPECT_EQ(turns[0].speaker, "Alice");
  EXPECT_EQ(turns[1].speaker, "Bob");
  EXPECT_EQ(turns[6].speaker, "SPEAKER_07");
}

TEST_F(SpeakerIdentifierKit, TwoClustersMayShareAName) {
  SpeakerIdentifier identifier;
  ASSERT_TRUE(identifier.Init(Options(AliceAndBob()), nullptr));
  const std::vector<float> samples = kit::LoadClip("two_voices");
  const std::vector<kit::TrueTurn> truth = kit::TwoVoiceTurns();
  ASSERT_EQ(truth.size(), 6u);
  // Voice a's first and third turns as two different clusters.
  std::vector<DiarizationSegment> turns = {{truth[0].start, truth[0].end, "SPEAKER_03"},
                                           {truth[4].start, truth[4].end, "SPEAKER_04"}};
  IdentifyAndRelabelSpeakers(&identifier, samples, kRate, 15.0, &turns, nullptr);
  EXPECT_EQ(turns[0].speaker, "Alice");
  EXPECT_EQ(turns[1].speaker, "Alice");
}

TEST_F(SpeakerIdentifierKit, WithoutEnrolmentEveryClusterIsUnmatched) {
  SpeakerIdentifier identifier;
  ASSERT_TRUE(identifier.Init(Options(""), nullptr));
  const std::vector<float> samples = kit::LoadClip("two_voices");
  const std::vector<DiarizationSegment> turns = {{0.7, 3.5, "SPEAKER_01"}, {4.3, 7.1, "SPEAKER_00"}};
  std::map<std::string, float> scores;
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_TRUE(BuildClusterIdentityMap(&identifier, samples, kRate, 15.0, turns, e, &scores).empty());
  });
  EXPECT_EQ(logs, (std::vector<std::string>{"[SPEAKER_ID] SPEAKER_00 -> (unmatched) (score=0.000)",
                                            "[SPEAKER_ID] SPEAKER_01 -> (unmatched) (score=0.000)"}));
  EXPECT_EQ(scores, (std::map<std::string, float>{{"SPEAKER_00", 0.0f}, {"SPEAKER_01", 0.0f}}));
}

TEST(BuildClusterIdentityMap, NothingWithoutAReadyIdentifierOrSegments) {
  SpeakerIdentifier unready;
  const std::vector<float> samples(16000, 0.1f);
  const std::vector<DiarizationSegment> turns = {{0.0, 1.0, "SPEAKER_00"}};
  const auto logs = CaptureLogs([&](EventEmitter* e) {
    EXPECT_TRUE(BuildClusterIdentityMap(nullptr, samples, kRate, 15.0, turns, e, nullptr).empty());
    EXPECT_TRUE(BuildClusterIdentityMap(&unready, samples, kRate, 15.0, turns, e, nullptr).empty());
  });
  EXPECT_TRUE(logs.empty());
  std::vector<DiarizationSegment> unchanged = turns;
  IdentifyAndRelabelSpeakers(&unready, samples, kRate, 15.0, &unchanged, nullptr);
  EXPECT_EQ(unchanged[0].speaker, "SPEAKER_00");
  IdentifyAndRelabelSpeakers(&unready, samples, kRate, 15.0, nullptr, nullptr);
}

}  // namespace
}  // namespace dictacore
