#include "engine/audio/pcm_pipe_reader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/audio/pcm_convert.h"

namespace dictacore {

PcmPipeReader::PcmPipeReader(int fd, AudioFormat format, int wake_fd)
    : fd_(fd),
      format_(format),
      bytes_per_sample_(format == AudioFormat::F32LE ? 4 : 2),
      wake_fd_(wake_fd) {}

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

PcmPipeReader::Input PcmPipeReader::WaitForInput() const {
  if (wake_fd_ < 0) return Input::kReadable;  // the read itself waits
  pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Input::kFailed;
    }
    // A wake-up wins over audio that is ready too: the caller acts on it
    // before it takes in more.
    if (fds[0].revents != 0) return Input::kWoken;
    // Hang-ups, errors and a descriptor that is not open are reported by
    // the read that follows.
    if (fds[1].revents != 0) return Input::kReadable;
  }
}

bool PcmPipeReader::ReadOnce() {
  uint8_t buffer[4096];
  const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
  if (n == 0) {
    eof_ = true;
  } else if (n > 0) {
    pending_.insert(pending_.end(), buffer, buffer + n);
  } else if (errno != EINTR) {
    // A non-blocking descriptor with nothing to read yet is waited for by
    // the poll; without one it fails as any other error does.
    return wake_fd_ >= 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

void PcmPipeReader::TakeBytes(size_t count, std::vector<float>* out) {
  BytesToFloat32(pending_.data(), count, format_, out);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
}

bool PcmPipeReader::ReadChunk(size_t chunk_samples, std::vector<float>* out, bool* eof_out) {
  if (out == nullptr || eof_out == nullptr) return false;
  const size_t want = (chunk_samples == 0 ? 1 : chunk_samples) * bytes_per_sample_;
  while (!eof_ && pending_.size() < want) {
    const Input input = WaitForInput();
    if (input == Input::kFailed) return false;
    if (input == Input::kWoken) {
      out->clear();
      *eof_out = false;
      return true;
    }
    if (!ReadOnce()) return false;
  }
  if (pending_.size() < bytes_per_sample_) {
    out->clear();
    *eof_out = eof_;
    return true;
  }
  // Less than a whole chunk only after the end of the stream.
  TakeBytes(std::min(want, WholeSampleBytes()), out);
  *eof_out = false;
  return true;
}

void PcmPipeReader::TakePending(size_t chunk_samples, std::vector<float>* out) {
  if (out == nullptr) return;
  const size_t most = (chunk_samples == 0 ? 1 : chunk_samples) * bytes_per_sample_;
  TakeBytes(std::min(most, WholeSampleBytes()), out);
}

size_t PcmPipeReader::ClearPending() {
  const size_t dropped = eof_ ? pending_.size() : WholeSampleBytes();
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(dropped));
  return dropped;
}

}  // namespace dictacore
