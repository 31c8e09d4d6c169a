#include "engine/audio/pcm_pipe_reader.h"

#include <unistd.h>

#include <cerrno>

#include "engine/audio/pcm_convert.h"

namespace dictacore {

PcmPipeReader::PcmPipeReader(int fd, AudioFormat format)
    : fd_(fd), format_(format), bytes_per_sample_(format == AudioFormat::F32LE ? 4 : 2) {}

void PcmPipeReader::BytesToFloat32(const uint8_t* bytes, size_t count, AudioFormat format,
                                   std::vector<float>* out) {
  if (out == nullptr) return;
  out->clear();
  if (bytes == nullptr) return;
  if (format == AudioFormat::F32LE) {
    F32leToFloat(bytes, count, out);
  } else {
    S16leToFloat(bytes, count, out);
  }
}

bool PcmPipeReader::ReadChunk(size_t chunk_samples, std::vector<float>* out, bool* eof_out) {
  if (out == nullptr || eof_out == nullptr) return false;
  size_t want = (chunk_samples == 0 ? 1 : chunk_samples) * bytes_per_sample_;

  while (!eof_ && pending_.size() < want) {
    uint8_t buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof(buffer));
    if (n == 0) {
      eof_ = true;
    } else if (n > 0) {
      pending_.insert(pending_.end(), buffer, buffer + n);
    } else if (errno != EINTR) {
      return false;
    }
  }

  if (pending_.size() < bytes_per_sample_) {
    out->clear();
    *eof_out = eof_;
    return true;
  }
  if (pending_.size() < want) {  // only after the end of the stream
    want = pending_.size() / bytes_per_sample_ * bytes_per_sample_;
  }
  BytesToFloat32(pending_.data(), want, format_, out);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(want));
  *eof_out = false;
  return true;
}

size_t PcmPipeReader::ClearPending() {
  const size_t dropped = pending_.size();
  pending_.clear();
  return dropped;
}

}  // namespace dictacore
