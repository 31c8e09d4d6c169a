#include "tools/ble-scan/loop_platform.h"

#include <cstdlib>
#include <utility>

#include "tools/ble-scan/standard_output.h"

namespace beaconsweep {

void LoopPlatform::RunAfter(int64_t delay_ms, std::function<void()> callback) {
  loop_.Post(delay_ms, std::move(callback));
}

int LoopPlatform::RunMainLoop() {
  loop_.Run();
  return exit_status_;
}

void LoopPlatform::WriteStandardOutput(const std::string& bytes) {
  WriteAllToStandardOutput(bytes);
}

void LoopPlatform::Terminate(int status) { std::exit(status); }

}  // namespace beaconsweep
