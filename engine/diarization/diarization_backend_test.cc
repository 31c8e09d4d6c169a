#include "engine/diarization/diarization_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/diarization/diarization_factory.h"
#include "engine/diarization/sherpa_onnx_diarization.h"

namespace dictacore {
namespace {

constexpr char kNothingSelected[] =
    "no diarization backend selected: pass either --diarization-helper-binary (fluidaudio) or "
    "--diarization-segmentation-model + --diarization-embedding-model (sherpa-onnx)";

TEST(SpeakerLabel, AtLeastTwoDigits) {
  EXPECT_EQ(SpeakerLabel(0), "SPEAKER_00");
  EXPECT_EQ(SpeakerLabel(7), "SPEAKER_07");
  EXPECT_EQ(SpeakerLabel(123), "SPEAKER_123");
}

TEST(ParseTurnLine, TimesAsStrtodReadsThemAndTheRestAsLabel) {
  DiarizationSegment turn;
  ASSERT_TRUE(ParseTurnLine(" 1.5x\t-2e1\tSpeaker one\twith tab ", &turn));
  EXPECT_EQ(turn.start, 1.5);
  EXPECT_EQ(turn.end, -20.0);
  EXPECT_EQ(turn.speaker, "Speaker one\twith tab ");
  ASSERT_TRUE(ParseTurnLine("inf\tnan\t", &turn));
  EXPECT_TRUE(std::isinf(turn.start));
  EXPECT_TRUE(std::isnan(turn.end));
  EXPECT_EQ(turn.speaker, "");
}

TEST(ParseTurnLine, MissingTabOrNumber) {
  DiarizationSegment turn;
  EXPECT_FALSE(ParseTurnLine("", &turn));
  EXPECT_FALSE(ParseTurnLine("1\t2", &turn));
  EXPECT_FALSE(ParseTurnLine("1 2 A", &turn));
  EXPECT_FALSE(ParseTurnLine("\t2\tA", &turn));
  EXPECT_FALSE(ParseTurnLine("1\tx\tA", &turn));
}

// --- Backend selection --------------------------------------------------------

TEST(CreateDiarizationBackend, NothingSelectedWithoutHelperOrModelFiles) {
  DiarizationInitOptions options;
  std::string error;
  EXPECT_EQ(CreateDiarizationBackend(options, &error), nullptr);
  EXPECT_EQ(error, kNothingSelected);
  // A model directory alone selects nothing either.
  options.model_dir = "/tmp";
  error.clear();
  EXPECT_EQ(CreateDiarizationBackend(options, &error), nullptr);
  EXPECT_EQ(error, kNothingSelected);
  EXPECT_EQ(CreateDiarizationBackend(options, nullptr), nullptr);
}

TEST(CreateDiarizationBackend, HelperWinsOverModelFiles) {
  DiarizationInitOptions options;
  options.helper_binary = "/nonexistent/fluidaudio-diar";
  options.segmentation_model = "/nonexistent/seg.onnx";
  options.embedding_model = "/nonexistent/emb.onnx";
  std::string error;
  EXPECT_EQ(CreateDiarizationBackend(options, &error), nullptr);
  EXPECT_EQ(error, "fluidaudio backend init failed: diarization model_dir is empty");
}

TEST(CreateDiarizationBackend, EmbeddingAloneSelectsSherpaOnnxThenLacksSegmentation) {
  DiarizationInitOptions options;
  options.embedding_model = "/nonexistent/emb.onnx";
  std::string error;
  EXPECT_EQ(CreateDiarizationBackend(options, &error), nullptr);
  EXPECT_EQ(error, "sherpa-onnx backend init failed: Diarization segmentation model not found in ");
}

TEST(CreateDiarizationBackend, ToolkitRefusingTheModelsIsReported) {
  DiarizationInitOptions options;
  options.segmentation_model = "/nonexistent/seg.onnx";
  options.embedding_model = "/nonexistent/emb.onnx";
  std::string error;
  EXPECT_EQ(CreateDiarizationBackend(options, &error), nullptr);
  EXPECT_EQ(error,
            "sherpa-onnx backend init failed: SherpaOnnxCreateOfflineSpeakerDiarization() failed");
}

// --- Model file resolution ----------------------------------------------------

TEST(ResolveModelFile, ExactNameFirstThenKeyInListing) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string keyed = dir.Write("Pyannote-Segment.onnx", "x");
  EXPECT_EQ(ResolveModelFile(dir.path(), "segmentation-3.1.onnx", "segment"), keyed);
  const std::string exact = dir.Write("segmentation-3.1.onnx", "x");
  EXPECT_EQ(ResolveModelFile(dir.path(), "segmentation-3.1.onnx", "segment"), exact);
  // A trailing separator on the directory is not doubled.
  EXPECT_EQ(ResolveModelFile(dir.path() + "/", "segmentation-3.1.onnx", "SEGMENT"),
            dir.path() + "/segmentation-3.1.onnx");
}

TEST(ResolveModelFile, WhatNeverQualifies) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Write("SEGMENT.ONNX", "x");                       // upper-case extension
  dir.Write("segment.onnx.bak", "x");                   // not ending in .onnx
  dir.Write("other.onnx", "x");                         // no key
  ::mkdir(dir.File("segment-dir.onnx").c_str(), 0755);  // not a regular file
  ASSERT_EQ(::symlink("/nonexistent/x", dir.File("segment-dangling.onnx").c_str()), 0);
  EXPECT_EQ(ResolveModelFile(dir.path(), "segmentation-3.1.onnx", "segment"), "");
  EXPECT_EQ(ResolveModelFile("", "segmentation-3.1.onnx", "segment"), "");
  EXPECT_EQ(ResolveModelFile(dir.File("missing"), "x.onnx", "x"), "");
  // The exact name must be a regular file too; a directory of that name
  // falls through to the listing.
  ::mkdir(dir.File("segmentation-3.1.onnx").c_str(), 0755);
  EXPECT_EQ(ResolveModelFile(dir.path(), "segmentation-3.1.onnx", "segment"), "");
}

TEST(ResolveModelFile, SymbolicLinksAreFollowed) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string target = dir.Write("real.bin", "x");
  ASSERT_EQ(::symlink(target.c_str(), dir.File("my-segment.onnx").c_str()), 0);
  EXPECT_EQ(ResolveModelFile(dir.path(), "segmentation-3.1.onnx", "segment"),
            dir.File("my-segment.onnx"));
}

TEST(ResolveDiarizationModelFiles, EmbeddingCandidatesInOrder) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Write("segmentation-3.1.onnx", "x");
  dir.Write("wespeaker.onnx", "x");
  dir.Write("wenet-campplus.onnx", "x");
  DiarizationInitOptions options;
  options.model_dir = dir.path();
  std::string segmentation;
  std::string embedding;
  ASSERT_TRUE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, nullptr));
  EXPECT_EQ(segmentation, dir.File("segmentation-3.1.onnx"));
  EXPECT_EQ(embedding, dir.File("wenet-campplus.onnx"));
}

TEST(ResolveDiarizationModelFiles, EmbeddingFoundThroughItsKey) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Write("pyannote-segmentation.onnx", "x");
  dir.Write("ERes2Net-Embedding.onnx", "x");
  DiarizationInitOptions options;
  options.model_dir = dir.path();
  std::string segmentation;
  std::string embedding;
  ASSERT_TRUE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, nullptr));
  EXPECT_EQ(segmentation, dir.File("pyannote-segmentation.onnx"));
  EXPECT_EQ(embedding, dir.File("ERes2Net-Embedding.onnx"));
}

TEST(ResolveDiarizationModelFiles, ExplicitPathsAreTakenAsGiven) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Write("segmentation-3.1.onnx", "x");
  dir.Write("resnet34.onnx", "x");
  DiarizationInitOptions options;
  options.model_dir = dir.path();
  options.embedding_model = "/not/checked.onnx";
  std::string segmentation;
  std::string embedding;
  ASSERT_TRUE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, nullptr));
  EXPECT_EQ(segmentation, dir.File("segmentation-3.1.onnx"));
  EXPECT_EQ(embedding, "/not/checked.onnx");
}

TEST(ResolveDiarizationModelFiles, MissingFilesNameTheDirectory) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  DiarizationInitOptions options;
  options.model_dir = dir.path();
  std::string segmentation;
  std::string embedding;
  std::string error;
  EXPECT_FALSE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, &error));
  EXPECT_EQ(error, "Diarization segmentation model not found in " + dir.path());
  dir.Write("segmentation-3.1.onnx", "x");
  EXPECT_FALSE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, &error));
  EXPECT_EQ(error, "Diarization embedding model not found in " + dir.path());
  options.model_dir.clear();
  EXPECT_FALSE(ResolveDiarizationModelFiles(options, &segmentation, &embedding, &error));
  EXPECT_EQ(error, "Diarization model path is empty");
}

// --- Toolkit configuration and results ------------------------------------------

TEST(MakeDiarizationConfig, ClusterCountThreadsAndDurations) {
  DiarizationInitOptions options;
  options.num_threads = 0;
  options.provider = "cpu";
  const std::string seg = "seg.onnx";
  const std::string emb = "emb.onnx";
  SherpaOnnxOfflineSpeakerDiarizationConfig config = MakeDiarizationConfig(options, seg, emb);
  EXPECT_EQ(config.clustering.num_clusters, -1);
  EXPECT_FLOAT_EQ(config.clustering.threshold, 0.5f);
  EXPECT_EQ(config.segmentation.num_threads, 1);
  EXPECT_EQ(config.embedding.num_threads, 1);
  EXPECT_STREQ(config.segmentation.pyannote.model, "seg.onnx");
  EXPECT_STREQ(config.embedding.model, "emb.onnx");
  EXPECT_STREQ(config.segmentation.provider, "cpu");
  EXPECT_STREQ(config.embedding.provider, "cpu");
  EXPECT_EQ(config.segmentation.debug, 0);
  EXPECT_FLOAT_EQ(config.min_duration_on, 0.3f);
  EXPECT_FLOAT_EQ(config.min_duration_off, 0.5f);

  options.num_threads = 3;
  options.max_speakers = 3;
  options.min_speakers = 2;
  config = MakeDiarizationConfig(options, seg, emb);
  EXPECT_EQ(config.clustering.num_clusters, 3);
  EXPECT_EQ(config.embedding.num_threads, 3);
  options.max_speakers = 0;
  EXPECT_EQ(MakeDiarizationConfig(options, seg, emb).clustering.num_clusters, 2);
}

TEST(CompactToolkitSegments, SpeakersNumberedInStartOrder) {
  const SherpaOnnxOfflineSpeakerDiarizationSegment segments[] = {
      {0.5f, 1.0f, 5}, {1.0f, 2.0f, 2}, {2.0f, 3.0f, 5}, {3.0f, 4.25f, 0}};
  const std::vector<DiarizationSegment> out = CompactToolkitSegments(segments, 4);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].speaker, "SPEAKER_00");
  EXPECT_EQ(out[1].speaker, "SPEAKER_01");
  EXPECT_EQ(out[2].speaker, "SPEAKER_00");
  EXPECT_EQ(out[3].speaker, "SPEAKER_02");
  EXPECT_DOUBLE_EQ(out[3].start, 3.0);
  EXPECT_DOUBLE_EQ(out[3].end, 4.25);
}

TEST(CompactToolkitSegments, EmptyTurnIsDroppedButNumbersItsSpeaker) {
  const SherpaOnnxOfflineSpeakerDiarizationSegment segments[] = {
      {1.0f, 1.0f, 7}, {2.0f, 3.0f, 4}, {3.0f, 4.0f, 7}, {5.0f, 4.0f, 9}};
  const std::vector<DiarizationSegment> out = CompactToolkitSegments(segments, 4);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].speaker, "SPEAKER_01");
  EXPECT_EQ(out[1].speaker, "SPEAKER_00");
  EXPECT_TRUE(CompactToolkitSegments(segments, 0).empty());
}

// --- Backend state without models ----------------------------------------------

TEST(SherpaOnnxDiarizationBackend, NotReadyUntilInitSucceeds) {
  std::unique_ptr<DiarizationBackend> backend = MakeSherpaOnnxDiarizationBackend();
  ASSERT_NE(backend, nullptr);
  EXPECT_FALSE(backend->IsReady());
  std::vector<DiarizationSegment> out = {{0, 1, "stale"}};
  std::string error;
  EXPECT_FALSE(backend->Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "Diarization is not initialized");
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(backend->Process({0.1f}, 16000, nullptr, &error));
  EXPECT_EQ(error, "out is null");

  EXPECT_FALSE(backend->Init(DiarizationInitOptions(), &error));
  EXPECT_EQ(error, "Diarization model path is empty");
  EXPECT_FALSE(backend->IsReady());
  EXPECT_FALSE(backend->Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "Diarization is not initialized");
}

}  // namespace
}  // namespace dictacore
