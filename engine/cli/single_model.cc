#include "engine/cli/single_model.h"

#include <algorithm>
#include <cmath>

#include "engine/pipelines/decode_groups.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

std::string JoinTokens(const std::vector<std::string>& tokens, size_t from, size_t to) {
  std::string text;
  for (size_t k = from; k < to && k < tokens.size(); ++k) text += tokens[k];
  return text;
}

bool HasTimestamps(const DecodedTokens& decoded) {
  return decoded.timestamps.size() == decoded.tokens.size();
}

}  // namespace

SingleModelLimits MakeSingleModelLimits(const Options& options) {
  SingleModelLimits limits;
  const int32_t rate = SampleRateOrDefault(options.sample_rate);
  limits.rate = rate;
  limits.trim_cap = options.single_trim_cap > 0 ? RoundedSamples(options.single_trim_cap, rate) : 0;
  limits.trim_keep =
      RoundedSamples(options.single_trim_keep > 0 ? options.single_trim_keep : 1.0, rate);
  const int64_t window =
      RoundedSamples(options.single_max_window > 0 ? options.single_max_window : 7.0, rate);
  limits.max_window = std::max(window, limits.trim_cap + limits.trim_keep + 1);
  const double silence = options.vad_min_silence > 0.3 ? options.vad_min_silence : 0.3;
  limits.silence = std::max<int64_t>(RoundedSamples(silence, rate), 1);
  return limits;
}

SingleModelStreamer::SingleModelStreamer(const Options& options, OfflineDecoderBackend* decoder,
                                         VadBackend* vad, EventEmitter* emitter,
                                         SharedState* shared, AudioBuffer* audio,
                                         std::string* last_partial_text)
    : options_(options),
      decoder_(decoder),
      vad_(vad),
      emitter_(emitter),
      shared_(shared),
      audio_(audio),
      last_partial_text_(last_partial_text),
      limits_(MakeSingleModelLimits(options)) {}

void SingleModelStreamer::Reset() {
  committed_ = 0;
  committed_tokens_ = 0;
  last_partial_at_ = 0;
  speech_end_ = 0;
  speech_active_ = false;
  prev_tokens_.clear();
}

int64_t SingleModelStreamer::SessionSize() const {
  std::lock_guard<std::mutex> lock(audio_->mutex);
  return static_cast<int64_t>(audio_->session_samples.size());
}

std::vector<float> SingleModelStreamer::CopyWindow(int64_t from, int64_t to) const {
  std::lock_guard<std::mutex> lock(audio_->mutex);
  const auto size = static_cast<int64_t>(audio_->session_samples.size());
  to = std::min(to, size);
  if (from >= to) return {};
  return std::vector<float>(audio_->session_samples.begin() + from,
                            audio_->session_samples.begin() + to);
}

int64_t SingleModelStreamer::TokenStart(const DecodedTokens& decoded, size_t k,
                                        int64_t window_start, int64_t window_end) const {
  if (k >= decoded.tokens.size() || k >= decoded.timestamps.size()) return window_end;
  const double offset = static_cast<double>(decoded.timestamps[k]) * limits_.rate;
  if (!std::isfinite(offset)) return window_start;
  return window_start + static_cast<int64_t>(std::round(std::clamp(offset, -1e12, 1e12)));
}

void SingleModelStreamer::OnChunk() {
  const int64_t size = SessionSize();
  const bool detected = vad_->Detected();
  if (detected) {
    speech_end_ = size;
    speech_active_ = true;
  }
  const int64_t step = std::max<uint32_t>(shared_->single_partial_step.load(), 1);
  if (decoder_->IsReady() && detected && size > committed_ && size - last_partial_at_ >= step) {
    PartialDecode(size);
  }
  if (!detected && speech_active_ && speech_end_ > committed_ && size >= speech_end_ &&
      size - speech_end_ >= limits_.silence) {
    CommitUpTo(speech_end_);
    speech_active_ = false;
  }
  DiscardVadSegments();
}

void SingleModelStreamer::PartialDecode(int64_t size) {
  last_partial_at_ = size;
  DecodedTokens decoded;
  std::string error;
  if (!decoder_->DecodeWithTokens(CopyWindow(std::min(committed_, size), size), &decoded, &error)) {
    emitter_->EmitLog("[single-model] partial decode failed: " + error);
    return;
  }
  const size_t n = decoded.tokens.size();
  const std::string text = JoinTokens(decoded.tokens, committed_tokens_, n);
  if (!text.empty() && text != *last_partial_text_) {
    emitter_->EmitRawJson(
        BuildFirstPassEventJson(shared_->next_segment_id.load(), text, false, options_.session_id));
    *last_partial_text_ = text;
  }

  if (limits_.trim_cap > 0 && HasTimestamps(decoded) && committed_tokens_ < n) {
    // Only tokens two consecutive decodes agree on are stable enough to
    // commit, and the newest audio is never committed.
    size_t stable = 0;
    while (stable < prev_tokens_.size() && stable < n &&
           prev_tokens_[stable] == decoded.tokens[stable]) {
      ++stable;
    }
    const int64_t limit = std::max<int64_t>(size - limits_.trim_keep, 0);
    size_t end = committed_tokens_;
    while (end < stable && TokenStart(decoded, end + 1, committed_, size) <= limit) ++end;
    const int64_t chunk_start = TokenStart(decoded, committed_tokens_, committed_, size);
    const int64_t chunk_end = TokenStart(decoded, end, committed_, size);
    if (end > committed_tokens_ && chunk_end > chunk_start + limits_.trim_cap) {
      EmitCommitted(JoinTokens(decoded.tokens, committed_tokens_, end), chunk_start, chunk_end);
      committed_tokens_ = end;
    }
  }
  prev_tokens_ = decoded.tokens;

  if (size - committed_ > limits_.max_window) {
    if (committed_tokens_ > 0 && committed_tokens_ < n && HasTimestamps(decoded)) {
      // Move the window start to the first uncommitted token.
      committed_ = TokenStart(decoded, committed_tokens_, committed_, size);
      committed_tokens_ = 0;
      prev_tokens_.clear();
      last_partial_text_->clear();
    } else {
      CommitUpTo(size);
    }
  }
}

void SingleModelStreamer::OnSegmentEnd() {
  const int64_t size = SessionSize();
  if (speech_active_ && committed_ < size) CommitUpTo(size);
  speech_active_ = false;
  DiscardVadSegments();
}

void SingleModelStreamer::CommitUpTo(int64_t end) {
  if (decoder_->IsReady() && committed_ < end) {
    const std::vector<float> window = CopyWindow(committed_, end);
    DecodedTokens decoded;
    if (!window.empty() && decoder_->DecodeWithTokens(window, &decoded, nullptr)) {
      const size_t n = decoded.tokens.size();
      const std::string text = JoinTokens(decoded.tokens, committed_tokens_, n);
      const int64_t start = committed_tokens_ < n && HasTimestamps(decoded)
                                ? TokenStart(decoded, committed_tokens_, committed_, end)
                                : committed_;
      EmitCommitted(text, start, end);
    }
  }
  committed_ = end;
  committed_tokens_ = 0;
  last_partial_at_ = end;
  prev_tokens_.clear();
  last_partial_text_->clear();
}

void SingleModelStreamer::EmitCommitted(const std::string& text, int64_t start, int64_t end) {
  if (!HasContentText(text) || start >= end) return;
  const int id = shared_->next_segment_id.fetch_add(1);
  emitter_->EmitRawJson(
      BuildSecondPassResultJson({{static_cast<double>(start) / limits_.rate,
                                  static_cast<double>(end) / limits_.rate, text, std::string()}},
                                false, false, id, id, 1, nullptr, options_.session_id));
}

void SingleModelStreamer::DiscardVadSegments() {
  VadSegment segment;
  while (vad_->PopSegment(&segment, nullptr)) {
  }
}

}  // namespace dictacore
