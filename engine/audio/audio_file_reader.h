// Whole audio files into memory as mono float samples. No resampling, mixing
// or format conversion beyond 16-bit PCM and 32-bit float.
#ifndef DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_
#define DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_

#include <string>
#include <vector>

namespace dictacore {

// A RIFF/WAVE file holding mono 16-bit PCM or 32-bit float at
// `expected_sample_rate`. Returns false without touching anything when either
// pointer is null.
bool ReadWavMono(const std::string& path, int expected_sample_rate, std::vector<float>* samples,
                 std::string* error);

// Headerless PCM in `format` ("s16le" or "f32le"), taken to be 16 kHz mono.
bool ReadPcmMono(const std::string& path, const std::string& format, std::vector<float>* samples,
                 std::string* error);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_
