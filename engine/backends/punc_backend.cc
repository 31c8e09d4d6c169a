#include "engine/backends/punc_backend.h"

#include "engine/backends/model_files.h"
#include "engine/backends/sherpa_handles.h"
#include "engine/common/error.h"

namespace dictacore {

struct PuncBackend::Impl {
  PunctuationHandle punctuation;
  PuncInitOptions options;
};

PuncBackend::PuncBackend() = default;
PuncBackend::~PuncBackend() = default;

bool PuncBackend::Init(const PuncInitOptions& options, std::string* error) {
  impl_.reset();
  impl_ = std::make_unique<Impl>();
  if (options.model.empty()) {
    return Fail(error, "punctuation model path is empty");
  }
  impl_->options = options;
  SherpaOnnxOfflinePunctuationConfig config{};
  config.model.ct_transformer = impl_->options.model.c_str();
  config.model.num_threads = options.num_threads < 1 ? 1 : options.num_threads;
  config.model.debug = 0;
  config.model.provider = impl_->options.provider.c_str();
  return CallToolkit(
      &impl_->punctuation, "SherpaOnnxCreateOfflinePunctuation",
      [&config] { return SherpaOnnxCreateOfflinePunctuation(&config); }, error);
}

bool PuncBackend::IsReady() const { return impl_ && impl_->punctuation; }

bool PuncBackend::AddPunctuation(const std::string& input, std::string* output,
                                 std::string* error) {
  if (output != nullptr) *output = input;
  if (input.empty()) return true;
  if (!IsReady()) {
    return Fail(error, "Punctuation backend is not initialized");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  PunctuatedTextHandle result(SherpaOfflinePunctuationAddPunct(impl_->punctuation.get(),
                                                               input.c_str()));
  if (!result) {
    return Fail(error, "SherpaOfflinePunctuationAddPunct() failed");
  }
  if (output != nullptr) *output = result.get();
  return true;
}

}  // namespace dictacore
