// ReadWavMono over arbitrary files. Every outcome is either one of the
// reader's own messages or samples that survive a write through the engine's
// WAV writer and a second read bit for bit.
#include <set>
#include <string>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "engine/diarization/fluidaudio_subprocess_backend.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr int kRate = 16000;

bool IsReaderMessage(const std::string& error) {
  static const std::set<std::string> kMessages = {
      "Invalid WAV header",
      "Not a RIFF/WAVE file",
      "Invalid WAV fmt chunk",
      "Invalid WAV data chunk",
      "WAV must be mono",
      "WAV sample rate must be " + std::to_string(kRate),
      "WAV has no data",
      "Unsupported WAV format. Expect mono 16-bit PCM or mono 32-bit float",
  };
  return kMessages.count(error) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemFile input;
  static fuzz::MemFile rewritten;
  input.Set(data, size);

  std::vector<float> samples;
  std::string error;
  FUZZ_CHECK(!dictacore::ReadWavMono(input.path(), kRate, nullptr, &error));
  FUZZ_CHECK(!dictacore::ReadWavMono(input.path(), kRate, &samples, nullptr));
  FUZZ_CHECK(error.empty());

  if (!dictacore::ReadWavMono(input.path(), kRate, &samples, &error)) {
    FUZZ_CHECK(IsReaderMessage(error));
    return 0;
  }
  FUZZ_CHECK(error.empty());
  // A data chunk shorter than one sample is data all the same: the file loads
  // with no samples. Every sample comes from at least two bytes of the data chunk, which sits
  // behind a 12-byte RIFF header and its own 8-byte chunk header.
  FUZZ_CHECK(samples.size() * 2 + 20 <= size);

  if (samples.empty()) return 0;  // the writer's file would hold no data

  std::string write_error;
  FUZZ_CHECK(dictacore::WriteWavFloat32(rewritten.path(), samples, kRate, &write_error));
  std::vector<float> reread;
  FUZZ_CHECK(dictacore::ReadWavMono(rewritten.path(), kRate, &reread, &error));
  FUZZ_CHECK(reread.size() == samples.size());
  for (size_t i = 0; i < samples.size(); ++i) FUZZ_CHECK(fuzz::SameBits(reread[i], samples[i]));
  return 0;
}
