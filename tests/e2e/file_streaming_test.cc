// File transcription streams the recording and decodes groups while the VAD
// reads on; the host must not see any of that. Each case runs the program on
// kit audio and compares its whole standard output, line by line, with the
// output recorded before file mode streamed (testdata/file_events/), with
// the milliseconds of the timing lines masked.
//
// To record a case anew (only when the events are meant to change):
//   DICTACORE_RECORD_FILE_EVENTS=1 build/tests/e2e_tests --gtest_filter='FileStreaming*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"
#include "tests/support/kit.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::ModelPath;
using testing::RunEngine;

struct Shape {
  std::string name;  // file under testdata/file_events/, without ".jsonl"
  std::vector<std::string> args;
};

std::string EventsPath(const std::string& name) {
  return std::string(DICTACORE_TESTDATA_DIR) + "/file_events/" + name + ".jsonl";
}

// Timing lines carry wall-clock milliseconds; everything else must match.
std::string MaskTimings(const std::string& output) {
  static const std::regex kMilliseconds("(ms|_ms_sum)=[0-9]+");
  std::istringstream in(output);
  std::string masked;
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\"message\":\"[TIMING]") != std::string::npos) {
      line = std::regex_replace(line, kMilliseconds, "$1=#");
    }
    masked += line + "\n";
  }
  return masked;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

const std::string kVad = ModelPath("silero/silero_vad_v5.onnx");
const std::string kPunct = ModelPath("punct/model.onnx");

std::vector<Shape> Shapes() {
  return {
      {"wav_pause_vad_punct",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--wav-input", AudioPath("speech_pause_speech.wav")})},
      {"wav_f32_pause_vad_punct",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--wav-input", AudioPath("speech_pause_speech_f32.wav")})},
      {"wav_long_vad_punct",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--wav-input", AudioPath("long_recording.wav")})},
      {"wav_long_vad", testing::ManualSenseVoiceArgs({"--silero-vad-model", kVad, "--wav-input",
                                                      AudioPath("long_recording.wav")})},
      // Short groups with padding longer than the silence that closes a
      // segment: a group's padded end lies beyond what the VAD had read
      // when it closed the group.
      {"wav_long_short_groups",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--vad-max-speech", "1.5", "--vad-min-silence", "0.25",
                                      "--vad-lookahead", "1.5", "--vad-lookback", "1.0",
                                      "--wav-input", AudioPath("long_recording.wav")})},
      {"wav_long_chunks_punct",
       testing::ManualSenseVoiceArgs(
           {"--ct-transformer", kPunct, "--wav-input", AudioPath("long_recording.wav")})},
      {"wav_tones_vad_punct",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--wav-input", AudioPath("tones.wav")})},
      {"pcm_s16_pause_vad_punct",
       testing::ManualSenseVoiceArgs({"--ct-transformer", kPunct, "--silero-vad-model", kVad,
                                      "--audio-format", "s16le", "--pcm-input",
                                      AudioPath("speech_pause_speech.s16")})},
      {"pcm_f32_pause_vad",
       testing::ManualSenseVoiceArgs({"--silero-vad-model", kVad, "--audio-format", "f32le",
                                      "--pcm-input", AudioPath("speech_pause_speech.f32")})},
      {"wav_whisper_long_utterance_vad",
       {"--manual-mode", "--second-type", "whisper", "--second-encoder",
        ModelPath("whisper/encoder.onnx"), "--second-decoder", ModelPath("whisper/decoder.onnx"),
        "--second-tokens", ModelPath("whisper/tokens.txt"), "--silero-vad-model", kVad,
        "--vad-max-speech", "40", "--wav-input", AudioPath("long_utterance.wav")}},
      {"wav_two_voices_diarization",
       testing::ManualSenseVoiceArgs(
           {"--ct-transformer", kPunct, "--silero-vad-model", kVad, "--diarization",
            "--diarization-segmentation-model", ModelPath("speaker/segmentation.onnx"),
            "--diarization-embedding-model", ModelPath("speaker/embedding.onnx"), "--wav-input",
            AudioPath("two_voices.wav")})},
      {"wav_two_voices_diarization_nopunct",
       testing::ManualSenseVoiceArgs(
           {"--silero-vad-model", kVad, "--diarization", "--diarization-segmentation-model",
            ModelPath("speaker/segmentation.onnx"), "--diarization-embedding-model",
            ModelPath("speaker/embedding.onnx"), "--wav-input", AudioPath("two_voices.wav")})},
  };
}

class FileStreaming : public ::testing::TestWithParam<Shape> {};

TEST_P(FileStreaming, EventsMatchTheRecordedRun) {
  const Shape& shape = GetParam();
  const testing::EngineRun run = RunEngine(shape.args);
  ASSERT_EQ(run.result.exit_code, 0) << run.result.out;
  const std::string masked = MaskTimings(run.result.out);

  if (std::getenv("DICTACORE_RECORD_FILE_EVENTS") != nullptr) {
    std::ofstream(EventsPath(shape.name), std::ios::binary) << masked;
    GTEST_SKIP() << "recorded " << EventsPath(shape.name);
  }
  std::ifstream in(EventsPath(shape.name), std::ios::binary);
  ASSERT_TRUE(in) << "no recorded events: " << EventsPath(shape.name);
  std::stringstream expected;
  expected << in.rdbuf();
  // Line by line, so that a failure names the first line that differs.
  const std::vector<std::string> want = Lines(expected.str());
  const std::vector<std::string> got = Lines(masked);
  for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
    ASSERT_EQ(got[i], want[i]) << "line " << i + 1;
  }
  EXPECT_EQ(got.size(), want.size());
}

// The reader knows the file's size before it reads the first piece: a data
// chunk that claims more than the file holds is refused before any decode.
TEST(FileStreamingRefusal, DataChunkLongerThanTheFileIsRefusedBeforeDecoding) {
  std::ifstream in(AudioPath("long_recording.wav"), std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string bytes = whole.str();
  ScopedTempDir dir;
  const std::string cut = dir.Write("cut.wav", bytes.substr(0, bytes.size() / 2));
  const testing::EngineRun run =
      RunEngine(testing::ManualSenseVoiceArgs({"--silero-vad-model", kVad, "--wav-input", cut}));
  EXPECT_EQ(run.result.exit_code, 1);
  const std::vector<std::string> lines = Lines(run.result.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      (std::vector<std::string>{"{\"type\":\"ready\"}",
                                "{\"message\":\"Invalid WAV data chunk\",\"type\":\"error\"}",
                                "{\"message\":\"File decode failed\",\"type\":\"complete\"}"}));
}

INSTANTIATE_TEST_SUITE_P(KitAudio, FileStreaming, ::testing::ValuesIn(Shapes()),
                         [](const ::testing::TestParamInfo<Shape>& shape) {
                           return shape.param.name;
                         });

}  // namespace
}  // namespace dictacore
