// The one-shot database commands rewriting the enrollment database when the
// disk takes no more (a file size limit: writes fail with EFBIG) or the
// process is killed in the middle of the write (the same limit with SIGXFSZ
// at its default action). The old database stays exactly as it was and
// keeps loading; a write that fails is reported as an error event.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineRun;
using testing::ModelPath;
using testing::RunEngine;
using testing::Subprocess;

const std::string kEmbeddingModel = ModelPath("speaker/embedding.onnx");

// Well below the size of the database, which the rewrite creates anew.
constexpr long long kFileSizeLimit = 256;

enum class Limit { kWriteFails, kProcessKilled };

struct Command {
  const char* name;
  // The command's arguments for the database, given the id of "Alice".
  std::vector<std::string> (*args)(const std::string& db, const std::string& alice);
};

const Command kCommands[] = {
    {"Rename",
     [](const std::string& db, const std::string& alice) {
       return std::vector<std::string>{"--rename-speaker-id", alice, "--rename-speaker-name",
                                       "Alicia", "--speaker-enroll-db", db};
     }},
    {"UnregisterByName",
     [](const std::string& db, const std::string&) {
       return std::vector<std::string>{"--unregister-name", "Bob", "--speaker-enroll-db", db};
     }},
    {"Migrate",
     [](const std::string& db, const std::string&) {
       return std::vector<std::string>{"--migrate-speakers", "--speaker-enroll-db", db};
     }},
    {"Register",
     [](const std::string& db, const std::string&) {
       // No sample copy (its folder cannot be made), which would otherwise
       // meet the limit before the database does.
       return std::vector<std::string>{
           "--register-name", "Carol", "--register-input", AudioPath("speaker/b_probe.wav"),
           "--speaker-enroll-db", db, "--speaker-embedding-model", kEmbeddingModel,
           "--speaker-samples-dir", "/proc/no-samples-here"};
     }},
};

struct Param {
  Command command;
  Limit limit;
};

class InterruptedDatabaseWrite : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    alice_ = Register("a_enroll", "Alice");
    Register("b_enroll", "Bob");
    ASSERT_FALSE(alice_.empty());
    before_ = ReadWholeFile(Db());
    ASSERT_GT(before_.size(), static_cast<size_t>(kFileSizeLimit));
  }

  std::string Db() const { return dir_.File("enroll.txt"); }

  // Registers a kit clip; returns the new speaker's id.
  std::string Register(const std::string& clip, const std::string& name) const {
    const EngineRun run = RunEngine({"--register-name", name, "--register-input",
                                     AudioPath("speaker/" + clip + ".wav"), "--speaker-enroll-db",
                                     Db(), "--speaker-embedding-model", kEmbeddingModel});
    EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
    if (run.events.empty() || !run.events.back().contains("id")) return std::string();
    return run.events.back()["id"];
  }

  // The names the list command shows.
  std::vector<std::string> ListedNames() const {
    const EngineRun run = RunEngine({"--list-speakers", "--speaker-enroll-db", Db()});
    EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
    std::vector<std::string> names;
    if (run.events.size() != 1) return names;
    for (const auto& speaker : run.events[0]["speakers"]) names.push_back(speaker["name"]);
    return names;
  }

  // Files in the database's directory other than the database and samples.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "enroll.txt" && name != "samples") names.push_back(name);
    }
    return names;
  }

  ScopedTempDir dir_{"db-faults"};
  std::string alice_;
  std::string before_;
};

TEST_P(InterruptedDatabaseWrite, OldDatabaseStaysIntact) {
  const Param& param = GetParam();
  Subprocess::Config spawn;
  spawn.file_size_limit = kFileSizeLimit;
  if (param.limit == Limit::kWriteFails) spawn.ignored_signals = {SIGXFSZ};
  const EngineRun run = RunEngine(param.command.args(Db(), alice_), spawn);

  if (param.limit == Limit::kWriteFails) {
    EXPECT_EQ(run.result.exit_code, 1) << run.result.out;
    ASSERT_EQ(run.OfType("error").size(), 1u) << run.result.out;
    const std::string message = run.OfType("error")[0]["message"];
    const std::string expected_end = "write error on " + Db();
    ASSERT_GE(message.size(), expected_end.size());
    EXPECT_EQ(message.substr(message.size() - expected_end.size()), expected_end) << message;
    EXPECT_TRUE(run.bad_lines.empty());
    EXPECT_EQ(StrayFiles(), std::vector<std::string>()) << "the half-written copy is removed";
  } else {
    EXPECT_EQ(run.result.term_signal, SIGXFSZ) << "exit " << run.result.exit_code;
    // The writer died in the middle of the new copy, which it had no chance
    // to remove; the database itself was never touched.
    const std::vector<std::string> stray = StrayFiles();
    ASSERT_EQ(stray.size(), 1u);
    EXPECT_EQ(stray[0].rfind("enroll.txt.tmp-", 0), 0u) << stray[0];
    EXPECT_EQ(std::filesystem::file_size(dir_.File(stray[0])),
              static_cast<std::uintmax_t>(kFileSizeLimit));
  }
  EXPECT_EQ(ReadWholeFile(Db()), before_);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Alice", "Bob"}));
}

std::vector<Param> Params() {
  std::vector<Param> params;
  for (const Command& command : kCommands) {
    params.push_back({command, Limit::kWriteFails});
    params.push_back({command, Limit::kProcessKilled});
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(
    OneShotCommands, InterruptedDatabaseWrite, ::testing::ValuesIn(Params()),
    [](const ::testing::TestParamInfo<Param>& param) {
      return std::string(param.param.command.name) +
             (param.param.limit == Limit::kWriteFails ? "DiskFull" : "Killed");
    });

}  // namespace
}  // namespace dictacore
