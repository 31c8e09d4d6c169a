// Running diarization over a session and laying its speaker turns over the
// recognised segments.
#ifndef DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_
#define DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_

#include <cstdint>
#include <string>
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

// One character of a UTF-8 text.
struct Utf8Cp {
  uint64_t pos = 0;  // byte offset
  uint64_t len = 0;  // 1 to 4 bytes
  bool punct = false;
};

// The characters of `text`. Lengths come from the lead byte (a character that
// would run past the end counts as one byte); a character is punctuation when
// it is one of ! , . : ; ? or a mark of the wide punctuation table.
std::vector<Utf8Cp> Utf8Scan(const std::string& text);

// Divides `text` into one piece per weight, in proportion to the weights
// (negative weights count as 0), moving each cut up to a fifth of the text
// (at least two characters) to fall right after a punctuation mark. No
// weights: the whole text as the only piece.
std::vector<std::string> SplitTextByWeights(const std::string& text,
                                            const std::vector<double>& weights);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_SPEAKER_ASSIGN_H_
