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
  PcmPipeReader(int fd, AudioFormat format);

  // Blocks until `chunk_samples` samples (0 counts as 1) have arrived. After
  // the writer closes the pipe, the remaining whole samples come out as one
  // shorter chunk, then every call reports the end with an empty `out` and
  // `*eof_out` true. False on a read error other than EINTR (or null
  // pointers); bytes already read stay pending.
  bool ReadChunk(size_t chunk_samples, std::vector<float>* out, bool* eof_out);

  // Drops the bytes read but not yet returned; returns how many there were.
  size_t ClearPending();

  size_t bytes_per_sample() const { return bytes_per_sample_; }

  static void BytesToFloat32(const uint8_t* bytes, size_t count, AudioFormat format,
                             std::vector<float>* out);

 private:
  int fd_;
  AudioFormat format_;
  size_t bytes_per_sample_;
  std::vector<uint8_t> pending_;
  bool eof_ = false;
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_AUDIO_PCM_PIPE_READER_H_
