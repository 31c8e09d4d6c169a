// Packing VAD speech segments into decode groups for the offline second pass.
// Pure arithmetic over sample positions: the caller decodes each cut.
#ifndef DICTACORE_ENGINE_PIPELINES_DECODE_GROUPS_H_
#define DICTACORE_ENGINE_PIPELINES_DECODE_GROUPS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/cli/options.h"

namespace dictacore {

struct SampleRange {
  int64_t start = 0;
  int64_t end = 0;
  int64_t size() const { return end - start; }
  bool operator==(const SampleRange& other) const {
    return start == other.start && end == other.end;
  }
};

// All in samples at `sample_rate`.
struct GroupingParams {
  int32_t sample_rate = 16000;
  int64_t group_limit = 0;    // longest group; at least one second
  bool window_enabled = false;  // Whisper: groups and decodes fit its window
  int64_t decode_window = 0;  // INT32_MAX when disabled
  int64_t silence_gap = 1;    // a larger gap between segments closes the group
  int64_t lookback = 0;       // padding before each group
  int64_t lookahead = 0;      // padding after each group
};

GroupingParams MakeGroupingParams(const Options& options);

// `seconds` × `rate` rounded half away from zero, with NaN and negatives as 0
// and the result capped at INT32_MAX.
int64_t RoundedSamples(double seconds, int32_t rate);

// One closed group, ready to decode.
struct GroupCut {
  std::string reason;  // silence_gap, max_duration, max_span or flush
  SampleRange group;
  SampleRange padded;  // the group widened by lookback/lookahead, inside the audio
  int64_t accumulated = 0;  // samples the group's segments newly covered
};

// `range` clipped to [0, audio_length); it may come out empty.
SampleRange ClipToAudio(SampleRange range, int64_t audio_length);

// Pieces of at most `group_limit` covering [speech_end, audio_length): the
// audio after the last speech, decoded as if it were speech.
std::vector<SampleRange> TailPieces(int64_t speech_end, int64_t audio_length, int64_t group_limit);

// Clips each segment to [0, audio_length) and appends, when speech ends
// before the audio does, pieces of at most `group_limit` covering the rest
// (the "tail compensation"). Returns whether such pieces were added.
bool CompensateTail(std::vector<SampleRange>* ranges, int64_t audio_length, int64_t group_limit);

// Packs segments into groups one at a time, as the VAD finds them: logs each
// segment through `log` and calls `cut` for every group it closes. Segments
// must already be clipped to the audio; empty ones are passed over.
class DecodeGroupWalker {
 public:
  DecodeGroupWalker(int64_t audio_length, const GroupingParams& params,
                    std::function<void(const std::string&)> log,
                    std::function<bool(const GroupCut&)> cut);

  // False as soon as a `cut` returns false; the walker must not be used on.
  bool Add(const SampleRange& range);
  // Closes the open group with reason "flush".
  bool Flush() { return Close("flush"); }

 private:
  bool Close(const char* reason);
  void Open(const SampleRange& range);
  std::string SpanTail() const;

  const int64_t audio_length_;
  const GroupingParams params_;
  const std::function<void(const std::string&)> log_;
  const std::function<bool(const GroupCut&)> cut_;
  int64_t group_start_ = -1;
  int64_t group_end_ = -1;
  int64_t covered_end_ = -1;
  int64_t accumulated_ = 0;
};

// Walks the ranges in order, logging each through `log` and calling `cut` for
// every group it closes (a final "flush" included). Stops and returns false
// as soon as `cut` does.
bool WalkDecodeGroups(const std::vector<SampleRange>& ranges, int64_t audio_length,
                      const GroupingParams& params, const std::function<void(const std::string&)>& log,
                      const std::function<bool(const GroupCut&)>& cut);

// The pieces a padded group is decoded in: consecutive pieces of at most the
// decode window when the window is enabled, else the range itself.
std::vector<SampleRange> SplitForDecodeWindow(const SampleRange& range, const GroupingParams& params);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_PIPELINES_DECODE_GROUPS_H_
