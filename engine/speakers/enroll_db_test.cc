#include "engine/speakers/enroll_db.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/file_lock.h"
#include "engine/common/scoped_temp_dir.h"
#include "engine/speakers/md5.h"
#include "tests/support/subprocess.h"

namespace dictacore {
namespace {

const char kIdA[] = "0f8fad5b-d9cb-469f-a165-70867728950e";
const char kIdB[] = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
const char kMd5A[] = "0123456789abcdef0123456789abcdef";
const char kMd5B[] = "fedcba9876543210fedcba9876543210";

bool IsUuidV4(const std::string& id) {
  static const std::regex kUuid(
      "^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  return std::regex_match(id, kUuid);
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Files in `dir` other than the ones named.
std::vector<std::string> OtherFiles(const std::string& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

struct Loaded {
  bool ok = false;
  int dim = -1;
  std::vector<EnrollEntry> entries;
  std::string error;
};

Loaded Load(const std::string& path) {
  Loaded loaded;
  loaded.ok = LoadEnrollDb(path, &loaded.dim, &loaded.entries, &loaded.error);
  return loaded;
}

Loaded LoadText(const ScopedTempDir& dir, const std::string& text) {
  return Load(dir.Write("db.txt", text));
}

class EnrollDbTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  std::string DbPath() const { return dir_.File("enroll.txt"); }
  std::string WriteDb(const std::string& text) const { return dir_.Write("enroll.txt", text); }

  // Two speakers: Bob (two voiceprints) and Ann (one), dimension 2.
  std::string TwoSpeakers() const {
    return WriteDb(std::string("speaker-enroll v2\ndim 2\nspeaker Bob\nid ") + kIdA + "\nemb " +
                   kMd5A + " 1 0\nemb - 0 1\nspeaker Ann\nid " + kIdB + "\nemb " + kMd5B +
                   " 0.5 0.5\n");
  }

  ScopedTempDir dir_{"enroll-db"};
};

// --- File format ----------------------------------------------------------------

TEST_F(EnrollDbTest, WrittenFileIsByteExactAndReadsBackUnchanged) {
  const std::vector<EnrollEntry> entries = {
      {kIdA, "Bob Smith", {{kMd5A, {0.5f, 1.0f / 3.0f, -0.0123f}}, {"", {2.0f, -1e-7f, 0.0f}}}},
      {kIdB, "Ann", {}},
  };
  std::string error;
  ASSERT_TRUE(WriteEnrollDb(DbPath(), 3, entries, &error)) << error;
  EXPECT_EQ(ReadWholeFile(DbPath()),
            std::string("speaker-enroll v2\ndim 3\nspeaker Bob Smith\nid ") + kIdA + "\nemb " +
                kMd5A +
                " 5.000000000e-01 3.333333433e-01 -1.229999959e-02\n"
                "emb - 2.000000000e+00 -1.000000012e-07 0.000000000e+00\n"
                "speaker Ann\nid " +
                kIdB + "\n");
  const Loaded loaded = Load(DbPath());
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.dim, 3);
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].id, kIdA);
  EXPECT_EQ(loaded.entries[0].name, "Bob Smith");
  ASSERT_EQ(loaded.entries[0].samples.size(), 2u);
  EXPECT_EQ(loaded.entries[0].samples[0].md5, kMd5A);
  EXPECT_EQ(loaded.entries[0].samples[1].md5, "");
  for (size_t s = 0; s < 2; ++s) {
    const auto& expected = entries[0].samples[s].embedding;
    const auto& actual = loaded.entries[0].samples[s].embedding;
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(std::memcmp(&actual[i], &expected[i], sizeof(float)), 0) << s << "," << i;
    }
  }
  EXPECT_TRUE(loaded.entries[1].samples.empty());
}

TEST_F(EnrollDbTest, EntriesWithoutIdGetOneWhenWritten) {
  ASSERT_TRUE(WriteEnrollDb(DbPath(), 1, {{"", "Nameless", {{"", {1.0f}}}}}, nullptr));
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_TRUE(IsUuidV4(loaded.entries[0].id)) << loaded.entries[0].id;
  EXPECT_NE(ReadWholeFile(DbPath()).find("id " + loaded.entries[0].id + "\n"), std::string::npos);
}

TEST_F(EnrollDbTest, MissingFileIsAnEmptyDatabase) {
  const Loaded loaded = Load(dir_.File("none.txt"));
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.dim, 0);
  EXPECT_TRUE(loaded.entries.empty());
  EXPECT_TRUE(LoadEnrollDb(dir_.File("none.txt"), nullptr, nullptr, nullptr));
  EXPECT_TRUE(MigrateEnrollDb(dir_.File("none.txt"), nullptr));
  EXPECT_EQ(::access(dir_.File("none.txt").c_str(), F_OK), -1);
}

TEST_F(EnrollDbTest, HeaderIsNeededOnlyWhenThereAreSpeakers) {
  Loaded loaded = LoadText(dir_, "dim 4\n");
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.dim, 4);
  const std::string path = dir_.Write("noheader.txt", "dim 1\nspeaker Bob\n");
  loaded = Load(path);
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.error, "missing 'speaker-enroll' header in " + path);
  EXPECT_EQ(loaded.dim, 0);
  EXPECT_TRUE(loaded.entries.empty());
  // The header may stand anywhere, and the earlier format's header counts.
  loaded = LoadText(dir_, "speaker Bob\nid x\nspeaker-enroll\n");
  EXPECT_TRUE(loaded.ok) << loaded.error;
}

TEST_F(EnrollDbTest, DimLineRules) {
  for (const char* bad : {"dim", "dim abc", "dim 0", "dim -3", "dim 99999999999"}) {
    const Loaded loaded = LoadText(dir_, std::string("speaker-enroll v2\n\n") + bad + "\n");
    EXPECT_FALSE(loaded.ok) << bad;
    EXPECT_EQ(loaded.error, "bad dim at line 3") << bad;
  }
  const Loaded later = LoadText(dir_, "speaker-enroll v2\ndim 3\ndim 2\nspeaker A\nemb - 1 2\n");
  ASSERT_TRUE(later.ok);
  EXPECT_EQ(later.dim, 2);
  EXPECT_EQ(later.entries[0].samples.size(), 1u);
}

TEST_F(EnrollDbTest, SpeakerNamesAreCutLikeThis) {
  const Loaded loaded = LoadText(
      dir_, "speaker-enroll v2\nspeaker  Two Spaces  \r\nspeaker\tTabbed\t\n  speaker Indented\n");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 3u);
  EXPECT_EQ(loaded.entries[0].name, " Two Spaces");
  EXPECT_EQ(loaded.entries[1].name, "\tTabbed\t");
  EXPECT_EQ(loaded.entries[2].name, "Indented");
  const Loaded empty = LoadText(dir_, "speaker-enroll v2\nspeaker   \r\n");
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.error, "empty speaker name at line 2");
}

TEST_F(EnrollDbTest, IdLineRules) {
  Loaded loaded = LoadText(dir_, "speaker-enroll v2\nid abc\n");
  EXPECT_EQ(loaded.error, "id before any speaker at line 2");
  loaded = LoadText(dir_, "speaker-enroll v2\nspeaker A\nid  \r\n");
  EXPECT_EQ(loaded.error, "empty speaker id at line 3");

  // Same name, second id after a voiceprint: a second speaker. A later
  // "speaker" line with that name selects the first entry again.
  loaded = LoadText(dir_,
                    "speaker-enroll v2\ndim 1\n"
                    "speaker Sam\nid one\nemb - 1\n"
                    "speaker Sam\nid two\nemb - 2\n"
                    "speaker Sam\nemb - 3\n");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].id, "one");
  ASSERT_EQ(loaded.entries[0].samples.size(), 2u);
  EXPECT_FLOAT_EQ(loaded.entries[0].samples[1].embedding[0], 3.0f);
  EXPECT_EQ(loaded.entries[1].id, "two");
  EXPECT_EQ(loaded.entries[1].name, "Sam");

  // Without a voiceprint in between the id is simply replaced.
  loaded = LoadText(dir_, "speaker-enroll v2\nspeaker Sam\nid one\nid two \n");
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_EQ(loaded.entries[0].id, "two");
}

TEST_F(EnrollDbTest, EmbLineRules) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"speaker-enroll v2\ndim 2\nemb - 1 2\n", "emb before any speaker at line 3"},
      {"speaker-enroll v2\nspeaker A\nemb - 1 2\n", "emb before dim at line 3"},
      {"speaker-enroll v2\nemb - 1\n", "emb before any speaker at line 2"},
      {"speaker-enroll v2\ndim 2\nspeaker A\nemb   \n", "empty emb at line 4"},
      {"speaker-enroll v2\ndim 2\nspeaker A\nemb x1 2\n", "bad emb token 'x1' at line 4"},
      {"speaker-enroll v2\ndim 2\nspeaker A\nemb D41D8CD98F00B204E9800998ECF8427E 1 2\n",
       "bad emb token 'D41D8CD98F00B204E9800998ECF8427E' at line 4"},
      {"speaker-enroll v2\ndim 2\nspeaker A\nemb 1e99 2\n", "bad emb token '1e99' at line 4"},
  };
  for (const Case& c : cases) {
    const Loaded loaded = LoadText(dir_, c.text);
    EXPECT_FALSE(loaded.ok) << c.text;
    EXPECT_EQ(loaded.error, c.error) << c.text;
    EXPECT_TRUE(loaded.entries.empty());
  }
}

TEST_F(EnrollDbTest, EmbValuesAndDigests) {
  std::string text = "speaker-enroll v2\ndim 2\nspeaker A\n";
  text += "emb - 1 2\n";                           // empty digest
  text += std::string("emb ") + kMd5A + " 3 4\n";  // digest
  text += "emb 5 6\n";                             // earlier format: no digest
  text += "emb 7.5abc 8\n";                        // first value read like stof
  text += "emb - 9\n";                             // too short: dropped
  text += "emb - 1 2 3\n";                         // too long: dropped
  text += "emb - 1 x 2\n";                         // reading stops at x: dropped
  const Loaded loaded = LoadText(dir_, text);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 1u);
  const auto& samples = loaded.entries[0].samples;
  ASSERT_EQ(samples.size(), 4u);
  EXPECT_EQ(samples[0].md5, "");
  EXPECT_EQ(samples[0].embedding, (std::vector<float>{1, 2}));
  EXPECT_EQ(samples[1].md5, kMd5A);
  EXPECT_EQ(samples[1].embedding, (std::vector<float>{3, 4}));
  EXPECT_EQ(samples[2].md5, "");
  EXPECT_EQ(samples[2].embedding, (std::vector<float>{5, 6}));
  EXPECT_EQ(samples[3].embedding, (std::vector<float>{7.5f, 8}));
}

TEST_F(EnrollDbTest, ShortVoiceprintInA192DimensionDatabaseIsDropped) {
  std::string text = "speaker-enroll v2\ndim 192\nspeaker A\nid a\nemb -";
  for (int i = 0; i < 191; ++i) text += " 0.1";
  const Loaded loaded = LoadText(dir_, text + "\n");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_TRUE(loaded.entries[0].samples.empty());
}

// A dim line that changes the dimension: the voiceprints read before it no
// longer fit and are dropped at once, so that no later rewrite loses them
// behind the caller's back and every voiceprint has the database's length.
TEST_F(EnrollDbTest, VoiceprintsOfAnEarlierDimensionAreDroppedWhenLoaded) {
  const std::string path = WriteDb(
      "speaker-enroll v2\ndim 1\nspeaker Gil\nid g\nemb - 1\ndim 2\nemb - 3 4\n"
      "speaker Hal\nid h\nemb - 5 6\n");
  const Loaded loaded = Load(path);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.dim, 2);
  ASSERT_EQ(loaded.entries.size(), 2u);
  ASSERT_EQ(loaded.entries[0].samples.size(), 1u);
  EXPECT_EQ(loaded.entries[0].samples[0].embedding, (std::vector<float>{3, 4}));
  ASSERT_EQ(loaded.entries[1].samples.size(), 1u);

  ASSERT_TRUE(MigrateEnrollDb(path, nullptr));
  const Loaded migrated = Load(path);
  ASSERT_EQ(migrated.entries.size(), 2u);
  EXPECT_EQ(migrated.entries[0].samples.size(), 1u);
  EXPECT_EQ(migrated.entries[1].samples.size(), 1u);
}

// The stream reads neither infinities nor NaN, so a voiceprint holding one
// could be written but never read back: the loader drops it (only a first
// value can carry one) and an append refuses it without touching the file.
TEST_F(EnrollDbTest, VoiceprintsThatCannotBeReadBackAreDroppedOrRefused) {
  const std::string path = WriteDb(
      "speaker-enroll v2\ndim 2\nspeaker A\nid a\nemb inf 1\nemb nan 2\nemb -inf 0\n"
      "emb 1 2\n");
  const Loaded loaded = Load(path);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 1u);
  ASSERT_EQ(loaded.entries[0].samples.size(), 1u);
  EXPECT_EQ(loaded.entries[0].samples[0].embedding, (std::vector<float>{1, 2}));

  const std::string before = ReadWholeFile(path);
  for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity()}) {
    std::string error;
    bool present = true;
    EXPECT_FALSE(AppendEnrollEmbedding(path, "", "B", "", {bad, 1.0f}, &error, &present, nullptr));
    EXPECT_EQ(error, "register embedding is not finite");
    EXPECT_FALSE(present);
  }
  EXPECT_EQ(ReadWholeFile(path), before);
}

TEST_F(EnrollDbTest, OtherLinesAreIgnoredButCounted) {
  const Loaded loaded =
      LoadText(dir_, "# comment\nspeaker-enroll v2\n\n   \t\nfoo bar\ndim 1\nspeakers X\nid\n");
  EXPECT_FALSE(loaded.ok);
  // "id" with nothing after it is still an id line, on physical line 8.
  EXPECT_EQ(loaded.error, "id before any speaker at line 8");
}

TEST_F(EnrollDbTest, OverLongLineFailsTheLoadAndBlocksEdits) {
  // A voiceprint line as long as the limit still loads.
  const size_t values = (kMaxEnrollDbLineBytes - 6) / 2;
  std::string emb = "emb -";
  for (size_t i = 0; i < values; ++i) emb += " 1";
  ASSERT_LE(emb.size(), kMaxEnrollDbLineBytes);
  Loaded loaded = LoadText(
      dir_, "speaker-enroll v2\ndim " + std::to_string(values) + "\nspeaker Wide\n" + emb + "\n");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_EQ(loaded.entries[0].samples.size(), 1u);

  // One byte more, even on a line that would be ignored, and nothing loads:
  // what the rest of the line holds is unknown.
  const std::string path = WriteDb("speaker-enroll v2\ndim 1\nspeaker A\nemb - 1\n# " +
                                   std::string(kMaxEnrollDbLineBytes - 1, 'x') + "\nspeaker B\n");
  const std::string before = ReadWholeFile(path);
  loaded = Load(path);
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.error, "line too long at line 5");
  EXPECT_TRUE(loaded.entries.empty());
  std::string error;
  bool found = false;
  EXPECT_FALSE(RenameEnrollById(path, "x", "Y", &found, &error));
  EXPECT_EQ(error, "line too long at line 5");
  EXPECT_EQ(ReadWholeFile(path), before);
}

TEST_F(EnrollDbTest, EarlierFormatGetsFreshIdsUntilMigrated) {
  const std::string path = WriteDb("speaker-enroll\ndim 2\nspeaker Bob\nemb 1 2\nspeaker Ann\n");
  const Loaded first = Load(path);
  const Loaded second = Load(path);
  ASSERT_TRUE(first.ok) << first.error;
  ASSERT_EQ(first.entries.size(), 2u);
  EXPECT_TRUE(IsUuidV4(first.entries[0].id));
  EXPECT_TRUE(IsUuidV4(first.entries[1].id));
  EXPECT_NE(first.entries[0].id, second.entries[0].id);

  std::string error;
  ASSERT_TRUE(MigrateEnrollDb(path, &error)) << error;
  const Loaded migrated = Load(path);
  const Loaded again = Load(path);
  ASSERT_EQ(migrated.entries.size(), 2u);
  EXPECT_EQ(migrated.entries[0].id, again.entries[0].id);
  EXPECT_EQ(ReadWholeFile(path), "speaker-enroll v2\ndim 2\nspeaker Bob\nid " +
                                     migrated.entries[0].id +
                                     "\nemb - 1.000000000e+00 2.000000000e+00\nspeaker Ann\nid " +
                                     migrated.entries[1].id + "\n");
}

TEST_F(EnrollDbTest, DatabaseWithoutDimensionStaysLoadableAfterARewrite) {
  const std::string path = WriteDb("speaker-enroll\nspeaker Bob\n");
  ASSERT_TRUE(MigrateEnrollDb(path, nullptr));
  const Loaded loaded = Load(path);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.dim, 0);
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_EQ(loaded.entries[0].name, "Bob");
}

TEST(GenerateUuidV4, FormatAndFreshness) {
  const std::string a = GenerateUuidV4();
  const std::string b = GenerateUuidV4();
  EXPECT_EQ(a.size(), 36u);
  EXPECT_TRUE(IsUuidV4(a)) << a;
  EXPECT_TRUE(IsUuidV4(b)) << b;
  EXPECT_NE(a, b);
}

TEST(LooksLikeMd5, ExactlyThirtyTwoLowercaseHexDigits) {
  EXPECT_TRUE(LooksLikeMd5(kMd5A));
  EXPECT_FALSE(LooksLikeMd5("0123456789ABCDEF0123456789abcdef"));
  EXPECT_FALSE(LooksLikeMd5("0123456789abcdef0123456789abcde"));
  EXPECT_FALSE(LooksLikeMd5("0123456789abcdef0123456789abcdef0"));
  EXPECT_FALSE(LooksLikeMd5("0123456789abcdef0123456789abcdeg"));
  EXPECT_FALSE(LooksLikeMd5("-"));
}

// --- Writing ----------------------------------------------------------------------

TEST_F(EnrollDbTest, ParentDirectoryChecksComeFirst) {
  std::string error;
  const std::string missing_parent = dir_.File("no/such");
  EXPECT_FALSE(WriteEnrollDb(missing_parent + "/db.txt", 1, {}, &error));
  EXPECT_EQ(error, "enroll DB directory does not exist: " + missing_parent +
                       " (create it first, or pass a path under an existing directory)");
  EXPECT_EQ(::access(missing_parent.c_str(), F_OK), -1);
  const std::string file_parent = dir_.Write("plain", "x");
  EXPECT_FALSE(WriteEnrollDb(file_parent + "/db.txt", 1, {}, &error));
  EXPECT_EQ(error, "enroll DB parent is not a directory: " + file_parent);
  // A backslash separates too.
  EXPECT_FALSE(WriteEnrollDb(dir_.File("nodir\\db.txt"), 1, {}, &error));
  EXPECT_EQ(error, "enroll DB directory does not exist: " + dir_.File("nodir") +
                       " (create it first, or pass a path under an existing directory)");
}

TEST_F(EnrollDbTest, DirectoryInTheWayCannotBeOpened) {
  ::mkdir(DbPath().c_str(), 0755);
  std::string error;
  EXPECT_FALSE(WriteEnrollDb(DbPath(), 1, {}, &error));
  EXPECT_EQ(error, "cannot open enroll DB for write: " + DbPath());
  EXPECT_EQ(OtherFiles(dir_.path(), {"enroll.txt"}), std::vector<std::string>());
}

TEST_F(EnrollDbTest, RewriteKeepsModeAndFollowsSymbolicLinks) {
  TwoSpeakers();
  ASSERT_EQ(::chmod(DbPath().c_str(), 0640), 0);
  const std::string link = dir_.File("link.txt");
  ASSERT_EQ(::symlink(DbPath().c_str(), link.c_str()), 0);
  bool found = false;
  ASSERT_TRUE(RenameEnrollById(link, kIdA, "Robert", &found, nullptr));
  EXPECT_TRUE(found);
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(DbPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Load(DbPath()).entries[0].name, "Robert");
  // The lock file sits beside the replaced file too.
  EXPECT_EQ(OtherFiles(dir_.path(), {"enroll.txt", "enroll.txt.lock", "link.txt"}),
            std::vector<std::string>());
}

// A write that runs out of room (here: the file size limit) fails and leaves
// the old database exactly as it was, with no temporary file behind.
TEST_F(EnrollDbTest, FullDiskDuringAWriteLeavesTheDatabaseIntact) {
  std::vector<EnrollEntry> entries;
  for (int s = 0; s < 40; ++s) {
    EnrollEntry entry{GenerateUuidV4(), "Speaker " + std::to_string(s), {}};
    entry.samples.push_back({"", std::vector<float>(192, 0.25f + static_cast<float>(s))});
    entries.push_back(entry);
  }
  ASSERT_TRUE(WriteEnrollDb(DbPath(), 192, entries, nullptr));
  const std::string before = ReadWholeFile(DbPath());
  ASSERT_GT(before.size(), 60000u);

  testing::Subprocess::Config writer;
  writer.ignored_signals = {SIGXFSZ};
  writer.file_size_limit = 16384;
  writer.body = [&] {
    std::string error;
    bool present = false;
    const bool ok = AppendEnrollEmbedding(DbPath(), "", "Newcomer", "",
                                          std::vector<float>(192, 1.0f), &error, &present, nullptr);
    const bool as_expected = !ok && error == "write error on " + DbPath();
    return as_expected ? 0 : 1;
  };
  const testing::ProcessResult run = testing::RunProcess(writer);
  ASSERT_EQ(run.term_signal, 0);
  EXPECT_EQ(run.exit_code, 0) << "the write did not fail as a full disk should";
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  EXPECT_EQ(OtherFiles(dir_.path(), {"enroll.txt", "enroll.txt.lock"}), std::vector<std::string>());
}

// A process killed in the middle of a rewrite leaves either the old or the
// new database, never a mixture or a truncated file. Each round kills the
// writer as soon as a write is seen under way (a new file beside the
// database, or the database at a size of neither version).
TEST_F(EnrollDbTest, KillDuringRewritesNeverCorruptsTheDatabase) {
  auto make_version = [](float base) {
    std::vector<EnrollEntry> entries;
    for (int s = 0; s < 300; ++s) {
      entries.push_back({"id-" + std::to_string(s),
                         "Speaker " + std::to_string(s),
                         {{"", std::vector<float>(192, base + static_cast<float>(s))}}});
    }
    return entries;
  };
  const std::vector<EnrollEntry> version_a = make_version(0.5f);
  const std::vector<EnrollEntry> version_b = make_version(-0.25f);
  ASSERT_TRUE(WriteEnrollDb(DbPath(), 192, version_b, nullptr));
  const std::string text_b = ReadWholeFile(DbPath());
  ASSERT_TRUE(WriteEnrollDb(DbPath(), 192, version_a, nullptr));
  const std::string text_a = ReadWholeFile(DbPath());
  ASSERT_NE(text_a.size(), text_b.size());

  int caught_mid_write = 0;
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> known = OtherFiles(dir_.path(), {});
    testing::Subprocess::Config config;
    config.body = [&]() -> int {
      for (int i = 0;; ++i)
        WriteEnrollDb(DbPath(), 192, i % 2 == 0 ? version_b : version_a, nullptr);
    };
    testing::Subprocess writer(config);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < deadline) {
      struct stat st {};
      const bool odd_size = ::stat(DbPath().c_str(), &st) == 0 &&
                            static_cast<size_t>(st.st_size) != text_a.size() &&
                            static_cast<size_t>(st.st_size) != text_b.size();
      if (odd_size || !OtherFiles(dir_.path(), known).empty()) {
        ++caught_mid_write;
        break;
      }
    }
    ASSERT_EQ(writer.Kill().term_signal, SIGKILL);
    const std::string now = ReadWholeFile(DbPath());
    EXPECT_TRUE(now == text_a || now == text_b)
        << "round " << round << ": " << now.size() << " bytes";
  }
  EXPECT_GT(caught_mid_write, 0);
  const Loaded loaded = Load(DbPath());
  EXPECT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.entries.size(), 300u);
}

// --- Edits of several processes ----------------------------------------------------

// An edit waits while another holds the edit lock, and goes ahead once it is
// released: the load of one edit can never come between the load and the
// rename of another.
TEST_F(EnrollDbTest, EditsWaitForTheEditLock) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  ExclusiveFileLock other;
  ASSERT_TRUE(other.Acquire(DbPath() + ".lock", std::chrono::milliseconds(0), nullptr));
  std::atomic<bool> done{false};
  bool ok = false;
  bool found = false;
  std::thread edit([&] {
    ok = RenameEnrollById(DbPath(), kIdA, "Robert", &found, nullptr);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done);
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  other.Release();
  edit.join();
  EXPECT_TRUE(ok);
  EXPECT_TRUE(found);
  EXPECT_EQ(Load(DbPath()).entries[0].name, "Robert");
}

TEST_F(EnrollDbTest, EditWithoutItsLockChangesNothing) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  ASSERT_EQ(::mkdir((DbPath() + ".lock").c_str(), 0755), 0);
  bool found = false;
  std::string error;
  EXPECT_FALSE(RemoveEnrollById(DbPath(), kIdA, nullptr, &found, nullptr, &error));
  EXPECT_EQ(error, "cannot open lock file " + DbPath() + ".lock: Is a directory");
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
}

// A process id that no process has now: a child that has been reaped.
pid_t GonePid() {
  testing::Subprocess::Config config;
  config.body = [] { return 0; };
  testing::Subprocess child(config);
  const pid_t pid = child.pid();
  child.Wait(std::chrono::seconds(10));
  return pid;
}

// Copies left by writers that were killed mid-edit go with the next edit,
// even one that changes nothing; only names of exactly the writers' form,
// regular files, made by processes that no longer run.
TEST_F(EnrollDbTest, EditsRemoveTheCopiesOfWritersThatAreGone) {
  TwoSpeakers();
  const std::string gone = std::to_string(GonePid());
  const std::string stale = "enroll.txt.tmp-" + gone + "-0badc0de";
  const std::vector<std::string> kept = {
      "enroll.txt.tmp-" + std::to_string(::getpid()) + "-0badc0de",  // its writer runs
      "enroll.txt.tmp-" + gone + "-0BADC0DE",
      "enroll.txt.tmp-" + gone + "-0badc0de0",
      "enroll.txt.tmp-0" + gone + "-0badc0de",
      "other.txt.tmp-" + gone + "-0badc0de",
  };
  dir_.Write(stale, "half a database");
  for (const std::string& name : kept) dir_.Write(name, "half a database");
  const std::string not_a_file = "enroll.txt.tmp-" + gone + "-12345678";
  ASSERT_EQ(::mkdir(dir_.File(not_a_file).c_str(), 0755), 0);

  // Readers leave them alone.
  EXPECT_TRUE(EnrollDbContainsMd5(DbPath(), kMd5A, nullptr));
  EXPECT_EQ(::access(dir_.File(stale).c_str(), F_OK), 0);

  bool found = true;
  ASSERT_TRUE(RenameEnrollById(DbPath(), "no such id", "X", &found, nullptr));
  EXPECT_FALSE(found);
  std::vector<std::string> known = kept;
  known.insert(known.end(), {"enroll.txt", "enroll.txt.lock", not_a_file});
  EXPECT_EQ(OtherFiles(dir_.path(), known), std::vector<std::string>());
  for (const std::string& name : kept) {
    EXPECT_EQ(::access(dir_.File(name).c_str(), F_OK), 0) << name;
  }
}

// --- Appending --------------------------------------------------------------------

TEST_F(EnrollDbTest, AppendArgumentChecksTouchNothing) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  std::string error;
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "", "", {1, 2}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "register name is empty");
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "Z", "", {}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "register embedding is empty");
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "Z", "", {1, 2, 3}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "embedding dim 3 != existing DB dim 2");
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "nope", "Z", "", {1, 2}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "speaker id not found: nope");
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
}

TEST_F(EnrollDbTest, LineBreaksInNamesAndIdsAreRefused) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  const ino_t inode = InodeOf(DbPath());
  std::string error;
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "Eve\nspeaker Mallory", "", {1, 2}, &error,
                                     nullptr, nullptr));
  EXPECT_EQ(error, "speaker name must not contain a line feed or carriage return");
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "Eve\r", "", {1, 2}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "speaker name must not contain a line feed or carriage return");
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), std::string(kIdA) + "\nemb - 9 9", "Eve", "", {1, 2},
                                     &error, nullptr, nullptr));
  EXPECT_EQ(error, "speaker id must not contain a line feed or carriage return");
  bool found = true;
  EXPECT_FALSE(RenameEnrollById(DbPath(), kIdA, "Bob\nspeaker X", &found, &error));
  EXPECT_EQ(error, "speaker name must not contain a line feed or carriage return");
  EXPECT_FALSE(found);
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  EXPECT_EQ(InodeOf(DbPath()), inode);
}

TEST_F(EnrollDbTest, AppendToMissingDatabaseCreatesIt) {
  std::string error;
  std::string id;
  bool present = true;
  ASSERT_TRUE(
      AppendEnrollEmbedding(DbPath(), "", "Zoe Q", kMd5A, {0.5f, -2.0f}, &error, &present, &id))
      << error;
  EXPECT_FALSE(present);
  EXPECT_TRUE(IsUuidV4(id));
  EXPECT_EQ(ReadWholeFile(DbPath()), "speaker-enroll v2\ndim 2\nspeaker Zoe Q\nid " + id +
                                         "\nemb " + kMd5A + " 5.000000000e-01 -2.000000000e+00\n");
}

TEST_F(EnrollDbTest, KnownDigestReportsItsOwnerAndWritesNothing) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  const ino_t inode = InodeOf(DbPath());
  bool present = false;
  std::string id;
  // Even a wrong-length embedding: the digest is checked first.
  ASSERT_TRUE(
      AppendEnrollEmbedding(DbPath(), "", "Someone", kMd5B, {1, 2, 3}, nullptr, &present, &id));
  EXPECT_TRUE(present);
  EXPECT_EQ(id, kIdB);
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  EXPECT_EQ(InodeOf(DbPath()), inode);
}

TEST_F(EnrollDbTest, AppendByIdAddsAtTheEndAndRenames) {
  TwoSpeakers();
  std::string id;
  ASSERT_TRUE(AppendEnrollEmbedding(DbPath(), kIdA, "Robert", "", {3, 3}, nullptr, nullptr, &id));
  EXPECT_EQ(id, kIdA);
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].name, "Robert");
  ASSERT_EQ(loaded.entries[0].samples.size(), 3u);
  EXPECT_EQ(loaded.entries[0].samples[2].embedding, (std::vector<float>{3, 3}));
}

TEST_F(EnrollDbTest, SameNameWithoutIdMakesASecondSpeaker) {
  TwoSpeakers();
  std::string id;
  ASSERT_TRUE(AppendEnrollEmbedding(DbPath(), "", "Bob", "", {4, 4}, nullptr, nullptr, &id));
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 3u);
  EXPECT_EQ(loaded.entries[2].name, "Bob");
  EXPECT_EQ(loaded.entries[2].id, id);
  EXPECT_NE(id, kIdA);
  EXPECT_EQ(loaded.entries[0].samples.size(), 2u);
}

TEST_F(EnrollDbTest, AppendToSpeakerlessDatabaseTakesTheEmbeddingLength) {
  WriteDb("speaker-enroll v2\ndim 5\n");
  ASSERT_TRUE(AppendEnrollEmbedding(DbPath(), "", "A", "", {1, 2}, nullptr, nullptr, nullptr));
  EXPECT_EQ(Load(DbPath()).dim, 2);
}

TEST_F(EnrollDbTest, AppendStopsAtAnUnloadableDatabase) {
  WriteDb("speaker-enroll v2\ndim x\n");
  std::string error;
  EXPECT_FALSE(AppendEnrollEmbedding(DbPath(), "", "A", "", {1}, &error, nullptr, nullptr));
  EXPECT_EQ(error, "bad dim at line 2");
}

TEST_F(EnrollDbTest, ContainsMd5) {
  TwoSpeakers();
  std::string error;
  EXPECT_TRUE(EnrollDbContainsMd5(DbPath(), kMd5A, &error));
  EXPECT_FALSE(EnrollDbContainsMd5(DbPath(), "00000000000000000000000000000000", &error));
  EXPECT_FALSE(EnrollDbContainsMd5(DbPath(), "", &error));
  EXPECT_EQ(error, "");
  WriteDb("speaker A\n");
  EXPECT_FALSE(EnrollDbContainsMd5(DbPath(), kMd5A, &error));
  EXPECT_EQ(error, "missing 'speaker-enroll' header in " + DbPath());
}

// --- Removing and renaming ----------------------------------------------------------

TEST_F(EnrollDbTest, RemoveByNameDropsEveryMatchingSpeaker) {
  WriteDb(std::string("speaker-enroll v2\ndim 1\nspeaker Sam\nid one\nemb ") + kMd5A +
          " 1\nemb - 2\nspeaker Sam\nid two\nemb - 3\nemb " + kMd5B + " 4\nspeaker Ann\nid x\n");
  std::vector<std::string> removed;
  bool found = false;
  ASSERT_TRUE(RemoveEnrollByName(DbPath(), "Sam", &removed, &found, nullptr));
  EXPECT_TRUE(found);
  EXPECT_EQ(removed, (std::vector<std::string>{kMd5A, kMd5B}));
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_EQ(loaded.entries[0].name, "Ann");
}

TEST_F(EnrollDbTest, RemovalsThatMatchNothingLeaveTheFileAlone) {
  TwoSpeakers();
  const std::string before = ReadWholeFile(DbPath());
  const ino_t inode = InodeOf(DbPath());
  bool found = true;
  std::vector<std::string> removed;
  std::string name = "unchanged";
  ASSERT_TRUE(RemoveEnrollByName(DbPath(), "Nobody", &removed, &found, nullptr));
  EXPECT_FALSE(found);
  found = true;
  ASSERT_TRUE(RemoveEnrollByName(DbPath(), "", &removed, &found, nullptr));
  EXPECT_FALSE(found);
  found = true;
  ASSERT_TRUE(RemoveEnrollById(DbPath(), "nope", &removed, &found, &name, nullptr));
  EXPECT_FALSE(found);
  EXPECT_EQ(name, "unchanged");
  found = true;
  ASSERT_TRUE(
      RemoveEnrollByMd5(DbPath(), "00000000000000000000000000000000", &found, &name, nullptr));
  EXPECT_FALSE(found);
  found = true;
  ASSERT_TRUE(RenameEnrollById(DbPath(), "nope", "X", &found, nullptr));
  EXPECT_FALSE(found);
  EXPECT_TRUE(removed.empty());
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  EXPECT_EQ(InodeOf(DbPath()), inode);
  // Without a found flag to report through, the file is written back anyway.
  ASSERT_TRUE(RemoveEnrollByName(DbPath(), "Nobody", nullptr, nullptr, nullptr));
  EXPECT_NE(InodeOf(DbPath()), inode);
  EXPECT_EQ(Load(DbPath()).entries.size(), 2u);
}

TEST_F(EnrollDbTest, RemoveByIdReportsNameAndDigests) {
  TwoSpeakers();
  std::string error;
  bool found = false;
  EXPECT_FALSE(RemoveEnrollById(DbPath(), "", nullptr, &found, nullptr, &error));
  EXPECT_EQ(error, "speaker id is empty");
  std::vector<std::string> removed;
  std::string name;
  ASSERT_TRUE(RemoveEnrollById(DbPath(), kIdA, &removed, &found, &name, &error));
  EXPECT_TRUE(found);
  EXPECT_EQ(name, "Bob");
  EXPECT_EQ(removed, std::vector<std::string>{kMd5A});
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 1u);
  EXPECT_EQ(loaded.entries[0].id, kIdB);
}

TEST_F(EnrollDbTest, RemoveByMd5TakesEmptiedSpeakersAlong) {
  WriteDb(std::string("speaker-enroll v2\ndim 1\nspeaker Bob\nid b\nemb ") + kMd5A +
          " 1\nemb - 2\nspeaker Ann\nid a\nemb " + kMd5A +
          " 3\nspeaker Empty\nid e\n"
          "speaker Cy\nid c\nemb " +
          kMd5B + " 4\n");
  std::string error;
  bool found = false;
  EXPECT_FALSE(RemoveEnrollByMd5(DbPath(), "", &found, nullptr, &error));
  EXPECT_EQ(error, "unregister md5 is empty");
  std::string owner;
  ASSERT_TRUE(RemoveEnrollByMd5(DbPath(), kMd5A, &found, &owner, &error));
  EXPECT_TRUE(found);
  EXPECT_EQ(owner, "Ann");
  const Loaded loaded = Load(DbPath());
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].name, "Bob");
  ASSERT_EQ(loaded.entries[0].samples.size(), 1u);
  EXPECT_EQ(loaded.entries[0].samples[0].embedding, std::vector<float>{2});
  EXPECT_EQ(loaded.entries[1].name, "Cy");
}

TEST_F(EnrollDbTest, RenameById) {
  TwoSpeakers();
  std::string error;
  bool found = false;
  EXPECT_FALSE(RenameEnrollById(DbPath(), "", "X", &found, &error));
  EXPECT_EQ(error, "speaker id is empty");
  EXPECT_FALSE(RenameEnrollById(DbPath(), kIdA, "", &found, &error));
  EXPECT_EQ(error, "speaker name is empty");
  ASSERT_TRUE(RenameEnrollById(DbPath(), kIdB, "Annabel Lee", &found, &error));
  EXPECT_TRUE(found);
  const Loaded loaded = Load(DbPath());
  EXPECT_EQ(loaded.entries[1].name, "Annabel Lee");
  EXPECT_EQ(loaded.entries[0].name, "Bob");
}

// A speaker without voiceprints that is the first of its name would absorb
// the next speaker of that name on loading (an id line replaces the id until
// a voiceprint follows). Giving another speaker its name must not make either
// of them disappear.
TEST_F(EnrollDbTest, TakingTheNameOfASpeakerWithoutVoiceprintsKeepsBoth) {
  const std::string path =
      WriteDb("speaker-enroll v2\ndim 1\nspeaker Hal\nid h\nspeaker Ida\nid i\nemb - 1\n");
  bool found = false;
  ASSERT_TRUE(RenameEnrollById(path, "i", "Hal", &found, nullptr));
  EXPECT_TRUE(found);
  Loaded loaded = Load(path);
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].id, "i");
  EXPECT_EQ(loaded.entries[0].samples.size(), 1u);
  EXPECT_EQ(loaded.entries[1].id, "h");
  EXPECT_EQ(loaded.entries[1].name, "Hal");

  // The same through a registration under an existing id.
  WriteDb("speaker-enroll v2\ndim 1\nspeaker Hal\nid h\nspeaker Bob\nid b\nemb - 1\n");
  ASSERT_TRUE(AppendEnrollEmbedding(path, "b", "Hal", "", {2.0f}, nullptr, nullptr, nullptr));
  loaded = Load(path);
  ASSERT_EQ(loaded.entries.size(), 2u);
  EXPECT_EQ(loaded.entries[0].id, "b");
  EXPECT_EQ(loaded.entries[0].samples.size(), 2u);
  EXPECT_EQ(loaded.entries[1].id, "h");

  // A speaker without voiceprints that is not first keeps its place.
  WriteDb(
      "speaker-enroll v2\ndim 1\nspeaker Ann\nid a\nemb - 1\nspeaker Ann\nid x\n"
      "speaker Cy\nid c\nemb - 2\n");
  ASSERT_TRUE(MigrateEnrollDb(path, nullptr));
  EXPECT_EQ(ReadWholeFile(path),
            "speaker-enroll v2\ndim 1\nspeaker Ann\nid a\nemb - 1.000000000e+00\nspeaker Ann\n"
            "id x\nspeaker Cy\nid c\nemb - 2.000000000e+00\n");
}

TEST_F(EnrollDbTest, EditsStopAtAnUnloadableDatabase) {
  WriteDb("speaker-enroll v2\nspeaker A\nid\tq\nemb - 1\n");
  std::string error;
  bool found = true;
  EXPECT_FALSE(RemoveEnrollByName(DbPath(), "A", nullptr, &found, &error));
  EXPECT_EQ(error, "emb before dim at line 4");
  EXPECT_FALSE(found);
  EXPECT_FALSE(MigrateEnrollDb(DbPath(), &error));
  EXPECT_EQ(error, "emb before dim at line 4");
}

// --- File digest ------------------------------------------------------------------

TEST(Md5, KnownDigests) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"),
            "9e107d9d372bb6826bd81d3542a419d6");
  EXPECT_EQ(
      Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
  // Lengths around the padding boundary.
  EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5File, WholeFileInPiecesAndMissingFile) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.Write("million", std::string(1000000, 'a'));
  EXPECT_EQ(Md5File(path, nullptr), "7707d6ae4e027c70eea2a935c2296f21");
  std::string error;
  EXPECT_EQ(Md5File(dir.File("none"), &error), "");
  EXPECT_EQ(error, "cannot open file for md5: " + dir.File("none"));
}

}  // namespace
}  // namespace dictacore
