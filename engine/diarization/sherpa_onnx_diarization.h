// In-process diarization through the toolkit: pyannote-style segmentation,
// a speaker-embedding model and fast clustering.
#ifndef DICTACORE_ENGINE_DIARIZATION_SHERPA_ONNX_DIARIZATION_H_
#define DICTACORE_ENGINE_DIARIZATION_SHERPA_ONNX_DIARIZATION_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/backends/sherpa_onnx_c_api.h"
#include "engine/diarization/diarization_backend.h"

namespace dictacore {

class SherpaOnnxDiarizationBackend : public DiarizationBackend {
 public:
  SherpaOnnxDiarizationBackend();
  ~SherpaOnnxDiarizationBackend() override;
  SherpaOnnxDiarizationBackend(const SherpaOnnxDiarizationBackend&) = delete;
  SherpaOnnxDiarizationBackend& operator=(const SherpaOnnxDiarizationBackend&) = delete;

  bool Init(const DiarizationInitOptions& options, std::string* error) override;
  bool IsReady() const override;
  bool Process(const std::vector<float>& samples, int sample_rate,
               std::vector<DiarizationSegment>* out, std::string* error) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A new, uninitialised backend of this kind.
std::unique_ptr<DiarizationBackend> MakeSherpaOnnxDiarizationBackend();

// The segmentation and embedding model files the options name, explicitly or
// through `model_dir`. False with the reason when one cannot be found; explicit
// paths are returned as given, without checking that they exist.
bool ResolveDiarizationModelFiles(const DiarizationInitOptions& options, std::string* segmentation,
                                  std::string* embedding, std::string* error);

// The toolkit configuration for the resolved files. The strings are borrowed:
// `config` points into them and into `options`.
SherpaOnnxOfflineSpeakerDiarizationConfig MakeDiarizationConfig(
    const DiarizationInitOptions& options, const std::string& segmentation,
    const std::string& embedding);

// Toolkit segments (already in start order) as turns: speaker indexes are
// renumbered 0, 1, ... in order of first appearance, and turns that do not
// end after they start are dropped (their speaker is still numbered).
std::vector<DiarizationSegment> CompactToolkitSegments(
    const SherpaOnnxOfflineSpeakerDiarizationSegment* segments, int count);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_SHERPA_ONNX_DIARIZATION_H_
