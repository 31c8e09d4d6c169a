#include "engine/diarization/diarization_backend.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "engine/common/strings.h"

namespace dictacore {
namespace {

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

bool ParseTurnLine(const std::string& line, DiarizationSegment* turn) {
  const size_t first_tab = line.find('\t');
  if (first_tab == std::string::npos) return false;
  const size_t second_tab = line.find('\t', first_tab + 1);
  if (second_tab == std::string::npos) return false;
  if (!ParseLeadingDouble(line.substr(0, first_tab), &turn->start) ||
      !ParseLeadingDouble(line.substr(first_tab + 1, second_tab - first_tab - 1), &turn->end)) {
    return false;
  }
  turn->speaker = line.substr(second_tab + 1);
  return true;
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

}  // namespace dictacore
