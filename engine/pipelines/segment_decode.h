// Second-pass decodes of one piece of live speech: the push-to-talk segment
// and the realtime batch of queued VAD segments.
#ifndef DICTACORE_ENGINE_PIPELINES_SEGMENT_DECODE_H_
#define DICTACORE_ENGINE_PIPELINES_SEGMENT_DECODE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/backends/offline_decoder.h"
#include "engine/backends/punc_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"

namespace dictacore {

// A VAD segment waiting for the realtime second pass.
struct PendingRealtimeSegment {
  int32_t segment_id = 0;
  int32_t start = 0;  // sample index in the session's audio
  std::vector<float> samples;
};

// Takes the buffer's manual samples (leaving them empty), decodes and emits
// them as one result. False only when the decoder failed.
bool DecodeAndEmitManualSegment(const Options& options, OfflineDecoderBackend* decoder,
                                PuncBackend* punc, EventEmitter* emitter, AudioBuffer* audio,
                                SharedState* shared);

// Decodes the batch as one buffer, punctuates it with the running context and
// emits one result covering the batch. False only when the decoder failed.
bool DecodeAndEmitRealtimeBatch(const Options& options, OfflineDecoderBackend* decoder,
                                PuncBackend* punc, EventEmitter* emitter,
                                const std::vector<PendingRealtimeSegment>& batch,
                                bool offline_2pass_flag, std::string* punc_context,
                                int context_chars, bool final);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_PIPELINES_SEGMENT_DECODE_H_
