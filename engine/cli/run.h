// The engine's main mode: create the backends, announce readiness, then
// transcribe a file or run a live session.
#ifndef DICTACORE_ENGINE_CLI_RUN_H_
#define DICTACORE_ENGINE_CLI_RUN_H_

#include "engine/cli/options.h"

namespace dictacore {

// Returns the process exit status: 0 on success, 1 on failure.
int Run(const Options& options);

// Parses the command line and runs the selected action; the whole of main().
int Main(int argc, char** argv);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_RUN_H_
