#include "engine/diarization/sherpa_onnx_diarization.h"

#include <cstdint>
#include <limits>
#include <map>
#include <utility>

#include "engine/backends/model_files.h"
#include "engine/backends/sherpa_handles.h"
#include "engine/common/error.h"

namespace dictacore {
namespace {

// Embedding model names tried in `model_dir`, with the key that finds a
// differently named file of the same kind.
constexpr std::pair<const char*, const char*> kEmbeddingCandidates[] = {
    {"wenet-campplus.onnx", "campplus"},
    {"embedding.onnx", "embed"},
    {"resnet34.onnx", "resnet"},
    {"wespeaker.onnx", "wespeaker"},
};

}  // namespace

struct SherpaOnnxDiarizationBackend::Impl {
  DiarizationHandle handle;
  DiarizationInitOptions options;
};

SherpaOnnxDiarizationBackend::SherpaOnnxDiarizationBackend() = default;
SherpaOnnxDiarizationBackend::~SherpaOnnxDiarizationBackend() = default;

std::unique_ptr<DiarizationBackend> MakeSherpaOnnxDiarizationBackend() {
  return std::make_unique<SherpaOnnxDiarizationBackend>();
}

bool ResolveDiarizationModelFiles(const DiarizationInitOptions& options,
                                  std::string* segmentation, std::string* embedding,
                                  std::string* error) {
  segmentation->clear();
  embedding->clear();
  if (options.model_dir.empty() && options.segmentation_model.empty() &&
      options.embedding_model.empty()) {
    return Fail(error, "Diarization model path is empty");
  }
  *segmentation = options.segmentation_model;
  if (segmentation->empty() && !options.model_dir.empty()) {
    *segmentation = ResolveModelFile(options.model_dir, "segmentation-3.1.onnx", "segment");
  }
  *embedding = options.embedding_model;
  if (embedding->empty() && !options.model_dir.empty()) {
    for (const auto& [name, key] : kEmbeddingCandidates) {
      *embedding = ResolveModelFile(options.model_dir, name, key);
      if (!embedding->empty()) break;
    }
  }
  if (segmentation->empty()) {
    return Fail(error, "Diarization segmentation model not found in " + options.model_dir);
  }
  if (embedding->empty()) {
    return Fail(error, "Diarization embedding model not found in " + options.model_dir);
  }
  return true;
}

SherpaOnnxOfflineSpeakerDiarizationConfig MakeDiarizationConfig(
    const DiarizationInitOptions& options, const std::string& segmentation,
    const std::string& embedding) {
  SherpaOnnxOfflineSpeakerDiarizationConfig config{};
  const int32_t threads = options.num_threads < 1 ? 1 : options.num_threads;
  config.segmentation.pyannote.model = segmentation.c_str();
  config.segmentation.num_threads = threads;
  config.segmentation.debug = 0;
  config.segmentation.provider = options.provider.c_str();
  config.embedding.model = embedding.c_str();
  config.embedding.num_threads = threads;
  config.embedding.debug = 0;
  config.embedding.provider = options.provider.c_str();
  if (options.max_speakers > 0) {
    config.clustering.num_clusters = options.max_speakers;
  } else if (options.min_speakers > 0) {
    config.clustering.num_clusters = options.min_speakers;
  } else {
    config.clustering.num_clusters = -1;  // unknown: the threshold decides
  }
  config.clustering.threshold = 0.5f;
  config.min_duration_on = options.min_duration_on;
  config.min_duration_off = options.min_duration_off;
  return config;
}

std::vector<DiarizationSegment> CompactToolkitSegments(
    const SherpaOnnxOfflineSpeakerDiarizationSegment* segments, int count) {
  std::vector<DiarizationSegment> out;
  std::map<int32_t, int> numbers;
  for (int i = 0; i < count; ++i) {
    const SherpaOnnxOfflineSpeakerDiarizationSegment& segment = segments[i];
    const auto inserted =
        numbers.emplace(segment.speaker, static_cast<int>(numbers.size()));
    if (!(segment.end > segment.start)) continue;
    out.push_back({static_cast<double>(segment.start), static_cast<double>(segment.end),
                   SpeakerLabel(inserted.first->second)});
  }
  return out;
}

bool SherpaOnnxDiarizationBackend::Init(const DiarizationInitOptions& options,
                                        std::string* error) {
  impl_.reset();
  impl_ = std::make_unique<Impl>();
  impl_->options = options;

  std::string segmentation;
  std::string embedding;
  if (!ResolveDiarizationModelFiles(impl_->options, &segmentation, &embedding, error)) {
    return false;
  }
  const SherpaOnnxOfflineSpeakerDiarizationConfig config =
      MakeDiarizationConfig(impl_->options, segmentation, embedding);
  return CallToolkit(
      &impl_->handle, "SherpaOnnxCreateOfflineSpeakerDiarization",
      [&config] { return SherpaOnnxCreateOfflineSpeakerDiarization(&config); }, error);
}

bool SherpaOnnxDiarizationBackend::IsReady() const { return impl_ && impl_->handle; }

bool SherpaOnnxDiarizationBackend::Process(const std::vector<float>& samples, int sample_rate,
                                           std::vector<DiarizationSegment>* out,
                                           std::string* error) {
  if (out == nullptr) {
    return Fail(error, "out is null");
  }
  out->clear();
  if (!IsReady()) {
    return Fail(error, "Diarization is not initialized");
  }
  if (samples.empty()) return true;
  const SherpaOnnxOfflineSpeakerDiarization* sd = impl_->handle.get();
  const int32_t expected = SherpaOnnxOfflineSpeakerDiarizationGetSampleRate(sd);
  if (expected != sample_rate) {
    return Fail(error, "Diarization sample rate mismatch: expected " + std::to_string(expected) +
                        ", got " + std::to_string(sample_rate));
  }
  // The toolkit counts samples in 32 bits; longer audio cannot be handed over.
  if (samples.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return Fail(error, "SherpaOnnxOfflineSpeakerDiarizationProcess() failed");
  }

  DiarizationResultHandle result;
  try {
    result.reset(SherpaOnnxOfflineSpeakerDiarizationProcess(sd, samples.data(),
                                                            static_cast<int32_t>(samples.size())));
  } catch (...) {
    result.reset();
  }
  if (!result) {
    return Fail(error, "SherpaOnnxOfflineSpeakerDiarizationProcess() failed");
  }
  const int32_t count = SherpaOnnxOfflineSpeakerDiarizationResultGetNumSegments(result.get());
  if (count > 0) {
    DiarizationSegmentsHandle sorted(
        SherpaOnnxOfflineSpeakerDiarizationResultSortByStartTime(result.get()));
    if (sorted) *out = CompactToolkitSegments(sorted.get(), count);
  }
  return true;
}

}  // namespace dictacore
