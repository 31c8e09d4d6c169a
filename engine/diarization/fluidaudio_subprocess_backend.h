// Diarization through the resident `fluidaudio-diar` helper program: one
// helper process per backend, one temporary WAV file and one line exchange
// per Process call.
#ifndef DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_
#define DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_

#include <memory>
#include <string>
#include <vector>

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

  bool Init(const DiarizationInitOptions& options, std::string* error) override;
  bool IsReady() const override;
  bool Process(const std::vector<float>& samples, int sample_rate,
               std::vector<DiarizationSegment>* out, std::string* error) override;

  // Process id of the running helper, -1 when there is none.
  int HelperPid() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reads one line from `fd`, dropping every carriage return. False at end of
// input, on a read error, or when the line grows beyond 65 536 bytes.
bool ReadLine(int fd, std::string* line);

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

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_FLUIDAUDIO_SUBPROCESS_BACKEND_H_
