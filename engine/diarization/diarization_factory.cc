#include "engine/diarization/diarization_factory.h"

#include "engine/common/error.h"
#include "engine/diarization/fluidaudio_subprocess_backend.h"
#include "engine/diarization/sherpa_onnx_diarization.h"

namespace dictacore {
namespace {

constexpr char kNothingSelected[] =
    "no diarization backend selected: pass either --diarization-helper-binary (fluidaudio) or "
    "--diarization-segmentation-model + --diarization-embedding-model (sherpa-onnx)";
constexpr char kFluidAudioMissing[] =
    "fluidaudio backend was requested via --diarization-helper-binary but is not compiled into "
    "this binary";
constexpr char kSherpaOnnxMissing[] =
    "sherpa-onnx backend was requested via --diarization-segmentation-model / "
    "--diarization-embedding-model but is not compiled into this binary";

}  // namespace

std::unique_ptr<DiarizationBackend> CreateDiarizationBackend(const DiarizationInitOptions& options,
                                                             std::string* error) {
  std::string name;
  std::unique_ptr<DiarizationBackend> backend;
  if (!options.helper_binary.empty()) {
    name = "fluidaudio";
    backend = MakeFluidAudioDiarizationBackend();
    if (!backend) {
      Fail(error, kFluidAudioMissing);
      return nullptr;
    }
  } else if (!options.segmentation_model.empty() || !options.embedding_model.empty()) {
    name = "sherpa-onnx";
    backend = MakeSherpaOnnxDiarizationBackend();
    if (!backend) {
      Fail(error, kSherpaOnnxMissing);
      return nullptr;
    }
  } else {
    Fail(error, kNothingSelected);
    return nullptr;
  }

  std::string init_error;
  if (!backend->Init(options, &init_error)) {
    Fail(error, name + " backend init failed: " + init_error);
    return nullptr;
  }
  return backend;
}

}  // namespace dictacore
