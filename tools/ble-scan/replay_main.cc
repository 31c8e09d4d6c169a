// Test build of beaconsweep: the real program logic over a central manager
// played from the script named by BEACONSWEEP_REPLAY_SCRIPT, in real time,
// on the real standard output. Never shipped.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/ble-scan/scanner.h"
#include "tools/ble-scan/simulated_central.h"

int main(int argc, char** argv) {
  const char* path = std::getenv("BEACONSWEEP_REPLAY_SCRIPT");
  std::ifstream file(path != nullptr ? path : "");
  if (!file) {
    std::cerr << "beaconsweep_replay: set BEACONSWEEP_REPLAY_SCRIPT to a readable script\n";
    return 3;
  }
  std::stringstream text;
  text << file.rdbuf();
  std::vector<beaconsweep::ScriptEvent> script;
  std::string error;
  if (!beaconsweep::ParseCentralScript(text.str(), &script, &error)) {
    std::cerr << "beaconsweep_replay: " << error << "\n";
    return 3;
  }
  beaconsweep::SimulatedPlatform platform(std::move(script),
                                          beaconsweep::EventLoop::Clock::kMonotonic,
                                          beaconsweep::SimulatedPlatform::Output::kProcess);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return beaconsweep::RunBeaconsweep(args, platform, std::cerr);
}
