// Speaker identification: voiceprints of enrolled speakers matched against
// the audio of diarized clusters.
#ifndef DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_
#define DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_

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

// Replaces the cluster labels of `segments` by enrolled names where a
// cluster's voice matches. `emitter` may be null.
void IdentifyAndRelabelSpeakers(SpeakerIdentifier* identifier, const std::vector<float>& samples,
                                int sample_rate, double max_seconds,
                                std::vector<DiarizationSegment>* segments, EventEmitter* emitter);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_SPEAKER_IDENTIFIER_H_
