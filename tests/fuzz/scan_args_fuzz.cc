// beaconsweep's arguments: ParseScanArguments over arbitrary argument vectors
// (the input split at NUL bytes). The result must agree with a plain reading
// of the option pairs and the lone "--verbose"; the integer reader must agree
// with strtoll on strict decimal text; UUID canonical and full forms must be
// stable.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/ble-scan/scan_options.h"

namespace {

// Strict decimal: optional sign, then digits only, within int64.
std::optional<int64_t> ReadInteger(const std::string& text) {
  size_t digits = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  if (digits == text.size()) return std::nullopt;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0') return std::nullopt;
  return value;
}

void CheckUuid(const std::string& text) {
  std::string canonical;
  if (!beaconsweep::CanonicalBluetoothUuid(text, &canonical)) return;
  FUZZ_CHECK(canonical.size() == 4 || canonical.size() == 8 || canonical.size() == 36);
  for (char ch : canonical) FUZZ_CHECK(!(ch >= 'a' && ch <= 'z'));
  std::string again;
  FUZZ_CHECK(beaconsweep::CanonicalBluetoothUuid(canonical, &again));
  FUZZ_CHECK(again == canonical);
  FUZZ_CHECK(beaconsweep::CanonicalBluetoothUuid(text, nullptr));
  // The full form names the same UUID.
  const std::string full = beaconsweep::FullBluetoothUuid(text);
  FUZZ_CHECK(full.size() == 36);
  FUZZ_CHECK(beaconsweep::CanonicalBluetoothUuid(full, &again));
  FUZZ_CHECK(again == canonical);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzz::SplitAtNul(data, size);
  const beaconsweep::ScanOptions options = beaconsweep::ParseScanArguments(args);

  std::optional<std::string> service;
  int64_t timeout = beaconsweep::kDefaultTimeoutMilliseconds;
  std::vector<std::string> prefixes;
  bool verbose = false;
  for (size_t i = 0; i < args.size();) {
    if (args[i] == "--verbose") {
      verbose = true;
      ++i;
      continue;
    }
    if (i + 1 == args.size()) break;
    if (args[i] == "--service") {
      service = args[i + 1];
    } else if (args[i] == "--timeout-ms") {
      if (const auto value = ReadInteger(args[i + 1])) timeout = *value;
    } else if (args[i] == "--name-prefix") {
      prefixes.push_back(args[i + 1]);
    } else {
      ++i;
      continue;
    }
    i += 2;
  }
  FUZZ_CHECK(options.service_text == service);
  FUZZ_CHECK(options.timeout_milliseconds == (timeout < 1 ? 1 : timeout));
  FUZZ_CHECK(options.name_prefixes == prefixes);
  FUZZ_CHECK(options.verbose == verbose);

  for (const std::string& arg : args) {
    FUZZ_CHECK(beaconsweep::ParseDecimalInteger(arg) == ReadInteger(arg));
    CheckUuid(arg);
  }
  return 0;
}
