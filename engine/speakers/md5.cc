#include "engine/speakers/md5.h"

#include <cstdint>

namespace dictacore {

void Md5::Update(const void* data, size_t size) {
  MD5Update(&context_, static_cast<const uint8_t*>(data), size);
}

std::string Md5::FinishHex() {
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &context_);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * MD5_DIGEST_LENGTH);
  for (const uint8_t byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0x0F]);
  }
  return hex;
}

std::string Md5Hex(const std::string& bytes) {
  Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.FinishHex();
}

}  // namespace dictacore
