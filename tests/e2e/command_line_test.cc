// The command line as the host sees it: exit status, standard output and
// standard error of the real program.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/support/subprocess.h"

namespace dictacore {
namespace {

using testing::RunProcess;
using testing::SplitLines;

const std::string kDictacore = std::string(DICTACORE_BIN_DIR) + "/dictacore";

std::string GoldenUsage() {
  std::ifstream in(std::string(DICTACORE_TESTDATA_DIR) + "/usage.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CommandLine, HelpPrintsOnlyTheUsageOnStandardError) {
  for (const char* flag : {"--help", "-h"}) {
    const auto result = RunProcess({kDictacore, "--manual-mode", flag});
    EXPECT_EQ(result.exit_code, 0) << flag;
    EXPECT_EQ(result.out, "") << flag;
    EXPECT_EQ(result.err, GoldenUsage()) << flag;
  }
}

TEST(CommandLine, ParseErrorWritesOneErrorEventAndTheUsage) {
  const auto result = RunProcess({kDictacore, "--second-model"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "{\"message\":\"Missing value for --second-model\",\"type\":\"error\"}\n");
  EXPECT_EQ(result.err, GoldenUsage());
}

TEST(CommandLine, ValidationErrorsAreEvents) {
  const auto no_args = RunProcess({kDictacore});
  EXPECT_EQ(no_args.exit_code, 1);
  EXPECT_EQ(no_args.out, "{\"message\":\"--second-tokens is required\",\"type\":\"error\"}\n");

  const auto rate = RunProcess({kDictacore, "--list-speakers", "--sample-rate", "8000"});
  EXPECT_EQ(rate.exit_code, 1);
  const auto lines = SplitLines(rate.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(lines[0])["message"], "Only 16 kHz sample_rate is supported");
}

TEST(CommandLine, ErrorMessageWithControlBytesStaysValidJson) {
  // The rejected value is echoed into the message: it must not break the line.
  const auto result = RunProcess({kDictacore, "--manual-mode", "--second-model", "m",
                                  "--second-tokens", "t", "--audio-format", "a\"\\\t\x1b\n"});
  EXPECT_EQ(result.exit_code, 1);
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(lines[0])["message"],
            "Unsupported audio format: a\"\\\t\x1b\n");
}

}  // namespace
}  // namespace dictacore
