// Compact JSON text: the one writer under every JSON line the engine sends
// (events, the results of the database commands, the diarization helper's
// requests).
#ifndef DICTACORE_ENGINE_COMMON_JSON_WRITER_H_
#define DICTACORE_ENGINE_COMMON_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace dictacore {

// How the bytes of strings are escaped. Either way every byte from 0x80 up is
// copied as it is, so UTF-8 text stays intact.
enum class JsonEscaping {
  // Tab, line feed, carriage return, quote and backslash get their
  // two-character escapes, every other byte below 0x20 becomes \u00XX, so
  // that every line parses. What the host reads.
  kControlBytes,
  // A backslash before every backslash and quote, nothing else: the request
  // line the diarization helper has always been sent.
  kQuotesOnly,
};

// Appends `text` escaped, without quotes around it.
void AppendJsonEscaped(const std::string& text, JsonEscaping escaping, std::string* out);

// Builds one JSON value without white space. Members and elements come out
// in the order they are added; the writer places the commas.
//
//   JsonWriter json;
//   json.BeginObject().String("type", "ok").Int("count", 2).EndObject();
//   json.text() is {"type":"ok","count":2}
class JsonWriter {
 public:
  explicit JsonWriter(JsonEscaping escaping = JsonEscaping::kControlBytes) : escaping_(escaping) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // Names the member whose value comes next.
  JsonWriter& Key(const std::string& key);

  JsonWriter& String(const std::string& value);
  JsonWriter& Int(int64_t value);
  JsonWriter& Bool(bool value);
  // Fixed notation with `decimals` digits after the point, as printf's %.Nf
  // writes it. JSON has no NaN or infinity: those are written as 0.
  JsonWriter& Fixed(double value, int decimals);

  // A member in one call.
  JsonWriter& String(const std::string& key, const std::string& value) {
    return Key(key).String(value);
  }
  JsonWriter& Int(const std::string& key, int64_t value) { return Key(key).Int(value); }
  JsonWriter& Bool(const std::string& key, bool value) { return Key(key).Bool(value); }
  JsonWriter& Fixed(const std::string& key, double value, int decimals) {
    return Key(key).Fixed(value, decimals);
  }

  const std::string& text() const { return text_; }
  // The text, leaving the writer empty.
  std::string Take() { return std::move(text_); }

 private:
  // The comma before a member or element that is not the first.
  void Separate();
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);

  JsonEscaping escaping_;
  std::string text_;
  std::vector<bool> has_items_;  // one per open object or array
  bool after_key_ = false;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_JSON_WRITER_H_
