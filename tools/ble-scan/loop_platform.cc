#include "tools/ble-scan/loop_platform.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace beaconsweep {

void LoopPlatform::RunAfter(int64_t delay_ms, std::function<void()> callback) {
  loop_.Post(delay_ms, std::move(callback));
}

int LoopPlatform::RunMainLoop() {
  loop_.Run();
  return exit_status_;
}

void LoopPlatform::WriteStandardOutput(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody is reading any more; nothing to report to
    done += static_cast<size_t>(n);
  }
}

void LoopPlatform::Terminate(int status) { std::exit(status); }

}  // namespace beaconsweep
