#include "engine/backends/offline_decoder.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <sstream>

#include "engine/backends/model_files.h"
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

// The comma-separated language codes a Whisper model declares in its
// "all_language_codes" metadata entry, read from the tail of the encoder file
// where the metadata is stored. Empty when the entry cannot be found.
std::vector<std::string> WhisperModelLanguages(const std::string& encoder_path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(encoder_path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return {};
  constexpr long kTail = 1 << 20;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return {};
  const long size = std::ftell(file.get());
  if (size <= 0) return {};
  const long start = std::max(0L, size - kTail);
  std::string tail(static_cast<size_t>(size - start), '\0');
  if (std::fseek(file.get(), start, SEEK_SET) != 0 ||
      std::fread(tail.data(), 1, tail.size(), file.get()) != tail.size()) {
    return {};
  }
  // A metadata entry is a key field followed by the value field: tag 0x12,
  // a varint length, the bytes.
  const std::string key = "all_language_codes";
  size_t pos = tail.rfind(key);
  if (pos == std::string::npos) return {};
  pos += key.size();
  if (pos >= tail.size() || tail[pos] != 0x12) return {};
  ++pos;
  uint64_t length = 0;
  for (int shift = 0; pos < tail.size() && shift < 35; shift += 7) {
    const auto byte = static_cast<unsigned char>(tail[pos++]);
    length |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  if (length > tail.size() - pos) return {};
  std::vector<std::string> codes;
  std::istringstream list(tail.substr(pos, static_cast<size_t>(length)));
  for (std::string code; std::getline(list, code, ',');) codes.push_back(code);
  return codes;
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
  const std::string whisper_language = WhisperToolkitLanguage(o.language);
  if (whisper && !whisper_language.empty()) {
    // The toolkit accepts any language when the recognizer is created but
    // ends the process at the first decode when the model lacks it.
    const std::vector<std::string> known = WhisperModelLanguages(o.encoder);
    if (!known.empty() && std::find(known.begin(), known.end(), whisper_language) == known.end()) {
      return Fail(error, "Whisper model does not support language: " + o.language);
    }
  }
  if (!CheckTokensFile(o.tokens, error)) return false;
  const std::string sense_voice_language = o.language.empty() ? "zh" : o.language;
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

  return CallToolkit(
      &impl_->recognizer, "SherpaOnnxCreateOfflineRecognizer",
      [&config] { return SherpaOnnxCreateOfflineRecognizer(&config); }, error);
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
