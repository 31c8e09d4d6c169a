#include "tools/ble-scan/scan_options.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace beaconsweep {

ScanOptions ParseScanArguments(const std::vector<std::string>& args) {
  ScanOptions options;
  size_t i = 0;
  while (i < args.size()) {
    const std::string& flag = args[i];
    // Takes no value: stepped over by one, like an unknown argument, so the
    // rest of the parse is the same with or without it; as the last
    // argument it still counts.
    if (flag == "--verbose") {
      options.verbose = true;
      ++i;
      continue;
    }
    // The last argument is never read as a flag that takes a value.
    if (i + 1 == args.size()) break;
    const std::string& value = args[i + 1];
    if (flag == "--service") {
      options.service_text = value;
    } else if (flag == "--timeout-ms") {
      if (std::optional<int64_t> parsed = ParseDecimalInteger(value)) {
        options.timeout_milliseconds = *parsed;
      }
    } else if (flag == "--name-prefix") {
      options.name_prefixes.push_back(value);
    } else {
      ++i;
      continue;
    }
    i += 2;
  }
  options.timeout_milliseconds = std::max<int64_t>(1, options.timeout_milliseconds);
  return options;
}

std::optional<int64_t> ParseDecimalInteger(const std::string& text) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size()) return std::nullopt;
  // Accumulate towards the negative side, whose range is one larger.
  const int64_t min = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value < (min + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == min) return std::nullopt;
  return -value;
}

namespace {

constexpr char kBaseSuffix[] = "-0000-1000-8000-00805F9B34FB";

bool IsHexRun(const std::string& text, size_t begin, size_t count) {
  if (begin + count > text.size()) return false;
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(begin),
                     text.begin() + static_cast<std::ptrdiff_t>(begin + count),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A 32-bit form whose upper half is zero names the same UUID as its lower half.
std::string Shorten32(const std::string& hex8) {
  return hex8.compare(0, 4, "0000") == 0 ? hex8.substr(4) : hex8;
}

}  // namespace

bool CanonicalBluetoothUuid(const std::string& text, std::string* canonical) {
  std::string result;
  if (text.size() == 4 && IsHexRun(text, 0, 4)) {
    result = Upper(text);
  } else if (text.size() == 8 && IsHexRun(text, 0, 8)) {
    result = Shorten32(Upper(text));
  } else if (text.size() == 36 && IsHexRun(text, 0, 8) && text[8] == '-' &&
             IsHexRun(text, 9, 4) && text[13] == '-' && IsHexRun(text, 14, 4) &&
             text[18] == '-' && IsHexRun(text, 19, 4) && text[23] == '-' &&
             IsHexRun(text, 24, 12)) {
    result = Upper(text);
    if (result.compare(8, std::string::npos, kBaseSuffix) == 0) {
      result = Shorten32(result.substr(0, 8));
    }
  } else {
    return false;
  }
  if (canonical != nullptr) *canonical = result;
  return true;
}

std::string FullBluetoothUuid(const std::string& text) {
  std::string full;
  if (!CanonicalBluetoothUuid(text, &full)) return std::string();
  if (full.size() == 4) full.insert(0, "0000");
  if (full.size() == 8) full += kBaseSuffix;
  for (char& c : full) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return full;
}

}  // namespace beaconsweep
