// File transcription through the real program, toolkit and kit models:
// start-up lines, the offline two-pass decode, the result event, exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineRun;
using testing::Event;
using testing::KitFile;
using testing::ModelPath;
using testing::RunEngine;

const std::string kVad = ModelPath("silero/silero_vad_v5.onnx");
const std::string kPunct = ModelPath("punct/model.onnx");

std::vector<std::string> WhisperArgs(std::vector<std::string> extra) {
  std::vector<std::string> args = {"--manual-mode",
                                   "--second-type",
                                   "whisper",
                                   "--second-encoder",
                                   ModelPath("whisper/encoder.onnx"),
                                   "--second-decoder",
                                   ModelPath("whisper/decoder.onnx"),
                                   "--second-tokens",
                                   ModelPath("whisper/tokens.txt")};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// The log messages from `first` on that start with one of the prefixes.
std::vector<std::string> LogsStartingWith(const EngineRun& run,
                                          const std::vector<std::string>& prefixes) {
  std::vector<std::string> out;
  for (const std::string& message : run.Logs()) {
    for (const std::string& prefix : prefixes) {
      if (message.rfind(prefix, 0) == 0) {
        out.push_back(prefix);
        break;
      }
    }
  }
  return out;
}

Event OnlyResult(const EngineRun& run) {
  const auto results = run.OfType("result");
  EXPECT_EQ(results.size(), 1u);
  return results.empty() ? Event::object() : results[0];
}

TEST(FileMode, SpeechWithAPauseBecomesTwoPunctuatedSegments) {
  const EngineRun run = RunEngine(
      testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                     "--wav-input", AudioPath("speech_pause_speech.wav")}));
  EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
  EXPECT_TRUE(run.bad_lines.empty());
  EXPECT_TRUE(run.result.err.empty()) << run.result.err;

  // Start-up order, then the decode's stages.
  const std::vector<std::string> stages = {"Creating recognizers. Please wait...",
                                           "[M2] Offline decoder initialized",
                                           "[M3] Offline punctuation initialized",
                                           "WAV input: using unified offline_2pass decode path",
                                           "offline_2pass tail compensation enabled",
                                           "[OFFLINE2PASS][VAD]",
                                           "[OFFLINE2PASS][CUT] reason=silence_gap",
                                           "[TIMING][ASR_DECODE] group_idx=0 ",
                                           "[TIMING][PUNC_GROUP] group_idx=0 ",
                                           "[OFFLINE2PASS][VAD]",
                                           "[OFFLINE2PASS][CUT] reason=flush",
                                           "[TIMING][ASR_DECODE] group_idx=1 ",
                                           "[TIMING][PUNC_GROUP] group_idx=1 ",
                                           "[TIMING][VAD_AND_ASR] ms=",
                                           "[TIMING][DIARIZATION] ms=",
                                           "[DIARIZATION][RAW] total_segments=0",
                                           "[TIMING][PUNC_MERGED] ms=",
                                           "[TIMING][TOTAL] ms="};
  std::vector<std::string> seen = LogsStartingWith(run, stages);
  seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen, stages);
  ASSERT_EQ(run.events.back()["type"], "complete");
  EXPECT_EQ(run.events.back()["message"], "WAV decode done");
  EXPECT_EQ(run.events[3]["type"], "ready");

  const Event result = OnlyResult(run);
  EXPECT_EQ(result["is_final"], true);
  EXPECT_EQ(result["offline_2pass"], true);
  EXPECT_EQ(result.count("sessionId"), 0u);
  EXPECT_EQ(result.count("segment_id"), 0u);
  const auto& segments = result["segments"];
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0]["text"], "hello world。");
  EXPECT_EQ(segments[1]["text"], "你好世界。");
  const auto& utterances = KitFile("speech_pause_speech")["utterances"];
  for (size_t i = 0; i < 2; ++i) {
    // Segments are the VAD's speech, padded 0.2 s before and 0.1 s after.
    EXPECT_NEAR(segments[i]["start_time"].get<double>(), utterances[i]["start"].get<double>() - 0.2,
                0.35);
    EXPECT_LE(segments[i]["start_time"].get<double>(), utterances[i]["start"].get<double>());
    EXPECT_GE(segments[i]["end_time"].get<double>(), utterances[i]["end"].get<double>());
  }
  // The merged text is punctuated anew as a whole.
  EXPECT_EQ(result["merged_text"], "hello world你好，世界。");
}

TEST(FileMode, RawPcmInBothFormatsGivesTheSameResult) {
  const EngineRun wav = RunEngine(
      testing::ManualSenseVoiceArgs({"--silero-vad-model", kVad, "--session-id", "4", "--wav-input",
                                     AudioPath("speech_pause_speech.wav")}));
  const EngineRun s16 = RunEngine(
      testing::ManualSenseVoiceArgs({"--silero-vad-model", kVad, "--session-id", "4", "--pcm-input",
                                     AudioPath("speech_pause_speech.s16")}));
  const EngineRun f32 = RunEngine(testing::ManualSenseVoiceArgs(
      {"--silero-vad-model", kVad, "--session-id", "4", "--audio-format", "f32le", "--pcm-input",
       AudioPath("speech_pause_speech.f32")}));
  for (const EngineRun* run : {&s16, &f32}) {
    EXPECT_EQ(run->result.exit_code, 0);
    EXPECT_TRUE(run->HasLog("PCM input: using unified offline_2pass decode path"));
    EXPECT_EQ(run->events.back()["message"], "PCM decode done");
    EXPECT_EQ(OnlyResult(*run)["segments"], OnlyResult(wav)["segments"]);
    EXPECT_EQ(OnlyResult(*run)["sessionId"], 4);
  }
}

TEST(FileMode, WithoutVadTheAudioIsDecodedInChunks) {
  const EngineRun run = RunEngine(
      testing::ManualSenseVoiceArgs({"--wav-input", AudioPath("speech_pause_speech.wav")}));
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_FALSE(run.HasLog("[OFFLINE2PASS]"));
  EXPECT_FALSE(run.HasLog("[TIMING][ASR_DECODE]"));
  EXPECT_TRUE(run.HasLog("[TIMING][VAD_AND_ASR] ms="));
  for (const std::string& message : run.Logs()) {
    if (message.rfind("[TIMING][VAD_AND_ASR]", 0) == 0) {
      EXPECT_NE(message.find(" asr_decode_ms_sum=0 punc_group_ms_sum=0 groups=0"),
                std::string::npos)
          << message;
    }
  }
  const Event segments = OnlyResult(run)["segments"];
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0]["start_ms"], 0);
  EXPECT_EQ(segments[0]["end_ms"],
            std::llround(KitFile("speech_pause_speech")["duration"].get<double>() * 1000));
  EXPECT_EQ(segments[0]["text"], KitFile("speech_pause_speech")["text"]);
}

TEST(FileMode, ChunksFollowTheGroupLimit) {
  // 12 s of audio, 5 s groups: three chunks, texts split where the chunks are.
  const EngineRun run = RunEngine(testing::ManualSenseVoiceArgs(
      {"--vad-max-speech", "5", "--wav-input", AudioPath("long_utterance.wav")}));
  const Event segments = OnlyResult(run)["segments"];
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0]["end_ms"], 5000);
  EXPECT_EQ(segments[1]["start_ms"], 5000);
  EXPECT_EQ(segments[1]["end_ms"], 10000);
  EXPECT_EQ(segments[2]["start_ms"], 10000);
}

TEST(FileMode, UnloadableVadFallsBackToChunks) {
  const EngineRun run = RunEngine(
      testing::ManualSenseVoiceArgs({"--silero-vad-model", "/nonexistent/vad.onnx", "--wav-input",
                                     AudioPath("speech_pause_speech.wav")}));
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_TRUE(
      run.HasLog("offline_2pass VAD init failed, fallback to chunk decode: "
                 "SherpaOnnxCreateVoiceActivityDetector() failed"));
  EXPECT_EQ(OnlyResult(run)["segments"].size(), 1u);
}

TEST(FileMode, PunctuationOnlyAndWordlessSpeechGiveAnEmptyResult) {
  for (const char* name : {"punct_only", "speech_no_words"}) {
    const EngineRun run = RunEngine(
        testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                       "--wav-input", AudioPath(std::string(name) + ".wav")}));
    EXPECT_EQ(run.result.exit_code, 0) << name;
    EXPECT_TRUE(run.HasLog("offline_2pass finished with empty text")) << name;
    const Event result = OnlyResult(run);
    EXPECT_EQ(result["segments"], nlohmann::json::array()) << name;
    EXPECT_EQ(result.count("merged_text"), 0u) << name;
    EXPECT_FALSE(run.HasLog("[TIMING][DIARIZATION]"));
    EXPECT_TRUE(run.HasLog("[TIMING][TOTAL] ms="));
    EXPECT_EQ(run.events.back()["message"], "WAV decode done");
  }
}

TEST(FileMode, SpeechEndingEarlyIsCompensatedToTheEnd) {
  // tones.wav has no speech for the VAD at all: the whole file is decoded
  // through tail compensation, in group-limit pieces.
  const EngineRun run = RunEngine(testing::ManualSenseVoiceArgs(
      {"--silero-vad-model", kVad, "--wav-input", AudioPath("tones.wav")}));
  EXPECT_TRUE(run.HasLog("offline_2pass tail compensation enabled"));
  const Event segments = OnlyResult(run)["segments"];
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0]["start_ms"], 0);
  EXPECT_EQ(segments[0]["text"], KitFile("tones")["text"]);
}

TEST(FileMode, WhisperSplitsGroupsLongerThanItsWindow) {
  const EngineRun run = RunEngine(
      WhisperArgs({"--silero-vad-model", kVad, "--vad-max-speech", "60", "--vad-min-silence", "1.5",
                   "--vad-lookback", "1", "--wav-input", AudioPath("long_recording.wav")}));
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_TRUE(run.HasLog("[OFFLINE2PASS][CUT] reason=max_span group_start=0."));
  std::vector<std::string> pieces;
  for (const std::string& message : run.Logs()) {
    if (message.rfind("[TIMING][ASR_DECODE]", 0) == 0) pieces.push_back(message);
  }
  ASSERT_GE(pieces.size(), 2u);
  EXPECT_NE(pieces[0].find(" chunk_s=29.000000 "), std::string::npos) << pieces[0];
  const Event segments = OnlyResult(run)["segments"];
  ASSERT_GE(segments.size(), 2u);
  EXPECT_EQ(segments[0]["start_ms"], 0);
  EXPECT_EQ(segments[0]["end_ms"], 29000);
  EXPECT_EQ(segments[1]["start_ms"], 29000);
  // No word is lost or doubled at the window boundary (blanks aside).
  auto squeeze = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
  };
  EXPECT_EQ(
      squeeze(segments[0]["text"].get<std::string>() + segments[1]["text"].get<std::string>()),
      squeeze(KitFile("long_recording")["text"].get<std::string>()));
}

TEST(FileMode, DiarizationWithoutModelsCreatesNothing) {
  const EngineRun run = RunEngine(testing::ManualSenseVoiceArgs(
      {"--diarization", "--speaker-id", "--wav-input", AudioPath("speech_pause_speech.wav")}));
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_FALSE(run.HasLog("[M2] Speaker diarization"));
  EXPECT_FALSE(run.HasLog("[M2] Speaker identification"));
  EXPECT_TRUE(run.HasLog("[TIMING][DIARIZATION] ms="));
  EXPECT_TRUE(run.HasLog("[DIARIZATION][RAW] total_segments=0"));
}

TEST(FileMode, DecoderFailureIsAFileError) {
  const EngineRun run =
      RunEngine({"--manual-mode", "--second-model", "/nonexistent/model.onnx", "--second-tokens",
                 "/nonexistent/tokens.txt", "--wav-input", AudioPath("tones.wav")});
  EXPECT_EQ(run.result.exit_code, 1);
  const auto logs = run.Logs();
  ASSERT_GE(logs.size(), 3u);
  EXPECT_EQ(logs[1],
            "[M2] Offline decoder init failed: SherpaOnnxCreateOfflineRecognizer() failed");
  EXPECT_EQ(logs[2], "[M2] Running in skeleton fallback mode");
  const auto errors = run.OfType("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0]["message"],
            "Decoder is not ready for --wav-input: SherpaOnnxCreateOfflineRecognizer() failed");
  EXPECT_EQ(run.events.back()["message"], "File decode failed");
  EXPECT_EQ(run.events.back()["type"], "complete");
}

class FileModeErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dictacore-file-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // A mono 16-bit WAV of `samples` zero samples at `rate`.
  static std::string Wav(uint32_t rate, uint32_t samples) {
    auto u32 = [](uint32_t v) {
      std::string b;
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
      return b;
    };
    const uint32_t bytes = samples * 2;
    return "RIFF" + u32(36 + bytes) + "WAVEfmt " + u32(16) + std::string("\x01\x00\x01\x00", 4) +
           u32(rate) + u32(rate * 2) + std::string("\x02\x00\x10\x00", 4) + "data" + u32(bytes) +
           std::string(bytes, '\0');
  }

  void ExpectFileError(const std::vector<std::string>& input, const std::string& message) {
    const EngineRun run = RunEngine(testing::ManualSenseVoiceArgs(input));
    EXPECT_EQ(run.result.exit_code, 1) << message;
    const auto errors = run.OfType("error");
    ASSERT_EQ(errors.size(), 1u) << run.result.out;
    EXPECT_EQ(errors[0]["message"], message);
    EXPECT_EQ(run.events.back()["message"], "File decode failed");
    EXPECT_TRUE(run.OfType("result").empty());
  }

  std::string dir_;
};

TEST_F(FileModeErrors, ReaderMessagesBecomeErrorEvents) {
  ExpectFileError({"--wav-input", dir_ + "/missing.wav"},
                  "WAV file not found: " + dir_ + "/missing.wav");
  ExpectFileError({"--wav-input", Write("cd.wav", Wav(44100, 100))},
                  "WAV sample rate must be 16000");
  ExpectFileError({"--pcm-input", Write("odd.pcm", "abc")},
                  "PCM s16le byte length must be aligned to 2 bytes");
  ExpectFileError({"--pcm-input", Write("odd.f32", "abcdef"), "--audio-format", "f32le"},
                  "PCM f32le byte length must be aligned to 4 bytes");
  const std::string empty = Write("empty.pcm", "");
  ExpectFileError({"--pcm-input", empty}, "PCM file is empty: " + empty);
}

TEST_F(FileModeErrors, ShortSilentFileDecodesToNothing) {
  const EngineRun run = RunEngine(
      testing::ManualSenseVoiceArgs({"--wav-input", Write("short.wav", Wav(16000, 400))}));
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_TRUE(run.HasLog("offline_2pass finished with empty text"));
}

}  // namespace
}  // namespace dictacore
