// dictacore with short time limits for the diarization helper, so that the
// tests of a helper that stops answering wait seconds instead of minutes.
// Everything else is the program itself.
#include "engine/cli/run.h"

int main(int argc, char** argv) {
  dictacore::HelperTimeLimits limits;
  limits.ready = std::chrono::milliseconds(3000);
  limits.request_base = std::chrono::milliseconds(2000);
  limits.request_per_audio_second = 0.1;
  return dictacore::Main(argc, argv, limits);
}
