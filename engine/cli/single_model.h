// Single-model streaming: the second-pass model, run over a sliding window of
// the session's audio, gives the live partial text, and text that two
// consecutive decodes agree on is committed early as result events ("rolling
// commit") so the window and the cost of each decode stay bounded.
// Audio thread only.
#ifndef DICTACORE_ENGINE_CLI_SINGLE_MODEL_H_
#define DICTACORE_ENGINE_CLI_SINGLE_MODEL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/backends/offline_decoder.h"
#include "engine/backends/vad_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"

namespace dictacore {

// Sample counts derived from the options, fixed for the run.
struct SingleModelLimits {
  double rate = 16000.0;
  int64_t trim_cap = 0;    // 0: rolling commit off
  int64_t trim_keep = 0;   // newest audio never committed by rolling commit
  int64_t max_window = 0;  // decode window cap
  int64_t silence = 1;     // silence after speech that commits the rest
};

SingleModelLimits MakeSingleModelLimits(const Options& options);

class SingleModelStreamer {
 public:
  // `last_partial_text` is shared with the live loop.
  SingleModelStreamer(const Options& options, OfflineDecoderBackend* decoder, VadBackend* vad,
                      EventEmitter* emitter, SharedState* shared, AudioBuffer* audio,
                      std::string* last_partial_text);

  // After the VAD accepted a captured chunk.
  void OnChunk();
  // When "stop" ends the segment (after the VAD was flushed).
  void OnSegmentEnd();
  // A new session starts.
  void Reset();

 private:
  int64_t SessionSize() const;
  std::vector<float> CopyWindow(int64_t from, int64_t to) const;
  // Session sample at which token k of a decode of the window starting at
  // `window_start` begins; `window_end` for k past the last token.
  int64_t TokenStart(const DecodedTokens& decoded, size_t k, int64_t window_start,
                     int64_t window_end) const;
  void PartialDecode(int64_t size);
  void CommitUpTo(int64_t end);
  void EmitCommitted(const std::string& text, int64_t start, int64_t end);
  void DiscardVadSegments();

  const Options& options_;
  OfflineDecoderBackend* decoder_;
  VadBackend* vad_;
  EventEmitter* emitter_;
  SharedState* shared_;
  AudioBuffer* audio_;
  std::string* last_partial_text_;
  const SingleModelLimits limits_;

  int64_t committed_ = 0;
  size_t committed_tokens_ = 0;
  int64_t last_partial_at_ = 0;
  bool speech_active_ = false;
  int64_t speech_end_ = 0;
  std::vector<std::string> prev_tokens_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_SINGLE_MODEL_H_
