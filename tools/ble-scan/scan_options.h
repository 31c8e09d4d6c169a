// Command line of beaconsweep: option pairs parsed into ScanOptions, and the
// service UUID text as the platform's Bluetooth UUID parser accepts it.
#ifndef BEACONSWEEP_SCAN_OPTIONS_H_
#define BEACONSWEEP_SCAN_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace beaconsweep {

inline constexpr int64_t kDefaultTimeoutMilliseconds = 2000;

// The arguments as given. `service_text` is the last "--service" value, still
// unchecked; the platform turns it into its UUID object later.
struct ScanOptions {
  std::optional<std::string> service_text;
  int64_t timeout_milliseconds = kDefaultTimeoutMilliseconds;  // at least 1
  std::vector<std::string> name_prefixes;                      // in order given
  bool verbose = false;  // one line on stderr for each Bluetooth state met
};

// Parses the arguments without the program name. A last argument is never
// consumed as a value (a trailing "--service" or lone word has no effect),
// unknown arguments are skipped, the last valid "--timeout-ms" wins and the
// result is raised to at least 1 ms. "--verbose" takes no value: wherever an
// unknown argument would be skipped, it is recognised and skipped the same
// way, the last argument included, so it changes nothing else in the parse;
// as the value of another option it stays that value. Never fails.
ScanOptions ParseScanArguments(const std::vector<std::string>& args);

// A decimal integer the way the platform's integer parser reads one: an
// optional "+" or "-", then one or more ASCII digits, nothing else, within
// the signed 64-bit range.
std::optional<int64_t> ParseDecimalInteger(const std::string& text);

// The text form of a Bluetooth UUID given as 4 or 8 hex digits (16-bit and
// 32-bit UUIDs) or as 8-4-4-4-12 hex digits with hyphens (128-bit), in either
// case. The form is upper case and as short as the UUID allows: a 128-bit
// UUID built on the Bluetooth base UUID, and a 32-bit one whose upper half is
// zero, come back in their shorter forms. False when the text is none of these.
bool CanonicalBluetoothUuid(const std::string& text, std::string* canonical);

// The full 128-bit form, in lower case, of a text CanonicalBluetoothUuid
// accepts: 16-bit and 32-bit UUIDs are placed in the Bluetooth base UUID.
// Empty when the text is not such a UUID.
std::string FullBluetoothUuid(const std::string& text);

}  // namespace beaconsweep

#endif  // BEACONSWEEP_SCAN_OPTIONS_H_
