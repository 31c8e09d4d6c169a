#include "engine/speakers/speaker_identifier.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <limits>
#include <unordered_map>

#include "engine/backends/sherpa_handles.h"
#include "engine/speakers/enroll_db.h"
#include "engine/common/error.h"

namespace dictacore {
namespace {

// The toolkit takes audio in 32-bit counts; longer input is fed in pieces.
constexpr size_t kMaxFeedSamples = size_t{1} << 24;

// Checks that the model file has at least one readable byte, so that an
// empty or unreadable file is reported before the toolkit sees it.
bool ProbeModelFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    return Fail(error, "speaker embedding model not found or unreadable: " + path);
  }
  char byte = 0;
  if (file.read(&byte, 1)) return true;
  if (file.eof()) {
    Fail(error, "speaker embedding model is empty: " + path);
  } else {
    Fail(error, "speaker embedding model is unreadable: " + path);
  }
  return false;
}

// Sample index for a time, held to 0 .. total before any integer conversion,
// so that huge, negative or infinite times cannot overflow it.
size_t ClipToRecording(double seconds, int sample_rate, size_t total) {
  const double index = std::floor(seconds * static_cast<double>(sample_rate));
  if (!(index > 0.0)) return 0;  // negative, zero or NaN
  if (index >= static_cast<double>(total)) return total;
  return static_cast<size_t>(index);
}

double TurnLength(const DiarizationSegment& turn) {
  const double length = turn.end - turn.start;
  return std::isnan(length) ? -std::numeric_limits<double>::infinity() : length;
}

}  // namespace

struct SpeakerIdentifier::Impl {
  EmbeddingExtractorHandle extractor;
  EmbeddingManagerHandle manager;
  std::string model_path;
  std::string provider;
  int dim = 0;
  float threshold = 0.5f;
  bool ready = false;
  uint64_t enrolled_count = 0;
  std::unordered_map<std::string, std::vector<std::vector<float>>> enrolled_embeddings;
};

SpeakerIdentifier::SpeakerIdentifier() : impl_(std::make_unique<Impl>()) {}
SpeakerIdentifier::~SpeakerIdentifier() = default;

bool SpeakerIdentifier::IsReady() const { return impl_->ready; }

int SpeakerIdentifier::Dim() const { return impl_->extractor ? impl_->dim : 0; }

bool SpeakerIdentifier::Init(const SpeakerIdentifierOptions& options, std::string* error) {
  impl_ = std::make_unique<Impl>();
  Impl& impl = *impl_;
  if (options.model.empty()) {
    return Fail(error, "speaker embedding model path is empty");
  }
  impl.model_path = options.model;
  impl.provider = options.provider.empty() ? "cpu" : options.provider;
  impl.threshold = options.threshold;
  if (!ProbeModelFile(impl.model_path, error)) return false;

  SherpaOnnxSpeakerEmbeddingExtractorConfig config{};
  config.model = impl.model_path.c_str();
  config.num_threads = std::max(options.num_threads, 1);
  config.debug = 0;
  config.provider = impl.provider.c_str();
  const std::string failed_load = "failed to load speaker embedding model '" + impl.model_path + "': ";
  try {
    impl.extractor.reset(SherpaOnnxCreateSpeakerEmbeddingExtractor(&config));
  } catch (const std::exception& e) {
    return Fail(error, failed_load + e.what() +
                        " (not a valid .onnx? check it's the real model, not a git-lfs pointer or "
                        "a truncated download)");
  } catch (...) {
    return Fail(error, failed_load + "unknown error (not a valid .onnx?)");
  }
  if (!impl.extractor) {
    return Fail(error, "failed to create speaker embedding extractor from " + impl.model_path);
  }
  impl.dim = SherpaOnnxSpeakerEmbeddingExtractorDim(impl.extractor.get());
  if (impl.dim <= 0) {
    return Fail(error, "speaker embedding extractor reported invalid dim");
  }
  impl.manager.reset(SherpaOnnxCreateSpeakerEmbeddingManager(impl.dim));
  if (!impl.manager) {
    return Fail(error, "failed to create speaker embedding manager");
  }
  if (options.enroll_db.empty()) {
    impl.ready = true;
    return true;
  }

  int db_dim = 0;
  std::vector<EnrollEntry> entries;
  std::string load_error;
  if (!LoadEnrollDb(options.enroll_db, &db_dim, &entries, &load_error)) {
    return Fail(error, "failed to load enroll DB: " + load_error);
  }
  if (entries.empty()) {
    impl.ready = true;
    return true;
  }
  if (db_dim != impl.dim) {
    Fail(error, "enroll DB dim (" + std::to_string(db_dim) + ") != model dim (" +
                        std::to_string(impl.dim) + "); rebuild enrollment with the same model");
    return false;
  }
  for (const EnrollEntry& entry : entries) {
    if (entry.samples.empty()) continue;
    std::vector<float> flat;
    flat.reserve(entry.samples.size() * static_cast<size_t>(impl.dim));
    for (const EnrollSample& sample : entry.samples) {
      if (sample.embedding.size() != static_cast<size_t>(impl.dim)) {
        return Fail(error, "enroll DB entry '" + entry.name + "' has a wrong-length embedding");
      }
      flat.insert(flat.end(), sample.embedding.begin(), sample.embedding.end());
    }
    const int32_t added = SherpaOnnxSpeakerEmbeddingManagerAddListFlattened(
        impl.manager.get(), entry.name.c_str(), flat.data(),
        static_cast<int32_t>(entry.samples.size()));
    if (added != 1) {
      return Fail(error, "failed to register enrolled speaker '" + entry.name + "'");
    }
    auto& list = impl.enrolled_embeddings[entry.name];
    for (const EnrollSample& sample : entry.samples) list.push_back(sample.embedding);
    ++impl.enrolled_count;
  }
  impl.ready = true;
  return true;
}

bool SpeakerIdentifier::ComputeEmbedding(const std::vector<float>& samples, int sample_rate,
                                         std::vector<float>* out, std::string* error) {
  if (out == nullptr) {
    return Fail(error, "embedding out is null");
  }
  const SherpaOnnxSpeakerEmbeddingExtractor* extractor = impl_->extractor.get();
  if (extractor == nullptr) {
    return Fail(error, "speaker identifier not initialized");
  }
  if (samples.empty()) {
    return Fail(error, "empty audio for embedding");
  }
  try {
    OnlineStreamHandle stream(SherpaOnnxSpeakerEmbeddingExtractorCreateStream(extractor));
    if (!stream) {
      return Fail(error, "failed to create embedding stream");
    }
    for (size_t from = 0; from < samples.size(); from += kMaxFeedSamples) {
      const size_t count = std::min(kMaxFeedSamples, samples.size() - from);
      SherpaOnnxOnlineStreamAcceptWaveform(stream.get(), sample_rate, samples.data() + from,
                                           static_cast<int32_t>(count));
    }
    SherpaOnnxOnlineStreamInputFinished(stream.get());
    if (SherpaOnnxSpeakerEmbeddingExtractorIsReady(extractor, stream.get()) != 1) {
      return Fail(error, "not enough audio to compute a speaker embedding");
    }
    EmbeddingHandle embedding(
        SherpaOnnxSpeakerEmbeddingExtractorComputeEmbedding(extractor, stream.get()));
    if (!embedding) {
      return Fail(error, "embedding computation failed");
    }
    out->assign(embedding.get(), embedding.get() + impl_->dim);
  } catch (...) {
    return Fail(error, "embedding computation failed");
  }
  return true;
}

float SimilarityToEnrolled(const std::vector<float>& query,
                           const std::vector<std::vector<float>>& enrolled) {
  std::vector<float> mean(query.size(), 0.0f);
  size_t used = 0;
  for (const std::vector<float>& embedding : enrolled) {
    if (embedding.size() != query.size()) continue;
    for (size_t i = 0; i < query.size(); ++i) mean[i] += embedding[i];
    ++used;
  }
  if (used == 0) return 0.0f;
  for (float& v : mean) v /= static_cast<float>(used);
  double dot = 0.0;
  double query_norm = 0.0;
  double mean_norm = 0.0;
  for (size_t i = 0; i < query.size(); ++i) {
    dot += static_cast<double>(query[i]) * mean[i];
    query_norm += static_cast<double>(query[i]) * query[i];
    mean_norm += static_cast<double>(mean[i]) * mean[i];
  }
  if (!(query_norm > 0.0) || !(mean_norm > 0.0)) return 0.0f;
  return static_cast<float>(dot / (std::sqrt(query_norm) * std::sqrt(mean_norm)));
}

std::string SpeakerIdentifier::Identify(const std::vector<float>& samples, int sample_rate,
                                        float* score) {
  if (score != nullptr) *score = 0.0f;
  if (!impl_->manager || impl_->enrolled_count == 0) return std::string();
  std::vector<float> embedding;
  if (!ComputeEmbedding(samples, sample_rate, &embedding, nullptr)) return std::string();

  EmbeddingSearchHandle match(SherpaOnnxSpeakerEmbeddingManagerSearch(
      impl_->manager.get(), embedding.data(), impl_->threshold));
  if (match) {
    std::string name = match.get();
    if (score != nullptr) {
      const auto it = impl_->enrolled_embeddings.find(name);
      *score = it == impl_->enrolled_embeddings.end() ? 0.0f
                                                      : SimilarityToEnrolled(embedding, it->second);
    }
    return name;
  }
  if (score != nullptr) {
    float best = 0.0f;
    for (const auto& [name, list] : impl_->enrolled_embeddings) {
      best = std::max(best, SimilarityToEnrolled(embedding, list));
    }
    *score = best;
  }
  return std::string();
}

std::vector<float> GatherClusterAudio(const std::vector<float>& samples, int sample_rate,
                                      double max_seconds,
                                      const std::vector<DiarizationSegment>& turns) {
  std::vector<const DiarizationSegment*> ordered;
  ordered.reserve(turns.size());
  for (const DiarizationSegment& turn : turns) ordered.push_back(&turn);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const DiarizationSegment* a, const DiarizationSegment* b) {
                     return TurnLength(*a) > TurnLength(*b);
                   });

  // No cap, or one beyond anything a buffer can hold, gathers everything.
  bool capped = false;
  size_t cap = 0;
  if (max_seconds > 0.0) {
    const double limit = std::floor(static_cast<double>(sample_rate) * max_seconds);
    if (limit < 1e15) {
      capped = true;
      cap = static_cast<size_t>(std::max(limit, 0.0));
      if (cap == 0) return {};
    }
  }
  std::vector<float> audio;
  for (const DiarizationSegment* turn : ordered) {
    if (std::isnan(turn->start) || std::isnan(turn->end)) continue;
    const size_t begin = ClipToRecording(turn->start, sample_rate, samples.size());
    const size_t end = ClipToRecording(turn->end, sample_rate, samples.size());
    if (end <= begin) continue;
    audio.insert(audio.end(), samples.begin() + static_cast<std::ptrdiff_t>(begin),
                 samples.begin() + static_cast<std::ptrdiff_t>(end));
    if (capped && audio.size() >= cap) {
      audio.resize(cap);
      break;
    }
  }
  return audio;
}

std::map<std::string, std::string> BuildClusterIdentityMap(
    SpeakerIdentifier* identifier, const std::vector<float>& samples, int sample_rate,
    double max_seconds, const std::vector<DiarizationSegment>& segments, EventEmitter* emitter,
    std::map<std::string, float>* scores) {
  std::map<std::string, std::string> names;
  if (identifier == nullptr || !identifier->IsReady() || segments.empty()) return names;

  std::map<std::string, std::vector<DiarizationSegment>> clusters;
  for (const DiarizationSegment& segment : segments) clusters[segment.speaker].push_back(segment);

  for (const auto& [label, turns] : clusters) {
    const std::vector<float> audio = GatherClusterAudio(samples, sample_rate, max_seconds, turns);
    if (audio.empty()) continue;
    float score = 0.0f;
    const std::string name = identifier->Identify(audio, sample_rate, &score);
    if (scores != nullptr) (*scores)[label] = score;
    if (emitter != nullptr) {
      char formatted[64];
      std::snprintf(formatted, sizeof(formatted), "%.3f", static_cast<double>(score));
      emitter->EmitLog("[SPEAKER_ID] " + label + " -> " + (name.empty() ? "(unmatched)" : name) +
                       " (score=" + formatted + ")");
    }
    if (!name.empty()) names[label] = name;
  }
  return names;
}

void IdentifyAndRelabelSpeakers(SpeakerIdentifier* identifier, const std::vector<float>& samples,
                                int sample_rate, double max_seconds,
                                std::vector<DiarizationSegment>* segments, EventEmitter* emitter) {
  if (segments == nullptr) return;
  const std::map<std::string, std::string> names = BuildClusterIdentityMap(
      identifier, samples, sample_rate, max_seconds, *segments, emitter, nullptr);
  if (names.empty()) return;
  for (DiarizationSegment& segment : *segments) {
    const auto it = names.find(segment.speaker);
    if (it != names.end()) segment.speaker = it->second;
  }
}

}  // namespace dictacore
