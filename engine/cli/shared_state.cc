#include "engine/cli/shared_state.h"

#include <algorithm>
#include <cmath>

#include "engine/cli/options.h"

namespace dictacore {

uint32_t SinglePartialStepSamples(double seconds, int sample_rate) {
  if (!std::isfinite(seconds) || seconds <= 0.0) seconds = 0.5;
  seconds = std::max(seconds, 0.2);
  const double rate = SampleRateOrDefault(sample_rate);
  const double step = std::round(rate * seconds);
  if (step >= 4294967295.0) return 4294967295u;
  if (step < 1.0) return 1;
  return static_cast<uint32_t>(step);
}

}  // namespace dictacore
