// Standard input as a careless or dying host leaves it: closed before the
// first command or in the middle of a dictation, cut in the middle of a line,
// or one line that never ends. The session goes on as far as the audio pipe
// lets it, every complete command still works, and nothing grows without
// bound.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::EngineSession;

std::vector<std::string> PushToTalkArgs() {
  return {"--second-model", "/nonexistent/model.onnx", "--second-tokens",
          "/nonexistent/tokens.txt", "--manual-mode", "--start-paused"};
}

std::vector<float> Silence(double seconds) {
  return std::vector<float>(static_cast<size_t>(seconds * 16000), 0.0f);
}

TEST(StdinClosed, BeforeStartNothingIsCapturedAndThePipeStillEndsTheRun) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.CloseStdin();
  ASSERT_TRUE(engine.SendAndSync(Silence(1.0)));
  engine.CloseAudio();
  const auto result = engine.Finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(engine.events().back()["message"], "Session ended (partial M2)");
  EXPECT_FALSE(engine.HasLog("Capture started"));
  EXPECT_FALSE(engine.HasLog("[SESSION-DIAG] first-chunk"));
  EXPECT_TRUE(engine.OfType("error").empty());
  EXPECT_TRUE(engine.bad_lines().empty());
}

TEST(StdinClosed, MidDictationTheSessionEndsWithThePipeWithoutADecode) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  ASSERT_TRUE(engine.SendAndSync(Silence(2.0)));
  engine.CloseStdin();
  // The audio keeps being captured: the engine is still there.
  ASSERT_TRUE(engine.SendAndSync(Silence(1.0)));
  engine.CloseAudio();
  const auto result = engine.Finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(engine.HasLog("PCM pipe closed"));
  EXPECT_FALSE(engine.HasLog("[SESSION-DIAG] cmd=stop"));
  EXPECT_TRUE(engine.OfType("result").empty());
  EXPECT_TRUE(engine.OfType("error").empty());
  EXPECT_EQ(engine.events().back()["type"], "complete");
}

TEST(StdinClosed, CutLastLineIsReadAsItStands) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  // A complete "start", then a host that dies in the middle of "stop".
  engine.StartCapture(1);
  ASSERT_TRUE(engine.SendAndSync(Silence(1.0)));
  ASSERT_TRUE(engine.WriteStdin("sto"));
  engine.CloseStdin();
  ASSERT_TRUE(engine.WaitForLog("Unknown command: sto"));
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_FALSE(engine.HasLog("Capture stopped"));
  EXPECT_TRUE(engine.OfType("result").empty());
}

TEST(StdinClosed, WholeLastCommandWithoutLineFeedStillRuns) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  ASSERT_TRUE(engine.SendAndSync(Silence(1.0)));
  ASSERT_TRUE(engine.WriteStdin("stop"));
  engine.CloseStdin();
  // The push-to-talk stop decodes at once; the model is missing, so the
  // decode reports its failure, which shows that it ran.
  const auto error = engine.WaitForType("error");
  ASSERT_TRUE(error);
  EXPECT_EQ((*error)["message"], "Second-pass decode failed: Decoder is not initialized");
  EXPECT_TRUE(engine.HasLog("Capture stopped"));
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(StdinLines, EndlessLineIsSkippedAndLoggedShort) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  const std::string huge(4 << 20, 'x');  // 4 MiB, far past the 64 KiB limit
  // Written on a thread of its own: the engine's answers must be read
  // meanwhile, or both sides would wait on full pipes.
  bool written = false;
  std::thread writer([&] {
    written = engine.WriteStdin(huge + "\nmanual\n" + std::string(65536, 'y') + "\n" +
                                std::string(65537, 'z') + "\nquit\n");
  });
  const bool quit = engine.WaitForLog("Quit requested").has_value();
  writer.join();
  EXPECT_TRUE(written);
  ASSERT_TRUE(quit);
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  const std::vector<std::string> expected = {
      "Unknown command: " + std::string(64, 'x') + "... (4194304 bytes)",
      "Mode switched to manual",
      // Exactly at the limit the line is whole.
      "Unknown command: " + std::string(65536, 'y'),
      "Unknown command: " + std::string(64, 'z') + "... (65537 bytes)",
      "Quit requested"};
  EXPECT_EQ(engine.CommandLogs(), expected);
}

TEST(StdinLines, EndlessLineCutByTheEndOfInput) {
  EngineSession engine(PushToTalkArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  ASSERT_TRUE(engine.WriteStdin("manual\n" + std::string(1 << 20, 'q')));
  engine.CloseStdin();
  ASSERT_TRUE(engine.WaitForLog("Unknown command: "));
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_EQ(engine.CommandLogs(),
            (std::vector<std::string>{"Mode switched to manual",
                                      "Unknown command: " + std::string(64, 'q') +
                                          "... (1048576 bytes)"}));
}

}  // namespace
}  // namespace dictacore
