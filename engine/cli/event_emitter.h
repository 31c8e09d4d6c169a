// The engine's wire format: one JSON object per line on standard output.
#ifndef DICTACORE_ENGINE_CLI_EVENT_EMITTER_H_
#define DICTACORE_ENGINE_CLI_EVENT_EMITTER_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/common/segment_result.h"

namespace dictacore {

// Escapes a byte string for use inside a JSON string literal. Tab, line feed,
// carriage return, quote and backslash get their two-character escapes, other
// bytes below 0x20 become \u00XX; everything else (UTF-8 included) is copied.
std::string JsonEscape(const std::string& text);

// Exit status of a process whose standard output can no longer be written
// (the host closed its end, or the disk behind it is full): EX_IOERR.
constexpr int kOutputLostExitStatus = 74;

// Writes whole event lines to standard output from any thread. One instance
// per process; lines never interleave.
//
// Standard output is the engine's only channel to the host, so a line that
// cannot be written ends the process at once with kOutputLostExitStatus: a
// run that nobody can hear must not go on (or hang in a live session). With
// the default SIGPIPE disposition the kernel ends it earlier, by SIGPIPE.
class EventEmitter {
 public:
  EventEmitter() = default;
  // An emitter that keeps its lines (without line feeds) in `held` instead
  // of writing them, for work whose events must wait for others that come
  // earlier in the stream; they are written later through EmitRawJson.
  explicit EventEmitter(std::vector<std::string>* held) : held_(held) {}
  EventEmitter(const EventEmitter&) = delete;
  EventEmitter& operator=(const EventEmitter&) = delete;

  // Writes `line` and a line feed in one unbuffered write. `line` must be one
  // complete JSON object without a line feed.
  void EmitRawJson(const std::string& line);

  // Writes the fields as one object of string values, keys in map order.
  void EmitObject(const std::map<std::string, std::string>& fields);

  void EmitReady();
  void EmitLog(const std::string& message);
  void EmitError(const std::string& message);
  void EmitComplete(const std::string& message);

  static std::string EscapeJson(const std::string& text) { return JsonEscape(text); }

 private:
  std::mutex mutex_;
  std::vector<std::string>* held_ = nullptr;
};

// {"type":"first-pass",["sessionId":N,]"segment_id":N,"text":"…","mode":"online_partial","is_final":B}
std::string BuildFirstPassEventJson(int segment_id, const std::string& text, bool is_final,
                                    int session_id);

// {"type":"punctuated",["sessionId":N,]"segment_id":N,"text":"…"}
std::string BuildPunctuatedEventJson(int segment_id, const std::string& text, int session_id);

// The second-pass `result` event. Segments without content are left out;
// negative ids and a zero count are omitted; `merged_text` may be null, in
// which case the content segments' texts are joined with single spaces.
std::string BuildSecondPassResultJson(const std::vector<SegmentResult>& segments,
                                      bool offline_2pass, bool is_final, int segment_id,
                                      int segment_start_id, int segment_count,
                                      const std::string* merged_text, int session_id);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_EVENT_EMITTER_H_
