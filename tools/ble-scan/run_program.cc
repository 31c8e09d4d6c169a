#include "tools/ble-scan/run_program.h"

#include <gtest/gtest.h>

#include <chrono>

namespace beaconsweep {
namespace {

constexpr std::chrono::milliseconds kKillAfter{15000};  // a hung child must not hang the suite

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& script_path) {
  dictacore::testing::Subprocess::Config config;
  config.argv = {program};
  config.argv.insert(config.argv.end(), args.begin(), args.end());
  config.env = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + ::testing::TempDir() +
                "beaconsweep-no-system-bus"};
  if (!script_path.empty()) config.env.push_back("BEACONSWEEP_REPLAY_SCRIPT=" + script_path);
  const ProcessResult result = dictacore::testing::RunProcess(config, "", kKillAfter);
  if (result.timed_out) ADD_FAILURE() << program << " did not end";
  return result;
}

}  // namespace beaconsweep
