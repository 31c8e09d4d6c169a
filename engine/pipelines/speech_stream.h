// The VAD and the second-pass decode of one recording, overlapped: a reading
// thread feeds the recording to the VAD a piece at a time and packs its
// speech into decode groups, while the calling thread decodes each group as
// soon as it is closed. Only the groups waiting to be decoded are held, so
// memory does not grow with the recording's length.
#ifndef DICTACORE_ENGINE_PIPELINES_SPEECH_STREAM_H_
#define DICTACORE_ENGINE_PIPELINES_SPEECH_STREAM_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "engine/backends/vad_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/pipelines/decode_groups.h"

namespace dictacore {

enum class SpeechStreamOutcome {
  kDecoded,    // every group decoded
  kFailed,     // a decode or a read failed; its error event is out
  kVadFailed,  // the VAD failed: nothing was emitted, fall back to chunks
};

struct SpeechStreamSettings {
  GroupingParams params;
  // Samples read from the source at a time; the VAD gets them in its own
  // 100 ms pieces.
  int64_t read_samples = 16000 * 5;
  // Closed groups read ahead of the decoding thread, at most.
  size_t queued_decodes = 2;
};

// Decodes one padded group range (or Whisper window piece) on the calling
// thread. Its events go through `emitter`, which may hold them back. False
// when the decode failed (its error event emitted).
using DecodeRangeFn = std::function<bool(const SampleRange& range,
                                         const std::vector<float>& samples, EventEmitter* emitter)>;

// Runs `vad` (ready and empty; used by the reading thread alone) over
// `source` and `decode` over every group, emitting through `emitter` exactly
// the events, in exactly the order, of a VAD pass over the whole recording
// followed by the group walk: the tail-compensation line first, then each
// segment's and cut's lines with the events of its decode. Events of decodes
// that finish before the VAD has reached the end of the recording are held
// until then. After a failed decode no further group is decoded. A VAD
// failure drops every held event and returns kVadFailed with its log line
// in `vad_failure`.
SpeechStreamOutcome DecodeSpeechStream(const AudioSource& source, VadBackend* vad,
                                       const SpeechStreamSettings& settings,
                                       EventEmitter* emitter, const DecodeRangeFn& decode,
                                       std::string* vad_failure);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_PIPELINES_SPEECH_STREAM_H_
