// Voice activity detection with the Silero VAD: audio in, speech segments out.
#ifndef DICTACORE_ENGINE_BACKENDS_VAD_BACKEND_H_
#define DICTACORE_ENGINE_BACKENDS_VAD_BACKEND_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dictacore {

struct VadInitOptions {
  int32_t sample_rate = 16000;
  int32_t num_threads = 1;
  std::string provider = "cpu";
  std::string model;
  float threshold = 0.5f;
  float min_silence_duration = 0.5f;  // seconds of silence that end a segment
  float min_speech_duration = 0.25f;  // shortest segment kept
  float max_speech_duration = 8.0f;   // longest segment before it is cut
  int32_t window_size = 512;
  float buffer_size_in_seconds = 120.0f;
};

// The settings of a detector from explicit values (durations in seconds);
// everything else keeps the record's defaults. The live loop and the offline
// decode both fill theirs here, with values of their own.
VadInitOptions MakeVadInitOptions(int32_t sample_rate, const std::string& provider,
                                  const std::string& model, double threshold,
                                  double min_silence_duration, double min_speech_duration,
                                  double max_speech_duration);

struct VadSegment {
  int32_t start = 0;  // index of the first sample within the audio fed in
  std::vector<float> samples;
};

// The largest piece of audio the detector is given in one call: 100 ms. The
// toolkit joins the speech decisions of all windows of one call and counts a
// segment's start from the end of the call, so longer pieces shift or merge
// segments.
size_t VadPieceSamples(int32_t sample_rate);

// Used by one thread at a time.
class VadBackend {
 public:
  VadBackend();
  ~VadBackend();
  VadBackend(const VadBackend&) = delete;
  VadBackend& operator=(const VadBackend&) = delete;

  bool Init(const VadInitOptions& options, std::string* error);
  bool IsReady() const;
  bool AcceptWaveform(const std::vector<float>& samples, std::string* error);
  // Closes a segment still open at the end of the audio so it can be popped.
  bool Flush(std::string* error);
  bool Reset(std::string* error);
  // Takes the oldest finished segment. False with the error untouched when
  // there is none.
  bool PopSegment(VadSegment* out, std::string* error);
  // True while the detector currently hears speech.
  bool Detected() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_VAD_BACKEND_H_
