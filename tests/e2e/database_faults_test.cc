// The one-shot database commands rewriting the enrollment database when the
// disk takes no more (a file size limit: writes fail with EFBIG) or the
// process is killed in the middle of the write (the same limit with SIGXFSZ
// at its default action), and when many of them edit one database at once.
// The old database stays exactly as it was and keeps loading; a write that
// fails is reported as an error event; the copy a killed writer leaves goes
// with the next edit, which its lock does not hold up; no edit reported as
// done is lost to another.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/speakers/enroll_db.h"
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

  // Files in the database's directory other than the database, its lock
  // file and samples.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "enroll.txt" && name != "enroll.txt.lock" && name != "samples") {
        names.push_back(name);
      }
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

  // The killed writer held the edit lock, which went with it; the next edit
  // goes ahead and removes the copy it left.
  const EngineRun next = RunEngine({"--rename-speaker-id", alice_, "--rename-speaker-name",
                                    "Alicia", "--speaker-enroll-db", Db()});
  EXPECT_EQ(next.result.exit_code, 0) << next.result.out;
  EXPECT_EQ(StrayFiles(), std::vector<std::string>());
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Alicia", "Bob"}));
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

// --- Concurrent edits ---------------------------------------------------------------

// A copy of a kit clip that differs in its last sample, so that its digest
// is new.
std::string ClipVariant(const ScopedTempDir& dir, int k) {
  std::string bytes = ReadWholeFile(AudioPath("speaker/a_enroll.wav"));
  bytes[bytes.size() - 2] = static_cast<char>(k & 0xFF);
  bytes[bytes.size() - 1] = static_cast<char>((k >> 8) & 0xFF);
  return dir.Write("clip-" + std::to_string(k) + ".wav", bytes);
}

std::string Md5Of(int k) {
  char text[40];
  std::snprintf(text, sizeof(text), "%032x", k);
  return text;
}

// One command started with the others, and its result object.
struct Edit {
  std::vector<std::string> args;
  std::string status;  // the expected "status", empty for none
  std::unique_ptr<Subprocess> process;
  nlohmann::json result;
};

// Every kind of edit at once on one database: registrations of new speakers
// and of another voiceprint of a known one, renames, removals by id, name and
// digest, migrations. Each replaces the whole file, so an edit made between
// another's load and its rename would be undone by that rename.
TEST(ConcurrentDatabaseEdits, NoEditReportedAsDoneIsLost) {
  ScopedTempDir dir("db-concurrent");
  ASSERT_FALSE(dir.path().empty());
  const std::string db = dir.File("enroll.txt");
  const EngineRun seed = RunEngine({"--register-name", "Seed", "--register-input",
                                    AudioPath("speaker/b_enroll.wav"), "--speaker-enroll-db", db,
                                    "--speaker-embedding-model", kEmbeddingModel});
  ASSERT_EQ(seed.result.exit_code, 0) << seed.result.out;
  // Speakers P0 ... P10 to edit, and enough others that loading and writing
  // the file take a while (about 1 MB).
  int dim = 0;
  std::vector<EnrollEntry> entries;
  ASSERT_TRUE(LoadEnrollDb(db, &dim, &entries, nullptr));
  constexpr int kEdited = 11;
  for (int i = 0; i < 500; ++i) {
    const std::string name = (i < kEdited ? "P" : "Other ") + std::to_string(i);
    entries.push_back({"id-" + std::to_string(i), name,
                       {{Md5Of(i + 1), std::vector<float>(static_cast<size_t>(dim), 0.01f * i)}}});
  }
  ASSERT_TRUE(WriteEnrollDb(db, dim, entries, nullptr));

  const std::vector<std::string> on_db = {"--speaker-enroll-db", db};
  const std::vector<std::string> model = {"--speaker-embedding-model", kEmbeddingModel,
                                          "--speaker-samples-dir", dir.File("samples")};
  std::vector<Edit> edits;
  const auto add = [&](std::vector<std::string> args, const std::string& status,
                       const std::vector<std::string>& more = {}) {
    args.insert(args.end(), on_db.begin(), on_db.end());
    args.insert(args.end(), more.begin(), more.end());
    edits.push_back({std::move(args), status, nullptr, {}});
  };
  for (int k = 0; k < 6; ++k) {
    add({"--register-name", "New " + std::to_string(k), "--register-input", ClipVariant(dir, k)},
        "registered", model);
  }
  add({"--register-name", "P0 again", "--register-speaker-id", "id-0", "--register-input",
       ClipVariant(dir, 6)},
      "registered", model);
  for (int i = 1; i <= 3; ++i) {
    add({"--rename-speaker-id", "id-" + std::to_string(i), "--rename-speaker-name",
         "Renamed " + std::to_string(i)},
        "renamed");
  }
  add({"--unregister-speaker-id", "id-4"}, "unregistered");
  add({"--unregister-speaker-id", "id-5"}, "unregistered");
  add({"--unregister-name", "P6"}, "unregistered");
  add({"--unregister-name", "P7"}, "unregistered");
  add({"--unregister-md5", Md5Of(9)}, "unregistered");
  add({"--unregister-md5", Md5Of(10)}, "unregistered");
  add({"--migrate-speakers"}, "");
  add({"--migrate-speakers"}, "");

  for (Edit& edit : edits) {
    Subprocess::Config config;
    config.argv = edit.args;
    config.argv.insert(config.argv.begin(), testing::BinPath("dictacore"));
    edit.process = std::make_unique<Subprocess>(config);
  }
  for (Edit& edit : edits) {
    edit.process->CloseStdin();
    const testing::ProcessResult result = edit.process->Wait(std::chrono::seconds(120));
    ASSERT_EQ(result.exit_code, 0) << edit.args[0] << ": " << result.out;
    const std::vector<std::string> lines = testing::SplitLines(result.out);
    ASSERT_FALSE(lines.empty());
    edit.result = nlohmann::json::parse(lines.back());
    if (!edit.status.empty()) {
      EXPECT_EQ(edit.result["status"], edit.status) << lines.back();
    }
  }

  const EngineRun list = RunEngine({"--list-speakers", "--speaker-enroll-db", db});
  ASSERT_EQ(list.events.size(), 1u) << list.result.out;
  std::map<std::string, std::string> names;  // id -> name
  std::map<std::string, size_t> counts;      // id -> voiceprints
  for (const auto& speaker : list.events[0]["speakers"]) {
    names[speaker["id"]] = speaker["name"];
    counts[speaker["id"]] = speaker["count"];
  }
  for (int k = 0; k < 6; ++k) {
    const std::string id = edits[static_cast<size_t>(k)].result["id"];
    EXPECT_EQ(names[id], "New " + std::to_string(k)) << "registration " << k << " lost";
  }
  EXPECT_EQ(names["id-0"], "P0 again");
  EXPECT_EQ(counts["id-0"], 2u) << "the added voiceprint was lost";
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(names["id-" + std::to_string(i)], "Renamed " + std::to_string(i));
  }
  for (int i = 4; i <= 9; ++i) {
    EXPECT_EQ(names.count("id-" + std::to_string(i)), 0u) << "P" << i << " came back";
  }
  EXPECT_EQ(names.count("id-10"), 1u);
  EXPECT_EQ(names["id-" + std::to_string(kEdited)], "Other " + std::to_string(kEdited));
  // Seed, the six new speakers, P0 to P3, P10 and the other 489.
  EXPECT_EQ(names.size(), 1u + 6 + 4 + 1 + 489);
}

}  // namespace
}  // namespace dictacore
