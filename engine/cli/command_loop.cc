#include "engine/cli/command_loop.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "engine/common/clock.h"
#include "engine/common/line_reader.h"
#include "engine/common/strings.h"
#include "engine/pipelines/offline_two_pass.h"
#include "engine/pipelines/segment_decode.h"

namespace dictacore {
namespace {

// Longest command line kept. A longer one (no command is anywhere near it)
// is read to its end but kept only this far, so a host that writes without
// line feeds cannot make the engine grow without bound.
constexpr size_t kMaxCommandLineBytes = 64 * 1024;

// The audio thread stops taking in audio (the wake-up ends a wait for it)
// until EndPosting.
void BeginPosting(SharedState* shared, SharedState::Posting command) {
  shared->posting = command;
  shared->wakeup.Notify();
}

void EndPosting(SharedState* shared) {
  shared->posting = SharedState::Posting::kNone;
  shared->wakeup.Notify();
}

// A realtime "stop" is ended by the audio thread, which clears the request
// when its events are out. The next session starts only then, so that the
// stop still finds its session's audio, ids and pending segments.
void WaitForStopToFinish(SharedState* shared) {
  while (shared->stop_requested.load() && !shared->quit.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void StartSession(EventEmitter* emitter, SharedState* shared, AudioBuffer* audio) {
  // Posting begins before the stop is looked at: if the audio thread ends
  // the stop after that look, it sees the start and reads nothing until the
  // start is posted.
  BeginPosting(shared, SharedState::Posting::kStart);
  WaitForStopToFinish(shared);
  const uint64_t seq = shared->start_seq.fetch_add(1) + 1;
  const uint64_t previous_total = shared->total_samples.load();
  const uint64_t previous_captured = shared->captured_samples.load();
  shared->capturing = true;
  shared->pending_vad_reset = true;
  shared->pending_online_reset = true;
  shared->pending_session_reset = true;
  shared->pending_pcm_clear = true;
  shared->stop_requested = false;
  shared->pcm_eof = false;
  shared->next_segment_id = 1;
  {
    std::lock_guard<std::mutex> lock(audio->mutex);
    audio->manual_samples.clear();
    audio->session_samples.clear();
  }
  shared->captured_samples = 0;
  emitter->EmitLog("Capture started");
  emitter->EmitLog("[SESSION-DIAG] cmd=start seq=" + std::to_string(seq) +
                   " prev_total_samples=" + std::to_string(previous_total) +
                   " prev_captured_samples=" + std::to_string(previous_captured) +
                   " reset_applied_seq=" + std::to_string(shared->reset_applied_seq.load()));
  EndPosting(shared);
}

void StopCapture(EventEmitter* emitter, SharedState* shared) {
  shared->capturing = false;
  emitter->EmitLog("Capture stopped");
}

void StopSession(const Options& options, OfflineDecoderBackend* decoder, PuncBackend* punc,
                 DiarizationBackend* diarization, SpeakerIdentifier* identifier,
                 EventEmitter* emitter, SharedState* shared, AudioBuffer* audio) {
  emitter->EmitLog("[SESSION-DIAG] cmd=stop seq=" + std::to_string(shared->start_seq.load()) +
                   " captured_samples=" + std::to_string(shared->captured_samples.load()) +
                   " total_samples=" + std::to_string(shared->total_samples.load()));
  if (!options.manual_mode) {
    StopCapture(emitter, shared);
    return;
  }
  if (!options.manual_realtime) {
    StopCapture(emitter, shared);
    DecodeAndEmitManualSegment(options, decoder, punc, emitter, audio, shared);
    return;
  }
  if (!options.offline_2pass) {
    // The audio thread ends the segment. The request is posted before
    // "Capture stopped" is logged: a host that closes the audio pipe as soon
    // as it reads that line must still get the segment decoded. Audio the
    // host writes on that line is not read before the stop is ended.
    BeginPosting(shared, SharedState::Posting::kStop);
    shared->capturing = false;
    shared->stop_requested = true;
    emitter->EmitLog("Capture stopped");
    EndPosting(shared);
    return;
  }
  WaitForPcmDrainBeforeStopDecode(options, emitter, shared);
  StopCapture(emitter, shared);
  shared->stop_requested = false;
  if (!DecodeAndEmitOffline2PassFull(options, decoder, punc, diarization, identifier, emitter,
                                     audio)) {
    emitter->EmitLog("offline_2pass requested but failed");
  }
}

void SwitchMode(const std::string& mode, EventEmitter* emitter, SharedState* shared) {
  {
    std::lock_guard<std::mutex> lock(shared->mode_mutex);
    shared->mode = mode;
  }
  emitter->EmitLog("Mode switched to " + mode);
}

void SetPartialInterval(const Options& options, double seconds, EventEmitter* emitter,
                        SharedState* shared) {
  const uint32_t step = SinglePartialStepSamples(seconds, options.sample_rate);
  shared->single_partial_step = step;
  const double rate = SampleRateOrDefault(options.sample_rate);
  std::string message = "single-partial-interval updated to " + FormatFixed(step / rate, 3) + "s";
  if (!(options.single_model_streaming && options.manual_realtime)) {
    message += " (inactive until native single-model manual-realtime is used)";
  }
  emitter->EmitLog(message);
}

}  // namespace

std::optional<double> ParseSetPartialInterval(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  std::string name;
  std::string value;
  if (!(in >> verb >> name >> value)) return std::nullopt;
  if (verb != "set" || name != "single-partial-interval") return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(value.c_str(), &end);
  if (end == value.c_str()) return std::nullopt;
  return seconds;
}

SessionCommand ClassifyCommandLine(const std::string& line) {
  using Kind = SessionCommand::Kind;
  if (line.empty()) return {Kind::kEmpty};
  if (line == "start") return {Kind::kStart};
  if (line == "stop") return {Kind::kStop};
  if (line == "quit") return {Kind::kQuit};
  if (line == "manual" || line == "auto") return {Kind::kMode};
  if (const auto seconds = ParseSetPartialInterval(line)) {
    return {Kind::kSetPartialInterval, *seconds};
  }
  return {Kind::kUnknown};
}

void WaitForPcmDrainBeforeStopDecode(const Options& options, EventEmitter* emitter,
                                     SharedState* shared) {
  if (!options.offline_2pass) return;
  const auto start = MonotonicClock::now();
  const auto deadline = start + std::chrono::milliseconds(300);
  uint64_t last_count = shared->captured_samples.load();
  auto last_change = start;
  if (!shared->quit.load()) {
    while (!shared->pcm_eof.load()) {
      const auto now = MonotonicClock::now();
      if (now >= deadline) break;
      const uint64_t count = shared->captured_samples.load();
      if (count == last_count) {
        if (now - last_change > std::chrono::microseconds(119999)) break;
      } else {
        last_count = count;
        last_change = now;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (shared->quit.load()) break;
    }
  }
  if (!shared->pcm_eof.load()) {
    emitter->EmitLog("offline_2pass stop drain finished by quiet window/timeout");
  }
}

void CommandLoop(const Options& options, OfflineDecoderBackend* decoder, PuncBackend* punc,
                 DiarizationBackend* diarization, SpeakerIdentifier* identifier,
                 EventEmitter* emitter, SharedState* shared, AudioBuffer* audio) {
  if (shared->quit.load()) return;
  std::string line;
  while (!shared->quit.load()) {
    size_t length = 0;
    const LineStatus status = ReadBoundedLine(std::cin, kMaxCommandLineBytes, &line, &length);
    if (status == LineStatus::kEnd) return;
    if (status == LineStatus::kTooLong) {
      emitter->EmitLog("Unknown command: " + ShortenForLog(line, 64) + " (" +
                       std::to_string(length) + " bytes)");
      continue;
    }
    const SessionCommand command = ClassifyCommandLine(line);
    switch (command.kind) {
      case SessionCommand::Kind::kEmpty:
        break;
      case SessionCommand::Kind::kStart:
        StartSession(emitter, shared, audio);
        break;
      case SessionCommand::Kind::kStop:
        StopSession(options, decoder, punc, diarization, identifier, emitter, shared, audio);
        break;
      case SessionCommand::Kind::kQuit:
        shared->quit = true;
        emitter->EmitLog("Quit requested");
        shared->wakeup.Notify();
        return;
      case SessionCommand::Kind::kMode:
        SwitchMode(line, emitter, shared);
        break;
      case SessionCommand::Kind::kSetPartialInterval:
        SetPartialInterval(options, command.seconds, emitter, shared);
        break;
      case SessionCommand::Kind::kUnknown:
        emitter->EmitLog("Unknown command: " + line);
        break;
    }
  }
}

}  // namespace dictacore
