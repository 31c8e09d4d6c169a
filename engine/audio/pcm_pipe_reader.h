// Fixed-size chunks of float samples from the live audio pipe: headerless
// mono PCM, split across writes arbitrarily by the host. Audio thread only;
// never closes the descriptor.
#ifndef DICTACORE_ENGINE_AUDIO_PCM_PIPE_READER_H_
#define DICTACORE_ENGINE_AUDIO_PCM_PIPE_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dictacore {

enum class AudioFormat { S16LE = 0, F32LE = 1 };

class PcmPipeReader {
 public:
  // `wake_fd`, when given, is polled together with `fd`: its becoming
  // readable ends a wait for audio early (the reader never reads it).
  PcmPipeReader(int fd, AudioFormat format, int wake_fd = -1);

  // Blocks until `chunk_samples` samples (0 counts as 1) have arrived. After
  // the writer closes the pipe, the remaining whole samples come out as one
  // shorter chunk, then every call reports the end with an empty `out` and
  // `*eof_out` true. When the wake-up descriptor turns readable first, the
  // call returns at once with an empty `out` and `*eof_out` false, keeping
  // what it read pending. False on a read error other than EINTR (or null
  // pointers); bytes already read stay pending.
  bool ReadChunk(size_t chunk_samples, std::vector<float>* out, bool* eof_out);

  // Up to `chunk_samples` of the whole samples already read, without reading
  // more: how a session that ends takes its last, partial chunk. Empty when
  // less than one sample is pending.
  void TakePending(size_t chunk_samples, std::vector<float>* out);

  // Drops the bytes read but not yet returned and returns how many there
  // were; the start of a sample that the next bytes complete is kept while
  // the stream is open, since dropping it would shift every later sample.
  size_t ClearPending();

  size_t bytes_per_sample() const { return bytes_per_sample_; }

  static void BytesToFloat32(const uint8_t* bytes, size_t count, AudioFormat format,
                             std::vector<float>* out);

 private:
  enum class Input { kReadable, kWoken, kFailed };
  Input WaitForInput() const;
  bool ReadOnce();
  void TakeBytes(size_t count, std::vector<float>* out);
  size_t WholeSampleBytes() const {
    return pending_.size() / bytes_per_sample_ * bytes_per_sample_;
  }

  int fd_;
  AudioFormat format_;
  size_t bytes_per_sample_;
  int wake_fd_;
  std::vector<uint8_t> pending_;
  bool eof_ = false;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_AUDIO_PCM_PIPE_READER_H_
