// The command thread of live mode: reads "start", "stop", "quit", "manual",
// "auto" and "set" lines from standard input and drives the capture session.
#ifndef DICTACORE_ENGINE_CLI_COMMAND_LOOP_H_
#define DICTACORE_ENGINE_CLI_COMMAND_LOOP_H_

#include <cstdio>
#include <optional>
#include <string>

#include "engine/backends/offline_decoder.h"
#include "engine/backends/punc_backend.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"
#include "engine/diarization/diarization_backend.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {

// Thread body; returns after "quit" or at the end of standard input. The
// punctuation, diarization and identifier pointers may be null.
void CommandLoop(const Options& options, OfflineDecoderBackend* decoder, PuncBackend* punc,
                 DiarizationBackend* diarization, SpeakerIdentifier* identifier,
                 EventEmitter* emitter, SharedState* shared, AudioBuffer* audio);

// Gives the host up to 300 ms to deliver audio still in flight before the
// offline decode at "stop": returns early when the pipe has closed or no new
// audio was captured for 120 ms. Does nothing without --offline-2pass.
void WaitForPcmDrainBeforeStopDecode(const Options& options, EventEmitter* emitter,
                                     SharedState* shared);

// The value of a "set single-partial-interval V" line, or nothing when the
// line is not one.
std::optional<double> ParseSetPartialInterval(const std::string& line);

// What one line of standard input asks the command thread to do. Lines are
// taken exactly as read: no trimming, no case folding.
struct SessionCommand {
  enum class Kind { kEmpty, kStart, kStop, kQuit, kMode, kSetPartialInterval, kUnknown };
  Kind kind = Kind::kUnknown;
  double seconds = 0.0;  // the value of a kSetPartialInterval line
};

SessionCommand ClassifyCommandLine(const std::string& line);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_COMMAND_LOOP_H_
