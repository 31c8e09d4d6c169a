#include "engine/audio/pcm_convert.h"

#include <cstring>

namespace dictacore {

void S16leToFloat(const uint8_t* bytes, size_t count, std::vector<float>* out) {
  const size_t n = count / 2;
  out->resize(n);
  for (size_t i = 0; i < n; ++i) {
    const auto value = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i]) |
                                            static_cast<uint16_t>(bytes[2 * i + 1] << 8));
    (*out)[i] = static_cast<float>(value) / 32768.0f;
  }
}

void F32leToFloat(const uint8_t* bytes, size_t count, std::vector<float>* out) {
  const size_t n = count / 4;
  out->resize(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = bytes + 4 * i;
    const uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                          static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    (*out)[i] = value;
  }
}

}  // namespace dictacore
