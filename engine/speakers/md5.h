// MD5 message digest (RFC 1321), used to fingerprint voiceprint sample files.
#ifndef DICTACORE_ENGINE_SPEAKERS_MD5_H_
#define DICTACORE_ENGINE_SPEAKERS_MD5_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dictacore {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // The digest as 32 lowercase hex digits. Call once, after the last Update.
  std::string FinishHex();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 4> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t total_bytes_ = 0;
};

// Digest of a byte string as 32 lowercase hex digits.
std::string Md5Hex(const std::string& bytes);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_MD5_H_
