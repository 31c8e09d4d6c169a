// Test support: runs a built program as a real process, standard input on
// /dev/null, and collects both output streams, its exit status and when it
// ended, counted from the moment it was started.
#ifndef BEACONSWEEP_RUN_PROGRAM_H_
#define BEACONSWEEP_RUN_PROGRAM_H_

#include <cstdint>
#include <string>
#include <vector>

namespace beaconsweep {

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;  // -1 unless the process exited normally
  int64_t elapsed_ms = 0;
  int64_t first_output_ms = -1;  // when the first stdout byte arrived
};

// Runs `program` with `args` in this process's environment, where each
// "NAME=value" of `environment` replaces NAME. A program still running after
// 15 s is killed and the test fails.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {});

}  // namespace beaconsweep

#endif  // BEACONSWEEP_RUN_PROGRAM_H_
