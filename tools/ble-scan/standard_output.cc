#include "tools/ble-scan/standard_output.h"

#include <unistd.h>

#include <cerrno>

namespace beaconsweep {

void WriteAllToStandardOutput(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace beaconsweep
