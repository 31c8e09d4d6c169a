// Test-only access to the speaker kit: the generated embedding and
// segmentation models and the two-voice recordings with their true turns.
// Include from *_test.cc files only (the paths come from the test build).
#ifndef DICTACORE_ENGINE_SPEAKERS_SPEAKER_KIT_TESTING_H_
#define DICTACORE_ENGINE_SPEAKERS_SPEAKER_KIT_TESTING_H_

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "tests/support/kit.h"

namespace dictacore::kit {

inline std::string EmbeddingModel() { return testing::ModelPath("speaker/embedding.onnx"); }
inline std::string SegmentationModel() { return testing::ModelPath("speaker/segmentation.onnx"); }
// Clips: a_enroll, a_probe, b_enroll, b_probe (one voice each) and
// two_voices (six alternating turns a, b, a, b, a, b).
inline std::string ClipWav(const std::string& name) {
  return testing::AudioPath("speaker/" + name + ".wav");
}

inline std::vector<float> LoadClip(const std::string& name) {
  std::vector<float> samples;
  std::string error;
  if (!ReadWavMono(ClipWav(name), 16000, &samples, &error)) samples.clear();
  return samples;
}

struct TrueTurn {
  double start = 0.0;
  double end = 0.0;
  std::string voice;  // "a" or "b"
};

inline std::vector<TrueTurn> TwoVoiceTurns() {
  std::ifstream in(testing::AudioPath("speaker/manifest.json"));
  std::vector<TrueTurn> turns;
  if (!in) return turns;
  const nlohmann::json manifest = nlohmann::json::parse(in, nullptr, false);
  if (manifest.is_discarded()) return turns;
  for (const auto& turn : manifest["clips"]["two_voices"]["turns"]) {
    turns.push_back({turn["start"].get<double>(), turn["end"].get<double>(),
                     turn["voice"].get<std::string>()});
  }
  return turns;
}

}  // namespace dictacore::kit

#endif  // DICTACORE_ENGINE_SPEAKERS_SPEAKER_KIT_TESTING_H_
