// Speaker identification: voiceprints of enrolled speakers matched against
// the audio of diarized clusters.
#ifndef DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_
#define DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/cli/event_emitter.h"
#include "engine/diarization/diarization_backend.h"

namespace dictacore {

struct SpeakerIdentifierOptions {
  std::string model;      // speaker-embedding model file
  std::string enroll_db;  // empty: no enrolled speakers
  int num_threads = 1;
  std::string provider = "cpu";
  float threshold = 0.7f;
};

class SpeakerIdentifier {
 public:
  SpeakerIdentifier();
  ~SpeakerIdentifier();
  SpeakerIdentifier(const SpeakerIdentifier&) = delete;
  SpeakerIdentifier& operator=(const SpeakerIdentifier&) = delete;

  bool Init(const SpeakerIdentifierOptions& options, std::string* error);
  bool IsReady() const;
  int Dim() const;
  bool ComputeEmbedding(const std::vector<float>& samples, int sample_rate,
                        std::vector<float>* out, std::string* error);
  // The enrolled name that matches, or empty; `score` (may be null) receives
  // the similarity.
  std::string Identify(const std::vector<float>& samples, int sample_rate, float* score);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Maps each cluster label of `segments` to the enrolled name its gathered
// audio matches (clusters without a match are left out). Logs one
// "[SPEAKER_ID]" line per identified cluster when `emitter` is given; `scores`
// (may be null) receives every identified cluster's similarity.
std::map<std::string, std::string> BuildClusterIdentityMap(
    SpeakerIdentifier* identifier, const std::vector<float>& samples, int sample_rate,
    double max_seconds, const std::vector<DiarizationSegment>& segments, EventEmitter* emitter,
    std::map<std::string, float>* scores);

// The audio of one cluster's turns, longest turn first, each turn's range
// clipped to the recording; at most sample_rate * max_seconds samples when
// max_seconds is above 0.
std::vector<float> GatherClusterAudio(const std::vector<float>& samples, int sample_rate,
                                      double max_seconds,
                                      const std::vector<DiarizationSegment>& turns);

// Cosine similarity of `query` to the element-wise mean of the `enrolled`
// embeddings of the same length; 0 when there are none or a norm is zero.
float SimilarityToEnrolled(const std::vector<float>& query,
                           const std::vector<std::vector<float>>& enrolled);

// Replaces the cluster labels of `segments` by enrolled names where a
// cluster's voice matches. `emitter` may be null.
void IdentifyAndRelabelSpeakers(SpeakerIdentifier* identifier, const std::vector<float>& samples,
                                int sample_rate, double max_seconds,
                                std::vector<DiarizationSegment>* segments, EventEmitter* emitter);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_
