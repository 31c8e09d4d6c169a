// Where the generated test kit lives, and what its audio manifest says.
// Header-only: test binaries compile in DICTACORE_MODEL_DIR and
// DICTACORE_AUDIO_DIR (see cmake/Testing.cmake).
#ifndef DICTACORE_TESTS_SUPPORT_KIT_H_
#define DICTACORE_TESTS_SUPPORT_KIT_H_

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace dictacore::testing {

inline std::string ModelPath(const std::string& relative) {
  return std::string(DICTACORE_MODEL_DIR) + "/" + relative;
}

inline std::string AudioPath(const std::string& relative) {
  return std::string(DICTACORE_AUDIO_DIR) + "/" + relative;
}

// build/audio/manifest.json: {"files": {name: {"wav", "duration",
// "utterances": [{start, end, text, ...}], "words": [...], "text"}}}.
inline const nlohmann::json& KitManifest() {
  static const nlohmann::json manifest = [] {
    std::ifstream in(AudioPath("manifest.json"));
    if (!in) throw std::runtime_error("test kit manifest missing: " + AudioPath("manifest.json"));
    return nlohmann::json::parse(in);
  }();
  return manifest;
}

inline const nlohmann::json& KitFile(const std::string& name) {
  return KitManifest().at("files").at(name);
}

// Command-line arguments for the kit's SenseVoice second pass.
inline std::vector<std::string> SenseVoiceArgs() {
  return {"--second-model", ModelPath("sense-voice/model.onnx"), "--second-tokens",
          ModelPath("sense-voice/tokens.txt")};
}

// The SenseVoice second pass in manual mode, followed by `extra`.
inline std::vector<std::string> ManualSenseVoiceArgs(const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = SenseVoiceArgs();
  args.push_back("--manual-mode");
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// The live VAD path with the kit's models: push-to-talk realtime mode with the
// streaming first pass, the Silero VAD, the SenseVoice second pass and
// punctuation.
inline std::vector<std::string> RealtimeKitArgs() {
  std::vector<std::string> args = SenseVoiceArgs();
  const std::vector<std::string> common = {
      "--manual-mode",      "--manual-realtime",
      "--silero-vad-model", ModelPath("silero/silero_vad_v5.onnx"),
      "--ct-transformer",   ModelPath("punct/model.onnx"),
      "--first-encoder",    ModelPath("streaming/encoder.onnx"),
      "--first-decoder",    ModelPath("streaming/decoder.onnx"),
      "--first-joiner",     ModelPath("streaming/joiner.onnx"),
      "--first-tokens",     ModelPath("streaming/tokens.txt")};
  args.insert(args.end(), common.begin(), common.end());
  return args;
}

}  // namespace dictacore::testing

#endif  // DICTACORE_TESTS_SUPPORT_KIT_H_
