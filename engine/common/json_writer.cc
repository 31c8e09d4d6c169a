#include "engine/common/json_writer.h"

#include <cmath>

#include "engine/common/strings.h"

namespace dictacore {
namespace {

bool NeedsEscape(unsigned char byte, JsonEscaping escaping) {
  if (byte == '"' || byte == '\\') return true;
  return escaping == JsonEscaping::kControlBytes && byte < 0x20;
}

// The two-character escape of `byte`, or null when it has none.
const char* ShortEscape(unsigned char byte) {
  switch (byte) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    default:
      return nullptr;
  }
}

void AppendEscape(unsigned char byte, std::string* out) {
  if (const char* escape = ShortEscape(byte)) {
    out->append(escape);
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out->append("\\u00");
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0x0F]);
}

}  // namespace

void AppendJsonEscaped(const std::string& text, JsonEscaping escaping, std::string* out) {
  // Runs of bytes that need nothing are copied whole.
  size_t copied = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(byte, escaping)) continue;
    out->append(text, copied, i - copied);
    AppendEscape(byte, out);
    copied = i + 1;
  }
  out->append(text, copied, std::string::npos);
}

void JsonWriter::Separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (has_items_.empty()) return;
  if (has_items_.back()) text_.push_back(',');
  has_items_.back() = true;
}

JsonWriter& JsonWriter::Open(char bracket) {
  Separate();
  text_.push_back(bracket);
  has_items_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  text_.push_back(bracket);
  if (!has_items_.empty()) has_items_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginObject() { return Open('{'); }
JsonWriter& JsonWriter::EndObject() { return Close('}'); }
JsonWriter& JsonWriter::BeginArray() { return Open('['); }
JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::Key(const std::string& key) {
  String(key);
  text_.push_back(':');
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
  Separate();
  text_.push_back('"');
  AppendJsonEscaped(value, escaping_, &text_);
  text_.push_back('"');
  return *this;
}

JsonWriter& JsonWriter::Int(int64_t value) {
  Separate();
  text_.append(std::to_string(value));
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  text_.append(value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Fixed(double value, int decimals) {
  Separate();
  text_.append(FormatFixed(std::isfinite(value) ? value : 0.0, decimals));
  return *this;
}

}  // namespace dictacore
