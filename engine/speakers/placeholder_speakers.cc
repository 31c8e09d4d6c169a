// PLACEHOLDER so the engine links before the speaker subsystem lands: behaves
// as if diarization and speaker naming were off. Delete this file when the
// real implementations of diarization_backend.h, speaker_assign.h,
// speaker_identifier.h and speaker_commands.h are merged.
#include "engine/diarization/diarization_backend.h"
#include "engine/diarization/speaker_assign.h"
#include "engine/speakers/speaker_commands.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {

std::unique_ptr<DiarizationBackend> CreateDiarizationBackend(const DiarizationInitOptions&,
                                                             std::string* error) {
  if (error != nullptr) *error = "not available yet";
  return nullptr;
}

bool RunOfflineDiarization(const Options&, DiarizationBackend*, const std::vector<float>&,
                           EventEmitter*, std::vector<DiarizationSegment>* out) {
  out->clear();
  return true;
}

void AssignAndSplitBySpeakers(std::vector<SegmentResult>*, const std::vector<DiarizationSegment>&,
                              EventEmitter*) {}

struct SpeakerIdentifier::Impl {};
SpeakerIdentifier::SpeakerIdentifier() = default;
SpeakerIdentifier::~SpeakerIdentifier() = default;
bool SpeakerIdentifier::Init(const SpeakerIdentifierOptions&, std::string* error) {
  if (error != nullptr) *error = "not available yet";
  return false;
}
bool SpeakerIdentifier::IsReady() const { return false; }
void IdentifyAndRelabelSpeakers(SpeakerIdentifier*, const std::vector<float>&, int, double,
                                std::vector<DiarizationSegment>*, EventEmitter*) {}

static int NotYet() {
  EventEmitter emitter;
  emitter.EmitError("not available yet");
  return 1;
}
int RunRegister(const Options&) { return NotYet(); }
int RunListSpeakers(const Options&) { return NotYet(); }
int RunMigrateSpeakers(const Options&) { return NotYet(); }
int RunRenameSpeaker(const Options&) { return NotYet(); }
int RunUnregister(const Options&) { return NotYet(); }
int RunIdentifyOnly(const Options&) { return NotYet(); }

}  // namespace dictacore
