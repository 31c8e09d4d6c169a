#include "engine/pipelines/decode_groups.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "engine/common/strings.h"

namespace dictacore {
namespace {

constexpr int64_t kMaxSamples = INT32_MAX;

// Sample counts as seconds with six decimals, the way the log lines show them.
std::string Seconds(int64_t samples, int32_t rate) {
  return FormatFixed(static_cast<double>(samples) / rate, 6);
}

std::string WindowText(const GroupingParams& params) {
  return params.window_enabled ? Seconds(params.decode_window, params.sample_rate) + "s"
                               : std::string("disabled");
}

}  // namespace

int64_t RoundedSamples(double seconds, int32_t rate) {
  if (!(seconds > 0.0)) return 0;  // also NaN
  const double samples = std::round(seconds * rate);
  return samples >= static_cast<double>(kMaxSamples) ? kMaxSamples : static_cast<int64_t>(samples);
}

GroupingParams MakeGroupingParams(const Options& options) {
  GroupingParams params;
  params.sample_rate = SampleRateOrDefault(options.sample_rate);
  const int32_t sr = params.sample_rate;

  const double max_speech = options.vad_max_speech > 0.0 ? options.vad_max_speech : 8.0;
  const double limit = std::floor(static_cast<double>(sr) * max_speech);
  params.group_limit =
      limit >= static_cast<double>(kMaxSamples) ? kMaxSamples : static_cast<int64_t>(limit);
  params.group_limit = std::max<int64_t>(params.group_limit, sr);

  params.window_enabled = options.second_type == "whisper";
  params.decode_window =
      params.window_enabled ? std::max<int64_t>(29 * static_cast<int64_t>(sr), 1) : kMaxSamples;
  params.silence_gap = std::max<int64_t>(RoundedSamples(options.vad_min_silence, sr), 1);
  params.lookback = RoundedSamples(options.vad_lookback, sr);
  params.lookahead = RoundedSamples(options.vad_lookahead, sr);
  return params;
}

SampleRange ClipToAudio(SampleRange range, int64_t audio_length) {
  range.end = std::min(range.end, audio_length);
  range.start = std::max<int64_t>(range.start, 0);
  return range;
}

std::vector<SampleRange> TailPieces(int64_t speech_end, int64_t audio_length,
                                    int64_t group_limit) {
  std::vector<SampleRange> pieces;
  const int64_t piece = std::max<int64_t>(group_limit, 1);
  for (int64_t start = speech_end; start < audio_length; start += piece) {
    pieces.push_back({start, std::min(start + piece, audio_length)});
  }
  return pieces;
}

bool CompensateTail(std::vector<SampleRange>* ranges, int64_t audio_length, int64_t group_limit) {
  int64_t speech_end = 0;
  for (SampleRange& range : *ranges) {
    range = ClipToAudio(range, audio_length);
    if (range.end > range.start) speech_end = std::max(speech_end, range.end);
  }
  if (speech_end >= audio_length) return false;
  for (const SampleRange& piece : TailPieces(speech_end, audio_length, group_limit)) {
    ranges->push_back(piece);
  }
  return true;
}

std::vector<SampleRange> SplitForDecodeWindow(const SampleRange& range,
                                              const GroupingParams& params) {
  if (!params.window_enabled || range.size() <= params.decode_window) return {range};
  std::vector<SampleRange> pieces;
  for (int64_t start = range.start; start < range.end; start += params.decode_window) {
    pieces.push_back({start, std::min(start + params.decode_window, range.end)});
  }
  return pieces;
}

DecodeGroupWalker::DecodeGroupWalker(int64_t audio_length, const GroupingParams& params,
                                     std::function<void(const std::string&)> log,
                                     std::function<bool(const GroupCut&)> cut)
    : audio_length_(audio_length), params_(params), log_(std::move(log)), cut_(std::move(cut)) {}

std::string DecodeGroupWalker::SpanTail() const {
  const int32_t sr = params_.sample_rate;
  return " acc=" + Seconds(accumulated_, sr) + "s max=" + Seconds(params_.group_limit, sr) +
         "s span=" + Seconds(group_end_ - group_start_, sr) + "s span_max=" + WindowText(params_);
}

void DecodeGroupWalker::Open(const SampleRange& range) {
  group_start_ = range.start;
  group_end_ = range.end;
  covered_end_ = range.start;
}

bool DecodeGroupWalker::Close(const char* reason) {
  if (group_start_ < 0 || group_end_ <= group_start_) {
    group_start_ = group_end_ = -1;
    accumulated_ = 0;
    return true;
  }
  const int32_t sr = params_.sample_rate;
  GroupCut group_cut;
  group_cut.reason = reason;
  group_cut.group = {group_start_, group_end_};
  group_cut.padded = {std::max<int64_t>(group_start_ - params_.lookback, 0),
                      std::min(group_end_ + params_.lookahead, audio_length_)};
  group_cut.accumulated = accumulated_;
  log_(std::string("[OFFLINE2PASS][CUT] reason=") + reason +
       " group_start=" + Seconds(group_start_, sr) + "s group_end=" + Seconds(group_end_, sr) +
       "s padded_start=" + Seconds(group_cut.padded.start, sr) +
       "s padded_end=" + Seconds(group_cut.padded.end, sr) + "s" + SpanTail());
  if (!cut_(group_cut)) return false;
  group_start_ = group_end_ = -1;
  accumulated_ = 0;
  return true;
}

bool DecodeGroupWalker::Add(const SampleRange& range) {
  const int64_t s = range.start;
  const int64_t e = range.end;
  if (e <= s) return true;
  if (group_start_ < 0) {
    Open(range);
  } else {
    const int64_t span = std::max(e, group_end_) - std::min(s, group_start_);
    const char* reason = nullptr;
    if (s - group_end_ > params_.silence_gap) {
      reason = "silence_gap";
    } else if (span > params_.group_limit) {
      reason = "max_duration";
    } else if (params_.window_enabled && span > params_.decode_window) {
      reason = "max_span";
    }
    if (reason != nullptr) {
      if (!Close(reason)) return false;
      Open(range);
    } else {
      group_start_ = std::min(group_start_, s);
      group_end_ = std::max(group_end_, e);
    }
  }

  const int64_t added = std::max<int64_t>(e - std::max(covered_end_, s), 0);
  accumulated_ += added;
  covered_end_ = std::max(covered_end_, e);
  const int32_t sr = params_.sample_rate;
  log_("[OFFLINE2PASS][VAD] start=" + Seconds(s, sr) + "s end=" + Seconds(e, sr) +
       "s raw=" + Seconds(e - s, sr) + "s added=" + Seconds(added, sr) + "s" + SpanTail());

  const int64_t span = group_end_ - group_start_;
  if (span > params_.group_limit) return Close("max_duration");
  if (params_.window_enabled && span > params_.decode_window) return Close("max_span");
  return true;
}

bool WalkDecodeGroups(const std::vector<SampleRange>& ranges, int64_t audio_length,
                      const GroupingParams& params,
                      const std::function<void(const std::string&)>& log,
                      const std::function<bool(const GroupCut&)>& cut) {
  DecodeGroupWalker walker(audio_length, params, log, cut);
  for (const SampleRange& range : ranges) {
    if (!walker.Add(range)) return false;
  }
  return walker.Flush();
}

}  // namespace dictacore
