// The engine's main mode: create the backends, announce readiness, then
// transcribe a file or run a live session.
#ifndef DICTACORE_ENGINE_CLI_RUN_H_
#define DICTACORE_ENGINE_CLI_RUN_H_

#include "engine/cli/options.h"
#include "engine/diarization/diarization_backend.h"

namespace dictacore {

// Returns the process exit status: 0 on success, 1 on failure.
// `helper_limits` bounds the diarization helper process; the program always
// runs with the defaults, test builds with shorter ones.
int Run(const Options& options, const HelperTimeLimits& helper_limits = HelperTimeLimits());

// Parses the command line and runs the selected action; the whole of main().
int Main(int argc, char** argv, const HelperTimeLimits& helper_limits = HelperTimeLimits());

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_RUN_H_
