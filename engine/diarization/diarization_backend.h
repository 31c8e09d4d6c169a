// Speaker diarization: who spoke when over a whole recording. The interface
// and what both backends share; diarization_factory.h picks a backend.
#ifndef DICTACORE_ENGINE_DIARIZATION_DIARIZATION_BACKEND_H_
#define DICTACORE_ENGINE_DIARIZATION_DIARIZATION_BACKEND_H_

#include <chrono>
#include <string>
#include <vector>

namespace dictacore {

// One speaker turn. Backends label clusters "SPEAKER_" + a zero-padded number
// of at least two digits; naming may replace the label with an enrolled name.
struct DiarizationSegment {
  double start = 0.0;  // seconds from the first sample given to Process
  double end = 0.0;
  std::string speaker;
};

// How long the diarization helper process may take (subprocess backend). A
// helper that overruns is ended; the dictation comes out without speakers.
struct HelperTimeLimits {
  // From its start to its READY line: model loading, which on a first run
  // may include compiling the models for the machine.
  std::chrono::milliseconds ready{120000};
  // One request's whole answer: this much, plus request_per_audio_second
  // for every second of audio (far slower than the helper ever runs).
  std::chrono::milliseconds request_base{30000};
  double request_per_audio_second = 2.0;

  // The limit of one request over `seconds` of audio.
  std::chrono::milliseconds Request(double seconds) const;
};

struct DiarizationInitOptions {
  std::string model_dir;
  std::string segmentation_model;
  std::string embedding_model;
  int num_threads = 1;
  std::string provider = "cpu";
  int min_speakers = 0;  // 0: unknown
  int max_speakers = 0;  // 0: unknown
  float min_duration_on = 0.3f;
  float min_duration_off = 0.5f;
  std::string helper_binary;  // helper process backend
  std::string backend = "offline";
  HelperTimeLimits helper_limits;
};

class DiarizationBackend {
 public:
  virtual ~DiarizationBackend() = default;
  virtual bool Init(const DiarizationInitOptions& options, std::string* error) = 0;
  virtual bool IsReady() const = 0;
  // Speaker turns of `samples`, ordered by start time.
  virtual bool Process(const std::vector<float>& samples, int sample_rate,
                       std::vector<DiarizationSegment>* out, std::string* error) = 0;
};

// The model file `name` in `dir`, or else the first "*.onnx" entry of `dir`
// (in listing order) whose lower-cased name contains the lower-cased `key`.
// Empty when `dir` is empty or nothing qualifies.
std::string ResolveModelFile(const std::string& dir, const std::string& name,
                             const std::string& key);

// Splits one turn line "start<TAB>end<TAB>label", as the --identify-only
// segment list and the diarization helper's answers write them: the times as
// strtod reads them (leading white space skipped, anything after the number
// ignored; infinity and NaN spellings accepted), the label everything after
// the second tab. False when a tab or a number is missing. Which turns to
// skip beyond that is each caller's own rule.
bool ParseTurnLine(const std::string& line, DiarizationSegment* turn);

// "SPEAKER_" + `number` with at least two digits, zero-padded.
std::string SpeakerLabel(int number);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_DIARIZATION_BACKEND_H_
