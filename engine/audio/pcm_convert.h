// Little-endian PCM bytes to float samples, shared by the pipe and file readers.
#ifndef DICTACORE_ENGINE_AUDIO_PCM_CONVERT_H_
#define DICTACORE_ENGINE_AUDIO_PCM_CONVERT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dictacore {

// Replaces `out` with one sample per complete signed 16-bit value, scaled by
// 1/32768; a trailing odd byte is ignored.
void S16leToFloat(const uint8_t* bytes, size_t count, std::vector<float>* out);

// Replaces `out` with one sample per complete 4-byte IEEE float, copied
// unchanged (no clamping, NaN passes through); trailing bytes are ignored.
void F32leToFloat(const uint8_t* bytes, size_t count, std::vector<float>* out);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_AUDIO_PCM_CONVERT_H_
