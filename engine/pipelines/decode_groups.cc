#include "engine/pipelines/decode_groups.h"

#include <algorithm>
#include <climits>
#include <cmath>

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

bool CompensateTail(std::vector<SampleRange>* ranges, int64_t audio_length, int64_t group_limit) {
  int64_t speech_end = 0;
  for (SampleRange& range : *ranges) {
    range.end = std::min(range.end, audio_length);
    range.start = std::max<int64_t>(range.start, 0);
    if (range.end > range.start) speech_end = std::max(speech_end, range.end);
  }
  if (speech_end >= audio_length) return false;
  const int64_t piece = std::max<int64_t>(group_limit, 1);
  for (int64_t start = speech_end; start < audio_length; start += piece) {
    ranges->push_back({start, std::min(start + piece, audio_length)});
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

bool WalkDecodeGroups(const std::vector<SampleRange>& ranges, int64_t audio_length,
                      const GroupingParams& params,
                      const std::function<void(const std::string&)>& log,
                      const std::function<bool(const GroupCut&)>& cut) {
  const int32_t sr = params.sample_rate;
  int64_t group_start = -1;
  int64_t group_end = -1;
  int64_t covered_end = -1;
  int64_t accumulated = 0;
  const auto span_tail = [&] {
    return " acc=" + Seconds(accumulated, sr) + "s max=" + Seconds(params.group_limit, sr) +
           "s span=" + Seconds(group_end - group_start, sr) + "s span_max=" + WindowText(params);
  };

  const auto close_group = [&](const char* reason) {
    if (group_start < 0 || group_end <= group_start) {
      group_start = group_end = -1;
      accumulated = 0;
      return true;
    }
    GroupCut group_cut;
    group_cut.reason = reason;
    group_cut.group = {group_start, group_end};
    group_cut.padded = {std::max<int64_t>(group_start - params.lookback, 0),
                        std::min(group_end + params.lookahead, audio_length)};
    group_cut.accumulated = accumulated;
    log(std::string("[OFFLINE2PASS][CUT] reason=") + reason +
        " group_start=" + Seconds(group_start, sr) + "s group_end=" + Seconds(group_end, sr) +
        "s padded_start=" + Seconds(group_cut.padded.start, sr) +
        "s padded_end=" + Seconds(group_cut.padded.end, sr) + "s" + span_tail());
    if (!cut(group_cut)) return false;
    group_start = group_end = -1;
    accumulated = 0;
    return true;
  };

  for (const SampleRange& range : ranges) {
    const int64_t s = range.start;
    const int64_t e = range.end;
    if (e <= s) continue;
    if (group_start < 0) {
      group_start = s;
      group_end = e;
      covered_end = s;
    } else {
      const int64_t span = std::max(e, group_end) - std::min(s, group_start);
      const char* reason = nullptr;
      if (s - group_end > params.silence_gap) {
        reason = "silence_gap";
      } else if (span > params.group_limit) {
        reason = "max_duration";
      } else if (params.window_enabled && span > params.decode_window) {
        reason = "max_span";
      }
      if (reason != nullptr) {
        if (!close_group(reason)) return false;
        group_start = s;
        group_end = e;
        covered_end = s;
      } else {
        group_start = std::min(group_start, s);
        group_end = std::max(group_end, e);
      }
    }

    const int64_t added = std::max<int64_t>(e - std::max(covered_end, s), 0);
    accumulated += added;
    covered_end = std::max(covered_end, e);
    log("[OFFLINE2PASS][VAD] start=" + Seconds(s, sr) + "s end=" + Seconds(e, sr) +
        "s raw=" + Seconds(e - s, sr) + "s added=" + Seconds(added, sr) + "s" + span_tail());

    const int64_t span = group_end - group_start;
    if (span > params.group_limit) {
      if (!close_group("max_duration")) return false;
    } else if (params.window_enabled && span > params.decode_window) {
      if (!close_group("max_span")) return false;
    }
  }
  return close_group("flush");
}

}  // namespace dictacore
