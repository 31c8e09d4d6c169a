// File transcription with the diarization helper process
// (--diarization-helper-binary) when the helper dies or misbehaves at each
// step of its line protocol: before its READY line, with another first line,
// right after READY, after reading the request, in the middle of its answer,
// with an endless line, and when it will not exit at the end; and when it
// stops answering (at the handshake, on the request, after part of its
// answer), in file mode and at a live "stop". The engine reports the failure,
// the transcript comes out without speaker labels, the run ends with status 0
// and no helper process is left behind. The stand-in helper is
// tests/diar_helper; the recognizer, VAD and audio are the kit's. The tests of
// a helper that stops answering run the engine built with time limits of
// seconds (tests/diar_helper/quick_limits_main.cc).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineRun;
using testing::EngineSession;
using testing::Event;
using testing::ModelPath;
using testing::RunEngine;

// The engine with helper time limits of seconds: 3 s for READY, 2 s plus a
// tenth of the audio's duration for an answer (ample for the stand-in, also
// in sanitizer builds on a busy machine).
const std::string kQuickEngine = DICTACORE_QUICK_HELPER_LIMITS;

// The kit clip holds "hello world" (0.60-1.41 s) and "你好世界" (2.91-4.52 s).
constexpr char kTurnA[] = "emit 0.5\\t1.6\\tA\n";
constexpr char kTurnB[] = "emit 2.8\\t4.7\\tB\n";

class HelperRun {
 public:
  explicit HelperRun(const std::string& script) { dir_.Write("script", script); }

  std::vector<std::string> DiarizationArgs() const {
    return {"--diarization", "--diarization-model", dir_.path(), "--diarization-helper-binary",
            DICTACORE_DIAR_TEST_HELPER};
  }

  EngineRun Transcribe(const std::string& program = "") const {
    std::vector<std::string> args = testing::SenseVoiceArgs();
    const std::vector<std::string> rest = {
        "--manual-mode", "--silero-vad-model", ModelPath("silero/silero_vad_v5.onnx"),
        "--wav-input", AudioPath("speech_pause_speech.wav")};
    args.insert(args.end(), rest.begin(), rest.end());
    const std::vector<std::string> diarization = DiarizationArgs();
    args.insert(args.end(), diarization.begin(), diarization.end());
    return RunEngine(args, testing::Subprocess::Config(), "", program);
  }

  // Process ids of every helper started, in order.
  std::vector<pid_t> Runs() const {
    std::ifstream in(dir_.File("runs"));
    std::vector<pid_t> pids;
    for (pid_t pid = 0; in >> pid;) pids.push_back(pid);
    return pids;
  }

  // True when a helper was started and none is running any more.
  bool HelperGone() const {
    const std::vector<pid_t> pids = Runs();
    if (pids.empty()) return false;
    for (pid_t pid : pids) {
      if (::kill(pid, 0) == 0 || errno != ESRCH) return false;
    }
    return true;
  }
  // The helper records what happened to it as files ("eof", "sigterm").
  bool Saw(const std::string& name) const { return ::access(dir_.File(name).c_str(), F_OK) == 0; }

 private:
  ScopedTempDir dir_{"diar-helper-e2e"};
};

// The transcript, one segment per VAD group, and whether any has a speaker.
void ExpectTranscript(const EngineRun& run, bool labelled) {
  EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
  EXPECT_TRUE(run.bad_lines.empty());
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back()["message"], "WAV decode done");
  const auto results = run.OfType("result");
  ASSERT_EQ(results.size(), 1u) << run.result.out;
  const auto& segments = results[0]["segments"];
  ASSERT_EQ(segments.size(), 2u) << results[0].dump();
  EXPECT_EQ(segments[0]["text"], "hello world");
  EXPECT_EQ(segments[1]["text"], "你好世界");
  for (const auto& segment : segments) EXPECT_EQ(segment.contains("speaker"), labelled);
  if (labelled) {
    EXPECT_EQ(segments[0]["speaker"], "SPEAKER_00");
    EXPECT_EQ(segments[1]["speaker"], "SPEAKER_01");
  }
}

TEST(DiarizationHelperFaults, AnsweringHelperLabelsTheTranscript) {
  HelperRun helper(std::string(kTurnA) + kTurnB);
  const EngineRun run = helper.Transcribe();
  EXPECT_TRUE(run.HasLog("[M2] Speaker diarization initialized (fluidaudio-diar, backend=offline)"));
  EXPECT_TRUE(run.HasLog("diarization segments=2 audio_s="));
  ExpectTranscript(run, true);
  EXPECT_TRUE(helper.Saw("eof")) << "the helper was told to exit by the end of its input";
  EXPECT_TRUE(helper.HelperGone());
}

struct StartFault {
  const char* name;
  const char* script;
  const char* report;  // the start-up log line
  std::string program = "";
};

class HelperFailsToStart : public ::testing::TestWithParam<StartFault> {};

TEST_P(HelperFailsToStart, TranscriptComesOutUnlabelled) {
  HelperRun helper(GetParam().script);
  const EngineRun run = helper.Transcribe(GetParam().program);
  EXPECT_TRUE(run.HasLog(GetParam().report)) << run.result.out;
  EXPECT_TRUE(run.HasLog("diarization skipped: backend not initialized"));
  ExpectTranscript(run, false);
  EXPECT_TRUE(helper.HelperGone());
}

INSTANTIATE_TEST_SUITE_P(
    Handshake, HelperFailsToStart,
    ::testing::Values(
        StartFault{"ExitsBeforeReady", "first-none\n",
                   "[M2] Speaker diarization init failed: fluidaudio backend init failed: "
                   "diarization helper exited before READY"},
        StartFault{"OtherFirstLine", "first Loading models\\r\n",
                   "[M2] Speaker diarization init failed: fluidaudio backend init failed: "
                   "expected READY from diarization helper, got: Loading models"},
        StartFault{"HangsAtHandshake", "hang-at-start\n",
                   "[M2] Speaker diarization init failed: fluidaudio backend init failed: "
                   "diarization helper sent no READY within 3.0 s; ended it",
                   kQuickEngine}),
    [](const ::testing::TestParamInfo<StartFault>& param) { return std::string(param.param.name); });

struct RequestFault {
  const char* name;
  std::string script;
  const char* report;  // the start of the "diarization failed: " line
  std::string program = "";
};

class HelperFailsARequest : public ::testing::TestWithParam<RequestFault> {};

TEST_P(HelperFailsARequest, TranscriptComesOutUnlabelled) {
  HelperRun helper(GetParam().script);
  const EngineRun run = helper.Transcribe(GetParam().program);
  EXPECT_TRUE(run.HasLog("[M2] Speaker diarization initialized (fluidaudio-diar"));
  EXPECT_TRUE(run.HasLog(GetParam().report)) << run.result.out;
  EXPECT_TRUE(run.HasLog("diarization failed; continue without speaker labels"));
  // Turns the helper sent before it failed are not used either.
  ExpectTranscript(run, false);
  EXPECT_TRUE(helper.HelperGone());
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, HelperFailsARequest,
    ::testing::Values(
        // Dead before the request: writing it, or reading the answer, fails.
        RequestFault{"ExitsAfterReady", "exit-after-ready\n", "diarization failed: "},
        RequestFault{"DiesOnTheRequest", std::string("die-after 0\n") + kTurnA,
                     "diarization failed: diarization helper closed stdout before DONE"},
        RequestFault{"DiesMidAnswer", std::string("die-after 1\n") + kTurnA + kTurnB,
                     "diarization failed: diarization helper closed stdout before DONE"},
        RequestFault{"EndlessLine", std::string("long-line 200000\n") + kTurnA,
                     "diarization failed: diarization helper closed stdout before DONE"},
        // Stops answering: the helper is ended after the time limit.
        RequestFault{"HangsOnTheRequest", std::string("hang-after 0\n") + kTurnA,
                     "diarization failed: diarization helper did not answer within ",
                     kQuickEngine},
        RequestFault{"HangsAfterPartOfItsAnswer",
                     std::string("hang-after 1\nhang-partial 2.8\\t4.\n") + kTurnA + kTurnB,
                     "diarization failed: diarization helper did not answer within ",
                     kQuickEngine}),
    [](const ::testing::TestParamInfo<RequestFault>& param) {
      return std::string(param.param.name);
    });

// A helper that neither exits at the end of its input nor on SIGTERM is
// killed, and the run still ends.
TEST(DiarizationHelperFaults, HelperThatWillNotExitIsKilledAtTheEnd) {
  HelperRun helper(std::string(kTurnA) + kTurnB + "on-eof hang\non-sigterm ignore\n");
  const EngineRun run = helper.Transcribe();
  ExpectTranscript(run, true);
  EXPECT_TRUE(helper.Saw("eof"));
  EXPECT_TRUE(helper.Saw("sigterm"));
  EXPECT_TRUE(helper.HelperGone());
}

// At a live "stop" the offline decode waits for the helper: one that stops
// answering costs that dictation its speakers, not its words, and the next
// dictation starts a new helper.
TEST(DiarizationHelperFaults, LiveStopOutlastsAHelperThatStopsAnswering) {
  HelperRun helper(std::string(kTurnA) + kTurnB + "hang-after 1\nhang-runs 1\n");
  std::vector<std::string> args = testing::RealtimeKitArgs();
  const std::vector<std::string> rest = {"--offline-2pass", "--second-pass-every", "0"};
  args.insert(args.end(), rest.begin(), rest.end());
  const std::vector<std::string> diarization = helper.DiarizationArgs();
  args.insert(args.end(), diarization.begin(), diarization.end());
  EngineSession engine(args, true, kQuickEngine);
  ASSERT_TRUE(engine.WaitForType("ready"));
  const std::vector<float> clip = testing::LoadWav(AudioPath("speech_pause_speech.wav"));
  std::vector<Event> finals;
  for (int seq = 1; seq <= 2; ++seq) {
    engine.StartCapture(seq);
    ASSERT_TRUE(engine.SendAndSync(clip));
    engine.SendCommand("stop");
    const auto result = engine.WaitFor(
        [](const Event& e) { return e["type"] == "result" && e.value("offline_2pass", false); });
    ASSERT_TRUE(result) << "session " << seq;
    finals.push_back(*result);
  }
  EXPECT_TRUE(engine.HasLog("diarization failed: diarization helper did not answer within "));
  // The same words both times, only the speakers differ.
  const std::string words = finals[0].value("merged_text", "");
  EXPECT_EQ(words.rfind("hello world", 0), 0u) << words;
  EXPECT_EQ(finals[1]["merged_text"], words);
  ASSERT_EQ(finals[0]["segments"].size(), finals[1]["segments"].size());
  for (const auto& segment : finals[0]["segments"]) EXPECT_FALSE(segment.contains("speaker"));
  for (const auto& segment : finals[1]["segments"]) EXPECT_TRUE(segment.contains("speaker"));
  EXPECT_EQ(helper.Runs().size(), 2u);
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_TRUE(helper.HelperGone());
}

}  // namespace
}  // namespace dictacore
