// The diarization helper's output: ReadLine over a descriptor holding
// arbitrary bytes (the reader's 64 KiB line limit is left to the unit tests:
// one byte per read makes such lines slow to fuzz), each line up to "DONE" collected by HelperResponseTurns
// (with a small turn limit, so that answers overflow it),
// compared with a direct reading of the protocol (carriage returns dropped,
// start<TAB>end<TAB>label with finite decimal times, labels numbered in order
// of first appearance, turns sorted by start). The request line built for the
// same bytes taken as a path must unescape back to that path.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/diarization/fluidaudio_subprocess_backend.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::DiarizationSegment;

constexpr size_t kMaxLine = 65536;
// Small enough that inputs reach the turn limit of an answer.
constexpr size_t kMaxTurns = 6;

bool ReadTime(const std::string& field, double* value) {
  return fuzz::ReadTimeField(field, value) && std::isfinite(*value);
}

// The lines the protocol reader must return, and whether the stream then ends
// without a usable line (end of input, or a line too long).
std::vector<std::string> ExpectedLines(const std::string& bytes, bool* broken) {
  std::vector<std::string> lines;
  std::string line;
  *broken = true;
  for (char ch : bytes) {
    if (ch == '\r') continue;
    if (ch == '\n') {
      lines.push_back(line);
      if (line == "DONE") {
        *broken = false;
        return lines;
      }
      line.clear();
      continue;
    }
    line.push_back(ch);
    if (line.size() > kMaxLine) return lines;
  }
  return lines;
}

// The turns of the answer, sorted; *refused_at is the index of the line that
// overflows kMaxTurns (lines.size() when none does).
std::vector<DiarizationSegment> ExpectedTurns(const std::vector<std::string>& lines,
                                              size_t* refused_at) {
  std::map<std::string, std::string> labels;
  std::vector<DiarizationSegment> turns;
  *refused_at = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::string start_field;
    std::string end_field;
    std::string label;
    double start = 0.0;
    double end = 0.0;
    if (!fuzz::SplitAtTwoTabs(line, &start_field, &end_field, &label) ||
        !ReadTime(start_field, &start) || !ReadTime(end_field, &end) || !(start < end)) {
      continue;
    }
    if (turns.size() == kMaxTurns) {
      *refused_at = i;
      break;
    }
    auto it = labels.find(label);
    if (it == labels.end()) {
      char name[32];
      std::snprintf(name, sizeof(name), "SPEAKER_%02zu", labels.size());
      it = labels.emplace(label, name).first;
    }
    turns.push_back({start, end, it->second});
  }
  std::stable_sort(turns.begin(), turns.end(),
                   [](const DiarizationSegment& a, const DiarizationSegment& b) {
                     return a.start < b.start;
                   });
  return turns;
}

void CheckRequestLine(const std::string& path) {
  const std::string line = dictacore::BuildHelperRequestLine(path);
  const std::string head = "{\"input\":\"";
  FUZZ_CHECK(fuzz::StartsWith(line, head) && fuzz::EndsWith(line, "\"}"));
  std::string unescaped;
  for (size_t i = head.size(); i + 2 < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
      FUZZ_CHECK(i + 2 < line.size() && (line[i] == '\\' || line[i] == '"'));
    } else {
      FUZZ_CHECK(line[i] != '"');
    }
    unescaped.push_back(line[i]);
  }
  FUZZ_CHECK(unescaped == path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemFile stream;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckRequestLine(bytes);
  stream.Set(bytes);
  FUZZ_CHECK(::lseek(stream.fd(), 0, SEEK_SET) == 0);

  bool broken = false;
  const std::vector<std::string> expected = ExpectedLines(bytes, &broken);
  std::vector<std::string> turn_lines = expected;
  if (!broken) turn_lines.pop_back();
  size_t refused_at = 0;
  const std::vector<DiarizationSegment> want = ExpectedTurns(turn_lines, &refused_at);

  dictacore::HelperResponseTurns turns(kMaxTurns);
  std::string line;
  size_t count = 0;
  bool done = false;
  bool refused = false;
  while (dictacore::ReadLine(stream.fd(), &line)) {
    FUZZ_CHECK(count < expected.size() && line == expected[count]);
    ++count;
    if (line == "DONE") {
      done = true;
      break;
    }
    if (!turns.AddLine(line)) {
      refused = true;
      break;
    }
  }
  if (refused) {
    // The backend gives up on the exchange at the overflowing line.
    FUZZ_CHECK(refused_at < turn_lines.size() && count == refused_at + 1);
    return 0;
  }
  FUZZ_CHECK(refused_at == turn_lines.size());
  FUZZ_CHECK(done == !broken);
  FUZZ_CHECK(count == expected.size());

  const std::vector<DiarizationSegment> got = turns.TakeSorted();
  FUZZ_CHECK(got.size() == want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    FUZZ_CHECK(got[i].start == want[i].start && got[i].end == want[i].end);
    FUZZ_CHECK(got[i].speaker == want[i].speaker);
  }
  FUZZ_CHECK(turns.TakeSorted().empty());
  return 0;
}
