// The second-pass recognizer: a toolkit offline recognizer running a
// SenseVoice model or a Whisper encoder/decoder pair.
#ifndef DICTACORE_ENGINE_BACKENDS_OFFLINE_DECODER_H_
#define DICTACORE_ENGINE_BACKENDS_OFFLINE_DECODER_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dictacore {

struct DecoderInitOptions {
  int32_t sample_rate = 0;
  int32_t num_threads = 0;  // below 1 runs with 1
  std::string provider = "cpu";
  std::string model_type = "sensevoice";  // "sensevoice"/"sense-voice" or "whisper"
  std::string model;                      // SenseVoice model file
  std::string encoder;                    // Whisper encoder
  std::string decoder;                    // Whisper decoder
  std::string tokens;
  std::string language;
  std::string task = "transcribe";
  bool use_itn = true;
};

struct DecodedTokens {
  std::string text;
  std::vector<std::string> tokens;
  std::vector<float> timestamps;  // start of each token, seconds from the first sample
  std::vector<float> durations;   // seconds; empty when the model gives none
};

// Owns the recognizer. Decodes may come from several threads; they are
// serialised here.
class OfflineDecoderBackend {
 public:
  OfflineDecoderBackend();
  ~OfflineDecoderBackend();
  OfflineDecoderBackend(const OfflineDecoderBackend&) = delete;
  OfflineDecoderBackend& operator=(const OfflineDecoderBackend&) = delete;

  // Builds the recognizer, destroying a previous one first.
  bool Init(const DecoderInitOptions& options, std::string* error);
  bool IsReady() const;

  // An empty buffer always succeeds with empty text.
  bool Decode(const std::vector<float>& samples, std::string* text, std::string* error);
  bool DecodeWithTokens(const std::vector<float>& samples, DecodedTokens* out, std::string* error);

 private:
  struct Impl;
  bool Run(const std::vector<float>& samples, std::string* text, DecodedTokens* out,
           std::string* error);

  std::unique_ptr<Impl> impl_;
  std::mutex decode_mutex_;
};

// The language handed to the toolkit for Whisper: the configured language in
// lower case, or empty (the toolkit detects it) for "" and "auto".
std::string WhisperToolkitLanguage(const std::string& language);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_OFFLINE_DECODER_H_
