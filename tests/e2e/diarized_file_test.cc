// File mode with speaker diarization and speaker naming, end to end through
// the real toolkit: the kit's SenseVoice-form recognizer, Silero VAD and
// punctuation model give the text, the speaker kit's segmentation and
// embedding models find and name the voices of the kit's two-voice
// conversation (voice A "en" and voice B "en+f3" taking turns 0.4 s apart,
// so the VAD hears one group across the speaker changes).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/diarization/fluidaudio_subprocess_backend.h"
#include "engine/text/utf8_punct.h"
#include "tests/support/engine_session.h"
#include "tests/support/kit.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::BinPath;
using testing::EngineRun;
using testing::Event;
using testing::ModelPath;
using testing::RunEngine;

// How far a labelled segment's boundary may lie from the true turn's.
constexpr double kTurnTolerance = 0.25;

struct Utterance {
  double start = 0.0;
  double end = 0.0;
  std::string speaker;  // "A" or "B"
  std::string words;    // the recognised words, without spaces
};

std::vector<Utterance> Conversation() {
  std::vector<Utterance> utterances;
  for (const auto& u : testing::KitFile("two_voices").at("utterances")) {
    Utterance utterance{u["start"].get<double>(), u["end"].get<double>(),
                        u["speaker"].get<std::string>(), ""};
    for (const auto& w : u["words"]) {
      std::string word = w["word"].get<std::string>();
      if (!word.empty() && word[0] == ' ') word.erase(0, 1);
      utterance.words += word;
    }
    utterances.push_back(utterance);
  }
  return utterances;
}

// The text without punctuation and spaces.
std::string Bare(const std::string& text) {
  std::string bare;
  for (char ch : StripPuncForPuncModel(text)) {
    if (ch != ' ') bare.push_back(ch);
  }
  return bare;
}

class DiarizedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    conversation_ = Conversation();
    ASSERT_EQ(conversation_.size(), 4u);
  }

  std::string Db() const { return dir_.File("enroll.txt"); }

  void Register(const std::string& name, const std::string& wav) const {
    const EngineRun run = RunEngine({BinPath("dictacore"), "--register-name", name,
                                     "--register-input", wav, "--speaker-enroll-db", Db(),
                                     "--speaker-embedding-model", ModelPath("speaker/embedding.onnx")});
    ASSERT_EQ(run.result.exit_code, 0) << run.result.out;
    ASSERT_NE(run.result.out.find("\"status\":\"registered\""), std::string::npos) << run.result.out;
  }

  // One utterance of the conversation as a WAV file of its own.
  std::string CutUtterance(size_t index) const {
    const std::vector<float> samples = testing::LoadWav(AudioPath("two_voices.wav"));
    const Utterance& u = conversation_[index];
    const size_t begin = static_cast<size_t>(u.start * 16000);
    const size_t end = std::min(samples.size(), static_cast<size_t>(u.end * 16000));
    const std::string path = dir_.File("utterance" + std::to_string(index) + ".wav");
    std::string error;
    EXPECT_TRUE(WriteWavFloat32(path, std::vector<float>(samples.begin() + begin, samples.begin() + end),
                                16000, &error))
        << error;
    return path;
  }

  EngineRun Decode(bool speaker_id) const {
    std::vector<std::string> args = {
        BinPath("dictacore"), "--manual-mode",
        "--wav-input", AudioPath("two_voices.wav"),
        "--silero-vad-model", ModelPath("silero/silero_vad_v5.onnx"),
        "--ct-transformer", ModelPath("punct/model.onnx"),
        "--diarization",
        "--diarization-segmentation-model", ModelPath("speaker/segmentation.onnx"),
        "--diarization-embedding-model", ModelPath("speaker/embedding.onnx")};
    for (const std::string& arg : testing::SenseVoiceArgs()) args.push_back(arg);
    if (speaker_id) {
      for (const char* arg : {"--speaker-id", "--speaker-embedding-model"}) args.push_back(arg);
      args.push_back(ModelPath("speaker/embedding.onnx"));
      args.push_back("--speaker-enroll-db");
      args.push_back(Db());
    }
    return RunEngine(args);
  }

  // The result's segments: one per utterance, near its times, labelled
  // `label_a` or `label_b` by its voice, together carrying every recognised
  // word in order.
  void ExpectLabelledTurns(const EngineRun& run, const std::string& label_a,
                           const std::string& label_b) const {
    EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
    EXPECT_TRUE(run.bad_lines.empty());
    const std::vector<Event> results = run.OfType("result");
    ASSERT_EQ(results.size(), 1u) << run.result.out;
    const Event& segments = results[0]["segments"];
    ASSERT_EQ(segments.size(), conversation_.size()) << results[0].dump();
    std::string all_words;
    std::string expected_words;
    for (size_t i = 0; i < conversation_.size(); ++i) {
      SCOPED_TRACE("segment " + std::to_string(i));
      const Utterance& u = conversation_[i];
      EXPECT_NEAR(segments[i]["start_time"].get<double>(), u.start, kTurnTolerance);
      EXPECT_NEAR(segments[i]["end_time"].get<double>(), u.end, kTurnTolerance);
      EXPECT_EQ(segments[i]["speaker"], u.speaker == "A" ? label_a : label_b);
      EXPECT_FALSE(Bare(segments[i]["text"].get<std::string>()).empty());
      all_words += Bare(segments[i]["text"].get<std::string>());
      expected_words += u.words;
    }
    EXPECT_EQ(all_words, expected_words);
    EXPECT_TRUE(run.HasLog("[DIARIZATION] split 1 ASR segment(s) across speaker boundaries"));
    EXPECT_TRUE(run.HasLog("diarization segments=4 audio_s="));
  }

  ScopedTempDir dir_{"diarized-file"};
  std::vector<Utterance> conversation_;
};

TEST_F(DiarizedFile, OneVadGroupIsSplitAtEverySpeakerChange) {
  const EngineRun run = Decode(false);
  EXPECT_TRUE(run.HasLog("[M2] Speaker diarization initialized (sherpa-onnx)"));
  ExpectLabelledTurns(run, "SPEAKER_00", "SPEAKER_01");
}

TEST_F(DiarizedFile, EnrolledVoicesGetTheirNames) {
  // Alice from another recording of a low voice; Bob from voice B's last turn.
  Register("Alice", AudioPath("speaker/a_enroll.wav"));
  Register("Bob", CutUtterance(3));
  const EngineRun run = Decode(true);
  EXPECT_TRUE(run.HasLog("[M2] Speaker identification initialized (threshold=0.700000)"));
  EXPECT_TRUE(run.HasLog("[SPEAKER_ID] SPEAKER_00 -> Alice (score="));
  EXPECT_TRUE(run.HasLog("[SPEAKER_ID] SPEAKER_01 -> Bob (score="));
  ExpectLabelledTurns(run, "Alice", "Bob");
}

TEST_F(DiarizedFile, UnmatchedVoiceKeepsARenumberedClusterLabel) {
  // Only Alice is enrolled; a high voice of another recording does not pass
  // for voice B, so B stays a cluster, numbered first among the unnamed.
  Register("Alice", AudioPath("speaker/a_enroll.wav"));
  Register("Bea", AudioPath("speaker/b_enroll.wav"));
  const EngineRun run = Decode(true);
  EXPECT_TRUE(run.HasLog("[SPEAKER_ID] SPEAKER_01 -> (unmatched) (score="));
  ExpectLabelledTurns(run, "Alice", "SPEAKER_00");
}

}  // namespace
}  // namespace dictacore
