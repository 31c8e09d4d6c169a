// The host closes the engine's standard output (it stopped listening, or
// died and left the engine behind). The engine must end at its next event
// instead of running on unheard: by SIGPIPE when it runs with the default
// disposition, with exit status 74 when broken pipes are ignored (a host that
// spawns it that way, or the engine itself once it has started a diarization
// helper).
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "engine/cli/event_emitter.h"
#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineSession;
using testing::ProcessResult;
using testing::Subprocess;

// Without the fault handling a live engine would run until the test gives up
// and kills it; the tests then fail on the SIGKILL.
constexpr auto kPatience = std::chrono::seconds(30);

enum class Sigpipe { kDefault, kIgnored };

Subprocess::Config Spawn(Sigpipe sigpipe, bool audio_pipe) {
  Subprocess::Config spawn;
  spawn.audio_pipe = audio_pipe;
  if (sigpipe == Sigpipe::kIgnored) spawn.ignored_signals = {SIGPIPE};
  return spawn;
}

void ExpectEndedByLostOutput(const ProcessResult& result, Sigpipe sigpipe) {
  if (sigpipe == Sigpipe::kDefault) {
    EXPECT_EQ(result.term_signal, SIGPIPE) << "exit " << result.exit_code;
  } else {
    EXPECT_EQ(result.exit_code, kOutputLostExitStatus) << "signal " << result.term_signal;
  }
}

std::vector<std::string> LiveArgs() {
  return {"--second-model", "/nonexistent/model.onnx", "--second-tokens",
          "/nonexistent/tokens.txt", "--manual-mode"};
}

class StdoutClosed : public ::testing::TestWithParam<Sigpipe> {};

TEST_P(StdoutClosed, LiveEngineEndsAtItsNextEvent) {
  EngineSession engine(LiveArgs(), Spawn(GetParam(), true));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.CloseStdout();
  // "start" is answered with log lines, which can no longer be written.
  engine.SendCommand("start");
  ExpectEndedByLostOutput(engine.Finish(kPatience), GetParam());
}

TEST_P(StdoutClosed, LiveEngineEndsWhenTheAudioThreadEmits) {
  EngineSession engine(LiveArgs(), Spawn(GetParam(), true));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.CloseStdout();
  // No command at all: the keepalive line after five seconds of audio is the
  // first event, written by the audio thread.
  engine.SendAudio(std::vector<float>(5 * 16000 + 1600, 0.0f));
  ExpectEndedByLostOutput(engine.Finish(kPatience), GetParam());
}

TEST_P(StdoutClosed, FileModeEndsBeforeDecoding) {
  std::vector<std::string> args = testing::SenseVoiceArgs();
  for (const char* arg : {"--manual-mode", "--wav-input"}) args.push_back(arg);
  args.push_back(AudioPath("long_recording.wav"));
  EngineSession engine(args, Spawn(GetParam(), false));
  engine.CloseStdout();
  engine.CloseStdin();
  ExpectEndedByLostOutput(engine.Finish(kPatience), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Sigpipe, StdoutClosed,
                         ::testing::Values(Sigpipe::kDefault, Sigpipe::kIgnored),
                         [](const ::testing::TestParamInfo<Sigpipe>& param) {
                           return param.param == Sigpipe::kDefault ? std::string("Default")
                                                                   : std::string("Ignored");
                         });

// Starting the diarization helper makes the engine ignore SIGPIPE itself, so
// even a host with the default disposition gets the exit status.
TEST(StdoutClosedWithHelper, EngineThatIgnoresSigpipeStillEnds) {
  ScopedTempDir helper_dir("stdout-helper");
  ASSERT_FALSE(helper_dir.path().empty());
  helper_dir.Write("script", "");
  std::vector<std::string> args = LiveArgs();
  for (const std::string& arg :
       {std::string("--diarization"), std::string("--diarization-model"), helper_dir.path(),
        std::string("--diarization-helper-binary"), std::string(DICTACORE_DIAR_TEST_HELPER)}) {
    args.push_back(arg);
  }
  EngineSession engine(args, Spawn(Sigpipe::kDefault, true));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog("[M2] Speaker diarization initialized (fluidaudio-diar, backend="));
  engine.CloseStdout();
  engine.SendCommand("start");
  ExpectEndedByLostOutput(engine.Finish(kPatience), Sigpipe::kIgnored);
}

}  // namespace
}  // namespace dictacore
