#include "addons/hotkeys/log.h"

#include <chrono>
#include <cstdio>

namespace chordwatch {

void Log(const std::string& message) {
  std::fprintf(stderr, "[Chordwatch C++] %s\n", message.c_str());
  std::fflush(stderr);
}

double SystemClockSeconds() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(since_epoch);
  return static_cast<double>(micros.count()) / 1e6;
}

}  // namespace chordwatch
