// One-shot commands on the speaker enrollment database. Each prints exactly
// one result object or one error event and returns the exit status.
#ifndef DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_
#define DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_

#include "engine/cli/options.h"

namespace dictacore {

int RunRegister(const Options& options);
int RunListSpeakers(const Options& options);
int RunMigrateSpeakers(const Options& options);
int RunRenameSpeaker(const Options& options);
int RunUnregister(const Options& options);
int RunIdentifyOnly(const Options& options);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_
