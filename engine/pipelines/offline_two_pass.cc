#include "engine/pipelines/offline_two_pass.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "engine/backends/model_files.h"
#include "engine/backends/vad_backend.h"
#include "engine/common/clock.h"
#include "engine/common/segment_result.h"
#include "engine/common/strings.h"
#include "engine/diarization/speaker_assign.h"
#include "engine/pipelines/decode_groups.h"
#include "engine/pipelines/speech_stream.h"
#include "engine/text/punc_refine.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

bool SameVadOptions(const VadInitOptions& a, const VadInitOptions& b) {
  return a.sample_rate == b.sample_rate && a.num_threads == b.num_threads &&
         a.provider == b.provider && a.model == b.model && a.threshold == b.threshold &&
         a.min_silence_duration == b.min_silence_duration &&
         a.min_speech_duration == b.min_speech_duration &&
         a.max_speech_duration == b.max_speech_duration && a.window_size == b.window_size &&
         a.buffer_size_in_seconds == b.buffer_size_in_seconds;
}

// Creating a detector loads its model (about 0.1 s), which a live session's
// decode at "stop" should not pay every time. Each run borrows one detector
// kept for the process and reset first, which leaves it exactly as a fresh
// one; runs take turns (file mode and the command thread never overlap).
class OfflineVad {
 public:
  static OfflineVad& Instance() {
    static OfflineVad* instance = new OfflineVad();  // outlives every caller
    return *instance;
  }

  // The detector for `options`, ready and empty, or null (`error` set).
  VadBackend* Borrow(const VadInitOptions& options, std::string* error) {
    if (vad_.IsReady() && SameVadOptions(options, options_) && vad_.Reset(error)) return &vad_;
    options_ = options;
    return vad_.Init(options, error) ? &vad_ : nullptr;
  }

  std::mutex& mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  VadBackend vad_;
  VadInitOptions options_;
};

// The detector settings of the offline decode: the VAD itself cuts speech
// only after two minutes; the grouping enforces the real limits.
VadInitOptions OfflineVadOptions(const Options& options) {
  return MakeVadInitOptions(SampleRateOrDefault(options.sample_rate), options.provider_first,
                            options.silero_vad_model, options.vad_threshold,
                            options.vad_min_silence, options.vad_min_speech,
                            std::max(120.0, std::max(options.vad_max_speech, 0.0)));
}

// The work of one call: the recognition of one recording, its results and
// the timing sums.
class OfflineRun {
 public:
  OfflineRun(const Options& options, OfflineDecoderBackend* decoder, PuncBackend* punc,
             EventEmitter* emitter, const AudioSource& source)
      : options_(options),
        decoder_(decoder),
        punc_(punc),
        emitter_(emitter),
        params_(MakeGroupingParams(options)),
        source_(source) {}

  // The VAD and the group decodes, overlapped; without a VAD, or when it
  // fails, the recording in group-limit chunks. False when a decode or a
  // read failed (its error event emitted).
  bool Recognize() {
    if (options_.silero_vad_model.empty()) return DecodeChunks();
    const VadInitOptions vad_options = OfflineVadOptions(options_);
    std::string vad_failure;
    {
      std::lock_guard<std::mutex> lock(OfflineVad::Instance().mutex());
      std::string error;
      VadBackend* vad = OfflineVad::Instance().Borrow(vad_options, &error);
      if (vad == nullptr) {
        emitter_->EmitLog("offline_2pass VAD init failed, fallback to chunk decode: " + error);
        for (const std::string& line :
             DescribeModelFileFaults({{"--silero-vad-model", options_.silero_vad_model}})) {
          emitter_->EmitLog("[OFFLINE2PASS] " + line);
        }
        return DecodeChunks();
      }
      SpeechStreamSettings settings;
      settings.params = params_;
      const SpeechStreamOutcome outcome = DecodeSpeechStream(
          source_, vad, settings, emitter_,
          [this](const SampleRange& range, const std::vector<float>& samples,
                 EventEmitter* emitter) { return DecodeGroupRange(range, samples, emitter); },
          &vad_failure);
      if (outcome != SpeechStreamOutcome::kVadFailed) {
        return outcome == SpeechStreamOutcome::kDecoded;
      }
    }
    // Nothing of the groups decoded so far was emitted: start again.
    emitter_->EmitLog(vad_failure);
    results_.clear();
    group_count_ = 0;
    decode_ms_sum_ = 0;
    punc_ms_sum_ = 0;
    return DecodeChunks();
  }

  std::string TimingSummary(int64_t elapsed_ms) const {
    return "[TIMING][VAD_AND_ASR] ms=" + std::to_string(elapsed_ms) +
           " asr_decode_ms_sum=" + std::to_string(decode_ms_sum_) +
           " punc_group_ms_sum=" + std::to_string(punc_ms_sum_) +
           " groups=" + std::to_string(group_count_);
  }

  std::vector<SegmentResult>& results() { return results_; }

 private:
  // Decodes the recording in group-limit chunks, without VAD.
  bool DecodeChunks() {
    const int64_t length = source_.length();
    std::vector<float> samples;
    for (int64_t start = 0; start < length; start += params_.group_limit) {
      const SampleRange range{start, std::min(start + params_.group_limit, length)};
      std::string text;
      std::string error;
      if (!source_.Read(range.start, range.size(), &samples, &error)) {
        emitter_->EmitError(error);
        return false;
      }
      if (!decoder_->Decode(samples, &text, &error)) {
        emitter_->EmitError("offline_2pass decode failed: " + error);
        return false;
      }
      if (!HasContentText(text)) continue;
      AddResult(range, RefineTextWithPunc(punc_, emitter_, text));
    }
    return true;
  }

  void AddResult(const SampleRange& range, const std::string& text) {
    if (!HasContentText(text)) return;
    const double sr = params_.sample_rate;
    results_.push_back({static_cast<double>(range.start) / sr, static_cast<double>(range.end) / sr,
                        text, std::string()});
  }

  bool DecodeGroupRange(const SampleRange& range, const std::vector<float>& samples,
                        EventEmitter* emitter) {
    if (range.size() <= 0) return true;
    const int group_idx = group_count_++;
    std::string text;
    std::string error;
    Stopwatch decode_clock;
    const bool ok = decoder_->Decode(samples, &text, &error);
    const int64_t decode_ms = decode_clock.ElapsedMs();
    decode_ms_sum_ += decode_ms;
    emitter->EmitLog("[TIMING][ASR_DECODE] group_idx=" + std::to_string(group_idx) + " chunk_s=" +
                     FormatFixed(static_cast<double>(range.size()) / params_.sample_rate, 6) +
                     " ms=" + std::to_string(decode_ms));
    if (!ok) {
      emitter->EmitError("offline_2pass VAD decode failed: " + error);
      return false;
    }
    if (!HasContentText(text)) return true;
    Stopwatch punc_clock;
    const std::string punctuated = RefineTextWithPunc(punc_, emitter, text);
    const int64_t punc_ms = punc_clock.ElapsedMs();
    punc_ms_sum_ += punc_ms;
    emitter->EmitLog("[TIMING][PUNC_GROUP] group_idx=" + std::to_string(group_idx) +
                     " ms=" + std::to_string(punc_ms));
    AddResult(range, punctuated);
    return true;
  }

  const Options& options_;
  OfflineDecoderBackend* decoder_;
  PuncBackend* punc_;
  EventEmitter* emitter_;
  const GroupingParams params_;
  const AudioSource& source_;
  std::vector<SegmentResult> results_;
  int group_count_ = 0;
  int64_t decode_ms_sum_ = 0;
  int64_t punc_ms_sum_ = 0;
};

void EmitResult(const Options& options, EventEmitter* emitter,
                const std::vector<SegmentResult>& results, const std::string* merged) {
  emitter->EmitRawJson(
      BuildSecondPassResultJson(results, true, true, -1, -1, -1, merged, options.session_id));
}

void LogDiarizationTurns(EventEmitter* emitter, const std::vector<DiarizationSegment>& turns) {
  for (const DiarizationSegment& turn : turns) {
    emitter->EmitLog("[DIARIZATION][RAW] start=" + FormatFixed(turn.start, 3) +
                     "s end=" + FormatFixed(turn.end, 3) + "s speaker=" + turn.speaker);
  }
  emitter->EmitLog("[DIARIZATION][RAW] total_segments=" + std::to_string(turns.size()));
}

}  // namespace

void PrepareOffline2Pass(const Options& options) {
  if (options.silero_vad_model.empty()) return;
  std::lock_guard<std::mutex> lock(OfflineVad::Instance().mutex());
  OfflineVad::Instance().Borrow(OfflineVadOptions(options), nullptr);
}

bool DecodeAndEmitOffline2PassFull(const Options& options, OfflineDecoderBackend* decoder,
                                   PuncBackend* punc, DiarizationBackend* diarization,
                                   SpeakerIdentifier* identifier, EventEmitter* emitter,
                                   AudioBuffer* audio) {
  std::vector<float> samples;
  {
    std::lock_guard<std::mutex> lock(audio->mutex);
    samples = audio->session_samples;
  }
  return DecodeAndEmitOffline2PassSource(options, decoder, punc, diarization, identifier, emitter,
                                         AudioSource(std::move(samples)));
}

bool DecodeAndEmitOffline2PassSource(const Options& options, OfflineDecoderBackend* decoder,
                                     PuncBackend* punc, DiarizationBackend* diarization,
                                     SpeakerIdentifier* identifier, EventEmitter* emitter,
                                     const AudioSource& source) {
  Stopwatch total_clock;
  if (source.length() == 0) {
    emitter->EmitLog("offline_2pass: no audio captured");
    EmitResult(options, emitter, {}, nullptr);
    return true;
  }

  Stopwatch recognition_clock;
  OfflineRun run(options, decoder, punc, emitter, source);
  if (!run.Recognize()) return false;
  emitter->EmitLog(run.TimingSummary(recognition_clock.ElapsedMs()));

  std::vector<SegmentResult>& results = run.results();
  if (results.empty()) {
    emitter->EmitLog("offline_2pass finished with empty text");
    EmitResult(options, emitter, {}, nullptr);
    emitter->EmitLog("[TIMING][TOTAL] ms=" + std::to_string(total_clock.ElapsedMs()));
    return true;
  }

  std::vector<DiarizationSegment> turns;
  Stopwatch stage_clock;
  if (options.diarization &&
      !RunOfflineDiarization(options, diarization, source.samples(), emitter, &turns)) {
    emitter->EmitLog("diarization failed; continue without speaker labels");
  }
  emitter->EmitLog("[TIMING][DIARIZATION] ms=" + std::to_string(stage_clock.ElapsedMs()) +
                   " raw_segments=" + std::to_string(turns.size()));

  if (identifier != nullptr && identifier->IsReady() && !turns.empty()) {
    stage_clock.Restart();
    IdentifyAndRelabelSpeakers(identifier, source.samples(), options.sample_rate,
                               options.speaker_id_max_seconds, &turns, emitter);
    emitter->EmitLog("[TIMING][SPEAKER_ID] ms=" + std::to_string(stage_clock.ElapsedMs()));
  }
  LogDiarizationTurns(emitter, turns);
  if (!turns.empty()) {
    stage_clock.Restart();
    AssignAndSplitBySpeakers(&results, turns, emitter);
    emitter->EmitLog("[TIMING][SPEAKER_ASSIGN_SPLIT] ms=" +
                     std::to_string(stage_clock.ElapsedMs()));
  }

  std::string merged;
  for (const SegmentResult& result : results) {
    if (!HasContentText(result.text)) continue;
    if (!merged.empty()) merged.push_back(' ');
    merged += result.text;
  }
  if (!merged.empty()) {
    stage_clock.Restart();
    merged = RefineTextWithPunc(punc, emitter, merged);
    emitter->EmitLog("[TIMING][PUNC_MERGED] ms=" + std::to_string(stage_clock.ElapsedMs()) +
                     " chars=" + std::to_string(merged.size()));
  }
  EmitResult(options, emitter, results, &merged);
  emitter->EmitLog("[TIMING][TOTAL] ms=" + std::to_string(total_clock.ElapsedMs()));
  return true;
}

}  // namespace dictacore
