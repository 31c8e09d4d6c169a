// The JSON line of one reported device, byte for byte as the platform's JSON
// encoder writes it with default settings: compact, keys in declaration
// order, '"' and '\' escaped, '/' written as "\/", \b \f \n \r \t in short
// form, the other control characters as \u00xx, everything else raw UTF-8.
#ifndef BEACONSWEEP_DEVICE_JSON_H_
#define BEACONSWEEP_DEVICE_JSON_H_

#include <string>
#include <vector>

namespace beaconsweep {

struct ScannedDevice {
  std::string id;                         // the peripheral's identifier text
  std::string name;                       // resolved name, may be empty
  std::vector<std::string> service_uuids;  // the scan's own service UUID text
};

// Appends `text` as a JSON string literal. False, with `out` untouched, when
// `text` is not valid UTF-8 (a string the encoder could not have been given).
bool AppendJsonString(const std::string& text, std::string* out);

// {"id":…,"name":…,"serviceUuids":[…]} without a trailing newline. False when
// a string cannot be encoded; `json` is then left empty.
bool EncodeScannedDevice(const ScannedDevice& device, std::string* json);

}  // namespace beaconsweep

#endif  // BEACONSWEEP_DEVICE_JSON_H_
