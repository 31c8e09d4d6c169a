#include "engine/diarization/diarization_backend.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "engine/common/strings.h"
#include "engine/common/error.h"

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

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::chrono::milliseconds HelperTimeLimits::Request(double seconds) const {
  const double extra_ms = seconds > 0.0 ? seconds * request_per_audio_second * 1000.0 : 0.0;
  // Capped at about eleven days, far beyond any recording, so that the sum
  // cannot overflow.
  constexpr double kCapMs = 1e9;
  return request_base +
         std::chrono::milliseconds(static_cast<int64_t>(extra_ms < kCapMs ? extra_ms : kCapMs));
}

std::string SpeakerLabel(int number) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "SPEAKER_%02d", number);
  return buffer;
}

std::string ResolveModelFile(const std::string& dir, const std::string& name,
                             const std::string& key) {
  if (dir.empty()) return std::string();
  const std::string direct = JoinPath(dir, name);
  if (IsRegularFile(direct)) return direct;

  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return std::string();
  const std::string lower_key = AsciiLower(key);
  static constexpr char kSuffix[] = ".onnx";
  constexpr size_t kSuffixLen = sizeof(kSuffix) - 1;
  std::string found;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string file_name = entry->d_name;
    if (file_name.size() < kSuffixLen ||
        file_name.compare(file_name.size() - kSuffixLen, kSuffixLen, kSuffix) != 0) {
      continue;
    }
    if (AsciiLower(file_name).find(lower_key) == std::string::npos) continue;
    const std::string candidate = JoinPath(dir, file_name);
    if (!IsRegularFile(candidate)) continue;
    found = candidate;
    break;
  }
  ::closedir(listing);
  return found;
}

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
