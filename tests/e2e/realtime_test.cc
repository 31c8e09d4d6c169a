// Live dictation with the realtime paths (--manual-mode --manual-realtime):
// streaming partials, VAD segments, punctuated segment texts, realtime
// second-pass batches, the offline decode at stop, and the fall-backs. Real
// program, real toolkit, the kit's models and audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineSession;
using testing::Silence;
using testing::Event;
using testing::KitFile;
using testing::LoadWav;
using testing::ModelPath;

std::vector<std::string> RealtimeArgs(std::vector<std::string> extra = {}) {
  std::vector<std::string> args = testing::RealtimeKitArgs();
  args.insert(args.end(), {"--session-id", "3"});
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::vector<float> Clip(const std::string& name, double from, double to) {
  const std::vector<float> audio = LoadWav(AudioPath(name + ".wav"));
  const auto begin = static_cast<size_t>(from * 16000);
  const auto end = std::min(audio.size(), static_cast<size_t>(to * 16000));
  return std::vector<float>(audio.begin() + static_cast<long>(begin),
                            audio.begin() + static_cast<long>(end));
}

// Events of `type` from the `index`-th "start" on.
std::vector<Event> SessionEvents(const EngineSession& engine, int seq, const std::string& type) {
  std::vector<Event> out;
  int current = 0;
  for (const Event& e : engine.events()) {
    if (e["type"] == "log" &&
        e["message"].get<std::string>().rfind("[SESSION-DIAG] cmd=start seq=", 0) == 0) {
      ++current;
    }
    if (current == seq && e["type"] == type) out.push_back(e);
  }
  return out;
}

void Stop(EngineSession* engine) {
  engine->SendCommand("stop");
  ASSERT_TRUE(engine->WaitForLog("Capture stopped"));
  // An open microphone goes on writing.
  engine->SendAudio(Silence(0.2));
}

void Quit(EngineSession* engine) {
  engine->SendCommand("quit");
  engine->CloseAudio();
  const auto result = engine->Finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(engine->bad_lines().empty());
}

TEST(Realtime, PartialsSegmentsAndABatchOfTwo) {
  EngineSession engine(RealtimeArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog("[M3] Online recognizer initialized for first-pass partials"));
  EXPECT_TRUE(engine.HasLog("[M2] VAD initialized for manual-realtime"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 5.3), false, true);
  engine.SendAudio(Silence(1.0));
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);

  // Partials carry the id the VAD gives the segment it closes next.
  const auto partials = SessionEvents(engine, 1, "first-pass");
  std::vector<std::string> first_texts;
  std::vector<std::string> second_texts;
  for (const Event& e : partials) {
    EXPECT_EQ(e["sessionId"], 3);
    EXPECT_EQ(e["is_final"], false);
    EXPECT_EQ(e["mode"], "online_partial");
    const std::string text = e["text"];
    if (text.empty()) continue;
    (e["segment_id"] == 1 ? first_texts : second_texts).push_back(text);
  }
  EXPECT_EQ(first_texts, (std::vector<std::string>{"hello", "hello world"}));
  ASSERT_FALSE(second_texts.empty());
  EXPECT_EQ(second_texts.back(), "你好世界");

  // Each closed segment: one [VAD] line, its punctuated text and an empty
  // first-pass event, all with the same id.
  const auto punctuated = SessionEvents(engine, 1, "punctuated");
  ASSERT_EQ(punctuated.size(), 2u);
  EXPECT_EQ(punctuated[0]["segment_id"], 1);
  EXPECT_EQ(punctuated[0]["text"], "hello world。");
  EXPECT_EQ(punctuated[1]["segment_id"], 2);
  EXPECT_EQ(punctuated[1]["text"], "你好世界。");
  int empty_first_pass = 0;
  for (const Event& e : partials) empty_first_pass += e["text"] == "" ? 1 : 0;
  EXPECT_EQ(empty_first_pass, 2);
  EXPECT_TRUE(engine.HasLog("[VAD] seg source=stream id=1 start="));
  EXPECT_TRUE(engine.HasLog("[VAD] seg source=stream id=2 start="));

  // The first segment is under a second: it waits for the second one.
  EXPECT_TRUE(engine.HasLog("[M3] realtime 2pass pending short segment samples="));
  EXPECT_EQ((*result)["segment_id"], 2);
  EXPECT_EQ((*result)["segment_start_id"], 1);
  EXPECT_EQ((*result)["segment_count"], 2);
  EXPECT_EQ((*result)["sessionId"], 3);
  EXPECT_EQ(result->count("is_final"), 0u);
  EXPECT_EQ(result->count("offline_2pass"), 0u);
  EXPECT_EQ(result->count("merged_text"), 0u);
  const Event& segment = (*result)["segments"][0];
  EXPECT_EQ(segment["text"], "hello world你好，世界");  // not final: no closing mark
  const auto& utterances = KitFile("speech_pause_speech")["utterances"];
  // Session times: the clip follows 0.1 s of silence.
  EXPECT_NEAR(segment["start_time"].get<double>(), 0.1 + utterances[0]["start"].get<double>(), 0.3);
  EXPECT_GE(segment["end_time"].get<double>(), 0.1 + utterances[1]["end"].get<double>());
  Quit(&engine);
}

TEST(Realtime, StopDecodesPendingShortSegmentsAsFinal) {
  EngineSession engine(RealtimeArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 2.5));
  ASSERT_TRUE(engine.WaitForLog("[M3] realtime 2pass pending short segment samples="));
  EXPECT_TRUE(engine.OfType("result").empty());
  Stop(&engine);
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)["segment_count"], 1);
  EXPECT_EQ((*result)["segments"][0]["text"], "hello world。");  // final: closing mark
  Quit(&engine);
}

TEST(Realtime, StopFlushesTheOpenSegment) {
  EngineSession engine(RealtimeArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  // Stop while the speaker is still talking: the VAD is flushed.
  ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 2.5, 4.4)));
  Stop(&engine);
  ASSERT_TRUE(engine.WaitForLog("[VAD] seg source=flush id=1 "));
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)["segment_id"], 1);
  const std::string text = (*result)["segments"][0]["text"];
  EXPECT_EQ(text.rfind("你好", 0), 0u) << text;
  Quit(&engine);
}

TEST(Realtime, StopThenQuitOrPipeEndStillDecodes) {
  for (const bool close_pipe : {false, true}) {
    SCOPED_TRACE(close_pipe ? "pipe closed" : "quit");
    EngineSession engine(RealtimeArgs());
    ASSERT_TRUE(engine.WaitForType("ready"));
    engine.StartCapture(1);
    ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 0, 2.5)));
    engine.SendCommand("stop");
    ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
    if (close_pipe) {
      engine.CloseAudio();
      engine.CloseStdin();
    } else {
      engine.SendAudio(Silence(0.1));
      engine.SendCommand("quit");
      engine.CloseAudio();
    }
    EXPECT_EQ(engine.Finish().exit_code, 0);
    const auto results = engine.OfType("result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["segments"][0]["text"], "hello world。");
  }
}

std::vector<std::string> SingleModelArgs() {
  std::vector<std::string> args = testing::SenseVoiceArgs();
  args.insert(args.end(), {"--manual-mode", "--manual-realtime", "--single-model-streaming",
                           "--silero-vad-model", ModelPath("silero/silero_vad_v5.onnx")});
  return args;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

struct StopMode {
  const char* name;
  std::vector<std::string> args;
};

class RealtimeIdlePipe : public ::testing::TestWithParam<StopMode> {};

// Push-to-talk hosts pause the microphone at "stop": every mode must still
// give the dictation's result, and "quit" must end the process, without
// another byte of audio and with the pipe left open.
TEST_P(RealtimeIdlePipe, StopGivesTheResultAndQuitEnds) {
  EngineSession engine(GetParam().args);
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  // Stopped while the speaker is still talking.
  ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 2.5, 4.4)));
  EXPECT_TRUE(engine.OfType("result").empty());
  engine.SendCommand("stop");
  const bool offline = std::string(GetParam().name) == "OfflineTwoPass";
  const auto result = engine.WaitFor([offline](const Event& e) {
    return e["type"] == "result" && (!offline || e.value("offline_2pass", false));
  });
  ASSERT_TRUE(result);
  const std::string text = (*result)["segments"][0]["text"];
  EXPECT_TRUE(StartsWith(text, "你好")) << text;
  engine.SendCommand("quit");
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_EQ(engine.events().back()["message"], "Session ended (partial M2)");
}

INSTANTIATE_TEST_SUITE_P(
    EveryStopMode, RealtimeIdlePipe,
    ::testing::Values(StopMode{"Realtime", RealtimeArgs()},
                      StopMode{"SingleModel", SingleModelArgs()},
                      StopMode{"VadFallback",
                               RealtimeArgs({"--silero-vad-model", "/nonexistent/vad.onnx"})},
                      StopMode{"OfflineTwoPass", RealtimeArgs({"--offline-2pass"})},
                      StopMode{"PushToTalk", [] {
                                 std::vector<std::string> args = testing::SenseVoiceArgs();
                                 args.insert(args.end(),
                                             {"--manual-mode", "--ct-transformer",
                                              ModelPath("punct/model.onnx")});
                                 return args;
                               }()}),
    [](const ::testing::TestParamInfo<StopMode>& param) { return std::string(param.param.name); });

TEST(Realtime, StopAndStartInOneWriteKeepTheirOrder) {
  for (const StopMode& mode :
       {StopMode{"realtime", RealtimeArgs()}, StopMode{"single-model", SingleModelArgs()}}) {
    SCOPED_TRACE(mode.name);
    EngineSession engine(mode.args);
    ASSERT_TRUE(engine.WaitForType("ready"));
    engine.StartCapture(1);
    ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 2.5, 4.4)));
    ASSERT_TRUE(engine.WriteStdin("stop\nstart\n"));
    ASSERT_TRUE(engine.WaitForLog("[SESSION-DIAG] cmd=start seq=2 "));
    // The first session's result came before the second session began.
    const auto first = SessionEvents(engine, 1, "result");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]["segment_id"], 1);
    const std::string text = first[0]["segments"][0]["text"];
    EXPECT_TRUE(StartsWith(text, "你好")) << text;
    // The second session runs as any other.
    ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 2.5, 4.4)));
    engine.SendCommand("stop");
    ASSERT_TRUE(engine.WaitForType("result"));
    const auto second = SessionEvents(engine, 2, "result");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0]["segment_id"], 1);
    const std::string again = second[0]["segments"][0]["text"];
    EXPECT_TRUE(StartsWith(again, "你好")) << again;
    Quit(&engine);
  }
}

// What one session found: its VAD segments, punctuated texts and results.
struct Findings {
  std::vector<std::string> segments;
  std::vector<std::string> punctuated;
  std::vector<std::string> results;
};

Findings FindingsAtChunkDuration(const std::string& seconds) {
  EngineSession engine(RealtimeArgs({"--chunk-duration", seconds}));
  Findings found;
  if (!engine.WaitForType("ready")) return found;
  engine.SendCommand("start");
  if (!engine.WaitForLog("[SESSION-DIAG] session-reset-consumed seq=1 ")) return found;
  // Two phrases, then a 10.5 s utterance that the VAD cuts at 8 s; 24 s in
  // all, a whole number of chunks at every duration tried.
  std::vector<float> audio = Clip("speech_pause_speech", 0, 10);
  const std::vector<float> utterance = Clip("long_utterance", 0, 20);
  audio.insert(audio.end(), utterance.begin(), utterance.end());
  audio.resize(24 * 16000, 0.0f);
  engine.SendAudio(audio);
  if (!engine.WaitUntilAudioRead()) return found;
  engine.SendCommand("stop");
  engine.SendCommand("quit");
  engine.Finish();
  for (const Event& e : engine.events()) {
    if (e["type"] == "log" && StartsWith(e["message"], "[VAD] seg ")) {
      found.segments.push_back(e["message"]);
    } else if (e["type"] == "punctuated") {
      found.punctuated.push_back(e["text"]);
    } else if (e["type"] == "result") {
      found.results.push_back(e["segments"].dump());
    }
  }
  return found;
}

TEST(Realtime, LargeChunksFindWhatTheDefaultChunksFind) {
  const Findings reference = FindingsAtChunkDuration("0.1");
  ASSERT_GE(reference.segments.size(), 4u);
  ASSERT_FALSE(reference.results.empty());
  for (const char* seconds : {"0.5", "2", "8"}) {
    SCOPED_TRACE(std::string("--chunk-duration ") + seconds);
    const Findings found = FindingsAtChunkDuration(seconds);
    EXPECT_EQ(found.segments, reference.segments);
    EXPECT_EQ(found.punctuated, reference.punctuated);
    EXPECT_EQ(found.results, reference.results);
  }
}

TEST(Realtime, IdsRestartAfterEveryStart) {
  EngineSession engine(RealtimeArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  for (int seq = 1; seq <= 2; ++seq) {
    engine.StartCapture(seq);
    engine.SendAudio(Clip("speech_pause_speech", 0, 2.5));
    ASSERT_TRUE(engine.WaitFor([](const Event& e) { return e["type"] == "punctuated"; }));
    Stop(&engine);
    // The segment's batch may have run before the stop already: a segment
    // of a second or more does not wait (the chunk borders, and so the
    // segment's length, depend on what the start dropped).
    if (SessionEvents(engine, seq, "result").empty()) {
      ASSERT_TRUE(engine.WaitForType("result"));
    }
  }
  for (int seq = 1; seq <= 2; ++seq) {
    const auto punctuated = SessionEvents(engine, seq, "punctuated");
    ASSERT_EQ(punctuated.size(), 1u) << seq;
    EXPECT_EQ(punctuated[0]["segment_id"], 1) << seq;
    for (const Event& e : SessionEvents(engine, seq, "first-pass")) {
      EXPECT_EQ(e["segment_id"], 1) << seq;
    }
    const auto results = SessionEvents(engine, seq, "result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["segment_id"], 1);
  }
  EXPECT_TRUE(engine.HasLog("[SESSION-DIAG] session-reset-consumed seq=2 "));
  EXPECT_TRUE(engine.HasLog("[SESSION-DIAG] first-partial seq=2 reset_applied_seq=2 seg_id=1 "));
  Quit(&engine);
}

TEST(Realtime, SecondPassEveryZeroDisablesBatches) {
  EngineSession engine(RealtimeArgs({"--second-pass-every", "0"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 5.3));
  engine.SendAudio(Silence(1.0));
  ASSERT_TRUE(engine.WaitForLog("[VAD] seg source=stream id=2 "));
  Stop(&engine);
  Quit(&engine);
  EXPECT_TRUE(engine.OfType("result").empty());
  EXPECT_EQ(engine.OfType("punctuated").size(), 2u);
  int disabled = 0;
  for (const std::string& m : engine.Logs()) {
    disabled += m == "[M3] realtime 2pass disabled by config (second_pass_every=0)" ? 1 : 0;
  }
  EXPECT_EQ(disabled, 1) << "one notice per session";
}

TEST(Realtime, OfflineTwoPassDecodesTheWholeSessionAtStop) {
  EngineSession engine(RealtimeArgs({"--offline-2pass"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 5.3), false, true);
  engine.SendCommand("stop");
  // The pipe stays open: the drain wait ends by its quiet window.
  ASSERT_TRUE(engine.WaitForLog("offline_2pass stop drain finished by quiet window/timeout"));
  ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
  const auto final_result = engine.WaitFor(
      [](const Event& e) { return e["type"] == "result" && e.value("offline_2pass", false); });
  ASSERT_TRUE(final_result);
  EXPECT_EQ((*final_result)["is_final"], true);
  EXPECT_EQ((*final_result)["sessionId"], 3);
  EXPECT_EQ((*final_result)["merged_text"], "hello world你好，世界。");
  ASSERT_EQ((*final_result)["segments"].size(), 2u);
  // The realtime batch ran during the session as well.
  EXPECT_GE(engine.OfType("result").size(), 2u);
  Quit(&engine);
}

TEST(Realtime, OfflineTwoPassGivesTheSameResultEverySession) {
  // The offline decode reuses its detector from session to session.
  EngineSession engine(RealtimeArgs({"--offline-2pass", "--second-pass-every", "0"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  std::vector<Event> finals;
  for (int seq = 1; seq <= 3; ++seq) {
    engine.StartCapture(seq);
    ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 0, 5.3)));
    engine.SendCommand("stop");
    const auto result = engine.WaitFor(
        [](const Event& e) { return e["type"] == "result" && e.value("offline_2pass", false); });
    ASSERT_TRUE(result);
    finals.push_back(*result);
  }
  ASSERT_EQ(finals[0]["segments"].size(), 2u);
  EXPECT_EQ(finals[1]["segments"], finals[0]["segments"]);
  EXPECT_EQ(finals[2]["segments"], finals[0]["segments"]);
  Quit(&engine);
}

TEST(Realtime, OfflineTwoPassDrainReturnsAtOnceWhenThePipeClosed) {
  EngineSession engine(RealtimeArgs({"--offline-2pass"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 2.0));
  engine.CloseAudio();
  ASSERT_TRUE(engine.WaitForLog("PCM pipe closed"));
  engine.SendCommand("stop");
  const auto result = engine.WaitFor(
      [](const Event& e) { return e["type"] == "result" && e.value("offline_2pass", false); });
  ASSERT_TRUE(result);
  EXPECT_FALSE(engine.HasLog("offline_2pass stop drain finished"));
  engine.CloseStdin();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(Realtime, UnloadableVadFallsBackToBufferingAndDecodesOnTheAudioThread) {
  EngineSession engine(RealtimeArgs({"--silero-vad-model", "/nonexistent/vad.onnx"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog(
      "[M2] VAD init failed: SherpaOnnxCreateVoiceActivityDetector() failed"));
  EXPECT_TRUE(engine.HasLog("[M2] manual-realtime will fallback to legacy buffering"));
  engine.StartCapture(1);
  ASSERT_TRUE(engine.SendAndSync(Clip("speech_pause_speech", 0, 5.3)));
  Stop(&engine);
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->count("segment_id"), 0u);
  EXPECT_EQ((*result)["segments"][0]["start_ms"], 0);
  // Push-to-talk decode: punctuated, trailing mark removed.
  EXPECT_EQ((*result)["segments"][0]["text"], "hello world你好，世界");
  // No partials without the VAD path.
  EXPECT_TRUE(engine.OfType("first-pass").empty());
  Quit(&engine);
}

TEST(Realtime, UnloadableStreamingModelStillSegmentsAndDecodes) {
  EngineSession engine(RealtimeArgs({"--first-encoder", "/nonexistent/encoder.onnx"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog(
      "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed"));
  EXPECT_TRUE(engine.HasLog("[M3] first-pass will fallback to placeholder events"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 5.3));
  engine.SendAudio(Silence(1.0));
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)["segments"][0]["text"], "hello world你好，世界");
  for (const Event& e : engine.OfType("first-pass")) EXPECT_EQ(e["text"], "");
  // No partial text: nothing to punctuate for the closed segments.
  EXPECT_TRUE(engine.OfType("punctuated").empty());
  Quit(&engine);
}

TEST(Realtime, StreamingParaformerFirstPass) {
  EngineSession engine(RealtimeArgs({"--first-model-type", "paraformer", "--first-encoder",
                                     ModelPath("streaming-paraformer/encoder.onnx"),
                                     "--first-decoder",
                                     ModelPath("streaming-paraformer/decoder.onnx"),
                                     "--first-tokens", ModelPath("streaming-paraformer/tokens.txt"),
                                     "--first-joiner", ""}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  engine.SendAudio(Clip("speech_pause_speech", 0, 2.5));
  ASSERT_TRUE(engine.WaitFor([](const Event& e) { return e["type"] == "punctuated"; }));
  std::string last;
  for (const Event& e : engine.OfType("first-pass")) {
    if (e["text"] != "") last = e["text"];
  }
  EXPECT_EQ(last, "hello world");
  Quit(&engine);
}

}  // namespace
}  // namespace dictacore
