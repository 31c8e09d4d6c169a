// The offline two-pass decode of a whole session or file: VAD, decode groups,
// second-pass decode and punctuation per group, optional diarization and
// speaker naming, one final `result` event.
#ifndef DICTACORE_ENGINE_PIPELINES_OFFLINE_TWO_PASS_H_
#define DICTACORE_ENGINE_PIPELINES_OFFLINE_TWO_PASS_H_

#include "engine/audio/audio_file_reader.h"
#include "engine/backends/offline_decoder.h"
#include "engine/backends/punc_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"
#include "engine/diarization/diarization_backend.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {

// Loads the detector the offline decode uses ahead of the first decode, so
// that a live session's "stop" does not wait for its model. Silent: a
// detector that fails to load is reported by the decode itself.
void PrepareOffline2Pass(const Options& options);

// Decodes the buffer's session samples (copied; the buffer keeps them).
// `punc`, `diarization` and `identifier` may be null. True when the run
// reached its end (also with no audio or no text); false when a decode failed
// (an error event was emitted and no result follows).
bool DecodeAndEmitOffline2PassFull(const Options& options, OfflineDecoderBackend* decoder,
                                   PuncBackend* punc, DiarizationBackend* diarization,
                                   SpeakerIdentifier* identifier, EventEmitter* emitter,
                                   AudioBuffer* audio);

// The same over a recording read from `source` as it goes (a file is never
// held whole). With --diarization the diarizer needs the whole recording:
// `source` must then be in memory (AudioSource::LoadAll). False also when
// the file could not be read to its end (the reader's error emitted).
bool DecodeAndEmitOffline2PassSource(const Options& options, OfflineDecoderBackend* decoder,
                                     PuncBackend* punc, DiarizationBackend* diarization,
                                     SpeakerIdentifier* identifier, EventEmitter* emitter,
                                     const AudioSource& source);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_PIPELINES_OFFLINE_TWO_PASS_H_
