#include "tools/ble-scan/device_json.h"

#include <cstdint>
#include <utility>

namespace beaconsweep {

namespace {

// Length of the well-formed UTF-8 sequence at `pos`, or 0: no overlong forms,
// no surrogates, nothing above U+10FFFF.
size_t ValidUtf8SequenceLength(const std::string& text, size_t pos) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[pos + k]); };
  const auto in = [](uint8_t b, uint8_t lo, uint8_t hi) { return b >= lo && b <= hi; };
  const size_t left = text.size() - pos;
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  if (in(lead, 0xC2, 0xDF)) return left >= 2 && in(byte(1), 0x80, 0xBF) ? 2 : 0;
  if (in(lead, 0xE0, 0xEF)) {
    if (left < 3) return 0;
    const uint8_t lo = lead == 0xE0 ? 0xA0 : 0x80;
    const uint8_t hi = lead == 0xED ? 0x9F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (in(lead, 0xF0, 0xF4)) {
    if (left < 4) return 0;
    const uint8_t lo = lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t hi = lead == 0xF4 ? 0x8F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// The escape for an ASCII byte, or nullptr when it is written as it is.
const char* ShortEscape(char c) {
  switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '/': return "\\/";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: return nullptr;
  }
}

}  // namespace

bool AppendJsonString(const std::string& text, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string literal = "\"";
  literal.reserve(text.size() + 2);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t length = ValidUtf8SequenceLength(text, pos);
    if (length == 0) return false;
    const char c = text[pos];
    if (const char* escape = ShortEscape(c)) {
      literal += escape;
    } else if (static_cast<uint8_t>(c) < 0x20) {
      literal += "\\u00";
      literal += kHex[static_cast<uint8_t>(c) >> 4];
      literal += kHex[static_cast<uint8_t>(c) & 0x0F];
    } else {
      literal.append(text, pos, length);
    }
    pos += length;
  }
  literal += '"';
  out->append(literal);
  return true;
}

bool EncodeScannedDevice(const ScannedDevice& device, std::string* json) {
  std::string out = "{\"id\":";
  bool ok = AppendJsonString(device.id, &out);
  out += ",\"name\":";
  ok = ok && AppendJsonString(device.name, &out);
  out += ",\"serviceUuids\":[";
  for (size_t i = 0; ok && i < device.service_uuids.size(); ++i) {
    if (i > 0) out += ',';
    ok = AppendJsonString(device.service_uuids[i], &out);
  }
  out += "]}";
  if (!ok) {
    json->clear();
    return false;
  }
  *json = std::move(out);
  return true;
}

}  // namespace beaconsweep
