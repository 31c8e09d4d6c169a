// Audio files as mono float samples. No resampling, mixing or format
// conversion beyond 16-bit PCM and 32-bit float.
#ifndef DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_
#define DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace dictacore {

// The samples of a recording, read a range at a time: from an opened WAV or
// raw PCM file (whose header was checked at opening), or from memory. A file
// is read only as ranges are asked for, so the caller decides how much of it
// is held. Reads of a file may come from several threads at once.
class AudioSource {
 public:
  AudioSource() = default;
  explicit AudioSource(std::vector<float> samples);
  AudioSource(AudioSource&&) noexcept;
  AudioSource& operator=(AudioSource&&) noexcept;
  ~AudioSource();

  // Samples in the recording, known from the header or the file's size.
  int64_t length() const { return length_; }

  // Replaces `out` with the samples [start, start + count), clipped to the
  // recording. Fails when the file no longer holds them (it shrank).
  bool Read(int64_t start, int64_t count, std::vector<float>* out, std::string* error) const;

  // Reads the whole file into memory once; later reads and `samples()` are
  // served from there.
  bool LoadAll(std::string* error);
  // The recording in memory (empty before LoadAll for a file).
  const std::vector<float>& samples() const { return samples_; }

 private:
  friend bool OpenWavMono(const std::string&, int, AudioSource*, std::string*);
  friend bool OpenPcmMono(const std::string&, const std::string&, AudioSource*, std::string*);
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::unique_ptr<std::FILE, FileCloser> file_;
  uint64_t data_offset_ = 0;   // of the first sample in the file
  int bytes_per_sample_ = 2;   // 2: s16le, 4: f32le
  std::string short_message_;  // the error of a read the file cannot satisfy
  int64_t length_ = 0;
  std::vector<float> samples_;
};

// Opens a RIFF/WAVE file holding mono 16-bit PCM or 32-bit float at
// `expected_sample_rate`: walks its chunks and checks its format, without
// reading the samples (a pipe's data chunk is read at once, as it cannot be
// read again). Returns false without touching anything when either pointer is
// null.
bool OpenWavMono(const std::string& path, int expected_sample_rate, AudioSource* source,
                 std::string* error);

// Opens headerless PCM in `format` ("s16le" or "f32le"), taken to be 16 kHz
// mono, checking its size and alignment.
bool OpenPcmMono(const std::string& path, const std::string& format, AudioSource* source,
                 std::string* error);

// The whole file into memory: OpenWavMono / OpenPcmMono, then every sample.
bool ReadWavMono(const std::string& path, int expected_sample_rate, std::vector<float>* samples,
                 std::string* error);
bool ReadPcmMono(const std::string& path, const std::string& format, std::vector<float>* samples,
                 std::string* error);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_AUDIO_AUDIO_FILE_READER_H_
