// PcmPipeReader over a real pipe that is fed in pieces the fuzzer chooses,
// with chunk requests of varying size, wake-ups that cut a wait short,
// TakePending and ClearPending calls in between. The samples that come out
// must be exactly the one-shot conversion of the bytes written, in order,
// minus whatever ClearPending said it dropped (whole samples only, so the
// stream stays aligned); after the writer closes, the whole samples left
// come out once, then end of stream.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "engine/audio/pcm_pipe_reader.h"
#include "engine/common/wakeup_pipe.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::AudioFormat;
using dictacore::PcmPipeReader;

// Everything written stays inside one pipe buffer, so writes never block.
constexpr size_t kMaxStream = 32 * 1024;

void ExpectSamples(const std::vector<float>& out, const std::string& stream, size_t from,
                   size_t bytes, AudioFormat format) {
  std::vector<float> expected;
  PcmPipeReader::BytesToFloat32(reinterpret_cast<const uint8_t*>(stream.data()) + from, bytes,
                                format, &expected);
  FUZZ_CHECK(out.size() == expected.size());
  for (size_t i = 0; i < out.size(); ++i) FUZZ_CHECK(fuzz::SameBits(out[i], expected[i]));
}

void WriteAll(int fd, const std::vector<uint8_t>& piece) {
  size_t done = 0;
  while (done < piece.size()) {
    const ssize_t n = ::write(fd, piece.data() + done, piece.size() - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxStream) return 0;
  FuzzedDataProvider provider(data, size);
  const AudioFormat format = provider.ConsumeBool() ? AudioFormat::F32LE : AudioFormat::S16LE;
  const size_t width = format == AudioFormat::F32LE ? 4 : 2;

  int fds[2];
  FUZZ_CHECK(::pipe2(fds, O_CLOEXEC) == 0);
  FUZZ_CHECK(::fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0);
  dictacore::WakeupPipe wakeup;
  FUZZ_CHECK(wakeup.fd() >= 0);
  PcmPipeReader reader(fds[0], format, wakeup.fd());
  FUZZ_CHECK(reader.bytes_per_sample() == width);
  FUZZ_CHECK(reader.ClearPending() == 0);

  std::string stream;   // every byte written so far
  size_t consumed = 0;  // bytes of `stream` returned as samples or dropped
  std::vector<float> out;
  bool eof = true;
  FUZZ_CHECK(!reader.ReadChunk(1, nullptr, &eof));
  FUZZ_CHECK(!reader.ReadChunk(1, &out, nullptr));

  while (provider.remaining_bytes() > 0) {
    switch (provider.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
      case 1: {  // one write of the host
        const std::vector<uint8_t> piece =
            provider.ConsumeBytes<uint8_t>(provider.ConsumeIntegralInRange<size_t>(1, 700));
        WriteAll(fds[1], piece);
        stream.append(piece.begin(), piece.end());
        break;
      }
      case 2: {  // a chunk request that can be served without blocking
        const size_t chunk = provider.ConsumeIntegralInRange<size_t>(0, 1200);
        const size_t want = std::max<size_t>(chunk, 1) * width;
        if (stream.size() - consumed < want) break;
        eof = true;
        FUZZ_CHECK(reader.ReadChunk(chunk, &out, &eof));
        FUZZ_CHECK(!eof);
        ExpectSamples(out, stream, consumed, want, format);
        consumed += want;
        break;
      }
      case 3: {  // a command arrives while more audio than there is is awaited
        const size_t want = stream.size() - consumed + width;
        wakeup.Notify();
        eof = true;
        FUZZ_CHECK(reader.ReadChunk(want / width, &out, &eof));
        FUZZ_CHECK(out.empty() && !eof);
        wakeup.Clear();
        break;
      }
      case 4: {  // a session ends: the whole samples read so far, one chunk at most
        const size_t chunk = provider.ConsumeIntegralInRange<size_t>(0, 1200);
        reader.TakePending(chunk, &out);
        const size_t bytes = out.size() * width;
        FUZZ_CHECK(bytes <= std::max<size_t>(chunk, 1) * width);
        ExpectSamples(out, stream, consumed, bytes, format);
        consumed += bytes;
        break;
      }
      default: {  // a new session drops the partly assembled audio
        const size_t dropped = reader.ClearPending();
        FUZZ_CHECK(dropped <= stream.size() - consumed);
        FUZZ_CHECK(dropped % width == 0);
        consumed += dropped;
        FUZZ_CHECK(reader.ClearPending() == 0);
        break;
      }
    }
  }

  ::close(fds[1]);
  const size_t chunk = provider.ConsumeIntegralInRange<size_t>(0, 1200);
  const size_t want = std::max<size_t>(chunk, 1) * width;
  for (;;) {
    const size_t left = stream.size() - consumed;
    FUZZ_CHECK(reader.ReadChunk(chunk, &out, &eof));
    if (left < width) {
      FUZZ_CHECK(eof && out.empty());
      break;
    }
    const size_t bytes = std::min(want, left / width * width);
    FUZZ_CHECK(!eof);
    ExpectSamples(out, stream, consumed, bytes, format);
    consumed += bytes;
  }
  // Drained stays drained.
  FUZZ_CHECK(reader.ReadChunk(chunk, &out, &eof));
  FUZZ_CHECK(eof && out.empty());
  FUZZ_CHECK(reader.ClearPending() == stream.size() - consumed);
  ::close(fds[0]);
  return 0;
}
