// The audio thread of live mode: reads the audio pipe chunk by chunk, keeps
// the audio while capturing, and drives live recognition.
#ifndef DICTACORE_ENGINE_CLI_PCM_LOOP_H_
#define DICTACORE_ENGINE_CLI_PCM_LOOP_H_

#include "engine/backends/offline_decoder.h"
#include "engine/backends/online_backend.h"
#include "engine/backends/punc_backend.h"
#include "engine/backends/vad_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"
#include "engine/diarization/diarization_backend.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {

// Thread body. Ends (setting quit) when the pipe closes or fails, or returns
// when it finds quit set. The online recognizer, punctuation, VAD,
// diarization and identifier pointers may be null; the last two are not used.
void PcmLoop(const Options& options, OnlineBackend* online, OfflineDecoderBackend* decoder,
             PuncBackend* punc, VadBackend* vad, DiarizationBackend* diarization,
             SpeakerIdentifier* identifier, EventEmitter* emitter, SharedState* shared,
             AudioBuffer* audio);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_PCM_LOOP_H_
