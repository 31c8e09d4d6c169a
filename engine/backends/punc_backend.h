// Punctuation restoration with a CT-Transformer model.
#ifndef DICTACORE_ENGINE_BACKENDS_PUNC_BACKEND_H_
#define DICTACORE_ENGINE_BACKENDS_PUNC_BACKEND_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace dictacore {

struct PuncInitOptions {
  std::string model;        // CT-Transformer model file
  int32_t num_threads = 1;  // below 1 runs with 1
  std::string provider = "cpu";
};

class PuncBackend {
 public:
  PuncBackend();
  ~PuncBackend();
  PuncBackend(const PuncBackend&) = delete;
  PuncBackend& operator=(const PuncBackend&) = delete;

  bool Init(const PuncInitOptions& options, std::string* error);
  bool IsReady() const;
  // Punctuates `input`. On failure `output` holds the input unchanged.
  bool AddPunctuation(const std::string& input, std::string* output, std::string* error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  // Both live threads punctuate; the toolkit object is not documented as
  // safe for concurrent calls, so calls are serialised.
  std::mutex mutex_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_PUNC_BACKEND_H_
