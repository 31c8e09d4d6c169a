// Running diarization over a session and laying its speaker turns over the
// recognised segments.
#ifndef DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_
#define DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_

#include <vector>

#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/common/segment_result.h"
#include "engine/diarization/diarization_backend.h"

namespace dictacore {

// Runs `backend` over all samples when --diarization is on; logs what
// happened. `backend` may be null. `out` is cleared first.
bool RunOfflineDiarization(const Options& options, DiarizationBackend* backend,
                           const std::vector<float>& samples, EventEmitter* emitter,
                           std::vector<DiarizationSegment>* out);

// Gives every segment the speaker whose turns overlap it, splitting segments
// that span a change of speaker. `emitter` may be null.
void AssignAndSplitBySpeakers(std::vector<SegmentResult>* results,
                              const std::vector<DiarizationSegment>& diarization,
                              EventEmitter* emitter);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_
