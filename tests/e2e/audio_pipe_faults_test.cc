// The live audio input ending in the middle of a chunk, in the middle of a
// sample, or failing there: the writer closes its end, a terminal hangs up
// (reads fail with EIO) or a connection is reset (ECONNRESET). The engine
// keeps every whole chunk it took in, reports the end or the failure once,
// and a push-to-talk "stop" still decodes the dictation with the kit's
// SenseVoice-form model.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/common/posix_io.h"
#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineSession;
using testing::LoadWav;

// Marks a new descriptor close-on-exec and returns it (-1 stays -1).
int CloseOnExec(int fd) {
  if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

// The descriptor the engine reads its audio from, and the test's end of it.
class AudioLink {
 public:
  virtual ~AudioLink() {
    if (engine_end_ >= 0) ::close(engine_end_);
    if (host_end_ >= 0) ::close(host_end_);
  }
  int engine_end() const { return engine_end_; }
  // The engine has its own copy once it runs.
  void ReleaseEngineEnd() {
    ::close(engine_end_);
    engine_end_ = -1;
  }
  bool Write(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(host_end_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Ends the stream the way this kind of descriptor ends.
  virtual void End() {
    ::close(host_end_);
    host_end_ = -1;
  }

 protected:
  int engine_end_ = -1;
  int host_end_ = -1;  // close-on-exec: the engine must not hold it
};

// A pipe whose writer closes: end of stream.
class PipeLink : public AudioLink {
 public:
  PipeLink() {
    int fds[2];
    if (MakeCloseOnExecPipe(fds)) {
      engine_end_ = fds[0];
      host_end_ = fds[1];
    }
  }
};

// A pseudo-terminal in raw mode: the engine reads the master; when the test
// closes the only slave descriptor, reads return what is left, then fail
// with EIO.
class TerminalLink : public AudioLink {
 public:
  TerminalLink() {
    const int master = CloseOnExec(::posix_openpt(O_RDWR | O_NOCTTY));
    if (master < 0) return;
    const char* slave_name =
        ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : nullptr;
    const int slave =
        slave_name != nullptr ? CloseOnExec(::open(slave_name, O_RDWR | O_NOCTTY)) : -1;
    if (slave < 0) {
      ::close(master);
      return;
    }
    termios mode{};
    ::tcgetattr(slave, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);
    engine_end_ = master;
    host_end_ = slave;
  }
};

// A loopback TCP connection that the test aborts (SO_LINGER 0): the engine
// reads what arrived, then gets ECONNRESET.
class ResetLink : public AudioLink {
 public:
  ResetLink() {
    const int listener = CloseOnExec(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (listener < 0 || ::bind(listener, generic, length) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, generic, &length) != 0) {
      if (listener >= 0) ::close(listener);
      return;
    }
    const int client = CloseOnExec(::socket(AF_INET, SOCK_STREAM, 0));
    if (client >= 0 && ::connect(client, generic, length) == 0) {
      engine_end_ = client;
      host_end_ = CloseOnExec(::accept(listener, nullptr, nullptr));
    } else if (client >= 0) {
      ::close(client);
    }
    ::close(listener);
  }
  void End() override {
    const linger abort_on_close{1, 0};
    ::setsockopt(host_end_, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof(abort_on_close));
    AudioLink::End();
  }
};

enum class Link { kPipeClosed, kTerminalHangUp, kConnectionReset };

struct Case {
  const char* name;
  Link link;
  bool f32;
  size_t tail_bytes;           // sent after the whole chunks, then the end
  uint64_t expected_captured;  // samples the session holds at "stop"
};

std::unique_ptr<AudioLink> MakeLink(Link link) {
  switch (link) {
    case Link::kPipeClosed:
      return std::make_unique<PipeLink>();
    case Link::kTerminalHangUp:
      return std::make_unique<TerminalLink>();
    case Link::kConnectionReset:
      return std::make_unique<ResetLink>();
  }
  return nullptr;
}

class AudioInputEnds : public ::testing::TestWithParam<Case> {};

TEST_P(AudioInputEnds, WholeChunksAreKeptAndTheDictationStillDecodes) {
  const Case& c = GetParam();
  const std::unique_ptr<AudioLink> link = MakeLink(c.link);
  ASSERT_GE(link->engine_end(), 0);

  // Push-to-talk with capture on from the start: every chunk is kept.
  std::vector<std::string> args = testing::ManualSenseVoiceArgs();
  if (c.f32) {
    args.push_back("--audio-format");
    args.push_back("f32le");
  }
  testing::Subprocess::Config spawn;
  spawn.audio_fd = link->engine_end();
  EngineSession engine(args, spawn);
  link->ReleaseEngineEnd();
  ASSERT_TRUE(engine.WaitForType("ready"));

  // Five seconds exactly (50 chunks): 2.6 s of silence, then the first 2.4 s
  // of the clip, which hold "hello world". The keepalive line shows that the
  // engine took in every chunk.
  const std::vector<float> clip = LoadWav(AudioPath("speech_pause_speech.wav"));
  std::vector<float> audio(41600, 0.0f);
  audio.insert(audio.end(), clip.begin(), clip.begin() + 38400);
  std::vector<float> after(clip.begin() + 38400, clip.begin() + 38400 + 1600);
  const std::string head = c.f32 ? testing::ToF32le(audio) : testing::ToS16le(audio);
  const std::string tail = c.f32 ? testing::ToF32le(after) : testing::ToS16le(after);
  ASSERT_TRUE(link->Write(head));
  ASSERT_TRUE(engine.WaitForLog("PCM keepalive: received 5.000000s audio"));
  // The "stop" below comes after the end of the audio, which ends the
  // session as soon as the command thread is back at the top of its loop:
  // it must already be waiting for that line.
  ASSERT_TRUE(engine.WaitUntilReadingCommands());

  // Part of a chunk, ending in part of a sample, then the end.
  ASSERT_TRUE(link->Write(tail.substr(0, c.tail_bytes)));
  link->End();
  const bool fails = c.link != Link::kPipeClosed;
  if (fails) {
    const auto error = engine.WaitForType("error");
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)["message"], "PCM pipe read failed");
  } else {
    ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  }

  engine.SendCommand("stop");
  const auto stop = engine.WaitForLog("[SESSION-DIAG] cmd=stop seq=0 captured_samples=");
  ASSERT_TRUE(stop);
  EXPECT_EQ((*stop)["message"], "[SESSION-DIAG] cmd=stop seq=0 captured_samples=" +
                                    std::to_string(c.expected_captured) +
                                    " total_samples=" + std::to_string(c.expected_captured));
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  ASSERT_EQ((*result)["segments"].size(), 1u) << result->dump();
  EXPECT_EQ((*result)["segments"][0]["text"], "hello world");
  engine.CloseStdin();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_EQ(engine.events().back()["message"], "Session ended (partial M2)");
  EXPECT_EQ(engine.OfType("error").size(), fails ? 1u : 0u);
  EXPECT_EQ(engine.HasLog("PCM pipe closed"), !fails);
  EXPECT_TRUE(engine.bad_lines().empty());
}

INSTANTIATE_TEST_SUITE_P(MidChunk, AudioInputEnds,
                         ::testing::Values(
                             // 1001 bytes: 500 samples and half of one, which is dropped.
                             Case{"PipeClosedS16", Link::kPipeClosed, false, 1001, 80500},
                             // 1003 bytes: 250 samples and three bytes of the next.
                             Case{"PipeClosedF32", Link::kPipeClosed, true, 1003, 80250},
                             // Only part of one sample after the last chunk.
                             Case{"PipeClosedInsideASample", Link::kPipeClosed, true, 3, 80000},
                             // A read error loses the partial chunk read before it.
                             Case{"TerminalHangUpS16", Link::kTerminalHangUp, false, 1001, 80000},
                             Case{"ConnectionResetF32", Link::kConnectionReset, true, 1003, 80000}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace dictacore
