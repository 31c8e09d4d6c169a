// scripts/fetch-models.sh against a local copy of the release files: small
// stand-in archives that hold the kit's models under the real release names,
// at the addresses the script must use. The command lines it prints are run
// as printed, on the real engine.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineSession;
using testing::Event;
using testing::ModelPath;

namespace fs = std::filesystem;

const std::string kScripts = fs::path(DICTACORE_TESTDATA_DIR) / "../../../scripts/";
const std::string kBuild = fs::path(testing::BinPath("dictacore")).parent_path().parent_path();
const std::string kSenseVoice = "sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17";
const std::string kPunctuation = "sherpa-onnx-punct-ct-transformer-zh-en-vocab272727-2024-04-12-int8";

// $1: kit models, $2: the copy of https://github.com/ to fill.
const char kMakeMirror[] = R"(set -e
kit=$1 mirror=$2 r=$2/k2-fsa/sherpa-onnx/releases/download
pack() {  # TAG FOLDER KIT-FILE:NAME...
  local tag=$1 folder=$2 pair
  shift 2
  mkdir -p "$mirror/stage/$folder" "$r/$tag"
  for pair; do cp "$kit/${pair%%:*}" "$mirror/stage/$folder/${pair#*:}"; done
  tar -cjf "$r/$tag/$folder.tar.bz2" -C "$mirror/stage" "$folder"
}
pack asr-models sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17 \
  sense-voice/model.onnx:model.int8.onnx sense-voice/tokens.txt:tokens.txt
for s in en-2023-06-26:epoch-99-avg-1-chunk-16-left-128 bilingual-zh-en-2023-02-20:epoch-99-avg-1; do
  pack asr-models "sherpa-onnx-streaming-zipformer-${s%%:*}" streaming/encoder.onnx:encoder-${s#*:}.int8.onnx \
    streaming/encoder.onnx:encoder-${s#*:}.onnx streaming/decoder.onnx:decoder-${s#*:}.onnx \
    streaming/joiner.onnx:joiner-${s#*:}.int8.onnx streaming/tokens.txt:tokens.txt
done
pack punctuation-models sherpa-onnx-punct-ct-transformer-zh-en-vocab272727-2024-04-12-int8 \
  punct/model.onnx:model.int8.onnx
pack speaker-segmentation-models sherpa-onnx-pyannote-segmentation-3-0 speaker/segmentation.onnx:model.onnx
v=$mirror/snakers4/silero-vad/raw/refs/tags/v5.0/files
mkdir -p "$r/speaker-recongition-models" "$v"
cp "$kit/speaker/embedding.onnx" "$r/speaker-recongition-models/3dspeaker_speech_eres2net_base_sv_zh-cn_3dspeaker_16k.onnx"
cp "$kit/silero/silero_vad_v5.onnx" "$v/silero_vad.onnx"
rm -rf "$mirror/stage")";

class FetchModels : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(Bash(kMakeMirror, {ModelPath(""), mirror_}).exit_code, 0);
  }
  // `script` run by bash in the test's folder, with `args` as $1...
  // (`spawn`: limits for the child; its argv is set here.)
  testing::ProcessResult Bash(const std::string& script, std::vector<std::string> args = {},
                              testing::Subprocess::Config spawn = {}) {
    args.insert(args.begin(), {"/bin/bash", "-c", "cd " + dir_.path() + " && " + script, "bash"});
    spawn.argv = args;
    return testing::RunProcess(spawn);
  }
  testing::ProcessResult Fetch(const std::string& options, const std::string& mirror,
                               testing::Subprocess::Config spawn = {}) {
    return Bash("BUILD_DIR=" + kBuild + " " + kScripts + "fetch-models.sh --mirror file://" + mirror +
                " " + options + " models", {}, spawn);
  }
  // The printed command lines, each on one line.
  static std::vector<std::string> Commands(std::string out) {
    for (size_t at; (at = out.find(" \\\n")) != std::string::npos;) out.erase(at, 3);
    std::vector<std::string> commands;
    for (const std::string& line : testing::SplitLines(out)) {
      if (line.rfind("  ", 0) == 0) commands.push_back(line);
    }
    return commands;
  }
  ScopedTempDir dir_{"fetch-models"};
  std::string mirror_ = dir_.File("mirror");
};

TEST_F(FetchModels, PrintedCommandLinesRunTheEngineAndASecondRunFetchesNothing) {
  const testing::ProcessResult fetch = Fetch("", mirror_);
  ASSERT_EQ(fetch.exit_code, 0) << fetch.err;
  EXPECT_FALSE(fs::exists(dir_.File("models/.downloads")));
  EXPECT_FALSE(fs::exists(dir_.File("models/sherpa-onnx-streaming-zipformer-en-2023-06-26/"
                                    "encoder-epoch-99-avg-1-chunk-16-left-128.onnx")))
      << "the float variant stays";
  const std::vector<std::string> commands = Commands(fetch.out);
  ASSERT_EQ(commands.size(), 4u) << fetch.out;
  fs::copy_file(AudioPath("speech_pause_speech.wav"), dir_.File("my-recording.wav"));
  fs::copy_file(AudioPath("speaker/a_enroll.wav"), dir_.File("alice.wav"));
  const std::vector<std::string> expected = {
      R"("merged_text":"hello world你好，世界。")", R"("status":"registered")",
      "[M2] Speaker identification initialized (threshold=0.700000)"};
  for (size_t i = 0; i < expected.size(); ++i) {
    const testing::ProcessResult run = Bash(commands[i]);
    EXPECT_EQ(run.exit_code, 0) << commands[i];
    EXPECT_NE(run.out.find(expected[i]), std::string::npos) << commands[i] << "\n" << run.out;
  }

  const testing::ProcessResult demo = Bash(kScripts + "demo.sh " + kBuild + " models");
  EXPECT_NE(demo.err.find("== using the fetched models in models"), std::string::npos) << demo.err;
  EXPECT_NE(demo.out.find(expected[0]), std::string::npos) << demo.out;

  // Live from the microphone: here arecord passes on what the test writes.
  EngineSession live({"-c", "arecord() { [ \"$*\" = '-q -t raw -f S16_LE -r 16000 -c 1' ] && cat <&4; }; "
                            "exec 4<&3 3<&-; cd " + dir_.path() + " && " + commands[3]},
                     true, "/bin/bash");
  ASSERT_TRUE(live.WaitForType("ready"));
  EXPECT_TRUE(live.HasLog("[M3] Online recognizer initialized for first-pass partials"));
  live.StartCapture(1);
  live.SendAudio(testing::LoadWav(AudioPath("speech_pause_speech.wav")));
  ASSERT_TRUE(live.SendAndSync(testing::Silence(1.0)));
  live.SendCommand("stop");
  const auto result = live.WaitFor([](const Event& e) { return e.value("offline_2pass", false); });
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)["merged_text"], "hello world你好，世界。");
  live.SendCommand("quit");
  live.CloseAudio();
  EXPECT_EQ(live.Finish().exit_code, 0);

  const testing::ProcessResult again = Fetch("", dir_.File("no-mirror"));
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out, fetch.out);
  const testing::ProcessResult bilingual = Fetch("--first-pass zh-en", mirror_);
  EXPECT_EQ(bilingual.exit_code, 0) << bilingual.err;
  EXPECT_NE(bilingual.out.find("--first-encoder models/sherpa-onnx-streaming-zipformer-bilingual-"
                               "zh-en-2023-02-20/encoder-epoch-99-avg-1.int8.onnx \\"),
            std::string::npos);
  EXPECT_EQ(Fetch("--first-pass fr", mirror_).exit_code, 2);
}

TEST_F(FetchModels, BrokenDownloadsAreReportedRemovedAndFetchedAgain) {
  const std::string releases = mirror_ + "/k2-fsa/sherpa-onnx/releases/download";
  const std::string vad = mirror_ + "/snakers4/silero-vad/raw/refs/tags/v5.0/files/silero_vad.onnx";
  // A broken-off download of the VAD; on the server a cut-off punctuation
  // archive, a SenseVoice archive with only the float model, and no
  // embedding model.
  const std::string vad_bytes = ReadWholeFile(vad);
  fs::create_directories(dir_.File("models/.downloads"));
  dir_.Write("models/.downloads/silero_vad_v5.onnx.part", vad_bytes.substr(0, vad_bytes.size() / 2));
  const std::vector<std::string> names = {releases, kSenseVoice, kPunctuation};
  ASSERT_EQ(Bash(R"(set -e; r=$1 sv=$2 p=$3
    mv "$r/punctuation-models/$p.tar.bz2" punctuation
    head -c $(($(stat -c %s punctuation) / 2)) punctuation >"$r/punctuation-models/$p.tar.bz2"
    mv "$r/asr-models/$sv.tar.bz2" sense-voice
    mkdir float && tar -xjf sense-voice -C float && mv "float/$sv/model.int8.onnx" "float/$sv/model.onnx"
    tar -cjf "$r/asr-models/$sv.tar.bz2" -C float "$sv"
    mv "$r/speaker-recongition-models" embedding)", names).exit_code, 0);

  const testing::ProcessResult broken = Fetch("", mirror_);
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_TRUE(broken.out.empty()) << "no command lines without the models";
  for (const std::string& report : std::vector<std::string>{
           kPunctuation + ".tar.bz2 is damaged: ",
        kSenseVoice + ".tar.bz2 does not hold what the engine loads: " + kSenseVoice +
            "/model.int8.onnx: missing (removed)",
        "3dspeaker_speech_eres2net_base_sv_zh-cn_3dspeaker_16k.onnx: download failed"}) {
    EXPECT_NE(broken.err.find(report), std::string::npos) << report << "\n" << broken.err;
  }
  EXPECT_EQ(ReadWholeFile(dir_.File("models/silero_vad_v5.onnx")), vad_bytes);
  EXPECT_FALSE(fs::exists(dir_.File("models/" + kSenseVoice)));

  ASSERT_EQ(Bash(R"(set -e; r=$1 sv=$2 p=$3
    mv punctuation "$r/punctuation-models/$p.tar.bz2"
    mv sense-voice "$r/asr-models/$sv.tar.bz2"
    mv embedding "$r/speaker-recongition-models")", names).exit_code, 0);
  // Only a removed archive is downloaded afresh.
  const testing::ProcessResult fixed = Fetch("", mirror_);
  EXPECT_EQ(fixed.exit_code, 0) << fixed.err;
  EXPECT_EQ(Commands(fixed.out).size(), 4u);
}

// A sound archive that fails to unpack (here: files larger than the process
// may write, as on a full disk) is kept, not downloaded again.
TEST_F(FetchModels, ArchiveThatCannotBeUnpackedIsKept) {
  const std::string archive = "models/.downloads/" + kSenseVoice + ".tar.bz2";
  fs::create_directories(dir_.File("models/.downloads"));
  fs::copy_file(mirror_ + "/k2-fsa/sherpa-onnx/releases/download/asr-models/" + kSenseVoice +
                    ".tar.bz2", dir_.File(archive));
  testing::Subprocess::Config spawn;
  spawn.file_size_limit = 4096;  // above the archive, below the model in it
  spawn.ignored_signals = {SIGXFSZ};
  const testing::ProcessResult run = Fetch("", dir_.File("no-mirror"), spawn);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find(kSenseVoice + ".tar.bz2 could not be unpacked: tar: "), std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(dir_.File(archive)));
}

}  // namespace
}  // namespace dictacore
