#include "engine/backends/vad_backend.h"

#include "engine/backends/model_files.h"
#include "engine/backends/sherpa_handles.h"
#include "engine/common/error.h"

namespace dictacore {

struct VadBackend::Impl {
  VadHandle vad;
  VadInitOptions options;
};

namespace {

constexpr const char* kNotInitialized = "VAD is not initialized";

}  // namespace

size_t VadPieceSamples(int32_t sample_rate) {
  return sample_rate >= 10 ? static_cast<size_t>(sample_rate / 10) : 1;
}

VadInitOptions MakeVadInitOptions(int32_t sample_rate, const std::string& provider,
                                  const std::string& model, double threshold,
                                  double min_silence_duration, double min_speech_duration,
                                  double max_speech_duration) {
  VadInitOptions options;
  options.sample_rate = sample_rate;
  options.provider = provider;
  options.model = model;
  options.threshold = static_cast<float>(threshold);
  options.min_silence_duration = static_cast<float>(min_silence_duration);
  options.min_speech_duration = static_cast<float>(min_speech_duration);
  options.max_speech_duration = static_cast<float>(max_speech_duration);
  return options;
}

VadBackend::VadBackend() = default;
VadBackend::~VadBackend() = default;

bool VadBackend::Init(const VadInitOptions& options, std::string* error) {
  impl_.reset();
  impl_ = std::make_unique<Impl>();
  if (options.model.empty()) return Fail(error, "VAD model path is empty");
  impl_->options = options;
  const VadInitOptions& o = impl_->options;

  SherpaOnnxVadModelConfig config{};
  config.silero_vad.model = o.model.c_str();
  config.silero_vad.threshold = o.threshold;
  config.silero_vad.min_silence_duration = o.min_silence_duration;
  config.silero_vad.min_speech_duration = o.min_speech_duration;
  config.silero_vad.max_speech_duration = o.max_speech_duration;
  config.silero_vad.window_size = o.window_size;
  config.sample_rate = o.sample_rate;
  config.num_threads = o.num_threads < 1 ? 1 : o.num_threads;
  config.provider = o.provider.c_str();
  config.debug = 0;
  const float buffer_seconds = o.buffer_size_in_seconds;
  return CallToolkit(
      &impl_->vad, "SherpaOnnxCreateVoiceActivityDetector",
      [&config, buffer_seconds] {
        return SherpaOnnxCreateVoiceActivityDetector(&config, buffer_seconds);
      },
      error);
}

bool VadBackend::IsReady() const { return impl_ && impl_->vad; }

bool VadBackend::AcceptWaveform(const std::vector<float>& samples, std::string* error) {
  if (samples.empty()) return true;
  if (!IsReady()) return Fail(error, kNotInitialized);
  SherpaOnnxVoiceActivityDetectorAcceptWaveform(impl_->vad.get(), samples.data(),
                                                static_cast<int32_t>(samples.size()));
  return true;
}

bool VadBackend::Flush(std::string* error) {
  if (!IsReady()) return Fail(error, kNotInitialized);
  SherpaOnnxVoiceActivityDetectorFlush(impl_->vad.get());
  return true;
}

bool VadBackend::Reset(std::string* error) {
  if (!IsReady()) return Fail(error, kNotInitialized);
  SherpaOnnxVoiceActivityDetectorReset(impl_->vad.get());
  return true;
}

bool VadBackend::PopSegment(VadSegment* out, std::string* error) {
  if (out == nullptr) return Fail(error, "out is null");
  out->start = 0;
  out->samples.clear();
  if (!IsReady()) return Fail(error, kNotInitialized);
  const SherpaOnnxVoiceActivityDetector* vad = impl_->vad.get();
  if (SherpaOnnxVoiceActivityDetectorEmpty(vad) != 0) return false;
  SpeechSegmentHandle front(SherpaOnnxVoiceActivityDetectorFront(vad));
  if (!front) return Fail(error, "SherpaOnnxVoiceActivityDetectorFront() failed");
  out->start = front->start;
  if (front->samples != nullptr && front->n > 0) {
    out->samples.assign(front->samples, front->samples + front->n);
  }
  front.reset();
  SherpaOnnxVoiceActivityDetectorPop(vad);
  return true;
}

bool VadBackend::Detected() const {
  return IsReady() && SherpaOnnxVoiceActivityDetectorDetected(impl_->vad.get()) != 0;
}

}  // namespace dictacore
