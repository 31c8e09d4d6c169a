// The --identify-only segment list: ParseSegmentList over arbitrary text,
// compared line by line with a direct reading of the format (strtod fields,
// tab-separated, one trailing carriage return dropped), then clipped to
// recordings of several lengths, after which every time must lie inside the
// recording.
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "engine/speakers/speaker_commands.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::DiarizationSegment;

std::vector<DiarizationSegment> ReadDirectly(const std::string& text) {
  std::vector<DiarizationSegment> segments;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string start;
    std::string end_field;
    DiarizationSegment segment;
    if (!fuzz::SplitAtTwoTabs(line, &start, &end_field, &segment.speaker) ||
        !fuzz::ReadTimeField(start, &segment.start) ||
        !fuzz::ReadTimeField(end_field, &segment.end)) {
      continue;
    }
    if (segment.start < segment.end && !segment.speaker.empty()) segments.push_back(segment);
  }
  return segments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  const std::vector<DiarizationSegment> parsed = dictacore::ParseSegmentList(in);
  const std::vector<DiarizationSegment> direct = ReadDirectly(text);

  FUZZ_CHECK(parsed.size() == direct.size());
  for (size_t i = 0; i < parsed.size(); ++i) {
    FUZZ_CHECK(fuzz::SameBits(parsed[i].start, direct[i].start));
    FUZZ_CHECK(fuzz::SameBits(parsed[i].end, direct[i].end));
    FUZZ_CHECK(parsed[i].speaker == direct[i].speaker);
    FUZZ_CHECK(parsed[i].speaker.find('\n') == std::string::npos);
  }

  for (double duration : {0.0, 1.5, 3600.0}) {
    std::vector<DiarizationSegment> clipped = parsed;
    dictacore::ClipSegmentsToRecording(duration, &clipped);
    FUZZ_CHECK(clipped.size() == parsed.size());
    for (const DiarizationSegment& segment : clipped) {
      FUZZ_CHECK(std::isfinite(segment.start) && std::isfinite(segment.end));
      FUZZ_CHECK(segment.start >= 0.0 && segment.start <= segment.end &&
                 segment.end <= duration);
    }
  }
  return 0;
}
