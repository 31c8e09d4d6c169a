#include "engine/diarization/speaker_assign.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "engine/common/strings.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

constexpr double kMinOverlapSeconds = 0.001;
constexpr double kSameSpeakerBridgeSeconds = 1.0;
constexpr double kMinKeptSpanSeconds = 0.25;
constexpr double kMinKeptSpanShare = 0.1;
constexpr double kMinSegmentSeconds = 0.000001;

// The part of one diarization turn that overlaps one recognised segment.
struct Span {
  double start = 0.0;
  double end = 0.0;
  std::string speaker;
};

// Renumbers cluster labels in order of first use within one assignment.
class LabelMap {
 public:
  std::string Relabel(const std::string& label) {
    if (!IsClusterLabel(label)) return label;
    auto it = labels_.find(label);
    if (it == labels_.end()) it = labels_.emplace(label, SpeakerLabel(next_++)).first;
    return it->second;
  }

 private:
  static bool IsClusterLabel(const std::string& label) {
    static constexpr char kPrefix[] = "SPEAKER_";
    constexpr size_t kPrefixLen = sizeof(kPrefix) - 1;
    if (label.size() <= kPrefixLen || label.compare(0, kPrefixLen, kPrefix) != 0) return false;
    return std::all_of(label.begin() + kPrefixLen, label.end(),
                       [](char ch) { return ch >= '0' && ch <= '9'; });
  }

  std::map<std::string, std::string> labels_;
  int next_ = 0;
};

bool IsOneBytePunct(char ch) {
  switch (ch) {
    case '!': case ',': case '.': case ':': case ';': case '?': return true;
    default: return false;
  }
}

std::string StripAsciiWhitespace(const std::string& text) {
  static constexpr char kSpace[] = " \t\n\v\f\r";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

// Weights below 0 (and NaN) count as nothing.
double ClampWeight(double weight) { return weight > 0.0 ? weight : 0.0; }

// Target cut for a share of the text, held to 1 .. n-1 before any integer
// conversion so that odd weights can never overflow it.
long long TargetCut(double share, long long n) {
  const double scaled = std::round(share * static_cast<double>(n));
  if (!(scaled >= 1.0)) return 1;
  if (scaled >= static_cast<double>(n)) return n - 1;
  return static_cast<long long>(scaled);
}

void SplitSegmentAcrossSpans(const SegmentResult& segment, const std::vector<Span>& kept,
                             LabelMap* labels, std::vector<SegmentResult>* out) {
  std::vector<double> weights;
  weights.reserve(kept.size());
  for (const Span& span : kept) weights.push_back(span.end - span.start);
  const std::vector<std::string> pieces = SplitTextByWeights(segment.text, weights);
  for (size_t i = 0; i < kept.size(); ++i) {
    const std::string text = StripAsciiWhitespace(i < pieces.size() ? pieces[i] : std::string());
    if (text.empty()) continue;
    out->push_back({kept[i].start, kept[i].end, text, labels->Relabel(kept[i].speaker)});
  }
}

std::vector<Span> OverlappingSpans(const SegmentResult& segment,
                                   const std::vector<DiarizationSegment>& diarization) {
  std::vector<Span> spans;
  spans.reserve(8);
  for (const DiarizationSegment& turn : diarization) {
    const double start = std::max(segment.start, turn.start);
    const double end = std::min(segment.end, turn.end);
    if (end - start > kMinOverlapSeconds) spans.push_back({start, end, turn.speaker});
  }
  return spans;
}

std::vector<Span> MergeSpans(std::vector<Span> spans) {
  std::stable_sort(spans.begin(), spans.end(),
                   [](const Span& a, const Span& b) { return a.start < b.start; });
  std::vector<Span> merged;
  for (Span& span : spans) {
    if (!merged.empty()) {
      Span& last = merged.back();
      if (last.speaker == span.speaker && span.start - last.end < kSameSpeakerBridgeSeconds) {
        last.end = std::max(last.end, span.end);
        continue;
      }
    }
    merged.push_back(std::move(span));
  }
  std::set<std::string> distinct;
  for (const Span& span : merged) distinct.insert(span.speaker);
  if (distinct.size() == 1 && merged.size() > 1) {
    merged = {{merged.front().start, merged.back().end, merged.front().speaker}};
  }
  return merged;
}

// Index of the turn whose centre is nearest to the segment's centre; the
// earlier turn wins a tie.
size_t NearestTurn(const SegmentResult& segment,
                   const std::vector<DiarizationSegment>& diarization, double* distance) {
  const double centre = (segment.start + segment.end) / 2.0;
  size_t best = 0;
  double best_distance = std::fabs((diarization[0].start + diarization[0].end) / 2.0 - centre);
  for (size_t i = 1; i < diarization.size(); ++i) {
    const double d = std::fabs((diarization[i].start + diarization[i].end) / 2.0 - centre);
    if (d < best_distance) {
      best = i;
      best_distance = d;
    }
  }
  *distance = best_distance;
  return best;
}

}  // namespace

std::vector<Utf8Cp> Utf8Scan(const std::string& text) {
  std::vector<Utf8Cp> chars;
  chars.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t len = static_cast<size_t>(Utf8CharLen(static_cast<uint8_t>(text[pos])));
    if (pos + len > text.size()) len = 1;
    const bool punct = len == 1 ? IsOneBytePunct(text[pos])
                                : IsUtf8PuncToken(std::string_view(text).substr(pos, len));
    chars.push_back({pos, len, punct});
    pos += len;
  }
  return chars;
}

std::vector<std::string> SplitTextByWeights(const std::string& text,
                                            const std::vector<double>& weights) {
  if (weights.empty()) return {text};
  if (text.empty()) return std::vector<std::string>(weights.size());
  double total = 0.0;
  for (double weight : weights) total += ClampWeight(weight);
  if (!(total > 0.0)) {
    std::vector<std::string> pieces(weights.size());
    pieces[0] = text;
    return pieces;
  }

  const std::vector<Utf8Cp> chars = Utf8Scan(text);
  const long long n = static_cast<long long>(chars.size());
  const long long radius = std::max(n / 5, 2LL);
  const auto punct_before = [&](long long cut) {
    return cut > 0 && cut <= n && chars[static_cast<size_t>(cut - 1)].punct;
  };

  std::vector<long long> cuts;
  cuts.reserve(weights.size());
  double running = 0.0;
  long long previous = 0;
  for (size_t i = 0; i + 1 < weights.size(); ++i) {
    running += ClampWeight(weights[i]);
    const long long target = TargetCut(running / total, n);
    long long cut = target;
    for (long long k = 0; k <= radius; ++k) {
      if (punct_before(target + k)) {
        cut = target + k;
        break;
      }
      if (punct_before(target - k)) {
        cut = target - k;
        break;
      }
    }
    cut = std::clamp(cut, 1LL, n);
    if (cut <= previous) cut = previous >= n ? n : previous + 1;
    cuts.push_back(cut);
    previous = cut;
  }
  cuts.push_back(n);

  const auto byte_at = [&](long long index) {
    return index >= n ? text.size() : static_cast<size_t>(chars[static_cast<size_t>(index)].pos);
  };
  std::vector<std::string> pieces;
  pieces.reserve(cuts.size());
  long long from = 0;
  for (long long cut : cuts) {
    const size_t begin = byte_at(from);
    const size_t end = byte_at(cut);
    pieces.push_back(end > begin ? text.substr(begin, end - begin) : std::string());
    from = cut;
  }
  return pieces;
}

bool RunOfflineDiarization(const Options& options, DiarizationBackend* backend,
                           const std::vector<float>& samples, EventEmitter* emitter,
                           std::vector<DiarizationSegment>* out) {
  if (out == nullptr) return false;
  out->clear();
  if (!options.diarization) return true;
  if (backend == nullptr || !backend->IsReady()) {
    emitter->EmitLog("diarization skipped: backend not initialized");
    return true;
  }
  std::string error;
  const bool ok = backend->Process(samples, options.sample_rate, out, &error);
  if (!ok) {
    emitter->EmitLog("diarization failed: " + error);
    return false;
  }
  const double seconds = options.sample_rate > 0 ? static_cast<double>(samples.size()) /
                                                       static_cast<double>(options.sample_rate)
                                                 : 0.0;
  emitter->EmitLog("diarization segments=" + std::to_string(out->size()) +
                   " audio_s=" + FormatFixed(seconds, 6));
  return true;
}

void AssignAndSplitBySpeakers(std::vector<SegmentResult>* results,
                              const std::vector<DiarizationSegment>& diarization,
                              EventEmitter* emitter) {
  if (results == nullptr || results->empty() || diarization.empty()) return;
  LabelMap labels;
  std::vector<SegmentResult> out;
  out.reserve(results->size());
  int split_count = 0;

  for (const SegmentResult& segment : *results) {
    std::vector<Span> spans = OverlappingSpans(segment, diarization);
    if (spans.empty()) {
      double distance = 0.0;
      const DiarizationSegment& nearest =
          diarization[NearestTurn(segment, diarization, &distance)];
      SegmentResult copy = segment;
      copy.speaker = labels.Relabel(nearest.speaker);
      out.push_back(std::move(copy));
      if (emitter != nullptr) {
        emitter->EmitLog("[DIARIZATION] no overlap for ASR [" + FormatFixed(segment.start, 3) +
                         "s," + FormatFixed(segment.end, 3) + "s]; nearest diar=" +
                         nearest.speaker + " dist=" + FormatFixed(distance, 3) + "s");
      }
      continue;
    }

    const std::vector<Span> merged = MergeSpans(std::move(spans));
    if (merged.size() == 1) {
      SegmentResult copy = segment;
      copy.speaker = labels.Relabel(merged.front().speaker);
      out.push_back(std::move(copy));
      continue;
    }

    const double duration = std::max(segment.end - segment.start, kMinSegmentSeconds);
    std::vector<Span> kept;
    for (const Span& span : merged) {
      const double length = span.end - span.start;
      if (length >= kMinKeptSpanSeconds || length >= kMinKeptSpanShare * duration) {
        kept.push_back(span);
      }
    }
    if (kept.size() > 1) {
      SplitSegmentAcrossSpans(segment, kept, &labels, &out);
      ++split_count;
      continue;
    }
    const Span* chosen = kept.empty() ? nullptr : &kept.front();
    if (chosen == nullptr) {
      chosen = &merged.front();
      for (const Span& span : merged) {
        if (span.end - span.start > chosen->end - chosen->start) chosen = &span;
      }
    }
    SegmentResult copy = segment;
    copy.speaker = labels.Relabel(chosen->speaker);
    out.push_back(std::move(copy));
  }

  if (split_count > 0 && emitter != nullptr) {
    emitter->EmitLog("[DIARIZATION] split " + std::to_string(split_count) +
                     " ASR segment(s) across speaker boundaries");
  }
  *results = std::move(out);
}

}  // namespace dictacore
