#include "engine/audio/audio_file_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/audio/pcm_convert.h"
#include "engine/common/error.h"

namespace dictacore {
namespace {

bool ReadExact(std::FILE* file, void* out, size_t size) {
  return std::fread(out, 1, size, file) == size;
}

bool ReadU16(std::FILE* file, uint16_t* value) {
  uint8_t b[2];
  if (!ReadExact(file, b, sizeof(b))) return false;
  *value = static_cast<uint16_t>(b[0] | b[1] << 8);
  return true;
}

bool ReadU32(std::FILE* file, uint32_t* value) {
  uint8_t b[4];
  if (!ReadExact(file, b, sizeof(b))) return false;
  *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  return true;
}

// Bytes left between the read position and the end of a regular file, or -1
// when that cannot be known (a pipe, say).
long long BytesLeft(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const off_t position = ftello(file);
  if (position < 0) return -1;
  return std::max<long long>(0, static_cast<long long>(info.st_size) - position);
}

// Moves the read position `count` bytes on. Past the end is allowed: the next
// read then simply meets the end of the file.
void Skip(std::FILE* file, uint64_t count) {
  if (count == 0) return;
  if (count <= static_cast<uint64_t>(INT64_MAX) &&
      fseeko(file, static_cast<off_t>(count), SEEK_CUR) == 0) {
    return;
  }
  char buffer[4096];
  while (count > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(count, sizeof(buffer)));
    const size_t got = std::fread(buffer, 1, want, file);
    if (got == 0) return;
    count -= got;
  }
}

// Reads exactly `size` bytes into `data`. The buffer grows only with bytes
// actually read, so a header that claims more than the file holds costs no
// memory; on a regular file that case is caught before reading.
bool ReadChunkData(std::FILE* file, uint32_t size, std::vector<uint8_t>* data) {
  data->clear();
  const long long left = BytesLeft(file);
  if (left >= 0 && static_cast<long long>(size) > left) return false;
  constexpr size_t kPiece = 1 << 20;
  while (data->size() < size) {
    const size_t want = std::min<size_t>(kPiece, size - data->size());
    const size_t old_size = data->size();
    data->resize(old_size + want);
    if (!ReadExact(file, data->data() + old_size, want)) return false;
  }
  return true;
}

// Reads `size` bytes at `offset`, whatever the read position of the stream.
bool ReadAt(int fd, uint64_t offset, uint8_t* out, size_t size) {
  while (size > 0) {
    const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

void ToFloat(int bytes_per_sample, const uint8_t* bytes, size_t count, std::vector<float>* out) {
  if (bytes_per_sample == 2) {
    S16leToFloat(bytes, count, out);
  } else {
    F32leToFloat(bytes, count, out);
  }
}

}  // namespace

AudioSource::AudioSource(std::vector<float> samples)
    : length_(static_cast<int64_t>(samples.size())), samples_(std::move(samples)) {}
AudioSource::AudioSource(AudioSource&&) noexcept = default;
AudioSource& AudioSource::operator=(AudioSource&&) noexcept = default;
AudioSource::~AudioSource() = default;

bool AudioSource::Read(int64_t start, int64_t count, std::vector<float>* out,
                       std::string* error) const {
  start = std::min(std::max<int64_t>(start, 0), length_);
  count = std::min(std::max<int64_t>(count, 0), length_ - start);
  if (!file_) {
    out->assign(samples_.begin() + start, samples_.begin() + start + count);
    return true;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(count) * bytes_per_sample_);
  const uint64_t offset = data_offset_ + static_cast<uint64_t>(start) * bytes_per_sample_;
  if (!ReadAt(fileno(file_.get()), offset, bytes.data(), bytes.size())) {
    return Fail(error, short_message_);
  }
  ToFloat(bytes_per_sample_, bytes.data(), bytes.size(), out);
  return true;
}

bool AudioSource::LoadAll(std::string* error) {
  if (!file_) return true;
  // In pieces, so that the file's bytes are never held beside the samples.
  constexpr int64_t kPiece = 1 << 20;
  std::vector<float> all;
  all.reserve(static_cast<size_t>(length_));
  std::vector<float> piece;
  for (int64_t start = 0; start < length_; start += kPiece) {
    if (!Read(start, kPiece, &piece, error)) return false;
    all.insert(all.end(), piece.begin(), piece.end());
  }
  samples_ = std::move(all);
  file_.reset();
  return true;
}

bool OpenWavMono(const std::string& path, int expected_sample_rate, AudioSource* source,
                 std::string* error) {
  if (source == nullptr || error == nullptr) return false;
  *source = AudioSource();
  std::unique_ptr<std::FILE, AudioSource::FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, "WAV file not found: " + path);

  char riff[4];
  uint32_t riff_size = 0;
  char wave[4];
  if (!ReadExact(file.get(), riff, 4) || !ReadU32(file.get(), &riff_size) ||
      !ReadExact(file.get(), wave, 4)) {
    return Fail(error, "Invalid WAV header");
  }
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(wave, "WAVE", 4) != 0) {
    return Fail(error, "Not a RIFF/WAVE file");
  }

  uint16_t audio_format = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint16_t bits_per_sample = 0;
  // The last data chunk: where it starts on a regular file, or its bytes
  // from a stream that cannot be read twice.
  uint64_t data_offset = 0;
  uint64_t data_size = 0;
  bool data_in_memory = false;
  std::vector<uint8_t> data;
  while (true) {
    char id[4];
    uint32_t size = 0;
    if (!ReadExact(file.get(), id, 4) || !ReadU32(file.get(), &size)) break;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      uint32_t byte_rate = 0;
      uint16_t block_align = 0;
      if (!ReadU16(file.get(), &audio_format) || !ReadU16(file.get(), &channels) ||
          !ReadU32(file.get(), &sample_rate) || !ReadU32(file.get(), &byte_rate) ||
          !ReadU16(file.get(), &block_align) || !ReadU16(file.get(), &bits_per_sample)) {
        return Fail(error, "Invalid WAV fmt chunk");
      }
      if (size > 16) Skip(file.get(), size - 16);
    } else if (std::memcmp(id, "data", 4) == 0) {
      const long long left = BytesLeft(file.get());
      if (left >= 0 && static_cast<long long>(size) > left) {
        return Fail(error, "Invalid WAV data chunk");
      }
      data_size = size;
      data_in_memory = left < 0;
      if (data_in_memory) {
        if (size > 0 && !ReadChunkData(file.get(), size, &data)) {
          return Fail(error, "Invalid WAV data chunk");
        }
        if (size == 0) data.clear();
      } else {
        data_offset = static_cast<uint64_t>(ftello(file.get()));
        Skip(file.get(), size);
      }
    } else {
      Skip(file.get(), size);
    }
    if (size % 2 == 1) Skip(file.get(), 1);
  }

  if (channels != 1) return Fail(error, "WAV must be mono");
  if (static_cast<long long>(sample_rate) != expected_sample_rate) {
    return Fail(error, "WAV sample rate must be " + std::to_string(expected_sample_rate));
  }
  if (data_size == 0) return Fail(error, "WAV has no data");

  int bytes_per_sample = 0;
  if (audio_format == 1 && bits_per_sample == 16) {
    bytes_per_sample = 2;
  } else if (audio_format == 3 && bits_per_sample == 32) {
    bytes_per_sample = 4;
  } else {
    return Fail(error, "Unsupported WAV format. Expect mono 16-bit PCM or mono 32-bit float");
  }
  if (data_in_memory) {
    std::vector<float> samples;
    ToFloat(bytes_per_sample, data.data(), data.size(), &samples);
    *source = AudioSource(std::move(samples));
    return true;
  }
  source->file_ = std::move(file);
  source->data_offset_ = data_offset;
  source->bytes_per_sample_ = bytes_per_sample;
  source->short_message_ = "Invalid WAV data chunk";
  source->length_ = static_cast<int64_t>(data_size / static_cast<uint64_t>(bytes_per_sample));
  return true;
}

bool OpenPcmMono(const std::string& path, const std::string& format, AudioSource* source,
                 std::string* error) {
  if (source == nullptr || error == nullptr) return false;
  *source = AudioSource();
  std::unique_ptr<std::FILE, AudioSource::FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, "PCM file not found: " + path);

  if (fseeko(file.get(), 0, SEEK_END) != 0) return Fail(error, "PCM file is empty: " + path);
  const off_t length = ftello(file.get());
  if (length <= 0) return Fail(error, "PCM file is empty: " + path);
  // Its last byte, read now, so that a file that cannot be read at all (a
  // directory) is refused before any of it is decoded.
  uint8_t last = 0;
  if (!ReadAt(fileno(file.get()), static_cast<uint64_t>(length) - 1, &last, 1)) {
    return Fail(error, "Failed to read PCM file: " + path);
  }

  int bytes_per_sample = 0;
  if (format == "s16le") {
    if (length % 2 != 0) return Fail(error, "PCM s16le byte length must be aligned to 2 bytes");
    bytes_per_sample = 2;
  } else if (format == "f32le") {
    if (length % 4 != 0) return Fail(error, "PCM f32le byte length must be aligned to 4 bytes");
    bytes_per_sample = 4;
  } else {
    return Fail(error, "Unsupported PCM format: " + format);
  }
  source->file_ = std::move(file);
  source->data_offset_ = 0;
  source->bytes_per_sample_ = bytes_per_sample;
  source->short_message_ = "Failed to read PCM file: " + path;
  source->length_ = static_cast<int64_t>(length) / bytes_per_sample;
  return true;
}

bool ReadWavMono(const std::string& path, int expected_sample_rate, std::vector<float>* samples,
                 std::string* error) {
  if (samples == nullptr || error == nullptr) return false;
  samples->clear();
  AudioSource source;
  return OpenWavMono(path, expected_sample_rate, &source, error) &&
         source.Read(0, source.length(), samples, error);
}

bool ReadPcmMono(const std::string& path, const std::string& format, std::vector<float>* samples,
                 std::string* error) {
  if (samples == nullptr || error == nullptr) return false;
  samples->clear();
  AudioSource source;
  return OpenPcmMono(path, format, &source, error) &&
         source.Read(0, source.length(), samples, error);
}

}  // namespace dictacore
