// ReadPcmMono over arbitrary files in both formats (and a wrong format name).
// Accepted files must turn back into exactly their own bytes: s16le samples
// times 32768 are the original integers, f32le samples keep their bits.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void CheckFormat(const fuzz::MemFile& file, const uint8_t* data, size_t size,
                 const std::string& format) {
  std::vector<float> samples;
  std::string error;
  const bool ok = dictacore::ReadPcmMono(file.path(), format, &samples, &error);
  if (size == 0) {
    FUZZ_CHECK(!ok && error == "PCM file is empty: " + file.path());
    return;
  }
  if (format != "s16le" && format != "f32le") {
    FUZZ_CHECK(!ok && error == "Unsupported PCM format: " + format);
    return;
  }
  const size_t width = format == "s16le" ? 2 : 4;
  if (size % width != 0) {
    FUZZ_CHECK(!ok && error == "PCM " + format + " byte length must be aligned to " +
                                   std::to_string(width) + " bytes");
    return;
  }
  FUZZ_CHECK(ok && error.empty());
  FUZZ_CHECK(samples.size() == size / width);
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t* bytes = data + i * width;
    if (width == 2) {
      const double scaled = static_cast<double>(samples[i]) * 32768.0;
      FUZZ_CHECK(scaled >= -32768.0 && scaled <= 32767.0 && std::floor(scaled) == scaled);
      const auto value = static_cast<uint16_t>(static_cast<int16_t>(scaled));
      FUZZ_CHECK(bytes[0] == (value & 0xFF) && bytes[1] == (value >> 8));
    } else {
      uint8_t bits[4];
      std::memcpy(bits, &samples[i], 4);  // little-endian host
      FUZZ_CHECK(std::memcmp(bits, bytes, 4) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemFile file;
  file.Set(data, size);
  CheckFormat(file, data, size, "s16le");
  CheckFormat(file, data, size, "f32le");
  CheckFormat(file, data, size, "S16LE");
  return 0;
}
