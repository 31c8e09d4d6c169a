#include "engine/audio/audio_file_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"

namespace dictacore {
namespace {

// Builds WAV files chunk by chunk, so tests can lay out odd files.
class WavBuilder {
 public:
  WavBuilder& Riff(const char* id = "RIFF", const char* form = "WAVE") {
    bytes_.append(id, 4);
    U32(0);  // size is ignored by the reader
    bytes_.append(form, 4);
    return *this;
  }
  WavBuilder& Fmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                  uint32_t chunk_size = 16) {
    bytes_.append("fmt ", 4);
    U32(chunk_size);
    U16(format);
    U16(channels);
    U32(rate);
    U32(rate * channels * bits / 8);
    U16(static_cast<uint16_t>(channels * bits / 8));
    U16(bits);
    for (uint32_t i = 16; i < chunk_size; ++i) bytes_.push_back('\0');
    if (chunk_size % 2 == 1) bytes_.push_back('\0');
    return *this;
  }
  WavBuilder& Chunk(const char* id, const std::string& payload, bool pad = true) {
    bytes_.append(id, 4);
    U32(static_cast<uint32_t>(payload.size()));
    bytes_.append(payload);
    if (pad && payload.size() % 2 == 1) bytes_.push_back('\0');
    return *this;
  }
  WavBuilder& DataS16(const std::vector<int16_t>& values) {
    std::string payload;
    for (int16_t v : values) {
      payload.push_back(static_cast<char>(v & 0xFF));
      payload.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    return Chunk("data", payload);
  }
  WavBuilder& DataF32(const std::vector<float>& values) {
    std::string payload(values.size() * 4, '\0');
    std::memcpy(payload.data(), values.data(), payload.size());
    return Chunk("data", payload);
  }
  WavBuilder& Raw(const std::string& raw) {
    bytes_.append(raw);
    return *this;
  }
  WavBuilder& U16(uint16_t v) {
    bytes_.push_back(static_cast<char>(v & 0xFF));
    bytes_.push_back(static_cast<char>(v >> 8));
    return *this;
  }
  WavBuilder& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class AudioFileReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const std::string& name = "audio.bin") {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string ReadWavError(const std::string& bytes) {
    std::vector<float> samples;
    std::string error;
    EXPECT_FALSE(ReadWavMono(Write(bytes), 16000, &samples, &error));
    return error;
  }
  std::string ReadPcmError(const std::string& bytes, const std::string& format) {
    std::vector<float> samples;
    std::string error;
    EXPECT_FALSE(ReadPcmMono(Write(bytes), format, &samples, &error));
    return error;
  }
  std::vector<float> ReadWav(const std::string& bytes) {
    std::vector<float> samples = {42.0f};
    std::string error;
    EXPECT_TRUE(ReadWavMono(Write(bytes), 16000, &samples, &error)) << error;
    return samples;
  }

  void SetUp() override {
    char pattern[] = "/tmp/dictacore-wav-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string dir_;
};

TEST_F(AudioFileReaderTest, SixteenBitSamplesAreScaled) {
  const auto samples =
      ReadWav(WavBuilder().Riff().Fmt(1, 1, 16000, 16).DataS16({16384, -32768, 32767, 0}).bytes());
  ASSERT_EQ(samples.size(), 4u);
  EXPECT_FLOAT_EQ(samples[0], 0.5f);
  EXPECT_FLOAT_EQ(samples[1], -1.0f);
  EXPECT_FLOAT_EQ(samples[2], 32767.0f / 32768.0f);
  EXPECT_FLOAT_EQ(samples[3], 0.0f);
}

TEST_F(AudioFileReaderTest, FloatSamplesAreCopiedUnclamped) {
  const auto samples =
      ReadWav(WavBuilder().Riff().Fmt(3, 1, 16000, 32).DataF32({0.25f, -3.5f, 1.5f}).bytes());
  EXPECT_EQ(samples, (std::vector<float>{0.25f, -3.5f, 1.5f}));
}

TEST_F(AudioFileReaderTest, TrailingPartialSamplesAreIgnored) {
  // Three data bytes of 16-bit audio: one sample and an ignored byte (the
  // chunk then has a pad byte).
  EXPECT_EQ(ReadWav(WavBuilder()
                        .Riff()
                        .Fmt(1, 1, 16000, 16)
                        .Chunk("data", std::string("\x00\x40\x7f", 3))
                        .bytes())
                .size(),
            1u);
  std::string payload(6, '\0');
  EXPECT_EQ(ReadWav(WavBuilder().Riff().Fmt(3, 1, 16000, 32).Chunk("data", payload).bytes()).size(),
            1u);
}

TEST_F(AudioFileReaderTest, OddSizedListChunkIsSkippedWithItsPadByte) {
  const auto samples = ReadWav(
      WavBuilder().Riff().Chunk("LIST", "INFOabc").Fmt(1, 1, 16000, 16).DataS16({16384}).bytes());
  EXPECT_EQ(samples, (std::vector<float>{0.5f}));
}

TEST_F(AudioFileReaderTest, ExtendedFmtChunkIsAccepted) {
  EXPECT_EQ(ReadWav(WavBuilder().Riff().Fmt(1, 1, 16000, 16, 18).DataS16({16384}).bytes()),
            (std::vector<float>{0.5f}));
  // An odd extended size is followed by a pad byte.
  EXPECT_EQ(ReadWav(WavBuilder().Riff().Fmt(1, 1, 16000, 16, 19).DataS16({16384}).bytes()),
            (std::vector<float>{0.5f}));
}

TEST_F(AudioFileReaderTest, LaterChunksReplaceEarlierOnes) {
  EXPECT_EQ(
      ReadWav(WavBuilder().Riff().Fmt(1, 1, 16000, 16).DataS16({1, 2, 3}).DataS16({16384}).bytes()),
      (std::vector<float>{0.5f}));
  // A later fmt switches the whole file to float.
  EXPECT_EQ(
      ReadWav(
          WavBuilder().Riff().Fmt(1, 2, 8000, 16).Fmt(3, 1, 16000, 32).DataF32({0.75f}).bytes()),
      (std::vector<float>{0.75f}));
  // A later empty data chunk empties the data.
  EXPECT_EQ(
      ReadWavError(WavBuilder().Riff().Fmt(1, 1, 16000, 16).DataS16({1}).Chunk("data", "").bytes()),
      "WAV has no data");
}

TEST_F(AudioFileReaderTest, HeaderErrors) {
  std::vector<float> samples;
  std::string error;
  EXPECT_FALSE(ReadWavMono(dir_ + "/missing.wav", 16000, &samples, &error));
  EXPECT_EQ(error, "WAV file not found: " + dir_ + "/missing.wav");
  EXPECT_EQ(ReadWavError(std::string("RIFF\x10\0\0\0WA", 10)), "Invalid WAV header");
  EXPECT_EQ(ReadWavError(""), "Invalid WAV header");
  EXPECT_EQ(ReadWavError(WavBuilder().Riff("RIFF", "AVI ").bytes()), "Not a RIFF/WAVE file");
  EXPECT_EQ(ReadWavError(WavBuilder().Riff("RIFX", "WAVE").bytes()), "Not a RIFF/WAVE file");
}

TEST_F(AudioFileReaderTest, ChecksInOrder) {
  // Stereo wins over a wrong rate; no fmt at all reads as zero channels.
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Fmt(1, 2, 44100, 16).DataS16({1, 2}).bytes()),
            "WAV must be mono");
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().DataS16({1}).bytes()), "WAV must be mono");
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Fmt(1, 1, 44100, 16).DataS16({1}).bytes()),
            "WAV sample rate must be 16000");
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Fmt(1, 1, 16000, 16).bytes()), "WAV has no data");
  const std::string unsupported =
      "Unsupported WAV format. Expect mono 16-bit PCM or mono 32-bit float";
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Fmt(1, 1, 16000, 8).Chunk("data", "ab").bytes()),
            unsupported);
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Fmt(1, 1, 16000, 24).Chunk("data", "abc").bytes()),
            unsupported);
  EXPECT_EQ(
      ReadWavError(WavBuilder().Riff().Fmt(3, 1, 16000, 64).Chunk("data", "abcdefgh").bytes()),
      unsupported);
}

TEST_F(AudioFileReaderTest, ExpectedRateIsTheCallersRate) {
  std::vector<float> samples;
  std::string error;
  const std::string path = Write(WavBuilder().Riff().Fmt(1, 1, 16000, 16).DataS16({1}).bytes());
  EXPECT_FALSE(ReadWavMono(path, 8000, &samples, &error));
  EXPECT_EQ(error, "WAV sample rate must be 8000");
}

TEST_F(AudioFileReaderTest, TruncatedChunks) {
  // fmt chunk cut inside its fields.
  EXPECT_EQ(ReadWavError(WavBuilder().Riff().Raw("fmt ").U32(16).U16(1).U16(1).bytes()),
            "Invalid WAV fmt chunk");
  // data chunk shorter than it claims.
  EXPECT_EQ(
      ReadWavError(WavBuilder().Riff().Fmt(1, 1, 16000, 16).Raw("data").U32(100).Raw("ab").bytes()),
      "Invalid WAV data chunk");
  // A chunk header cut short simply ends the walk.
  EXPECT_EQ(ReadWav(WavBuilder().Riff().Fmt(1, 1, 16000, 16).DataS16({16384}).Raw("LIS").bytes()),
            (std::vector<float>{0.5f}));
  // A skipped chunk claiming more than the file holds also ends the walk.
  EXPECT_EQ(ReadWav(WavBuilder()
                        .Riff()
                        .Fmt(1, 1, 16000, 16)
                        .DataS16({16384})
                        .Raw("LIST")
                        .U32(0xFFFFFFF0u)
                        .bytes()),
            (std::vector<float>{0.5f}));
}

// Runs in a death-test child: caps the address space at what the process
// already uses plus 512 MB, reads `path` and exits 0 when the reader reported
// the short data chunk.
void ReadUnderAddressSpaceCap(const std::string& path) {
  long pages = 0;
  long resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) _exit(3);
  std::fclose(statm);
  const rlim_t limit =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (512u << 20);
  const rlimit cap = {limit, limit};
  setrlimit(RLIMIT_AS, &cap);
  std::vector<float> samples;
  std::string error;
  const bool ok = ReadWavMono(path, 16000, &samples, &error);
  _exit(!ok && error == "Invalid WAV data chunk" ? 0 : 1);
}

TEST_F(AudioFileReaderTest, HugeDeclaredDataSizeIsRejectedWithoutAllocating) {
  // A 44-byte file declaring 4 GB of data. The reader must find the short
  // chunk without allocating for it: run it with the address space capped
  // far below the declared size.
  const std::string path = Write(
      WavBuilder().Riff().Fmt(1, 1, 16000, 16).Raw("data").U32(0xFFFFFFF0u).Raw("abcd").bytes());
  EXPECT_EXIT(ReadUnderAddressSpaceCap(path), ::testing::ExitedWithCode(0), "");
}

TEST_F(AudioFileReaderTest, HugeDataSizeFromAPipeFailsAtTheRealEnd) {
  // Not a regular file: the size cannot be checked up front, so the reader
  // reads what arrives and fails when the stream ends early.
  const std::string wav =
      WavBuilder().Riff().Fmt(1, 1, 16000, 16).Raw("data").U32(0xFFFFFFF0u).Raw("abcd").bytes();
  const std::string fifo = dir_ + "/pipe.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testing::Subprocess::Config config;
  config.body = [&] {
    std::ofstream(fifo, std::ios::binary) << wav;
    return 0;
  };
  testing::Subprocess writer(config);
  std::vector<float> samples;
  std::string error;
  EXPECT_FALSE(ReadWavMono(fifo, 16000, &samples, &error));
  EXPECT_EQ(error, "Invalid WAV data chunk");
  writer.Wait(std::chrono::seconds(10));
}

TEST_F(AudioFileReaderTest, NullOutputsTouchNothing) {
  std::vector<float> samples = {1.0f};
  std::string error = "keep";
  EXPECT_FALSE(ReadWavMono("/nonexistent", 16000, nullptr, &error));
  EXPECT_EQ(error, "keep");
  EXPECT_FALSE(ReadWavMono("/nonexistent", 16000, &samples, nullptr));
  EXPECT_EQ(samples, (std::vector<float>{1.0f}));
  EXPECT_FALSE(ReadPcmMono("/nonexistent", "s16le", nullptr, &error));
  EXPECT_EQ(error, "keep");
}

TEST_F(AudioFileReaderTest, RawPcmConversion) {
  std::vector<float> samples;
  std::string error;
  ASSERT_TRUE(
      ReadPcmMono(Write(std::string("\x00\x40\x00\x80\xff\x7f", 6)), "s16le", &samples, &error))
      << error;
  EXPECT_EQ(samples, (std::vector<float>{0.5f, -1.0f, 32767.0f / 32768.0f}));

  const std::vector<float> values = {0.125f, -2.0f};
  std::string raw(8, '\0');
  std::memcpy(raw.data(), values.data(), raw.size());
  ASSERT_TRUE(ReadPcmMono(Write(raw), "f32le", &samples, &error)) << error;
  EXPECT_EQ(samples, values);
}

TEST_F(AudioFileReaderTest, RawPcmErrors) {
  std::vector<float> samples;
  std::string error;
  EXPECT_FALSE(ReadPcmMono(dir_ + "/none.pcm", "s16le", &samples, &error));
  EXPECT_EQ(error, "PCM file not found: " + dir_ + "/none.pcm");
  const std::string empty = Write("", "empty.pcm");
  EXPECT_FALSE(ReadPcmMono(empty, "s16le", &samples, &error));
  EXPECT_EQ(error, "PCM file is empty: " + empty);
  EXPECT_EQ(ReadPcmError("abc", "s16le"), "PCM s16le byte length must be aligned to 2 bytes");
  EXPECT_EQ(ReadPcmError("abcdef", "f32le"), "PCM f32le byte length must be aligned to 4 bytes");
  EXPECT_EQ(ReadPcmError("abcd", "S16LE"), "Unsupported PCM format: S16LE");
  // The format is only checked once the file is known to be readable.
  EXPECT_FALSE(ReadPcmMono(empty, "wav", &samples, &error));
  EXPECT_EQ(error, "PCM file is empty: " + empty);
}

}  // namespace
}  // namespace dictacore
