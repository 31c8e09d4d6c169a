#include "engine/backends/punc_backend.h"

#include "engine/backends/model_files.h"
#include "engine/backends/sherpa_handles.h"
#include "engine/common/error.h"
#include "engine/text/utf8_punct.h"

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
  // The toolkit splits the text into characters assuming UTF-8 (a cut-off
  // sequence at the end makes it read past the text) and throws on bytes it
  // cannot convert, so such text never reaches it.
  if (!IsValidUtf8(input)) {
    return Fail(error, "SherpaOfflinePunctuationAddPunct() failed: text is not valid UTF-8");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  PunctuatedTextHandle result;
  const SherpaOnnxOfflinePunctuation* punctuation = impl_->punctuation.get();
  const auto add = [punctuation, &input] {
    return SherpaOfflinePunctuationAddPunct(punctuation, input.c_str());
  };
  if (!CallToolkit(&result, "SherpaOfflinePunctuationAddPunct", add, error)) return false;
  if (output != nullptr) *output = result.get();
  return true;
}

}  // namespace dictacore
