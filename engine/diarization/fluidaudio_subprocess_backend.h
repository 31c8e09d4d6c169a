// Diarization through the resident `fluidaudio-diar` helper program: one
// helper process per backend, one temporary WAV file and one line exchange
// per Process call.
#ifndef DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_
#define DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/common/clock.h"
#include "engine/diarization/diarization_backend.h"

namespace dictacore {

class FluidAudioSubprocessBackend : public DiarizationBackend {
 public:
  FluidAudioSubprocessBackend();
  // Shuts the helper down (closes its pipes, then escalates to SIGTERM and
  // SIGKILL when it does not exit by itself).
  ~FluidAudioSubprocessBackend() override;
  FluidAudioSubprocessBackend(const FluidAudioSubprocessBackend&) = delete;
  FluidAudioSubprocessBackend& operator=(const FluidAudioSubprocessBackend&) = delete;

  // Fails when the helper sends no READY within `options.helper_limits.ready`
  // ("diarization helper sent no READY within <s> s; ended it").
  bool Init(const DiarizationInitOptions& options, std::string* error) override;
  // True while requests can be made: the helper is running, or was ended for
  // overrunning a request and will be started again by the next one.
  bool IsReady() const override;
  // An answer with more turns than MaxHelperTurns allows, or more than
  // kMaxHelperSpeakers labels, fails like a broken exchange ("diarization
  // helper answer too large"): the helper's output must not take unbounded
  // memory. An answer not finished within `helper_limits.Request(seconds of
  // audio)` fails too ("diarization helper did not answer within <s> s; ...");
  // the helper is then shut down, and the next request starts a new one
  // (once: when that fails, the backend is no longer ready).
  bool Process(const std::vector<float>& samples, int sample_rate,
               std::vector<DiarizationSegment>* out, std::string* error) override;

  // Process id of the running helper, -1 when there is none.
  int HelperPid() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A new, uninitialised backend of this kind.
std::unique_ptr<DiarizationBackend> MakeFluidAudioDiarizationBackend();

// Most distinct speaker labels one helper answer may use.
constexpr size_t kMaxHelperSpeakers = 1000;

// Most turns one helper answer may hold for `seconds` of audio: 1000, plus
// ten for every second (far more than any conversation changes speaker).
size_t MaxHelperTurns(double seconds);

// Reads one line from `fd`, dropping every carriage return. False at end of
// input, on a read error, or when the line grows beyond 65 536 bytes.
bool ReadLine(int fd, std::string* line);

// ReadLine with a deadline: kTimedOut when the line has not ended by then
// (what came of it is in `line`); kEnd where ReadLine gives false.
enum class LineRead { kLine, kEnd, kTimedOut };
LineRead ReadLineBefore(int fd, MonotonicClock::time_point deadline, std::string* line);

// Writes `samples` as a mono 32-bit float WAV file. Messages: "fopen failed: "
// + reason, or "wav write failed".
bool WriteWavFloat32(const std::string& path, const std::vector<float>& samples, int sample_rate,
                     std::string* error);

// The request line for one WAV file, without its line feed:
// {"input":"<path>"} with a backslash put before every backslash and quote.
std::string BuildHelperRequestLine(const std::string& wav_path);

// One response line "start<TAB>end<TAB>label". False for lines to ignore:
// fewer than two tabs, or a time that is not a finite decimal number.
bool ParseHelperSegmentLine(const std::string& line, double* start, double* end,
                            std::string* label);

// The turns of one helper response, collected line by line up to "DONE".
// Lines that are not turns and turns that do not start before they end are
// skipped; helper labels become SPEAKER_00, SPEAKER_01, ... in the order the
// helper first reports them.
class HelperResponseTurns {
 public:
  explicit HelperResponseTurns(size_t max_turns) : max_turns_(max_turns) {}
  // False once the answer holds more than max_turns turns or more than
  // kMaxHelperSpeakers labels; the line is then not taken.
  bool AddLine(const std::string& line);
  // The turns sorted by start (equal starts keep the helper's order).
  std::vector<DiarizationSegment> TakeSorted();

 private:
  size_t max_turns_;
  std::map<std::string, std::string> labels_;
  std::vector<DiarizationSegment> turns_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_
