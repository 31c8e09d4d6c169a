// The diarization helper's output: ReadLine over a descriptor holding
// arbitrary bytes (the reader's 64 KiB line limit is left to the unit tests:
// one byte per read makes such lines slow to fuzz), each line up to "DONE" collected by HelperResponseTurns,
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

std::vector<DiarizationSegment> ExpectedTurns(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> labels;
  std::vector<DiarizationSegment> turns;
  for (const std::string& line : lines) {
    std::string start_field;
    std::string end_field;
    std::string label;
    double start = 0.0;
    double end = 0.0;
    if (!fuzz::SplitAtTwoTabs(line, &start_field, &end_field, &label) ||
        !ReadTime(start_field, &start) || !ReadTime(end_field, &end) || !(start < end)) {
      continue;
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
  dictacore::HelperResponseTurns turns;
  std::string line;
  size_t count = 0;
  bool done = false;
  while (dictacore::ReadLine(stream.fd(), &line)) {
    FUZZ_CHECK(count < expected.size() && line == expected[count]);
    ++count;
    if (line == "DONE") {
      done = true;
      break;
    }
    turns.AddLine(line);
  }
  FUZZ_CHECK(done == !broken);
  FUZZ_CHECK(count == expected.size());

  std::vector<std::string> turn_lines = expected;
  if (done) turn_lines.pop_back();
  const std::vector<DiarizationSegment> got = turns.TakeSorted();
  const std::vector<DiarizationSegment> want = ExpectedTurns(turn_lines);
  FUZZ_CHECK(got.size() == want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    FUZZ_CHECK(got[i].start == want[i].start && got[i].end == want[i].end);
    FUZZ_CHECK(got[i].speaker == want[i].speaker);
  }
  FUZZ_CHECK(turns.TakeSorted().empty());
  return 0;
}
