// The first-pass streaming recognizer (transducer or streaming paraformer)
// with the one stream the live session feeds. Audio thread only.
#ifndef DICTACORE_ENGINE_BACKENDS_ONLINE_BACKEND_H_
#define DICTACORE_ENGINE_BACKENDS_ONLINE_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dictacore {

struct OnlineInitOptions {
  int32_t sample_rate = 16000;
  int32_t feature_dim = 80;
  int32_t num_threads = 2;  // below 1 runs with 1
  std::string provider = "cpu";
  std::string model_type = "transducer";  // "paraformer" selects the paraformer
  std::string encoder;
  std::string decoder;
  std::string joiner;
  std::string tokens;
  std::string decoding_method = "greedy_search";
  int32_t max_active_paths = 4;
  bool enable_endpoint = true;
  float rule1_min_trailing_silence = 1.8f;  // seconds, nothing decoded yet
  float rule2_min_trailing_silence = 0.8f;  // seconds, after decoded text
  float rule3_min_utterance_length = 8.0f;  // seconds
};

class OnlineBackend {
 public:
  OnlineBackend();
  ~OnlineBackend();
  OnlineBackend(const OnlineBackend&) = delete;
  OnlineBackend& operator=(const OnlineBackend&) = delete;

  bool Init(const OnlineInitOptions& options, std::string* error);
  bool IsReady() const;
  // Feeds a chunk and decodes what is ready; `text` receives the whole
  // partial transcript of the current stream.
  bool AcceptAndDecode(const std::vector<float>& samples, std::string* text, bool* endpoint,
                       std::string* error);
  // Marks the input finished and decodes the rest; the stream is not reset.
  bool InputFinishedAndDecode(std::string* text, std::string* error);
  // Starts a new, empty stream.
  bool Reset(std::string* error);

 private:
  struct Impl;
  bool DecodeReady(std::string* text, std::string* error);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_ONLINE_BACKEND_H_
