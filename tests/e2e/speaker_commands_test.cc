// The one-shot speaker database commands as the host runs them: exit status,
// the one result object (or error event) on standard output, what they do to
// the database file and the samples directory. Register and identify run the
// real toolkit with the speaker kit's embedding model and voices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/kit.h"
#include "tests/support/subprocess.h"

namespace dictacore {
namespace {

using nlohmann::json;
using testing::ProcessResult;
using testing::RunProcess;
using testing::SplitLines;

const std::string kDictacore = std::string(DICTACORE_BIN_DIR) + "/dictacore";
const std::string kEmbeddingModel = testing::ModelPath("speaker/embedding.onnx");

std::string Clip(const std::string& name) { return testing::AudioPath("speaker/" + name + ".wav"); }

std::string Md5sum(const std::string& path) {
  const ProcessResult result = RunProcess({"/usr/bin/md5sum", path});
  return result.out.substr(0, 32);
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class SpeakerCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }

  std::string Db() const { return dir_.File("enroll.txt"); }
  std::string SamplesDir() const { return dir_.File("samples"); }

  ProcessResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), kDictacore);
    return RunProcess(args);
  }

  // Runs a command that must print exactly one line; returns it parsed.
  json RunOne(const std::vector<std::string>& args, int expected_exit = 0,
              std::string* raw = nullptr) const {
    const ProcessResult result = Run(args);
    EXPECT_EQ(result.exit_code, expected_exit) << result.out;
    EXPECT_EQ(result.err, "");
    const auto lines = SplitLines(result.out);
    EXPECT_EQ(lines.size(), 1u) << result.out;
    if (lines.empty()) return json();
    if (raw != nullptr) *raw = lines[0];
    return json::parse(lines[0]);
  }

  void ExpectError(const std::vector<std::string>& args, const std::string& message) const {
    std::string raw;
    RunOne(args, 1, &raw);
    EXPECT_EQ(raw, json({{"message", message}, {"type", "error"}}).dump());
  }

  // Registers a clip; returns the printed result line.
  std::string Register(const std::string& clip, const std::string& name,
                       std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"--register-name", name, "--register-input", Clip(clip),
                                     "--speaker-enroll-db", Db(), "--speaker-embedding-model",
                                     kEmbeddingModel};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult result = Run(args);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    const auto lines = SplitLines(result.out);
    return lines.empty() ? std::string() : lines.back();
  }

  ScopedTempDir dir_{"speaker-cmd"};
};

// --- register ---------------------------------------------------------------------

TEST_F(SpeakerCommands, RegisterNeedsItsOptionsInOrder) {
  ExpectError({"--register-name", "A"}, "--register-name requires --speaker-embedding-model");
  ExpectError({"--register-name", "A", "--speaker-embedding-model", kEmbeddingModel},
              "--register-name requires --register-input (16 kHz mono WAV)");
  ExpectError({"--register-name", "A", "--speaker-embedding-model", kEmbeddingModel,
               "--register-input", Clip("a_enroll")},
              "--register-name requires --speaker-enroll-db (output path)");
  // The legacy spellings select the same command.
  ExpectError({"--enroll-name", "A", "--enroll-input", Clip("a_enroll")},
              "--register-name requires --speaker-embedding-model");
}

TEST_F(SpeakerCommands, RegisterWritesVoiceprintAndSampleCopy) {
  const std::string md5 = Md5sum(Clip("a_enroll"));
  ASSERT_EQ(md5.size(), 32u);
  const ProcessResult result =
      Run({"--register-name", "Alice Smith", "--register-input", Clip("a_enroll"),
           "--speaker-enroll-db", Db(), "--speaker-embedding-model", kEmbeddingModel});
  ASSERT_EQ(result.exit_code, 0) << result.out;
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  const std::string sample = SamplesDir() + "/" + md5 + ".wav";
  EXPECT_EQ(json::parse(lines[0]),
            json({{"type", "log"}, {"message", "[REGISTER] saved sample copy -> " + sample}}));
  json registered = json::parse(lines[1]);
  const std::string id = registered["id"].get<std::string>();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
  EXPECT_EQ(lines[1], "{\"type\":\"ok\",\"status\":\"registered\",\"id\":\"" + id +
                          "\",\"name\":\"Alice Smith\",\"md5\":\"" + md5 + "\",\"sample\":\"" +
                          sample + "\"}");
  EXPECT_EQ(ReadWholeFile(sample), ReadWholeFile(Clip("a_enroll")));

  // The database: header, the model's dimension, the speaker and one
  // voiceprint of 32 values in the written number format.
  const auto db = SplitLines(ReadWholeFile(Db()));
  ASSERT_EQ(db.size(), 5u);
  EXPECT_EQ(db[0], "speaker-enroll v2");
  EXPECT_EQ(db[1], "dim 32");
  EXPECT_EQ(db[2], "speaker Alice Smith");
  EXPECT_EQ(db[3], "id " + id);
  EXPECT_TRUE(std::regex_match(
      db[4], std::regex("emb " + md5 + "( -?[0-9]\\.[0-9]{9}e[-+][0-9]{2}){32}")))
      << db[4];
}

TEST_F(SpeakerCommands, RegisteringTheSameFileTwiceLoadsNoModelAndWritesNothing) {
  Register("a_enroll", "Alice");
  const std::string before = ReadWholeFile(Db());
  const std::string md5 = Md5sum(Clip("a_enroll"));
  ::unlink((SamplesDir() + "/" + md5 + ".wav").c_str());
  // A model path that could not load proves that no model is loaded.
  std::string raw;
  RunOne({"--register-name", "Someone Else", "--register-input", Clip("a_enroll"),
          "--speaker-enroll-db", Db(), "--speaker-embedding-model", dir_.File("no-model.onnx")},
         0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"already_registered\",\"name\":\"Someone "
                 "Else\",\"md5\":\"" + md5 + "\"}");
  EXPECT_EQ(ReadWholeFile(Db()), before);
  EXPECT_FALSE(Exists(SamplesDir() + "/" + md5 + ".wav"));
}

TEST_F(SpeakerCommands, RegisterUnderAnExistingIdAddsAVoiceprintAndRenames) {
  const std::string id = json::parse(Register("a_enroll", "Alice"))["id"];
  const json second = json::parse(Register("a_probe", "Alice B", {"--register-speaker-id", id}));
  EXPECT_EQ(second["status"], "registered");
  EXPECT_EQ(second["id"], id);
  const json list = RunOne({"--list-speakers", "--speaker-enroll-db", Db()});
  ASSERT_EQ(list["speakers"].size(), 1u);
  EXPECT_EQ(list["speakers"][0]["name"], "Alice B");
  EXPECT_EQ(list["speakers"][0]["count"], 2);
  ExpectError({"--register-name", "X", "--register-input", Clip("b_enroll"), "--speaker-enroll-db",
               Db(), "--speaker-embedding-model", kEmbeddingModel, "--register-speaker-id",
               "nope"},
              "register: speaker id not found: nope");
}

TEST_F(SpeakerCommands, RegisterRefusesLineBreaksBeforeTouchingAnything) {
  ExpectError({"--register-name", "Eve\nspeaker Mallory", "--register-input", Clip("a_enroll"),
               "--speaker-enroll-db", Db(), "--speaker-embedding-model", kEmbeddingModel},
              "register: speaker name must not contain a line feed or carriage return");
  ExpectError({"--register-name", "Eve", "--register-input", Clip("a_enroll"),
               "--speaker-enroll-db", Db(), "--speaker-embedding-model", kEmbeddingModel,
               "--register-speaker-id", "x\r"},
              "register: speaker id must not contain a line feed or carriage return");
  EXPECT_FALSE(Exists(Db()));
  EXPECT_FALSE(Exists(SamplesDir()));
}

TEST_F(SpeakerCommands, RegisterFailuresArePrefixed) {
  ExpectError({"--register-name", "A", "--register-input", dir_.File("none.wav"),
               "--speaker-enroll-db", Db(), "--speaker-embedding-model", kEmbeddingModel},
              "register: cannot open file for md5: " + dir_.File("none.wav"));
  ExpectError({"--register-name", "A", "--register-input", Clip("a_enroll"), "--speaker-enroll-db",
               Db(), "--speaker-embedding-model", dir_.File("none.onnx")},
              "register: speaker embedding model not found or unreadable: " + dir_.File("none.onnx"));
  const std::string text = dir_.Write("text.wav", "not a wav file at all");
  ExpectError({"--register-name", "A", "--register-input", text, "--speaker-enroll-db", Db(),
               "--speaker-embedding-model", kEmbeddingModel},
              "register: Not a RIFF/WAVE file");
  dir_.Write("enroll.txt", "speaker A\n");
  ExpectError({"--register-name", "A", "--register-input", Clip("a_enroll"), "--speaker-enroll-db",
               Db(), "--speaker-embedding-model", kEmbeddingModel},
              "register: missing 'speaker-enroll' header in " + Db());
  ExpectError({"--register-name", "A", "--register-input", Clip("a_enroll"), "--speaker-enroll-db",
               dir_.File("nodir/enroll.txt"), "--speaker-embedding-model", kEmbeddingModel},
              "register: enroll DB directory does not exist: " + dir_.File("nodir") +
                  " (create it first, or pass a path under an existing directory)");
}

TEST_F(SpeakerCommands, FailedSampleCopyStillRegisters) {
  const std::string blocker = dir_.Write("blocker", "a file where a directory should be");
  const std::string samples = blocker + "/samples";
  const ProcessResult result =
      Run({"--register-name", "Alice", "--register-input", Clip("a_enroll"), "--speaker-enroll-db",
           Db(), "--speaker-embedding-model", kEmbeddingModel, "--speaker-samples-dir", samples});
  ASSERT_EQ(result.exit_code, 0) << result.out;
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(json::parse(lines[0])["message"],
            "[REGISTER] warning: could not save sample copy under " + samples);
  const json registered = json::parse(lines[1]);
  EXPECT_EQ(registered["status"], "registered");
  EXPECT_EQ(registered["sample"], "");
  EXPECT_EQ(RunOne({"--list-speakers", "--speaker-enroll-db", Db()})["speakers"].size(), 1u);
}

// --- list and migrate ---------------------------------------------------------------

TEST_F(SpeakerCommands, ListShowsSpeakersVoiceprintsAndSamplePaths) {
  ExpectError({"--list-speakers"}, "--list-speakers requires --speaker-enroll-db");
  std::string raw;
  RunOne({"--list-speakers", "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"speakers\",\"dim\":0,\"speakers\":[]}");

  const std::string md5 = "0123456789abcdef0123456789abcdef";
  dir_.Write("enroll.txt", "speaker-enroll v2\ndim 2\nspeaker Bob \"B\"\nid id-1\nemb " + md5 +
                               " 1 2\nemb - 3 4\nspeaker Ann\nid id-2\n");
  RunOne({"--list-speakers", "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"speakers\",\"dim\":2,\"speakers\":[{\"id\":\"id-1\",\"name\":\"Bob "
                 "\\\"B\\\"\",\"count\":2,\"voiceprints\":[{\"md5\":\"" + md5 +
                     "\",\"sample\":\"" + SamplesDir() + "/" + md5 +
                     ".wav\"},{\"md5\":\"\",\"sample\":\"\"}]},{\"id\":\"id-2\",\"name\":\"Ann\","
                     "\"count\":0,\"voiceprints\":[]}]}");
  const json custom = RunOne(
      {"--list-speakers", "--speaker-enroll-db", Db(), "--speaker-samples-dir", "/data/voices/"});
  EXPECT_EQ(custom["speakers"][0]["voiceprints"][0]["sample"], "/data/voices/" + md5 + ".wav");

  dir_.Write("enroll.txt", "speaker-enroll v2\ndim 0\n");
  ExpectError({"--list-speakers", "--speaker-enroll-db", Db()}, "list: bad dim at line 2");
}

TEST_F(SpeakerCommands, MigratePrintsTheListAndStoresIds) {
  ExpectError({"--migrate-speakers"}, "--migrate-speakers requires --speaker-enroll-db");
  dir_.Write("enroll.txt", "speaker-enroll\ndim 2\nspeaker Old Timer\nemb 1 2\n");
  std::string migrated;
  RunOne({"--migrate-speakers", "--speaker-enroll-db", Db()}, 0, &migrated);
  std::string listed;
  RunOne({"--list-speakers", "--speaker-enroll-db", Db()}, 0, &listed);
  EXPECT_EQ(migrated, listed);
  const std::string id = json::parse(listed)["speakers"][0]["id"];
  EXPECT_EQ(ReadWholeFile(Db()), "speaker-enroll v2\ndim 2\nspeaker Old Timer\nid " + id +
                                     "\nemb - 1.000000000e+00 2.000000000e+00\n");
  dir_.Write("enroll.txt", "speaker-enroll v2\ndim 2\nspeaker A\nemb zz\n");
  ExpectError({"--migrate-speakers", "--speaker-enroll-db", Db()},
              "migrate: bad emb token 'zz' at line 4");
}

// --- rename -------------------------------------------------------------------------

TEST_F(SpeakerCommands, RenameOutcomes) {
  ExpectError({"--rename-speaker-id", "x"}, "rename requires --speaker-enroll-db");
  ExpectError({"--rename-speaker-id", "x", "--speaker-enroll-db", Db()},
              "rename requires --rename-speaker-id ID and --rename-speaker-name NAME");
  dir_.Write("enroll.txt", "speaker-enroll v2\ndim 1\nspeaker Bob\nid id-1\nemb - 1\n");
  std::string raw;
  RunOne({"--rename-speaker-id", "id-1", "--rename-speaker-name", "Robert \"Bob\"",
          "--speaker-enroll-db", Db()},
         0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"renamed\",\"id\":\"id-1\",\"name\":\"Robert "
                 "\\\"Bob\\\"\"}");
  RunOne({"--rename-speaker-id", "id-9", "--rename-speaker-name", "X", "--speaker-enroll-db", Db()},
         0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"not_found\",\"id\":\"id-9\"}");
  const std::string before = ReadWholeFile(Db());
  ExpectError({"--rename-speaker-id", "id-1", "--rename-speaker-name", "A\nspeaker B",
               "--speaker-enroll-db", Db()},
              "rename: speaker name must not contain a line feed or carriage return");
  EXPECT_EQ(ReadWholeFile(Db()), before);
  EXPECT_NE(before.find("speaker Robert \"Bob\"\n"), std::string::npos);
}

// --- unregister ---------------------------------------------------------------------

class Unregister : public SpeakerCommands {
 protected:
  void SetUp() override {
    SpeakerCommands::SetUp();
    dir_.Write("enroll.txt", std::string("speaker-enroll v2\ndim 1\n") + "speaker Bob\nid id-b\nemb " +
                                 kB1 + " 1\nemb " + kB2 + " 2\nspeaker Ann\nid id-a\nemb " + kA1 +
                                 " 3\n");
    ::mkdir(SamplesDir().c_str(), 0755);
    for (const char* md5 : {kB1, kB2, kA1}) dir_.Write(std::string("samples/") + md5 + ".wav", "x");
  }
  bool HasSample(const char* md5) const { return Exists(SamplesDir() + "/" + md5 + ".wav"); }

  static constexpr const char* kB1 = "b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1";
  static constexpr const char* kB2 = "b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2";
  static constexpr const char* kA1 = "a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1";
};

TEST_F(Unregister, NeedsADatabase) {
  ExpectError({"--unregister-name", "Bob"}, "unregister requires --speaker-enroll-db");
  ExpectError({"--unregister-md5", kA1}, "unregister requires --speaker-enroll-db");
}

TEST_F(Unregister, ByIdWinsOverNameAndDeletesAllItsSamples) {
  std::string raw;
  RunOne({"--unregister-speaker-id", "id-b", "--unregister-name", "Ann", "--speaker-enroll-db",
          Db()},
         0, &raw);
  EXPECT_EQ(raw, std::string("{\"type\":\"ok\",\"status\":\"unregistered\",\"id\":\"id-b\","
                             "\"name\":\"Bob\",\"removed\":[\"") +
                     kB1 + "\",\"" + kB2 + "\"]}");
  EXPECT_FALSE(HasSample(kB1));
  EXPECT_FALSE(HasSample(kB2));
  EXPECT_TRUE(HasSample(kA1));
  const json list = RunOne({"--list-speakers", "--speaker-enroll-db", Db()});
  ASSERT_EQ(list["speakers"].size(), 1u);
  EXPECT_EQ(list["speakers"][0]["name"], "Ann");
}

TEST_F(Unregister, ByNamePrintsAnEmptyId) {
  std::string raw;
  RunOne({"--unregister-name", "Ann", "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, std::string("{\"type\":\"ok\",\"status\":\"unregistered\",\"id\":\"\","
                             "\"name\":\"Ann\",\"removed\":[\"") +
                     kA1 + "\"]}");
  EXPECT_FALSE(HasSample(kA1));
  EXPECT_TRUE(HasSample(kB1));
}

TEST_F(Unregister, ByDigestNamesTheOwner) {
  std::string raw;
  RunOne({"--unregister-md5", kB2, "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, std::string("{\"type\":\"ok\",\"status\":\"unregistered\",\"id\":\"\","
                             "\"name\":\"Bob\",\"removed\":[\"") +
                     kB2 + "\"]}");
  EXPECT_FALSE(HasSample(kB2));
  EXPECT_TRUE(HasSample(kB1));
  EXPECT_EQ(RunOne({"--list-speakers", "--speaker-enroll-db", Db()})["speakers"][0]["count"], 1);
}

TEST_F(Unregister, NothingMatchedIsNotFoundByMode) {
  const std::string before = ReadWholeFile(Db());
  std::string raw;
  RunOne({"--unregister-speaker-id", "id-x", "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"not_found\",\"id\":\"id-x\"}");
  RunOne({"--unregister-name", "Zed", "--speaker-enroll-db", Db()}, 0, &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"not_found\",\"name\":\"Zed\"}");
  RunOne({"--unregister-md5", "ffffffffffffffffffffffffffffffff", "--speaker-enroll-db", Db()}, 0,
         &raw);
  EXPECT_EQ(raw, "{\"type\":\"ok\",\"status\":\"not_found\",\"md5\":\"ffffffffffffffffffffffffffffffff\"}");
  EXPECT_EQ(ReadWholeFile(Db()), before);
  EXPECT_TRUE(HasSample(kA1) && HasSample(kB1) && HasSample(kB2));
}

TEST_F(Unregister, DatabaseFailureIsPrefixed) {
  dir_.Write("enroll.txt", "speaker X\n");
  ExpectError({"--unregister-name", "X", "--speaker-enroll-db", Db()},
              "unregister: missing 'speaker-enroll' header in " + Db());
}

// --- identify -----------------------------------------------------------------------

class Identify : public SpeakerCommands {
 protected:
  // Alice is voice a, Bob voice b.
  void Enroll() {
    Register("a_enroll", "Alice");
    Register("b_enroll", "Bob");
  }
  ProcessResult RunIdentify(const std::string& segments_text) const {
    const std::string segments = dir_.Write("segments.tsv", segments_text);
    return Run({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
                "--speaker-enroll-db", Db(), "--wav-input", Clip("two_voices"), "--segments-input",
                segments});
  }
};

TEST_F(Identify, NeedsItsOptionsInOrder) {
  ExpectError({"--identify-only"}, "--identify-only requires --speaker-embedding-model");
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel},
              "--identify-only requires --speaker-enroll-db");
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
               "--speaker-enroll-db", Db()},
              "--identify-only requires --wav-input (16 kHz mono WAV)");
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
               "--speaker-enroll-db", Db(), "--wav-input", Clip("two_voices")},
              "--identify-only requires --segments-input (TSV start\\tend\\tlabel)");
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
               "--speaker-enroll-db", Db(), "--wav-input", Clip("two_voices"),
               "--segments-input", dir_.File("none.tsv")},
              "identify: cannot open --segments-input: " + dir_.File("none.tsv"));
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
               "--speaker-enroll-db", Db(), "--wav-input", dir_.File("none.wav"),
               "--segments-input", dir_.File("none.tsv")},
              "identify: WAV file not found: " + dir_.File("none.wav"));
  dir_.Write("enroll.txt", "speaker-enroll v2\ndim 7\nspeaker A\nemb - 1 2 3 4 5 6 7\n");
  const std::string segments = dir_.Write("segments.tsv", "0\t1\tX\n");
  ExpectError({"--identify-only", "--speaker-embedding-model", kEmbeddingModel,
               "--speaker-enroll-db", Db(), "--wav-input", Clip("two_voices"),
               "--segments-input", segments},
              "identify: enroll DB dim (7) != model dim (32); rebuild enrollment with the same "
              "model");
}

TEST_F(Identify, NamesTheClustersOfTheConversation) {
  Enroll();
  // The true turns of the recording: a, b, a, b, a, b.
  const ProcessResult result = RunIdentify(
      "0.7\t3.58\tspk_a\n4.29\t7.18\tspk_b\n7.88\t11.35\tspk_a\n12.06\t15.04\tspk_b\n"
      "15.75\t18.09\tspk_a\n18.8\t20.4\tspk_b\n");
  ASSERT_EQ(result.exit_code, 0) << result.out;
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.out;
  const json result_object = json::parse(lines[2]);
  EXPECT_EQ(json::parse(lines[3]),
            json({{"type", "complete"}, {"message", "Identification complete"}}));
  EXPECT_EQ(result_object["speakers"], json({{"spk_a", "Alice"}, {"spk_b", "Bob"}}));
  ASSERT_EQ(result_object["segments"].size(), 6u);
  const double score_a = result_object["segments"][0]["score"];
  EXPECT_GT(score_a, 0.7);
  // The log lines carry the same scores, cluster by cluster in label order.
  char expected[96];
  std::snprintf(expected, sizeof(expected), "[SPEAKER_ID] spk_a -> Alice (score=%.3f)", score_a);
  EXPECT_EQ(json::parse(lines[0])["message"], expected);
  EXPECT_EQ(json::parse(lines[1])["message"].get<std::string>().rfind("[SPEAKER_ID] spk_b -> Bob (score=", 0), 0u);
  EXPECT_NE(lines[2].find("{\"start_time\":0.700,\"end_time\":3.580,\"label\":\"spk_a\","
                          "\"speaker\":\"Alice\",\"score\":"),
            std::string::npos)
      << lines[2];
  for (const json& segment : result_object["segments"]) {
    EXPECT_EQ(segment["speaker"], segment["label"] == "spk_a" ? "Alice" : "Bob");
  }
}

TEST_F(Identify, SegmentListRulesAndOutputFormat) {
  // Header, blank lines, CRLF, one tab, start == end, empty label and an
  // unreadable time are skipped; a label keeps its inner tab.
  const ProcessResult result = RunIdentify(
      "start\tend\tlabel\n\n1.5\t2\tone\r\n0.5\t0.9\n3\t3\tsame\n4\t5\t\nx\t5\tbad\n"
      "   2.5\t3.5 s\tlabel\twith tab\n1e999\t2\tover\n");
  ASSERT_EQ(result.exit_code, 0) << result.out;
  const auto lines = SplitLines(result.out);
  ASSERT_GE(lines.size(), 2u);
  const std::string& object = lines[lines.size() - 2];
  // Nobody is enrolled: no names, every segment shows its label, score 0.
  EXPECT_EQ(object,
            "{\"type\":\"identify-result\",\"speakers\":{},\"segments\":["
            "{\"start_time\":1.500,\"end_time\":2.000,\"label\":\"one\",\"speaker\":\"one\","
            "\"score\":0.000},"
            "{\"start_time\":2.500,\"end_time\":3.500,\"label\":\"label\\twith tab\","
            "\"speaker\":\"label\\twith tab\",\"score\":0.000}]}");
  EXPECT_EQ(lines.back(), "{\"message\":\"Identification complete\",\"type\":\"complete\"}");
}

TEST_F(Identify, TimesBeyondTheRecordingAreClippedToIt) {
  Enroll();
  // 21.106 s of audio. An infinite end, a huge start and a negative one.
  const ProcessResult result =
      RunIdentify("18.8\tinf\tend\n-1e300\t3.5\tstart\n50\t1e308\tafter\n-inf\t-1\tbefore\n");
  ASSERT_EQ(result.exit_code, 0) << result.out;
  const auto lines = SplitLines(result.out);
  ASSERT_GE(lines.size(), 2u);
  const json object = json::parse(lines[lines.size() - 2]);
  ASSERT_EQ(object["segments"].size(), 4u);
  EXPECT_EQ(object["segments"][0]["end_time"], 21.106);
  EXPECT_EQ(object["speakers"]["end"], "Bob");
  EXPECT_EQ(object["segments"][1]["start_time"], 0.0);
  EXPECT_EQ(object["speakers"]["start"], "Alice");
  // Segments with nothing left inside the recording have no audio: unnamed,
  // score 0, and no log line for them.
  EXPECT_EQ(object["segments"][2]["start_time"], 21.106);
  EXPECT_EQ(object["segments"][2]["speaker"], "after");
  EXPECT_EQ(object["segments"][2]["score"], 0.0);
  EXPECT_EQ(object["segments"][3]["end_time"], 0.0);
  EXPECT_EQ(lines.size(), 4u) << result.out;
}

}  // namespace
}  // namespace dictacore
