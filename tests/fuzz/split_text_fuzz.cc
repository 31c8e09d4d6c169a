// SplitTextByWeights and Utf8Scan over arbitrary text and arbitrary weights
// (NaN, infinities, negatives and denormals included): the scan covers the
// text character by character, the pieces are one per weight, cut at
// character starts, and join back to the text. The same inputs then go
// through AssignAndSplitBySpeakers as segment texts and speaker turns.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "engine/diarization/speaker_assign.h"
#include "engine/text/utf8_punct.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::DiarizationSegment;
using dictacore::SegmentResult;
using dictacore::Utf8Cp;

double ConsumeWeight(FuzzedDataProvider* provider) {
  if (provider->ConsumeBool()) return provider->ConsumeIntegralInRange<int>(-3, 50) / 4.0;
  const uint64_t bits = provider->ConsumeIntegral<uint64_t>();
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

bool IsOneBytePunct(char ch) {
  return ch == '!' || ch == ',' || ch == '.' || ch == ':' || ch == ';' || ch == '?';
}

std::vector<bool> CheckScan(const std::string& text) {
  const std::vector<Utf8Cp> chars = dictacore::Utf8Scan(text);
  std::vector<bool> starts(text.size() + 1, false);
  uint64_t pos = 0;
  for (const Utf8Cp& cp : chars) {
    FUZZ_CHECK(cp.pos == pos && cp.len >= 1 && cp.len <= 4 && cp.pos + cp.len <= text.size());
    const auto lead = static_cast<uint8_t>(text[cp.pos]);
    const auto lead_len = static_cast<uint64_t>(dictacore::Utf8CharLen(lead));
    FUZZ_CHECK(cp.len == lead_len || (cp.len == 1 && cp.pos + lead_len > text.size()));
    const std::string_view bytes = std::string_view(text).substr(cp.pos, cp.len);
    FUZZ_CHECK(cp.punct == (cp.len == 1 ? IsOneBytePunct(bytes[0])
                                        : dictacore::IsUtf8PuncToken(bytes)));
    starts[cp.pos] = true;
    pos += cp.len;
  }
  FUZZ_CHECK(pos == text.size());
  starts[text.size()] = true;
  return starts;
}

void CheckSplit(const std::string& text, const std::vector<double>& weights,
                const std::vector<bool>& starts) {
  const std::vector<std::string> pieces = dictacore::SplitTextByWeights(text, weights);
  FUZZ_CHECK(pieces.size() == (weights.empty() ? 1 : weights.size()));
  std::string joined;
  for (const std::string& piece : pieces) {
    joined += piece;
    FUZZ_CHECK(starts[joined.size()]);
  }
  FUZZ_CHECK(joined == text);
}

void CheckAssignment(FuzzedDataProvider* provider, const std::string& text) {
  std::vector<SegmentResult> segments;
  const int segment_count = provider->ConsumeIntegralInRange<int>(1, 3);
  for (int i = 0; i < segment_count; ++i) {
    const double start = provider->ConsumeIntegralInRange<int>(0, 80) / 4.0;
    const double end = start + provider->ConsumeIntegralInRange<int>(-2, 40) / 4.0;
    segments.push_back({start, end, i == 0 ? text : provider->ConsumeRandomLengthString(24), ""});
  }
  std::vector<DiarizationSegment> turns;
  const int turn_count = provider->ConsumeIntegralInRange<int>(0, 6);
  static const char* const kLabels[] = {"SPEAKER_03", "SPEAKER_1", "Alice", "SPEAKER_", "SPEAKER_x"};
  for (int i = 0; i < turn_count; ++i) {
    const double start = ConsumeWeight(provider);
    const double end = provider->ConsumeBool() ? start + ConsumeWeight(provider) : ConsumeWeight(provider);
    turns.push_back({start, end, kLabels[provider->ConsumeIntegralInRange<int>(0, 4)]});
  }

  std::vector<SegmentResult> results = segments;
  dictacore::AssignAndSplitBySpeakers(&results, turns, nullptr);
  if (turns.empty()) {
    FUZZ_CHECK(results.size() == segments.size());
    return;
  }
  // Every text is the segment's own or a piece of it; cluster labels are
  // numbered from SPEAKER_00 in order of first use.
  int next_cluster = 0;
  std::vector<std::string> seen;
  for (const SegmentResult& result : results) {
    bool from_input = false;
    for (const SegmentResult& segment : segments) {
      from_input |= segment.text.find(result.text) != std::string::npos;
    }
    FUZZ_CHECK(from_input);
    FUZZ_CHECK(!result.speaker.empty());
    const bool known = std::find(seen.begin(), seen.end(), result.speaker) != seen.end();
    if (result.speaker == "Alice" || result.speaker == "SPEAKER_" ||
        result.speaker == "SPEAKER_x" || known) {
      continue;
    }
    char expected[32];
    std::snprintf(expected, sizeof(expected), "SPEAKER_%02d", next_cluster++);
    FUZZ_CHECK(result.speaker == expected);
    seen.push_back(result.speaker);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<double> weights(provider.ConsumeIntegralInRange<size_t>(0, 12));
  for (double& weight : weights) weight = ConsumeWeight(&provider);
  const std::string text = provider.ConsumeRandomLengthString(2048);

  const std::vector<bool> starts = CheckScan(text);
  CheckSplit(text, weights, starts);
  CheckAssignment(&provider, text);
  return 0;
}
