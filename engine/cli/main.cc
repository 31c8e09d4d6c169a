// Process entry of dictacore: parse the command line, then run the selected
// action. Exit status 0 on success, 1 on failure.
#include <string>

#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"

int main(int argc, char** argv) {
  dictacore::Options options;
  std::string error;
  if (!dictacore::ParseArgs(argc, argv, &options, &error)) {
    if (error == "help") {
      dictacore::PrintUsage();
      return 0;
    }
    dictacore::EventEmitter emitter;
    emitter.EmitError(error);
    dictacore::PrintUsage();
    return 1;
  }
  return 0;
}
