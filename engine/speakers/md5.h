// MD5 message digest (RFC 1321), used to fingerprint voiceprint sample files.
// The digest itself is libmd's (the BSD message-digest functions).
#ifndef DICTACORE_ENGINE_SPEAKERS_MD5_H_
#define DICTACORE_ENGINE_SPEAKERS_MD5_H_

#include <md5.h>

#include <cstddef>
#include <string>

namespace dictacore {

class Md5 {
 public:
  Md5() { MD5Init(&context_); }
  void Update(const void* data, size_t size);
  // The digest as 32 lowercase hex digits. Call once, after the last Update.
  std::string FinishHex();

 private:
  MD5_CTX context_;
};

// Digest of a byte string as 32 lowercase hex digits.
std::string Md5Hex(const std::string& bytes);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_MD5_H_
