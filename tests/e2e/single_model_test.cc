// Single-model streaming: the second-pass model drives the live partials and
// commits stable text early. Real program, toolkit and kit models.
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

std::vector<std::string> SingleModelArgs(std::vector<std::string> extra = {},
                                         bool whisper = false) {
  std::vector<std::string> args =
      whisper ? std::vector<std::string>{"--second-type", "whisper", "--second-encoder",
                                         ModelPath("whisper/encoder.onnx"), "--second-decoder",
                                         ModelPath("whisper/decoder.onnx"), "--second-tokens",
                                         ModelPath("whisper/tokens.txt")}
              : testing::SenseVoiceArgs();
  const std::vector<std::string> common = {"--manual-mode", "--manual-realtime",
                                           "--single-model-streaming", "--silero-vad-model",
                                           ModelPath("silero/silero_vad_v5.onnx")};
  args.insert(args.end(), common.begin(), common.end());
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string NoBlanks(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

// Feeds `name` (plus trailing silence) into one session, stops it, and
// returns when the engine is done.
void RunSession(EngineSession* engine, const std::string& name, double trailing_silence) {
  ASSERT_TRUE(engine->WaitForType("ready"));
  engine->StartCapture(1);
  std::vector<float> audio = LoadWav(AudioPath(name + ".wav"));
  const std::vector<float> tail = Silence(trailing_silence);
  audio.insert(audio.end(), tail.begin(), tail.end());
  ASSERT_TRUE(engine->SendAndSync(audio));
  engine->SendCommand("stop");
  ASSERT_TRUE(engine->WaitForLog("Capture stopped"));
  // An open microphone goes on writing; the engine takes it all in.
  ASSERT_TRUE(engine->SendAndSync(Silence(0.1)));
  engine->SendCommand("quit");
  engine->CloseAudio();
  EXPECT_EQ(engine->Finish().exit_code, 0);
  EXPECT_TRUE(engine->bad_lines().empty());
}

TEST(SingleModel, StartUpCreatesNoStreamingModel) {
  EngineSession engine(SingleModelArgs({"--first-encoder", "e", "--first-decoder", "d",
                                        "--first-joiner", "j", "--first-tokens", "t"}));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_FALSE(engine.HasLog("[M3] Online recognizer"));
  EXPECT_TRUE(engine.HasLog("[M2] VAD initialized for manual-realtime"));
  engine.SendCommand("set single-partial-interval 1.0");
  const auto set = engine.WaitForLog("single-partial-interval updated to ");
  ASSERT_TRUE(set);
  EXPECT_EQ((*set)["message"], "single-partial-interval updated to 1.000s");
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(SingleModel, RollingCommitsCoverTheUtteranceInOrder) {
  EngineSession engine(SingleModelArgs({"--session-id", "8"}));
  RunSession(&engine, "long_utterance", 1.0);

  const auto results = engine.OfType("result");
  ASSERT_GE(results.size(), 3u) << "a 10 s utterance is committed in pieces";
  std::string joined;
  double previous_end = 0.0;
  for (size_t i = 0; i < results.size(); ++i) {
    const Event& r = results[i];
    EXPECT_EQ(r["segment_count"], 1);
    EXPECT_EQ(r["segment_id"], static_cast<int>(i + 1));
    EXPECT_EQ(r["segment_start_id"], r["segment_id"]);
    EXPECT_EQ(r["sessionId"], 8);
    EXPECT_EQ(r.count("is_final"), 0u);
    EXPECT_EQ(r.count("offline_2pass"), 0u);
    EXPECT_EQ(r.count("merged_text"), 0u);
    ASSERT_EQ(r["segments"].size(), 1u);
    const Event& segment = r["segments"][0];
    EXPECT_GE(segment["start_time"].get<double>(), previous_end - 0.01) << i;
    EXPECT_GT(segment["end_time"].get<double>(), segment["start_time"].get<double>());
    previous_end = segment["end_time"];
    joined += segment["text"].get<std::string>();
  }
  // Nothing lost, nothing repeated (the model does not punctuate by itself).
  EXPECT_EQ(NoBlanks(joined), NoBlanks(KitFile("long_utterance")["text"]));
  // The rolling commits are longer than the trim cap, except the last piece.
  for (size_t i = 0; i + 1 < results.size(); ++i) {
    const Event& segment = results[i]["segments"][0];
    EXPECT_GT(segment["end_time"].get<double>() - segment["start_time"].get<double>(), 3.0);
  }
}

TEST(SingleModel, PartialsBelongToTheNextCommit) {
  EngineSession engine(SingleModelArgs());
  RunSession(&engine, "long_utterance", 1.0);
  int expected_id = 1;
  std::string previous;
  for (const Event& e : engine.events()) {
    if (e["type"] == "result") {
      EXPECT_EQ(e["segment_id"], expected_id);
      ++expected_id;
      previous.clear();
    } else if (e["type"] == "first-pass") {
      EXPECT_EQ(e["segment_id"], expected_id);
      EXPECT_EQ(e["is_final"], false);
      const std::string text = e["text"];
      EXPECT_FALSE(text.empty());
      previous = text;
    }
  }
  EXPECT_GT(engine.OfType("first-pass").size(), 5u);
}

TEST(SingleModel, WithoutTrimCapOnlyTheWindowCapCommits) {
  EngineSession engine(SingleModelArgs({"--single-trim-cap", "0"}));
  RunSession(&engine, "long_utterance", 1.0);
  const auto results = engine.OfType("result");
  ASSERT_EQ(results.size(), 2u);
  // The window (starting at the session's first sample) is committed whole at
  // the first partial decode after it passed its 7 s cap: partial decodes
  // come every 0.5 s of audio.
  const Event& first = results[0]["segments"][0];
  const Event& second = results[1]["segments"][0];
  EXPECT_GT(first["end_time"].get<double>(), 7.0);
  EXPECT_LE(first["end_time"].get<double>(), 7.6);
  EXPECT_DOUBLE_EQ(second["start_time"].get<double>(), first["end_time"].get<double>());
  // The cut may fall inside a word, which both windows then hear.
  const std::string text = NoBlanks(KitFile("long_utterance")["text"]);
  const std::string head = NoBlanks(first["text"]);
  const std::string tail = NoBlanks(second["text"]);
  EXPECT_EQ(text.rfind(head, 0), 0u) << head;
  ASSERT_LE(tail.size(), text.size());
  EXPECT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0) << tail;
  EXPECT_GE(head.size() + tail.size(), text.size());
}

TEST(SingleModel, APauseLongerThanTheSilenceCommitsThePhrase) {
  EngineSession engine(SingleModelArgs());
  RunSession(&engine, "speech_pause_speech", 1.0);
  const auto results = engine.OfType("result");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(NoBlanks(results[0]["segments"][0]["text"]), "helloworld");
  EXPECT_EQ(results[1]["segments"][0]["text"], "你好世界");
  // The first commit ends where the VAD last heard speech, before the pause
  // was over.
  const double first_end = results[0]["segments"][0]["end_time"];
  const double second_start = results[1]["segments"][0]["start_time"];
  EXPECT_LT(first_end, second_start);
}

TEST(SingleModel, ShortPauseDoesNotCommit) {
  // With 2 s of silence needed, the 1.5 s pause commits nothing: no commit
  // ends inside it.
  EngineSession engine(SingleModelArgs({"--vad-min-silence", "2.0"}));
  RunSession(&engine, "speech_pause_speech", 3.0);
  const auto results = engine.OfType("result");
  ASSERT_FALSE(results.empty());
  std::string joined;
  for (const Event& r : results) joined += r["segments"][0]["text"].get<std::string>();
  EXPECT_EQ(NoBlanks(joined), "helloworld你好世界");
  // Where the pause lies in the session: after the 0.1 s first chunk and the
  // padding that makes the audio end on a five-second boundary.
  const double clip = KitFile("speech_pause_speech")["duration"].get<double>() + 3.0;
  const double offset = 10.0 - clip;
  const auto& words = KitFile("speech_pause_speech")["words"];
  const double pause_start = offset + words[1]["end"].get<double>();
  const double pause_end = offset + words[2]["start"].get<double>();
  for (const Event& r : results) {
    const double end = r["segments"][0]["end_time"];
    EXPECT_FALSE(end > pause_start && end < pause_end) << end;
  }
}

TEST(SingleModel, PunctuationOnlyTextIsNeverAResult) {
  EngineSession engine(SingleModelArgs());
  RunSession(&engine, "punct_only", 1.0);
  EXPECT_TRUE(engine.OfType("result").empty());
}

TEST(SingleModel, StopCommitsTheRestAtOnce) {
  EngineSession engine(SingleModelArgs());
  ASSERT_TRUE(engine.WaitForType("ready"));
  engine.StartCapture(1);
  std::vector<float> audio = LoadWav(AudioPath("long_utterance.wav"));
  audio.resize(16000 * 6);  // stop in the middle of the speech
  ASSERT_TRUE(engine.SendAndSync(audio));
  const size_t before = engine.OfType("result").size();
  engine.SendCommand("stop");
  ASSERT_TRUE(engine.WaitForLog("Capture stopped"));
  ASSERT_TRUE(engine.SendAndSync(Silence(0.1)));
  const auto results = engine.OfType("result");
  ASSERT_EQ(results.size(), before + 1);
  // The session holds 10 s (0.1 s chunk + padding + 6 s): the commit ends there.
  EXPECT_EQ(results.back()["segments"][0]["end_ms"], 10000);
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

TEST(SingleModel, ModelWithoutTimestampsCommitsWholeWindows) {
  EngineSession engine(SingleModelArgs({}, true));
  RunSession(&engine, "long_utterance", 1.0);
  const auto results = engine.OfType("result");
  ASSERT_GE(results.size(), 2u);
  // Without token times a commit starts at the window start, the session's
  // first sample, and the window is committed whole once past its cap.
  const Event& first = results[0]["segments"][0];
  EXPECT_EQ(first["start_ms"], 0);
  EXPECT_GT(first["end_time"].get<double>(), 7.0);
  EXPECT_LE(first["end_time"].get<double>(), 7.6);
}

}  // namespace
}  // namespace dictacore
