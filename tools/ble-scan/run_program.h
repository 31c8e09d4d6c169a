// Test support: runs a built beaconsweep as a real process through the tests'
// process helper, with a system bus that does not exist (so that the
// Bluetooth of the machine running the tests never enters the results on
// Linux) and, for the replay build, the script to replay.
#ifndef BEACONSWEEP_RUN_PROGRAM_H_
#define BEACONSWEEP_RUN_PROGRAM_H_

#include <string>
#include <vector>

#include "tests/support/subprocess.h"

namespace beaconsweep {

using ProcessResult = dictacore::testing::ProcessResult;

// A program still running after 15 s is killed and the test fails.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& script_path = "");

}  // namespace beaconsweep

#endif  // BEACONSWEEP_RUN_PROGRAM_H_
