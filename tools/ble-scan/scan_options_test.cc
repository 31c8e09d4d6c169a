#include "tools/ble-scan/scan_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace beaconsweep {
namespace {

using Args = std::vector<std::string>;

TEST(ParseScanArgumentsTest, DefaultsWithoutArguments) {
  const ScanOptions options = ParseScanArguments({});
  EXPECT_FALSE(options.service_text.has_value());
  EXPECT_EQ(options.timeout_milliseconds, 2000);
  EXPECT_TRUE(options.name_prefixes.empty());
  EXPECT_FALSE(options.verbose);
}

TEST(ParseScanArgumentsTest, ReadsEveryOptionPair) {
  const ScanOptions options = ParseScanArguments(
      {"--name-prefix", "Polar", "--service", "180D", "--timeout-ms", "750", "--name-prefix", ""});
  EXPECT_EQ(options.service_text, "180D");
  EXPECT_EQ(options.timeout_milliseconds, 750);
  EXPECT_EQ(options.name_prefixes, (Args{"Polar", ""}));
}

TEST(ParseScanArgumentsTest, LastServiceWinsAndPrefixesAccumulateInOrder) {
  const ScanOptions options = ParseScanArguments({"--service", "180D", "--name-prefix", "B",
                                                  "--service", "FEAA", "--name-prefix", "A"});
  EXPECT_EQ(options.service_text, "FEAA");
  EXPECT_EQ(options.name_prefixes, (Args{"B", "A"}));
}

TEST(ParseScanArgumentsTest, LastArgumentIsNeverConsumed) {
  EXPECT_EQ(ParseScanArguments({"--service", "180D", "--service"}).service_text, "180D");
  EXPECT_FALSE(ParseScanArguments({"--service"}).service_text.has_value());
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "300", "--timeout-ms"}).timeout_milliseconds, 300);
  EXPECT_TRUE(ParseScanArguments({"--name-prefix"}).name_prefixes.empty());
  EXPECT_EQ(ParseScanArguments({"--service", "180D", "stray"}).service_text, "180D");
}

TEST(ParseScanArgumentsTest, ValueIsTakenEvenWhenItLooksLikeAFlag) {
  // "--timeout-ms" is the service text here, so "5" is a lone last word.
  const ScanOptions options = ParseScanArguments({"--service", "--timeout-ms", "5"});
  EXPECT_EQ(options.service_text, "--timeout-ms");
  EXPECT_EQ(options.timeout_milliseconds, 2000);
}

TEST(ParseScanArgumentsTest, UnknownArgumentsAreSkippedOneAtATime) {
  const ScanOptions options =
      ParseScanArguments({"--verbose", "--service", "180D", "x", "--timeout-ms", "40", "-h"});
  EXPECT_EQ(options.service_text, "180D");
  EXPECT_EQ(options.timeout_milliseconds, 40);
  // Skipping by one re-aligns on the next flag; skipping by two would eat it.
  EXPECT_EQ(ParseScanArguments({"--name", "--service", "180D"}).service_text, "180D");
}

TEST(ParseScanArgumentsTest, VerboseTakesNoValueAndCountsAnywhereAFlagIsRead) {
  for (const Args& args :
       std::vector<Args>{{"--verbose", "--service", "180D", "--timeout-ms", "40"},
                         {"--service", "180D", "--verbose", "--timeout-ms", "40"},
                         {"--service", "180D", "--timeout-ms", "40", "--verbose"}}) {
    const ScanOptions options = ParseScanArguments(args);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.service_text, "180D");
    EXPECT_EQ(options.timeout_milliseconds, 40);
  }
  // As the value of another option it is that value.
  const ScanOptions options = ParseScanArguments({"--name-prefix", "--verbose", "--service", "1"});
  EXPECT_FALSE(options.verbose);
  EXPECT_EQ(options.name_prefixes, (Args{"--verbose"}));
  EXPECT_EQ(options.service_text, "1");
}

TEST(ParseScanArgumentsTest, TimeoutIsRaisedToOneMillisecond) {
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "0"}).timeout_milliseconds, 1);
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "-250"}).timeout_milliseconds, 1);
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "-9223372036854775808"}).timeout_milliseconds, 1);
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "1"}).timeout_milliseconds, 1);
}

TEST(ParseScanArgumentsTest, InvalidTimeoutKeepsThePreviousValue) {
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "abc"}).timeout_milliseconds, 2000);
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "300", "--timeout-ms", "abc"}).timeout_milliseconds,
            300);
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "1.5", "--timeout-ms", "40", "--timeout-ms", ""})
                .timeout_milliseconds,
            40);
  // An invalid value that would clamp to 1 must not clamp: it is ignored.
  EXPECT_EQ(ParseScanArguments({"--timeout-ms", "-x"}).timeout_milliseconds, 2000);
}

TEST(ParseDecimalIntegerTest, AcceptsSignedDecimalIntegersInRange) {
  EXPECT_EQ(ParseDecimalInteger("0"), 0);
  EXPECT_EQ(ParseDecimalInteger("007"), 7);
  EXPECT_EQ(ParseDecimalInteger("+5"), 5);
  EXPECT_EQ(ParseDecimalInteger("-0"), 0);
  EXPECT_EQ(ParseDecimalInteger("-42"), -42);
  EXPECT_EQ(ParseDecimalInteger("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseDecimalInteger("-9223372036854775808"), INT64_MIN);
}

TEST(ParseDecimalIntegerTest, RejectsEverythingElse) {
  for (const char* text : {"", "+", "-", "abc", "12abc", "1.5", " 5", "5 ", "0x10", "1e3", "--5",
                           "+-5", "9223372036854775808", "-9223372036854775809",
                           "99999999999999999999", "\xD9\xA3" /* ARABIC-INDIC DIGIT THREE */}) {
    EXPECT_EQ(ParseDecimalInteger(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(CanonicalBluetoothUuidTest, AcceptsTheThreeFormsInEitherCase) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"180d", "180D"},
      {"FEAA", "FEAA"},
      {"1234abcd", "1234ABCD"},
      {"0000180D", "180D"},
      {"68753a44-4d6f-1226-9c60-0050e4c00067", "68753A44-4D6F-1226-9C60-0050E4C00067"},
      {"0000180d-0000-1000-8000-00805f9b34fb", "180D"},
      {"1234ABCD-0000-1000-8000-00805F9B34FB", "1234ABCD"},
      // Same tail as the base UUID but a different middle: stays long.
      {"0000180D-0000-1000-8000-00805F9B34FC", "0000180D-0000-1000-8000-00805F9B34FC"},
  };
  for (const auto& [text, expected] : cases) {
    std::string canonical;
    ASSERT_TRUE(CanonicalBluetoothUuid(text, &canonical)) << text;
    EXPECT_EQ(canonical, expected) << text;
  }
}

TEST(CanonicalBluetoothUuidTest, RejectsOtherShapes) {
  for (const char* text :
       {"", "180", "180D0", "18 0D", " 180D", "180D ", "0x180D", "180G", "1234ABC", "1234ABCDE",
        "68753A444D6F12269C600050E4C00067", "{68753A44-4D6F-1226-9C60-0050E4C00067}",
        "68753A44-4D6F-1226-9C60-0050E4C0006", "68753A44-4D6F-1226-9C600-050E4C00067",
        "68753A44_4D6F_1226_9C60_0050E4C00067", "68753A44-4D6F-1226-9C60-0050E4C0006G"}) {
    std::string canonical = "untouched";
    EXPECT_FALSE(CanonicalBluetoothUuid(text, &canonical)) << text;
    EXPECT_EQ(canonical, "untouched");
  }
}

TEST(FullBluetoothUuidTest, PlacesShortFormsInTheBaseUuidInLowerCase) {
  EXPECT_EQ(FullBluetoothUuid("180D"), "0000180d-0000-1000-8000-00805f9b34fb");
  EXPECT_EQ(FullBluetoothUuid("1234abcd"), "1234abcd-0000-1000-8000-00805f9b34fb");
  EXPECT_EQ(FullBluetoothUuid("0000180D-0000-1000-8000-00805F9B34FB"),
            "0000180d-0000-1000-8000-00805f9b34fb");
  EXPECT_EQ(FullBluetoothUuid("68753A44-4D6F-1226-9C60-0050E4C00067"),
            "68753a44-4d6f-1226-9c60-0050e4c00067");
  EXPECT_EQ(FullBluetoothUuid("0x180D"), "");
}

}  // namespace
}  // namespace beaconsweep
