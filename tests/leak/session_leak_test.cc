// Leak check of live sessions: dictacore built with LeakSanitizer runs many
// start/stop sessions through the real toolkit with the kit's models and quits;
// at exit the sanitizer reports every block that nothing points to any more.
// Memory that grows while still reachable is measured by the session-memory
// benchmark (bench/live_bench sessions).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/engine_session.h"
#include "tests/support/subprocess.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineSession;
using testing::Event;

constexpr int kSessions = 20;
// LeakSanitizer's exit status when it found leaks.
constexpr int kLeakExit = 23;

std::string LeakcheckProgram(const std::string& name) {
  return std::string(DICTACORE_LEAKCHECK_DIR) + "/" + name;
}

std::vector<std::string> RealtimeArgs(bool offline) {
  std::vector<std::string> args = testing::RealtimeKitArgs();
  if (offline) args.push_back("--offline-2pass");
  return args;
}

// "hello world", a pause, "你好世界" and 0.1 s of silence, with silence in
// front to make it 5 s: the second phrase is still open at "stop" (the VAD
// ends a segment after 0.5 s of silence).
std::vector<float> Dictation() {
  const std::vector<float> speech = testing::LoadWav(AudioPath("speech_pause_speech.wav"));
  const size_t end = static_cast<size_t>(4.62 * 16000);
  std::vector<float> audio(5 * 16000 - end, 0.0f);
  audio.insert(audio.end(), speech.begin(), speech.begin() + static_cast<std::ptrdiff_t>(end));
  return audio;
}

bool IsLog(const Event& e, const std::string& prefix) {
  return e.value("type", "") == "log" && e.value("message", "").rfind(prefix, 0) == 0;
}

// Waits until the engine has read `seconds` of audio in all (its keepalive
// line, which may have been read already).
bool AudioTaken(EngineSession* engine, int seconds) {
  const std::string line =
      "PCM keepalive: received " + std::to_string(seconds) + ".000000s audio";
  for (const Event& e : engine->events()) {
    if (IsLog(e, line)) return true;
  }
  if (engine->WaitForLog(line, std::chrono::seconds(20))) return true;
  std::string recent;
  const auto& events = engine->events();
  for (size_t i = events.size() > 30 ? events.size() - 30 : 0; i < events.size(); ++i) {
    recent += events[i].dump() + "\n";
  }
  ADD_FAILURE() << "no line \"" << line << "\"; the last events:\n" << recent;
  return false;
}

// The suppressions built into dictacore_leakcheck are the whole list: a
// suppression file from the environment (the sanitizer suites set one that
// exempts whole toolkit libraries) would also hide handles the engine never
// gives back, which the toolkit allocates.
class LeakEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { unsetenv("LSAN_OPTIONS"); }
};
const auto* const kLeakEnvironment = ::testing::AddGlobalTestEnvironment(new LeakEnvironment);

TEST(LeakCheck, TheSanitizerReportsALeak) {
  const testing::ProcessResult result = testing::RunProcess({LeakcheckProgram("leak_canary")});
  EXPECT_EQ(result.exit_code, kLeakExit);
  EXPECT_NE(result.err.find("LeakSanitizer: detected memory leaks"), std::string::npos)
      << result.err;
}

class SessionLeakTest : public ::testing::TestWithParam<bool> {};

TEST_P(SessionLeakTest, ManySessionsLeaveNoUnreachableMemory) {
  const bool offline = GetParam();
  EngineSession engine(RealtimeArgs(offline), true, LeakcheckProgram("dictacore_leakcheck"));
  ASSERT_TRUE(engine.WaitForType("ready"));
  const std::vector<float> audio = Dictation();
  int seconds = 0;
  for (int session = 1; session <= kSessions; ++session) {
    SCOPED_TRACE("session " + std::to_string(session));
    engine.SendCommand("start");
    ASSERT_TRUE(engine.WaitForLog("Capture started"));
    // Whole 5 s blocks, so that the keepalive lines tell when the engine has
    // read everything and no partial chunk is left over for the next session.
    // The first chunk goes alone: the session's clear of pending pipe bytes
    // then has nothing to drop.
    engine.SendAudio(std::vector<float>(audio.begin(), audio.begin() + 1600));
    ASSERT_TRUE(engine.WaitForLog("[SESSION-DIAG] first-chunk"));
    engine.SendAudio(std::vector<float>(audio.begin() + 1600, audio.end()));
    seconds += 5;
    ASSERT_TRUE(AudioTaken(&engine, seconds));
    engine.SendCommand("stop");
    // Capture must be off before more audio comes, or the silence could close
    // the open phrase before the stop flushes it.
    ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
    // The microphone stays open: silence after "stop" (realtime mode acts on
    // "stop" at the next chunk).
    engine.SendAudio(std::vector<float>(5 * 16000, 0.0f));
    seconds += 5;
    if (offline) {
      const auto result = engine.WaitFor([](const Event& e) {
        return e.value("type", "") == "result" && e.value("offline_2pass", false);
      });
      ASSERT_TRUE(result);
      EXPECT_FALSE(result->value("merged_text", "").empty());
    } else {
      const auto flush = engine.WaitFor(
          [](const Event& e) { return IsLog(e, "[VAD] seg source=flush id="); });
      ASSERT_TRUE(flush);
      const std::string message = flush->value("message", "");
      const int id = std::stoi(message.substr(message.find("id=") + 3));
      ASSERT_TRUE(engine.WaitFor([&](const Event& e) {
        return e.value("type", "") == "result" && e.value("segment_id", -1) == id;
      }));
    }
    ASSERT_TRUE(AudioTaken(&engine, seconds));
  }
  engine.SendCommand("quit");
  engine.CloseAudio();
  engine.CloseStdin();
  const testing::ProcessResult result = engine.Finish(std::chrono::seconds(120));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err.find("LeakSanitizer"), std::string::npos) << result.err;
  EXPECT_EQ(engine.OfType("complete").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, SessionLeakTest, ::testing::Values(false, true),
                         [](const auto& mode) { return mode.param ? "OfflineTwoPass" : "Realtime"; });

}  // namespace
}  // namespace dictacore
