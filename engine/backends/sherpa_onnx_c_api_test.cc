// Proves the engine's own declarations of the toolkit's C API against the real
// pinned library: the version string, and a detector created and destroyed
// through the declared config layout.
#include "engine/backends/sherpa_onnx_c_api.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/backends/sherpa_handles.h"

namespace dictacore {
namespace {

const std::string kSileroV5 = std::string(DICTACORE_MODEL_DIR) + "/silero/silero_vad_v5.onnx";
const std::string kSileroLegacy =
    std::string(DICTACORE_MODEL_DIR) + "/silero/silero_vad_legacy.onnx";

TEST(SherpaOnnxAbi, LibraryIsThePinnedVersion) {
  ASSERT_NE(SherpaOnnxGetVersionStr(), nullptr);
  EXPECT_EQ(std::string(SherpaOnnxGetVersionStr()), DICTACORE_SHERPA_ONNX_VERSION);
  ASSERT_NE(SherpaOnnxGetGitSha1(), nullptr);
  EXPECT_FALSE(std::string(SherpaOnnxGetGitSha1()).empty());
}

// The config points into `model`, which must outlive it.
SherpaOnnxVadModelConfig SileroConfig(const std::string& model) {
  SherpaOnnxVadModelConfig config{};
  config.silero_vad.model = model.c_str();
  config.silero_vad.threshold = 0.5f;
  config.silero_vad.min_silence_duration = 0.5f;
  config.silero_vad.min_speech_duration = 0.25f;
  config.silero_vad.max_speech_duration = 8.0f;
  config.silero_vad.window_size = 512;
  config.sample_rate = 16000;
  config.num_threads = 1;
  config.provider = "cpu";
  return config;
}

TEST(SherpaOnnxAbi, VadCreatesFromBothSileroModelsAndHearsNothingInSilence) {
  for (const std::string& model : {kSileroV5, kSileroLegacy}) {
    SCOPED_TRACE(model);
    SherpaOnnxVadModelConfig config = SileroConfig(model);
    VadHandle vad(SherpaOnnxCreateVoiceActivityDetector(&config, 30.0f));
    ASSERT_NE(vad, nullptr);
    std::vector<float> silence(16000, 0.0f);
    SherpaOnnxVoiceActivityDetectorAcceptWaveform(vad.get(), silence.data(),
                                                  static_cast<int32_t>(silence.size()));
    SherpaOnnxVoiceActivityDetectorFlush(vad.get());
    EXPECT_NE(SherpaOnnxVoiceActivityDetectorEmpty(vad.get()), 0);
    EXPECT_EQ(SherpaOnnxVoiceActivityDetectorDetected(vad.get()), 0);
  }
}

TEST(SherpaOnnxAbi, MissingModelFileYieldsNullHandle) {
  const std::string missing = "/nonexistent/silero.onnx";
  SherpaOnnxVadModelConfig config = SileroConfig(missing);
  VadHandle vad(SherpaOnnxCreateVoiceActivityDetector(&config, 30.0f));
  EXPECT_EQ(vad, nullptr);
}

TEST(SherpaOnnxAbi, PunctuationWithMissingModelYieldsNullHandle) {
  SherpaOnnxOfflinePunctuationConfig config{};
  config.model.ct_transformer = "/nonexistent/punct.onnx";
  config.model.num_threads = 1;
  config.model.provider = "cpu";
  PunctuationHandle punct(SherpaOnnxCreateOfflinePunctuation(&config));
  EXPECT_EQ(punct, nullptr);
}

}  // namespace
}  // namespace dictacore
