#include "engine/audio/pcm_pipe_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/wakeup_pipe.h"

namespace dictacore {
namespace {

class Pipe {
 public:
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    read_fd = fds[0];
    write_fd = fds[1];
  }
  ~Pipe() {
    CloseWrite();
    close(read_fd);
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(write(write_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWrite() {
    if (write_fd >= 0) close(write_fd);
    write_fd = -1;
  }
  int read_fd = -1;
  int write_fd = -1;
};

std::string S16(const std::vector<int16_t>& values) {
  std::string bytes;
  for (int16_t v : values) {
    bytes.push_back(static_cast<char>(v & 0xFF));
    bytes.push_back(static_cast<char>((v >> 8) & 0xFF));
  }
  return bytes;
}

TEST(PcmPipeReader, WholeChunkThenEndAfterATrailingOddByte) {
  Pipe pipe;
  pipe.Write(std::string(3201, '\0'));
  pipe.CloseWrite();
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  std::vector<float> out;
  bool eof = true;
  ASSERT_TRUE(reader.ReadChunk(1600, &out, &eof));
  EXPECT_EQ(out.size(), 1600u);
  EXPECT_FALSE(eof);
  ASSERT_TRUE(reader.ReadChunk(1600, &out, &eof));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(eof);
  // The end is reported again on every later call.
  ASSERT_TRUE(reader.ReadChunk(1600, &out, &eof));
  EXPECT_TRUE(eof);
}

TEST(PcmPipeReader, ShortLastChunkBeforeTheEnd) {
  Pipe pipe;
  pipe.Write(std::string(1000, '\0'));
  pipe.CloseWrite();
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  std::vector<float> out;
  bool eof = true;
  ASSERT_TRUE(reader.ReadChunk(1600, &out, &eof));
  EXPECT_EQ(out.size(), 500u);
  EXPECT_FALSE(eof);
  ASSERT_TRUE(reader.ReadChunk(1600, &out, &eof));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(eof);
}

TEST(PcmPipeReader, FloatChunksIgnoreATrailingPartialSample) {
  Pipe pipe;
  const std::vector<float> values = {0.5f, -2.0f, 1.0f};
  std::string bytes(12, '\0');
  std::memcpy(bytes.data(), values.data(), 12);
  pipe.Write(bytes + "xy");
  pipe.CloseWrite();
  PcmPipeReader reader(pipe.read_fd, AudioFormat::F32LE);
  EXPECT_EQ(reader.bytes_per_sample(), 4u);
  std::vector<float> out;
  bool eof = false;
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  EXPECT_EQ(out, (std::vector<float>{0.5f, -2.0f}));
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  EXPECT_EQ(out, (std::vector<float>{1.0f}));
  EXPECT_FALSE(eof);
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  EXPECT_TRUE(eof);
}

TEST(PcmPipeReader, SamplesSplitAcrossWritesAreReassembled) {
  Pipe pipe;
  const std::string bytes = S16({16384, -32768, 32767});
  std::thread writer([&] {
    for (char byte : bytes) {
      pipe.Write(std::string(1, byte));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  std::vector<float> out;
  bool eof = true;
  ASSERT_TRUE(reader.ReadChunk(3, &out, &eof));
  writer.join();
  EXPECT_EQ(out, (std::vector<float>{0.5f, -1.0f, 32767.0f / 32768.0f}));
  EXPECT_FALSE(eof);
}

TEST(PcmPipeReader, ZeroChunkSizeReadsOneSample) {
  Pipe pipe;
  pipe.Write(S16({100, 200}));
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  std::vector<float> out;
  bool eof = true;
  ASSERT_TRUE(reader.ReadChunk(0, &out, &eof));
  EXPECT_EQ(out.size(), 1u);
}

TEST(PcmPipeReader, ClearPendingDropsPartlyAssembledAudio) {
  Pipe pipe;
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  EXPECT_EQ(reader.ClearPending(), 0u);
  // 7 bytes for a 2-sample chunk: 4 come out; one sample and the first byte
  // of the next stay pending.
  const std::string next = S16({16384});
  pipe.Write(S16({1, 2, 3}) + next.substr(0, 1));
  std::vector<float> out;
  bool eof = true;
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  // The whole sample goes; the cut one stays, or every later sample would
  // be read a byte off.
  EXPECT_EQ(reader.ClearPending(), 2u);
  EXPECT_EQ(reader.ClearPending(), 0u);
  pipe.Write(next.substr(1) + S16({-32768}) + "z");
  pipe.CloseWrite();
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  EXPECT_EQ(out, (std::vector<float>{0.5f, -1.0f}));
  // After the end nothing completes a cut sample.
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  EXPECT_TRUE(eof);
  EXPECT_EQ(reader.ClearPending(), 1u);
}

// Waits until the reader has taken every byte out of the pipe.
void WaitUntilRead(const Pipe& pipe) {
  int unread = 1;
  while (ioctl(pipe.read_fd, FIONREAD, &unread) == 0 && unread > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST(PcmPipeReader, WakeUpEndsTheWaitAndKeepsWhatWasRead) {
  Pipe pipe;
  // A non-blocking descriptor is waited for, not taken as failing.
  ASSERT_EQ(fcntl(pipe.read_fd, F_SETFL, O_NONBLOCK), 0);
  WakeupPipe wakeup;
  ASSERT_GE(wakeup.fd(), 0);
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE, wakeup.fd());
  // One and a half samples of a 4-sample chunk, taken in before the wake-up.
  const std::string bytes = S16({16384, -32768, 8192, 4096});
  pipe.Write(bytes.substr(0, 3));
  std::vector<float> out = {7.0f};
  bool eof = true;
  bool ok = false;
  std::thread reading([&] { ok = reader.ReadChunk(4, &out, &eof); });
  WaitUntilRead(pipe);
  wakeup.Notify();
  reading.join();
  EXPECT_TRUE(ok);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(eof);

  // Still pending wake-up: no wait, nothing read.
  ASSERT_TRUE(reader.ReadChunk(4, &out, &eof));
  EXPECT_TRUE(out.empty());
  wakeup.Clear();
  reader.TakePending(4, &out);
  EXPECT_EQ(out, (std::vector<float>{0.5f}));
  reader.TakePending(4, &out);
  EXPECT_TRUE(out.empty());
  // The cut sample is completed by the next bytes.
  pipe.Write(bytes.substr(3) + S16({1, 2}));
  ASSERT_TRUE(reader.ReadChunk(4, &out, &eof));
  EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.25f, 0.125f, 1.0f / 32768}));
  EXPECT_FALSE(eof);
  // At most the samples of one chunk at a time.
  pipe.Write(S16({3, 4, 5, 6, 7}));
  ASSERT_TRUE(reader.ReadChunk(2, &out, &eof));
  reader.TakePending(3, &out);
  EXPECT_EQ(out, (std::vector<float>{4.0f / 32768, 5.0f / 32768, 6.0f / 32768}));
}

TEST(PcmPipeReader, ReadErrorFailsAndNullOutputsAreRejected) {
  PcmPipeReader bad(-1, AudioFormat::S16LE);
  std::vector<float> out = {7.0f};
  bool eof = true;
  EXPECT_FALSE(bad.ReadChunk(10, &out, &eof));
  EXPECT_EQ(out, (std::vector<float>{7.0f}));
  EXPECT_TRUE(eof);
  EXPECT_FALSE(bad.ReadChunk(10, nullptr, &eof));
  EXPECT_FALSE(bad.ReadChunk(10, &out, nullptr));
}

void NoOpHandler(int) {}

TEST(PcmPipeReader, SignalDuringReadDoesNotEndTheStream) {
  struct sigaction action = {};
  action.sa_handler = NoOpHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: read() returns EINTR
  struct sigaction previous = {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  Pipe pipe;
  PcmPipeReader reader(pipe.read_fd, AudioFormat::S16LE);
  std::atomic<bool> done{false};
  std::vector<float> out;
  bool eof = true;
  bool ok = false;
  std::thread reading([&] {
    ok = reader.ReadChunk(2, &out, &eof);
    done = true;
  });
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(reading.native_handle(), SIGUSR1);
  }
  EXPECT_FALSE(done.load());
  pipe.Write(S16({16384, 16384}));
  reading.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(eof);
  EXPECT_EQ(out, (std::vector<float>{0.5f, 0.5f}));
}

TEST(PcmPipeReader, BytesToFloat32) {
  std::vector<float> out = {9.0f};
  const std::string bytes = S16({0, -32768}).substr(0, 3);
  PcmPipeReader::BytesToFloat32(reinterpret_cast<const uint8_t*>(bytes.data()), 3,
                                AudioFormat::S16LE, &out);
  EXPECT_EQ(out, (std::vector<float>{0.0f}));
  PcmPipeReader::BytesToFloat32(nullptr, 4, AudioFormat::F32LE, &out);
  EXPECT_TRUE(out.empty());
  const uint8_t two[] = {0x00, 0x80};
  PcmPipeReader::BytesToFloat32(two, 2, AudioFormat::S16LE, &out);
  EXPECT_EQ(out, (std::vector<float>{-1.0f}));
  const uint8_t nan_bits[] = {0x00, 0x00, 0xC0, 0x7F};
  PcmPipeReader::BytesToFloat32(nan_bits, 4, AudioFormat::F32LE, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(std::isnan(out[0]));
}

}  // namespace
}  // namespace dictacore
