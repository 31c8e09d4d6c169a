#include "engine/pipelines/segment_decode.h"

#include <algorithm>

#include "engine/text/punc_refine.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {

bool DecodeAndEmitManualSegment(const Options& options, OfflineDecoderBackend* decoder,
                                PuncBackend* punc, EventEmitter* emitter, AudioBuffer* audio,
                                SharedState* shared) {
  std::vector<float> samples;
  {
    std::lock_guard<std::mutex> lock(audio->mutex);
    if (audio->manual_samples.empty()) {
      emitter->EmitLog("No audio captured in this segment");
      return true;
    }
    samples.swap(audio->manual_samples);
  }
  const double rate = SampleRateOrDefault(options.sample_rate);
  const double duration = static_cast<double>(samples.size()) / rate;
  if (duration < 0.05) {
    emitter->EmitLog("Recording too short, skipping decode");
    return true;
  }

  std::string text;
  std::string error;
  if (!decoder->Decode(samples, &text, &error)) {
    emitter->EmitError("Second-pass decode failed: " + error);
    return false;
  }
  if (!HasContentText(text)) {
    emitter->EmitLog("Second-pass decode finished with empty text");
    return true;
  }
  const std::string punctuated = RefineRealtimeTextWithPunc(punc, emitter, text, false);
  if (!HasContentText(punctuated)) {
    emitter->EmitLog("Second-pass decode finished with punctuation-only text");
    return true;
  }
  emitter->EmitRawJson(BuildSecondPassResultJson({{0.0, duration, punctuated, std::string()}},
                                                 false, false, -1, -1, -1, nullptr,
                                                 options.session_id));
  shared->captured_samples.store(0);
  return true;
}

bool DecodeAndEmitRealtimeBatch(const Options& options, OfflineDecoderBackend* decoder,
                                PuncBackend* punc, EventEmitter* emitter,
                                const std::vector<PendingRealtimeSegment>& batch,
                                bool offline_2pass_flag, std::string* punc_context,
                                int context_chars, bool final) {
  if (batch.empty()) return true;
  size_t total = 0;
  for (const PendingRealtimeSegment& segment : batch) total += segment.samples.size();
  if (total == 0) return true;

  std::vector<float> samples;
  samples.reserve(total);
  for (const PendingRealtimeSegment& segment : batch) {
    samples.insert(samples.end(), segment.samples.begin(), segment.samples.end());
  }
  std::string text;
  std::string error;
  if (!decoder->Decode(samples, &text, &error)) {
    emitter->EmitError("Realtime VAD decode failed: " + error);
    return false;
  }
  if (text.empty()) return true;
  const std::string punctuated =
      ApplyRealtimePunc(punc, emitter, text, punc_context, context_chars, final);
  if (!HasContentText(punctuated)) return true;

  const int64_t first_start = batch.front().start;
  int64_t end = first_start;
  for (const PendingRealtimeSegment& segment : batch) {
    end = std::max<int64_t>(
        end, static_cast<int64_t>(segment.start) + static_cast<int64_t>(segment.samples.size()));
  }
  const double rate = SampleRateOrDefault(options.sample_rate);
  const int first_id = batch.front().segment_id;
  const int last_id = batch.back().segment_id;
  emitter->EmitRawJson(BuildSecondPassResultJson(
      {{static_cast<double>(first_start) / rate, static_cast<double>(end) / rate, punctuated,
        std::string()}},
      offline_2pass_flag, false, std::max(first_id, last_id), std::min(first_id, last_id),
      static_cast<int>(batch.size()), nullptr, options.session_id));
  return true;
}

}  // namespace dictacore
