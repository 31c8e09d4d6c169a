// One-shot commands on the speaker enrollment database. Each prints exactly
// one result object or one error event and returns the exit status.
#ifndef DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_
#define DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "engine/cli/options.h"
#include "engine/diarization/diarization_backend.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {

int RunRegister(const Options& options);
int RunListSpeakers(const Options& options);
int RunMigrateSpeakers(const Options& options);
int RunRenameSpeaker(const Options& options);
int RunUnregister(const Options& options);
int RunIdentifyOnly(const Options& options);

// The directory holding a copy of every registered sample:
// --speaker-samples-dir, or "samples" beside the database file.
std::string SamplesDirectory(const Options& options);

// The identifier settings of the command line: embedding model, database,
// threads (at least 1), provider and threshold.
SpeakerIdentifierOptions IdentifierOptionsFor(const Options& options);

// Longest segment list line read; longer lines are skipped unread.
constexpr size_t kMaxSegmentLineBytes = 64 * 1024;

// Segment list lines "start<TAB>end<TAB>label"; lines that do not hold two
// numbers, a start before the end and a non-empty label are skipped, and so
// are lines longer than kMaxSegmentLineBytes.
std::vector<DiarizationSegment> ParseSegmentList(std::istream& in);

// Holds every segment's times to 0 .. `duration_seconds`, so that huge,
// negative or infinite times from outside cannot index past the recording.
void ClipSegmentsToRecording(double duration_seconds, std::vector<DiarizationSegment>* segments);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_SPEAKER_COMMANDS_H_
