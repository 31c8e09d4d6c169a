#include "engine/backends/offline_decoder.h"

#include <exception>

#include "engine/backends/sherpa_handles.h"
#include "engine/common/strings.h"
#include "engine/common/error.h"

namespace dictacore {

struct OfflineDecoderBackend::Impl {
  OfflineRecognizerHandle recognizer;
  DecoderInitOptions options;
};

namespace {

// "sensevoice" or "whisper"; anything unrecognised runs as SenseVoice.
std::string EffectiveModelType(const DecoderInitOptions& options) {
  std::string type = AsciiLower(options.model_type);
  if (type == "sense-voice") type = "sensevoice";
  if (type.empty()) {
    type = options.encoder.empty() && options.decoder.empty() ? "sensevoice" : "whisper";
  }
  return type == "whisper" ? type : "sensevoice";
}

void CopyResult(const SherpaOnnxOfflineRecognizerResult& result, std::string* text,
                DecodedTokens* out) {
  if (text != nullptr && result.text != nullptr) *text = result.text;
  if (out == nullptr) return;
  if (result.text != nullptr) out->text = result.text;
  const int32_t count = result.count;
  if (count <= 0) return;
  const auto n = static_cast<size_t>(count);
  if (result.tokens_arr != nullptr) {
    out->tokens.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      out->tokens.emplace_back(result.tokens_arr[i] != nullptr ? result.tokens_arr[i] : "");
    }
  }
  if (result.timestamps != nullptr) out->timestamps.assign(result.timestamps, result.timestamps + n);
  if (result.durations != nullptr) out->durations.assign(result.durations, result.durations + n);
}

}  // namespace

std::string WhisperToolkitLanguage(const std::string& language) {
  const std::string lower = AsciiLower(language);
  return lower == "auto" ? std::string() : lower;
}

OfflineDecoderBackend::OfflineDecoderBackend() = default;
OfflineDecoderBackend::~OfflineDecoderBackend() = default;

bool OfflineDecoderBackend::Init(const DecoderInitOptions& options, std::string* error) {
  impl_.reset();
  impl_ = std::make_unique<Impl>();
  impl_->options = options;

  const std::string type = EffectiveModelType(options);
  const bool whisper = type == "whisper";
  if (options.tokens.empty()) return Fail(error, "Second-pass tokens path is empty");
  if (whisper && (options.encoder.empty() || options.decoder.empty())) {
    return Fail(error, "Whisper second-pass requires encoder and decoder paths");
  }
  if (!whisper && options.model.empty()) {
    return Fail(error, "SenseVoice second-pass requires model path");
  }

  const DecoderInitOptions& o = impl_->options;
  const std::string sense_voice_language = o.language.empty() ? "zh" : o.language;
  const std::string whisper_language = WhisperToolkitLanguage(o.language);
  const std::string whisper_task = o.task.empty() ? "transcribe" : o.task;

  SherpaOnnxOfflineRecognizerConfig config{};
  config.model_config.tokens = o.tokens.c_str();
  config.model_config.num_threads = o.num_threads < 1 ? 1 : o.num_threads;
  config.model_config.provider = o.provider.c_str();
  config.decoding_method = "greedy_search";
  if (whisper) {
    config.model_config.whisper.encoder = o.encoder.c_str();
    config.model_config.whisper.decoder = o.decoder.c_str();
    config.model_config.whisper.language = whisper_language.c_str();
    config.model_config.whisper.task = whisper_task.c_str();
  } else {
    config.model_config.sense_voice.model = o.model.c_str();
    config.model_config.sense_voice.language = sense_voice_language.c_str();
    config.model_config.sense_voice.use_itn = o.use_itn ? 1 : 0;
  }

  impl_->recognizer.reset(SherpaOnnxCreateOfflineRecognizer(&config));
  if (!impl_->recognizer) return Fail(error, "SherpaOnnxCreateOfflineRecognizer() failed");
  return true;
}

bool OfflineDecoderBackend::IsReady() const { return impl_ && impl_->recognizer; }

bool OfflineDecoderBackend::Decode(const std::vector<float>& samples, std::string* text,
                                   std::string* error) {
  if (text != nullptr) text->clear();
  return Run(samples, text, nullptr, error);
}

bool OfflineDecoderBackend::DecodeWithTokens(const std::vector<float>& samples,
                                             DecodedTokens* out, std::string* error) {
  if (out != nullptr) *out = DecodedTokens();
  return Run(samples, nullptr, out, error);
}

bool OfflineDecoderBackend::Run(const std::vector<float>& samples, std::string* text,
                                DecodedTokens* out, std::string* error) {
  if (samples.empty()) return true;
  if (!IsReady()) return Fail(error, "Decoder is not initialized");

  std::lock_guard<std::mutex> lock(decode_mutex_);
  const SherpaOnnxOfflineRecognizer* recognizer = impl_->recognizer.get();
  OfflineStreamHandle stream(SherpaOnnxCreateOfflineStream(recognizer));
  if (!stream) return Fail(error, "SherpaOnnxCreateOfflineStream() failed");
  try {
    SherpaOnnxAcceptWaveformOffline(stream.get(), impl_->options.sample_rate, samples.data(),
                                    static_cast<int32_t>(samples.size()));
    SherpaOnnxDecodeOfflineStream(recognizer, stream.get());
    OfflineResultHandle result(SherpaOnnxGetOfflineStreamResult(stream.get()));
    if (result) CopyResult(*result, text, out);
  } catch (const std::exception& e) {
    return Fail(error, std::string("SherpaOnnxDecodeOfflineStream() exception: ") + e.what());
  } catch (...) {
    return Fail(error, "SherpaOnnxDecodeOfflineStream() unknown exception");
  }
  return true;
}

}  // namespace dictacore
