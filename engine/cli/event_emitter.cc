#include "engine/cli/event_emitter.h"

#include <unistd.h>

#include <cmath>

#include "engine/common/json_writer.h"
#include "engine/common/posix_io.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

// Seconds to milliseconds, rounded half up and truncated toward zero. JSON
// has no NaN or infinity; such a time is written as 0 so that the line stays
// parseable.
long long SecondsToMs(double seconds) {
  const double ms = (std::isfinite(seconds) ? seconds : 0.0) * 1000.0 + 0.5;
  constexpr double kLimit = 9.2e18;
  if (ms >= kLimit) return static_cast<long long>(kLimit);
  if (ms <= -kLimit) return -static_cast<long long>(kLimit);
  return static_cast<long long>(ms);
}

void AddSessionId(JsonWriter* json, int session_id) {
  if (session_id >= 0) json->Int("sessionId", session_id);
}

void AddSegment(JsonWriter* json, const SegmentResult& segment) {
  json->BeginObject()
      .Fixed("start_time", segment.start, 2)
      .Fixed("end_time", segment.end, 2)
      .Int("start_ms", SecondsToMs(segment.start))
      .Int("end_ms", SecondsToMs(segment.end))
      .String("text", segment.text);
  if (!segment.speaker.empty()) json->String("speaker", segment.speaker);
  json->EndObject();
}

}  // namespace

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  AppendJsonEscaped(text, JsonEscaping::kControlBytes, &out);
  return out;
}

void EventEmitter::EmitRawJson(const std::string& line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  std::lock_guard<std::mutex> lock(mutex_);
  // _exit: the other threads are still running, and nothing that exit()
  // would flush or destroy can reach the host any more.
  if (!WriteAllToFd(STDOUT_FILENO, text)) ::_exit(kOutputLostExitStatus);
}

void EventEmitter::EmitObject(const std::map<std::string, std::string>& fields) {
  JsonWriter json;
  json.BeginObject();
  for (const auto& [key, value] : fields) json.String(key, value);
  EmitRawJson(json.EndObject().text());
}

void EventEmitter::EmitReady() { EmitObject({{"type", "ready"}}); }

void EventEmitter::EmitLog(const std::string& message) {
  EmitObject({{"type", "log"}, {"message", message}});
}

void EventEmitter::EmitError(const std::string& message) {
  EmitObject({{"type", "error"}, {"message", message}});
}

void EventEmitter::EmitComplete(const std::string& message) {
  EmitObject({{"type", "complete"}, {"message", message}});
}

std::string BuildFirstPassEventJson(int segment_id, const std::string& text, bool is_final,
                                    int session_id) {
  JsonWriter json;
  json.BeginObject().String("type", "first-pass");
  AddSessionId(&json, session_id);
  json.Int("segment_id", segment_id)
      .String("text", text)
      .String("mode", "online_partial")
      .Bool("is_final", is_final);
  return json.EndObject().Take();
}

std::string BuildPunctuatedEventJson(int segment_id, const std::string& text, int session_id) {
  JsonWriter json;
  json.BeginObject().String("type", "punctuated");
  AddSessionId(&json, session_id);
  json.Int("segment_id", segment_id).String("text", text);
  return json.EndObject().Take();
}

std::string BuildSecondPassResultJson(const std::vector<SegmentResult>& segments,
                                      bool offline_2pass, bool is_final, int segment_id,
                                      int segment_start_id, int segment_count,
                                      const std::string* merged_text, int session_id) {
  std::string merged;
  if (merged_text != nullptr) {
    if (HasContentText(*merged_text)) merged = *merged_text;
  } else {
    for (const SegmentResult& segment : segments) {
      if (!HasContentText(segment.text)) continue;
      if (!merged.empty()) merged.push_back(' ');
      merged.append(segment.text);
    }
  }

  JsonWriter json;
  json.BeginObject()
      .String("type", "result")
      .String("stage", "second-pass")
      .String("mode", "offline_final");
  AddSessionId(&json, session_id);
  if (segment_id >= 0) json.Int("segment_id", segment_id);
  if (segment_start_id >= 0) json.Int("segment_start_id", segment_start_id);
  if (segment_count > 0) json.Int("segment_count", segment_count);
  if (is_final) json.Bool("is_final", true);
  if (offline_2pass) json.Bool("offline_2pass", true);

  json.Key("segments").BeginArray();
  for (const SegmentResult& segment : segments) {
    if (HasContentText(segment.text)) AddSegment(&json, segment);
  }
  json.EndArray();

  if ((offline_2pass || is_final) && !merged.empty()) json.String("merged_text", merged);
  return json.EndObject().Take();
}

}  // namespace dictacore
