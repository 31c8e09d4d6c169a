#include "engine/backends/model_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/backends/sherpa_handles.h"
#include "engine/common/scoped_temp_dir.h"
#include "tests/support/kit.h"
#include "tests/support/sanitizers.h"

namespace dictacore {
namespace {

using testing::ModelPath;

TEST(CallToolkit, NullExceptionAndHandle) {
  std::unique_ptr<int> owner;
  std::string error;
  EXPECT_FALSE(CallToolkit(&owner, "SherpaOnnxCreateThing", [] { return nullptr; }, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateThing() failed");

  owner = std::make_unique<int>(1);
  EXPECT_FALSE(CallToolkit(
      &owner, "SherpaOnnxCreateThing",
      []() -> int* { throw std::runtime_error("Protobuf parsing failed."); }, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateThing() failed: Protobuf parsing failed.");
  EXPECT_EQ(owner, nullptr) << "a failed call leaves no old handle behind";

  EXPECT_FALSE(CallToolkit(&owner, "SherpaOnnxCreateThing", []() -> int* { throw 7; }, nullptr));
  EXPECT_TRUE(CallToolkit(&owner, "SherpaOnnxCreateThing", [] { return new int(5); }, &error));
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(*owner, 5);
}

// Tokens files as the toolkit reads them: one token, or a token and an id.
struct TokensCase {
  std::string text;
  int bad_line;  // 0 when the toolkit takes the file
};

const std::vector<TokensCase>& TokensCases() {
  static const std::vector<TokensCase> cases = {
      {"<blank> 0\n<unk> 1\nhello 2\n", 0},
      {"  a\t 1  \r\n\n  \n7\nb 2", 0},         // white space, a bare id, no final line feed
      {"a -3\nb +4\n", 0},                      // signs are numbers
      {"a 99999999999\n", 0},                   // the toolkit's quirk: overflow at the end passes
      {"a 1\nb 2 c\n", 2},                      // a third field
      {"a 1\nb c\n", 2},                        // no id
      {"a 1\n\nb 12x\n", 3},                    // junk after the id
      {"a 0x10\n", 1},                          // only decimal ids
      {"\x08\x01\x12\x0b onnx model bytes\n", 1},  // a model file given as tokens
  };
  return cases;
}

TEST(CheckTokensFile, LinesTheToolkitWouldEndTheProcessOn) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const TokensCase& c : TokensCases()) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.Write("tokens.txt", c.text);
    std::string error;
    if (c.bad_line == 0) {
      EXPECT_TRUE(CheckTokensFile(path, &error)) << error;
    } else {
      EXPECT_FALSE(CheckTokensFile(path, &error));
      EXPECT_EQ(error, "tokens file " + path + ": line " + std::to_string(c.bad_line) +
                           " is not '<token> <id>'");
    }
  }
  // Missing or empty files are left to the toolkit.
  EXPECT_TRUE(CheckTokensFile(dir.File("missing.txt"), nullptr));
  EXPECT_TRUE(CheckTokensFile(dir.Write("empty.txt", ""), nullptr));
  for (const char* kit : {"sense-voice/tokens.txt", "whisper/tokens.txt", "streaming/tokens.txt",
                          "streaming-paraformer/tokens.txt"}) {
    std::string error;
    EXPECT_TRUE(CheckTokensFile(ModelPath(kit), &error)) << error;
  }
}

// The faults the start-up steps meet are covered end to end
// (tests/e2e/model_file_faults_test.cc); here what must not be reported.
TEST(DescribeModelFileFaults, OnlyFilesThatCannotLoad) {
  EXPECT_EQ(DescribeModelFileFaults({{"--second-tokens", ModelPath("sense-voice/tokens.txt"), false},
                                     {"--first-tokens", ModelPath("sense-voice/tokens.txt")},
                                     {"--diarization-embedding-model", ""},
                                     {"--silero-vad-model", "/dev/null"}}),
            (std::vector<std::string>{
                "--first-tokens " + ModelPath("sense-voice/tokens.txt") + ": is not an ONNX model",
                "--silero-vad-model /dev/null: is not a regular file"}));
  // Every kit model passes as ONNX, the real Silero models among them.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ModelPath(""))) {
    if (entry.path().extension() != ".onnx") continue;
    EXPECT_TRUE(DescribeModelFileFaults({{"--model", entry.path().string()}}).empty())
        << entry.path();
  }
}

// The check must agree with the toolkit itself: each file is handed to a real
// recognizer in a child process, which the toolkit ends with status 255 on a
// line it cannot read.
TEST(CheckTokensFileDeathTest, AgreesWithTheToolkit) {
  if (testing::kSanitizedBuild) GTEST_SKIP() << "children ended by exit() get leak reports";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string model = ModelPath("sense-voice/model.onnx");
  for (const TokensCase& c : TokensCases()) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.Write("tokens.txt", c.text);
    const auto create = [&model, &path] {
      SherpaOnnxOfflineRecognizerConfig config{};
      config.model_config.tokens = path.c_str();
      config.model_config.num_threads = 1;
      config.model_config.provider = "cpu";
      config.model_config.sense_voice.model = model.c_str();
      config.model_config.sense_voice.language = "auto";
      config.decoding_method = "greedy_search";
      OfflineRecognizerHandle recognizer(SherpaOnnxCreateOfflineRecognizer(&config));
      ::_exit(recognizer ? 0 : 1);
    };
    EXPECT_EXIT(create(), ::testing::ExitedWithCode(c.bad_line == 0 ? 0 : 255), "");
  }
}

}  // namespace
}  // namespace dictacore
