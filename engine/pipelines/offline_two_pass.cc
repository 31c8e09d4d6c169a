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

// The work of one call: the audio copy, the results and the timing sums.
class OfflineRun {
 public:
  OfflineRun(const Options& options, OfflineDecoderBackend* decoder, PuncBackend* punc,
             EventEmitter* emitter, std::vector<float> audio)
      : options_(options),
        decoder_(decoder),
        punc_(punc),
        emitter_(emitter),
        params_(MakeGroupingParams(options)),
        audio_(std::move(audio)) {}

  // Speech segments from a private VAD, or false (logged) when the chunk
  // fall-back has to be used instead.
  bool FindSpeech(std::vector<SampleRange>* ranges) {
    if (options_.silero_vad_model.empty()) return false;
    const VadInitOptions vad_options = OfflineVadOptions(options_);
    std::lock_guard<std::mutex> lock(OfflineVad::Instance().mutex());
    std::string error;
    VadBackend* vad = OfflineVad::Instance().Borrow(vad_options, &error);
    if (vad == nullptr) {
      emitter_->EmitLog("offline_2pass VAD init failed, fallback to chunk decode: " + error);
      for (const std::string& line :
           DescribeModelFileFaults({{"--silero-vad-model", options_.silero_vad_model}})) {
        emitter_->EmitLog("[OFFLINE2PASS] " + line);
      }
      return false;
    }
    const size_t piece = VadPieceSamples(params_.sample_rate);
    std::vector<float> chunk;
    for (size_t pos = 0; pos < audio_.size(); pos += piece) {
      chunk.assign(
          audio_.begin() + static_cast<std::ptrdiff_t>(pos),
          audio_.begin() + static_cast<std::ptrdiff_t>(std::min(pos + piece, audio_.size())));
      if (!vad->AcceptWaveform(chunk, &error)) {
        emitter_->EmitLog("offline_2pass VAD accept failed, fallback to chunk decode: " + error);
        return false;
      }
    }
    if (!vad->Flush(&error)) {
      emitter_->EmitLog("offline_2pass VAD flush failed, fallback to chunk decode: " + error);
      return false;
    }
    VadSegment segment;
    while (vad->PopSegment(&segment, &error)) {
      if (segment.samples.empty()) continue;
      ranges->push_back({segment.start, static_cast<int64_t>(segment.start) +
                                            static_cast<int64_t>(segment.samples.size())});
    }
    return true;
  }

  bool DecodeGroups(std::vector<SampleRange> ranges) {
    if (CompensateTail(&ranges, static_cast<int64_t>(audio_.size()), params_.group_limit)) {
      emitter_->EmitLog("offline_2pass tail compensation enabled");
    }
    return WalkDecodeGroups(
        ranges, static_cast<int64_t>(audio_.size()), params_,
        [this](const std::string& line) { emitter_->EmitLog(line); },
        [this](const GroupCut& cut) {
          for (const SampleRange& piece : SplitForDecodeWindow(cut.padded, params_)) {
            if (!DecodeGroupRange(piece)) return false;
          }
          return true;
        });
  }

  // Decodes the audio in group-limit chunks, without VAD.
  bool DecodeChunks() {
    const auto length = static_cast<int64_t>(audio_.size());
    for (int64_t start = 0; start < length; start += params_.group_limit) {
      const SampleRange range{start, std::min(start + params_.group_limit, length)};
      std::string text;
      std::string error;
      if (!decoder_->Decode(Slice(range), &text, &error)) {
        emitter_->EmitError("offline_2pass decode failed: " + error);
        return false;
      }
      if (!HasContentText(text)) continue;
      AddResult(range, RefineTextWithPunc(punc_, emitter_, text));
    }
    return true;
  }

  std::string TimingSummary(int64_t elapsed_ms) const {
    return "[TIMING][VAD_AND_ASR] ms=" + std::to_string(elapsed_ms) +
           " asr_decode_ms_sum=" + std::to_string(decode_ms_sum_) +
           " punc_group_ms_sum=" + std::to_string(punc_ms_sum_) +
           " groups=" + std::to_string(group_count_);
  }

  const std::vector<float>& audio() const { return audio_; }
  std::vector<SegmentResult>& results() { return results_; }

 private:
  std::vector<float> Slice(const SampleRange& range) const {
    return std::vector<float>(audio_.begin() + range.start, audio_.begin() + range.end);
  }

  void AddResult(const SampleRange& range, const std::string& text) {
    if (!HasContentText(text)) return;
    const double sr = params_.sample_rate;
    results_.push_back({static_cast<double>(range.start) / sr, static_cast<double>(range.end) / sr,
                        text, std::string()});
  }

  bool DecodeGroupRange(const SampleRange& range) {
    if (range.size() <= 0) return true;
    const int group_idx = group_count_++;
    std::string text;
    std::string error;
    Stopwatch decode_clock;
    const bool ok = decoder_->Decode(Slice(range), &text, &error);
    const int64_t decode_ms = decode_clock.ElapsedMs();
    decode_ms_sum_ += decode_ms;
    emitter_->EmitLog("[TIMING][ASR_DECODE] group_idx=" + std::to_string(group_idx) + " chunk_s=" +
                      FormatFixed(static_cast<double>(range.size()) / params_.sample_rate, 6) +
                      " ms=" + std::to_string(decode_ms));
    if (!ok) {
      emitter_->EmitError("offline_2pass VAD decode failed: " + error);
      return false;
    }
    if (!HasContentText(text)) return true;
    Stopwatch punc_clock;
    const std::string punctuated = RefineTextWithPunc(punc_, emitter_, text);
    const int64_t punc_ms = punc_clock.ElapsedMs();
    punc_ms_sum_ += punc_ms;
    emitter_->EmitLog("[TIMING][PUNC_GROUP] group_idx=" + std::to_string(group_idx) +
                      " ms=" + std::to_string(punc_ms));
    AddResult(range, punctuated);
    return true;
  }

  const Options& options_;
  OfflineDecoderBackend* decoder_;
  PuncBackend* punc_;
  EventEmitter* emitter_;
  const GroupingParams params_;
  const std::vector<float> audio_;
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
  Stopwatch total_clock;
  std::vector<float> samples;
  {
    std::lock_guard<std::mutex> lock(audio->mutex);
    if (audio->session_samples.empty()) {
      emitter->EmitLog("offline_2pass: no audio captured");
      EmitResult(options, emitter, {}, nullptr);
      return true;
    }
    samples = audio->session_samples;
  }

  Stopwatch recognition_clock;
  OfflineRun run(options, decoder, punc, emitter, std::move(samples));
  std::vector<SampleRange> speech;
  const bool decoded =
      run.FindSpeech(&speech) ? run.DecodeGroups(std::move(speech)) : run.DecodeChunks();
  if (!decoded) return false;
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
      !RunOfflineDiarization(options, diarization, run.audio(), emitter, &turns)) {
    emitter->EmitLog("diarization failed; continue without speaker labels");
  }
  emitter->EmitLog("[TIMING][DIARIZATION] ms=" + std::to_string(stage_clock.ElapsedMs()) +
                   " raw_segments=" + std::to_string(turns.size()));

  if (identifier != nullptr && identifier->IsReady() && !turns.empty()) {
    stage_clock.Restart();
    IdentifyAndRelabelSpeakers(identifier, run.audio(), options.sample_rate,
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
