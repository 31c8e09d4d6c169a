// Live mode as the host drives it: session commands, the ways a session ends
// and the session diagnostics. These runs need no recognizer output; the
// decode paths are covered with the kit's models elsewhere.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::EngineSession;
using testing::Silence;
using testing::Event;

// A decoder that cannot load: the engine runs in skeleton fallback mode.
std::vector<std::string> SkeletonArgs(std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--second-model", "/nonexistent/model.onnx",
                                   "--second-tokens", "/nonexistent/tokens.txt", "--manual-mode"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// Starts session 1 and feeds it exactly five seconds of audio, all taken in.
void CaptureFiveSeconds(EngineSession* engine) {
  engine->StartCapture(1);
  ASSERT_TRUE(engine->SendAndSync(Silence(4.9)));
}

TEST(LiveSession, QuitEndsTheSession) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog("[M2] Running in skeleton fallback mode"));
  // The audio thread waits for audio when "quit" comes; none comes, and the
  // pipe stays open.
  engine.SendAudio(Silence(0.1));
  ASSERT_TRUE(engine.WaitUntilAudioRead());
  engine.SendCommand("quit");
  ASSERT_TRUE(engine.WaitForLog("Quit requested"));
  const auto result = engine.Finish();
  EXPECT_EQ(result.exit_code, 0);
  const auto complete = engine.OfType("complete");
  ASSERT_EQ(complete.size(), 1u);
  EXPECT_EQ(complete[0]["message"], "Session ended (partial M2)");
  EXPECT_TRUE(engine.bad_lines().empty());
}

TEST(LiveSession, StdinClosedThenPipeClosedEndsTheSession) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.CloseStdin();
  engine.SendAudio(Silence(0.3));
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_EQ(engine.events().back()["type"], "complete");
}

TEST(LiveSession, ClosingOnlyStdinKeepsTheSessionRunning) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.CloseStdin();
  // The engine must still be there, reading audio.
  EXPECT_FALSE(engine.WaitForType("complete", std::chrono::milliseconds(500)));
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForType("complete"));
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, PipeClosedMidSessionEndsWithoutAFinalDecode) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendCommand("start");
  engine.SendAudio(Silence(0.5));
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  engine.CloseStdin();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_TRUE(engine.OfType("result").empty());
  EXPECT_TRUE(engine.OfType("error").empty());
}

TEST(LiveSession, ReadErrorOnTheAudioDescriptorEndsTheSession) {
  // Descriptor 47 is not open in the child: every read fails with EBADF.
  EngineSession engine(SkeletonArgs({"--audio-fd", "47"}), false);
  ASSERT_TRUE(engine.WaitForType("ready"));
  const auto error = engine.WaitForType("error");
  ASSERT_TRUE(error);
  EXPECT_EQ((*error)["message"], "PCM pipe read failed");
  engine.CloseStdin();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_EQ(engine.events().back()["message"], "Session ended (partial M2)");
}

TEST(LiveSession, StartTwiceReportsTheFirstSessionsCount) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  CaptureFiveSeconds(&engine);
  EXPECT_TRUE(engine.HasLog("[SESSION-DIAG] cmd=start seq=1 "));
  EXPECT_TRUE(engine.HasLog("[SESSION-DIAG] first-chunk seq=1 "));
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("[SESSION-DIAG] cmd=stop seq=1 captured_samples="));
  engine.SendCommand("start");
  const auto second = engine.WaitForLog("[SESSION-DIAG] cmd=start seq=2 ");
  ASSERT_TRUE(second);
  const std::string message = (*second)["message"];
  // The stop above decoded (and failed) but did not reset the count, so the
  // first session's captured samples show up here.
  EXPECT_NE(message.find(" prev_captured_samples=80000 "), std::string::npos) << message;
  EXPECT_NE(message.find(" prev_total_samples=80000 "), std::string::npos) << message;
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, StartDrawsACleanLineInTheAudio) {
  // Realtime push-to-talk without a VAD model: the audio thread ends the
  // session (buffering path), so the session's own count is exact.
  EngineSession engine(SkeletonArgs({"--manual-realtime", "--start-paused"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  // Read before "start", but not yet a whole chunk.
  engine.SendAudio(std::vector<float>(1000, 0.25f));
  ASSERT_TRUE(engine.WaitUntilAudioRead());
  engine.SendCommand("start");
  const auto cleared = engine.WaitForLog("[SESSION-DIAG] pcm-pending-cleared ");
  ASSERT_TRUE(cleared);
  EXPECT_EQ((*cleared)["message"],
            "[SESSION-DIAG] pcm-pending-cleared at=loop-top dropped_bytes=2000 "
            "dropped_samples~=1000");
  // The session's audio in one write larger than the pipe holds: 50 chunks
  // and part of one, which "stop" takes as the last chunk.
  engine.SendAudio(std::vector<float>(80300, 0.0f));
  ASSERT_TRUE(engine.WaitForLog("PCM keepalive: received 5.000000s audio"));
  engine.SendCommand("stop");
  const auto error = engine.WaitForType("error");
  ASSERT_TRUE(error);
  EXPECT_EQ((*error)["message"], "Second-pass decode failed: Decoder is not initialized");
  engine.SendCommand("start");
  const auto second = engine.WaitForLog("[SESSION-DIAG] cmd=start seq=2 ");
  ASSERT_TRUE(second);
  EXPECT_NE((*second)["message"].get<std::string>().find(" prev_captured_samples=80300 "),
            std::string::npos)
      << (*second)["message"];
  engine.SendCommand("quit");
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, ResetDiagnosticsAfterStart) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendCommand("start");
  ASSERT_TRUE(engine.WaitForLog("Capture started"));
  engine.SendAudio(Silence(0.2));
  const auto cleared = engine.WaitForLog("[SESSION-DIAG] pcm-pending-cleared at=");
  ASSERT_TRUE(cleared);
  const auto consumed = engine.WaitForLog("[SESSION-DIAG] session-reset-consumed seq=1 at=");
  ASSERT_TRUE(consumed);
  const auto first_chunk = engine.WaitForLog("[SESSION-DIAG] first-chunk seq=1 ");
  ASSERT_TRUE(first_chunk);
  EXPECT_NE((*first_chunk)["message"].get<std::string>().find(" reset_applied_seq=1 "),
            std::string::npos);
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, PushToTalkStopDecodesOnTheCommandThread) {
  EngineSession engine(SkeletonArgs({"--offline-2pass"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  CaptureFiveSeconds(&engine);
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
  const auto error = engine.WaitForType("error");
  ASSERT_TRUE(error);
  EXPECT_EQ((*error)["message"], "Second-pass decode failed: Decoder is not initialized");
  // A second stop finds the buffer empty.
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("No audio captured in this segment"));
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, ShortRecordingIsSkipped) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendCommand("start");
  ASSERT_TRUE(engine.WaitForLog("Capture started"));
  // 799 samples: one short chunk that arrives only with the end of the pipe.
  engine.SendAudio(std::vector<float>(799, 0.0f));
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("Recording too short, skipping decode"));
  engine.CloseStdin();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(LiveSession, PlainLiveStopOnlyStopsCapture) {
  EngineSession engine({"--second-model", "/nonexistent/m.onnx", "--second-tokens", "/x",
                        "--first-encoder", "e", "--first-decoder", "d", "--first-joiner", "j",
                        "--first-tokens", "t"});
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendAudio(Silence(0.3));
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_TRUE(engine.OfType("result").empty());
  EXPECT_TRUE(engine.OfType("error").empty());
  EXPECT_FALSE(engine.HasLog("No audio captured"));
}

TEST(LiveSession, CommandGrammar) {
  EngineSession engine(SkeletonArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendCommand("START");
  engine.SendCommand("start ");
  engine.SendCommand("start\r");
  engine.SendCommand("");
  engine.SendCommand("manual");
  engine.SendCommand("auto");
  engine.SendCommand("set single-partial-interval");
  engine.SendCommand("set single-partial-interval x");
  engine.SendCommand("set  single-partial-interval   0.05 tail");
  engine.SendCommand("quit");
  ASSERT_TRUE(engine.WaitForLog("Quit requested"));
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  const std::vector<std::string> expected = {
      "Unknown command: START",
      "Unknown command: start ",
      "Unknown command: start\r",
      "Mode switched to manual",
      "Mode switched to auto",
      "Unknown command: set single-partial-interval",
      "Unknown command: set single-partial-interval x",
      "single-partial-interval updated to 0.200s (inactive until native single-model "
      "manual-realtime is used)",
      "Quit requested"};
  EXPECT_EQ(engine.CommandLogs(), expected);
}

TEST(LiveSession, KeepaliveEveryFiveSecondsOfAudio) {
  EngineSession engine(SkeletonArgs({"--start-paused"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  // Not capturing: counted for the keepalive, nothing else.
  engine.SendAudio(Silence(10.05));
  ASSERT_TRUE(engine.WaitForLog("PCM keepalive: received 10.000000s audio"));
  engine.SendCommand("quit");
  engine.CloseAudio();
  engine.Finish();
  std::vector<std::string> keepalive;
  for (const std::string& m : engine.Logs()) {
    if (m.rfind("PCM keepalive", 0) == 0) keepalive.push_back(m);
  }
  EXPECT_EQ(keepalive, (std::vector<std::string>{"PCM keepalive: received 5.000000s audio",
                                                 "PCM keepalive: received 10.000000s audio"}));
  EXPECT_FALSE(engine.HasLog("[SESSION-DIAG] first-chunk"));
}

TEST(LiveSession, FloatPipeFormat) {
  EngineSession engine(SkeletonArgs({"--audio-format", "f32le", "--offline-2pass"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.SendCommand("start");
  ASSERT_TRUE(engine.WaitForLog("Capture started"));
  engine.SendAudio(Silence(0.1), true);
  ASSERT_TRUE(engine.WaitForLog("[SESSION-DIAG] first-chunk"));
  engine.SendAudio(Silence(0.15), true);
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  engine.SendCommand("stop");
  const auto stop = engine.WaitForLog("[SESSION-DIAG] cmd=stop");
  ASSERT_TRUE(stop);
  EXPECT_NE((*stop)["message"].get<std::string>().find("captured_samples=4000 "),
            std::string::npos);
  engine.CloseStdin();
  engine.Finish();
}

}  // namespace
}  // namespace dictacore
