// The built programs run as real processes: the shipped beaconsweep, with
// arguments it refuses before it looks for Bluetooth, and its test build
// replaying a scripted central manager. Checks the bytes on both output
// streams, the exit status and when the process ends, counted from the moment
// it was started. (The shipped program's scan itself, which needs a machine
// without Bluetooth, is in beaconsweep_no_bluez_test.cc.)
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/ble-scan/run_program.h"

namespace beaconsweep {
namespace {

std::string WriteScript(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "beaconsweep_" + name + ".script";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void ExpectOneErrorLine(const ProcessResult& run) {
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_LT(run.elapsed_ms, 1500) << "should end at once, not after the 5 s scan";
}

TEST(ShippedProgramTest, MissingServiceIsOneErrorLineAndStatusTwo) {
  ExpectOneErrorLine(RunProgram(BEACONSWEEP_PROGRAM, {"--timeout-ms", "5000", "--service"}));
}

TEST(ShippedProgramTest, InvalidServiceIsOneErrorLineAndStatusTwo) {
  ExpectOneErrorLine(
      RunProgram(BEACONSWEEP_PROGRAM, {"--service", "180D\nFEAA", "--timeout-ms", "5000"}));
}

TEST(ReplayProgramTest, PrintsEachMatchingDeviceOnceAsItIsFound) {
  const std::string script = WriteScript("full", R"(# radio off, then on
0 state 4
100 state 5
150 discover AAAAAAAA-0000-4000-8000-000000000001 name=Polar\x20H10
180 discover AAAAAAAA-0000-4000-8000-000000000002 local=Polar\x09"Q"/\\\x01\x20\xC3\xA9
200 discover AAAAAAAA-0000-4000-8000-000000000001 name=Polar\x20H10
220 discover AAAAAAAA-0000-4000-8000-000000000003
250 discover AAAAAAAA-0000-4000-8000-000000000004 name=Garmin
400 discover AAAAAAAA-0000-4000-8000-000000000003 local=Caf\xC3\xA9\x20\xE2\x98\x95
1600 discover AAAAAAAA-0000-4000-8000-000000000005 name=Polar\x20Late
)");
  const ProcessResult run =
      RunProgram(BEACONSWEEP_REPLAY,
                 {"--service", "0000180d-0000-1000-8000-00805f9b34fb", "--timeout-ms", "1200",
                  "--name-prefix", "Polar", "--name-prefix", "Caf"},
                 script);
  EXPECT_EQ(
      run.out,
      "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000001\",\"name\":\"Polar H10\","
      "\"serviceUuids\":[\"180D\"]}\n"
      "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000002\",\"name\":\"Polar\\t\\\"Q\\\"\\/"
      "\\\\\\u0001 \xC3\xA9\",\"serviceUuids\":[\"180D\"]}\n"
      "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000003\",\"name\":\"Caf\xC3\xA9 \xE2\x98\x95\","
      "\"serviceUuids\":[\"180D\"]}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_GE(run.elapsed_ms, 1200);
  EXPECT_LT(run.elapsed_ms, 2200);
  // Lines are written while scanning, not held back until the end.
  EXPECT_GE(run.first_output_ms, 0);
  EXPECT_LT(run.first_output_ms, 900);
}

TEST(ReplayProgramTest, DeadlineCountsFromStartUpNotFromScanStart) {
  const std::string script = WriteScript("late_power", R"(1000 state 5
1100 discover BBBBBBBB-0000-4000-8000-000000000001 name=Early
1700 discover BBBBBBBB-0000-4000-8000-000000000002 name=Late
)");
  const ProcessResult run =
      RunProgram(BEACONSWEEP_REPLAY, {"--service", "FEAA", "--timeout-ms", "1200"}, script);
  EXPECT_EQ(run.out,
            "{\"id\":\"BBBBBBBB-0000-4000-8000-000000000001\",\"name\":\"Early\","
            "\"serviceUuids\":[\"FEAA\"]}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_GE(run.elapsed_ms, 1200);
  EXPECT_LT(run.elapsed_ms, 2000) << "a deadline counted from the scan start ends at 2200 ms";
}

TEST(ReplayProgramTest, MissingServiceEndsBeforeAnythingIsReplayed) {
  const std::string script = WriteScript("no_service", "0 state 5\n1 discover X name=Y\n");
  ExpectOneErrorLine(RunProgram(BEACONSWEEP_REPLAY, {"--timeout-ms", "5000"}, script));
}

}  // namespace
}  // namespace beaconsweep
