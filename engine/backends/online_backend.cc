#include "engine/backends/online_backend.h"

#include "engine/backends/model_files.h"
#include "engine/backends/sherpa_handles.h"
#include "engine/common/strings.h"
#include "engine/common/error.h"

namespace dictacore {

// The stream is declared after the recognizer so that it is destroyed first.
struct OnlineBackend::Impl {
  OnlineRecognizerHandle recognizer;
  OnlineStreamHandle stream;
  OnlineInitOptions options;
};

namespace {

constexpr const char* kNotInitialized = "Online backend is not initialized";

}  // namespace

OnlineBackend::OnlineBackend() = default;
OnlineBackend::~OnlineBackend() = default;

bool OnlineBackend::Init(const OnlineInitOptions& options, std::string* error) {
  impl_.reset();
  impl_ = std::make_unique<Impl>();

  std::string type = AsciiLower(options.model_type);
  if (type.empty()) type = options.joiner.empty() ? "paraformer" : "transducer";
  const bool paraformer = type == "paraformer";
  if (options.encoder.empty() || options.decoder.empty() || options.tokens.empty() ||
      (!paraformer && options.joiner.empty())) {
    return Fail(error, "online model paths are incomplete");
  }
  impl_->options = options;
  const OnlineInitOptions& o = impl_->options;
  if (!CheckTokensFile(o.tokens, error)) return false;

  SherpaOnnxOnlineRecognizerConfig config{};
  config.feat_config.sample_rate = o.sample_rate;
  config.feat_config.feature_dim = o.feature_dim;
  if (paraformer) {
    config.model_config.paraformer.encoder = o.encoder.c_str();
    config.model_config.paraformer.decoder = o.decoder.c_str();
  } else {
    config.model_config.transducer.encoder = o.encoder.c_str();
    config.model_config.transducer.decoder = o.decoder.c_str();
    config.model_config.transducer.joiner = o.joiner.c_str();
  }
  config.model_config.tokens = o.tokens.c_str();
  config.model_config.num_threads = o.num_threads < 1 ? 1 : o.num_threads;
  config.model_config.provider = o.provider.c_str();
  config.model_config.debug = 0;
  config.model_config.model_type = paraformer ? "paraformer" : "transducer";
  config.decoding_method = o.decoding_method.c_str();
  config.max_active_paths = o.max_active_paths;
  config.enable_endpoint = o.enable_endpoint ? 1 : 0;
  config.rule1_min_trailing_silence = o.rule1_min_trailing_silence;
  config.rule2_min_trailing_silence = o.rule2_min_trailing_silence;
  config.rule3_min_utterance_length = o.rule3_min_utterance_length;

  if (!CallToolkit(
          &impl_->recognizer, "SherpaOnnxCreateOnlineRecognizer",
          [&config] { return SherpaOnnxCreateOnlineRecognizer(&config); }, error)) {
    return false;
  }
  impl_->stream.reset(SherpaOnnxCreateOnlineStream(impl_->recognizer.get()));
  if (!impl_->stream) {
    impl_->recognizer.reset();
    return Fail(error, "SherpaOnnxCreateOnlineStream() failed");
  }
  return true;
}

bool OnlineBackend::IsReady() const { return impl_ && impl_->recognizer && impl_->stream; }

bool OnlineBackend::DecodeReady(std::string* text, std::string* error) {
  const SherpaOnnxOnlineRecognizer* recognizer = impl_->recognizer.get();
  const SherpaOnnxOnlineStream* stream = impl_->stream.get();
  // The toolkit throws from here, for one, when the model emits a token id
  // that its tokens file lacks (a truncated file); escaping, that would end
  // the engine in the middle of a dictation.
  try {
    while (SherpaOnnxIsOnlineStreamReady(recognizer, stream) != 0) {
      SherpaOnnxDecodeOnlineStream(recognizer, stream);
    }
    OnlineResultHandle result(SherpaOnnxGetOnlineStreamResult(recognizer, stream));
    if (result && text != nullptr && result->text != nullptr) *text = result->text;
  } catch (const std::exception& e) {
    return Fail(error, std::string("SherpaOnnxDecodeOnlineStream() exception: ") + e.what());
  } catch (...) {
    return Fail(error, "SherpaOnnxDecodeOnlineStream() unknown exception");
  }
  return true;
}

bool OnlineBackend::AcceptAndDecode(const std::vector<float>& samples, std::string* text,
                                    bool* endpoint, std::string* error) {
  if (text != nullptr) text->clear();
  if (endpoint != nullptr) *endpoint = false;
  if (samples.empty()) return true;
  if (!IsReady()) return Fail(error, kNotInitialized);
  SherpaOnnxOnlineStreamAcceptWaveform(impl_->stream.get(), impl_->options.sample_rate,
                                       samples.data(), static_cast<int32_t>(samples.size()));
  if (!DecodeReady(text, error)) return false;
  if (endpoint != nullptr) {
    *endpoint =
        SherpaOnnxOnlineStreamIsEndpoint(impl_->recognizer.get(), impl_->stream.get()) != 0;
  }
  return true;
}

bool OnlineBackend::InputFinishedAndDecode(std::string* text, std::string* error) {
  if (text != nullptr) text->clear();
  if (!IsReady()) return Fail(error, kNotInitialized);
  SherpaOnnxOnlineStreamInputFinished(impl_->stream.get());
  return DecodeReady(text, error);
}

bool OnlineBackend::Reset(std::string* error) {
  if (!IsReady()) return Fail(error, kNotInitialized);
  impl_->stream.reset();
  impl_->stream.reset(SherpaOnnxCreateOnlineStream(impl_->recognizer.get()));
  if (!impl_->stream) return Fail(error, "SherpaOnnxCreateOnlineStream() failed during reset");
  return true;
}

}  // namespace dictacore
