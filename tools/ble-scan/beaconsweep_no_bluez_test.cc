// The shipped beaconsweep on Linux as a process, given a system bus that does
// not exist, so that the Bluetooth of the machine running the tests never
// enters the results: it behaves as with Bluetooth unavailable. Built on
// Linux only; elsewhere the shipped program meets the machine's real
// Bluetooth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ble-scan/run_program.h"

namespace beaconsweep {
namespace {

TEST(ShippedProgramTest, BehavesAsWithBluetoothUnavailable) {
  const ProcessResult run = RunProgram(
      BEACONSWEEP_PROGRAM, {"--service", "180D", "--timeout-ms", "400", "--name-prefix", "Polar"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_GE(run.elapsed_ms, 400);
  EXPECT_LT(run.elapsed_ms, 1500);
}

TEST(ShippedProgramTest, TimeoutThatIsNotAnIntegerKeepsTwoSeconds) {
  const ProcessResult run =
      RunProgram(BEACONSWEEP_PROGRAM, {"--timeout-ms", "abc", "--service", "180D", "--timeout-ms"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_GE(run.elapsed_ms, 2000);
  EXPECT_LT(run.elapsed_ms, 3500);
}

}  // namespace
}  // namespace beaconsweep
