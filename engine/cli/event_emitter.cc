#include "engine/cli/event_emitter.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "engine/common/posix_io.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

void AppendKey(std::string* out, const char* key) {
  out->push_back('"');
  out->append(key);
  out->append("\":");
}

void AppendString(std::string* out, const char* key, const std::string& value) {
  AppendKey(out, key);
  out->push_back('"');
  out->append(JsonEscape(value));
  out->push_back('"');
}

void AppendInt(std::string* out, const char* key, long long value) {
  AppendKey(out, key);
  out->append(std::to_string(value));
}

void AppendBool(std::string* out, const char* key, bool value) {
  AppendKey(out, key);
  out->append(value ? "true" : "false");
}

// JSON has no NaN or infinity; such a time is written as 0 so that the line
// stays parseable.
double FiniteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

void AppendSeconds(std::string* out, const char* key, double seconds) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.2f", FiniteOrZero(seconds));
  AppendKey(out, key);
  out->append(buffer);
}

// Seconds to milliseconds, rounded half up and truncated toward zero.
long long SecondsToMs(double seconds) {
  const double ms = FiniteOrZero(seconds) * 1000.0 + 0.5;
  constexpr double kLimit = 9.2e18;
  if (ms >= kLimit) return static_cast<long long>(kLimit);
  if (ms <= -kLimit) return -static_cast<long long>(kLimit);
  return static_cast<long long>(ms);
}

void AppendSessionId(std::string* out, int session_id) {
  if (session_id >= 0) {
    AppendInt(out, "sessionId", session_id);
    out->push_back(',');
  }
}

}  // namespace

std::string JsonEscape(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      default:
        if (byte < 0x20) {
          out.append("\\u00");
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0x0F]);
        } else {
          out.push_back(ch);
        }
    }
  }
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
  std::string line = "{";
  bool first = true;
  for (const auto& [key, value] : fields) {
    if (!first) line.push_back(',');
    first = false;
    line.push_back('"');
    line.append(JsonEscape(key));
    line.append("\":\"");
    line.append(JsonEscape(value));
    line.push_back('"');
  }
  line.push_back('}');
  EmitRawJson(line);
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
  std::string out = "{\"type\":\"first-pass\",";
  AppendSessionId(&out, session_id);
  AppendInt(&out, "segment_id", segment_id);
  out.push_back(',');
  AppendString(&out, "text", text);
  out.append(",\"mode\":\"online_partial\",");
  AppendBool(&out, "is_final", is_final);
  out.push_back('}');
  return out;
}

std::string BuildPunctuatedEventJson(int segment_id, const std::string& text, int session_id) {
  std::string out = "{\"type\":\"punctuated\",";
  AppendSessionId(&out, session_id);
  AppendInt(&out, "segment_id", segment_id);
  out.push_back(',');
  AppendString(&out, "text", text);
  out.push_back('}');
  return out;
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

  std::string out = "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\",";
  AppendSessionId(&out, session_id);
  if (segment_id >= 0) {
    AppendInt(&out, "segment_id", segment_id);
    out.push_back(',');
  }
  if (segment_start_id >= 0) {
    AppendInt(&out, "segment_start_id", segment_start_id);
    out.push_back(',');
  }
  if (segment_count > 0) {
    AppendInt(&out, "segment_count", segment_count);
    out.push_back(',');
  }
  if (is_final) out.append("\"is_final\":true,");
  if (offline_2pass) out.append("\"offline_2pass\":true,");

  out.append("\"segments\":[");
  bool first = true;
  for (const SegmentResult& segment : segments) {
    if (!HasContentText(segment.text)) continue;
    if (!first) out.push_back(',');
    first = false;
    out.push_back('{');
    AppendSeconds(&out, "start_time", segment.start);
    out.push_back(',');
    AppendSeconds(&out, "end_time", segment.end);
    out.push_back(',');
    AppendInt(&out, "start_ms", SecondsToMs(segment.start));
    out.push_back(',');
    AppendInt(&out, "end_ms", SecondsToMs(segment.end));
    out.push_back(',');
    AppendString(&out, "text", segment.text);
    if (!segment.speaker.empty()) {
      out.push_back(',');
      AppendString(&out, "speaker", segment.speaker);
    }
    out.push_back('}');
  }
  out.push_back(']');

  if ((offline_2pass || is_final) && !merged.empty()) {
    out.push_back(',');
    AppendString(&out, "merged_text", merged);
  }
  out.push_back('}');
  return out;
}

}  // namespace dictacore
