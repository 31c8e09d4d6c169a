// The enrollment database loader over arbitrary files, then every editing
// operation on what it loaded. A file that loads must come back from a write
// and a second load with every speaker and every voiceprint it had; each edit
// must change exactly what it promises and keep everything else.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/speakers/enroll_db.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::EnrollEntry;
using dictacore::EnrollSample;

// A scratch directory on tmpfs, so that the writer's fsync costs nothing.
class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = "/dev/shm/enroll-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(templ.data()) != nullptr);
    path_ = templ;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool IsLoaderMessage(const std::string& error, const std::string& path) {
  static const std::regex kLineMessage(
      "(bad dim|empty speaker name|id before any speaker|empty speaker id|"
      "emb before any speaker|emb before dim|empty emb|bad emb token '[^\\s]*') at line [1-9][0-9]*",
      std::regex::optimize);
  return error == "missing 'speaker-enroll' header in " + path ||
         std::regex_match(error, kLineMessage);
}

bool SameSample(const EnrollSample& a, const EnrollSample& b) {
  if (a.md5 != b.md5 || a.embedding.size() != b.embedding.size()) return false;
  for (size_t i = 0; i < a.embedding.size(); ++i) {
    if (!fuzz::SameBits(a.embedding[i], b.embedding[i])) return false;
  }
  return true;
}

// What a database holds, independent of how the file spreads it over speaker
// blocks: for every speaker (id and name) its voiceprints in file order.
// Speakers that share a name of which no speaker holds a voiceprint count as
// one: the file format cannot keep them apart (the second id line of a name
// replaces the first until a voiceprint follows).
using Speakers = std::map<std::pair<std::string, std::string>, std::vector<EnrollSample>>;

Speakers SpeakersOf(const std::vector<EnrollEntry>& entries) {
  std::set<std::string> voiced;
  for (const EnrollEntry& entry : entries) {
    if (!entry.samples.empty()) voiced.insert(entry.name);
  }
  Speakers speakers;
  for (const EnrollEntry& entry : entries) {
    const std::string id = voiced.count(entry.name) != 0 ? entry.id : std::string();
    std::vector<EnrollSample>& samples = speakers[{id, entry.name}];
    samples.insert(samples.end(), entry.samples.begin(), entry.samples.end());
  }
  return speakers;
}

bool SameSpeakers(const Speakers& a, const Speakers& b) {
  if (a.size() != b.size()) return false;
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    if (ia->first != ib->first || ia->second.size() != ib->second.size()) return false;
    for (size_t i = 0; i < ia->second.size(); ++i) {
      if (!SameSample(ia->second[i], ib->second[i])) return false;
    }
  }
  return true;
}

struct Db {
  int dim = 0;
  std::vector<EnrollEntry> entries;
};

Db MustLoad(const std::string& path) {
  Db db;
  std::string error;
  FUZZ_CHECK(dictacore::LoadEnrollDb(path, &db.dim, &db.entries, &error));
  return db;
}

void CheckLoaded(const Db& db) {
  FUZZ_CHECK(db.dim >= 0);
  for (const EnrollEntry& entry : db.entries) {
    FUZZ_CHECK(!entry.id.empty() && !entry.name.empty());
    for (const EnrollSample& sample : entry.samples) {
      FUZZ_CHECK(sample.md5.empty() || dictacore::LooksLikeMd5(sample.md5));
      FUZZ_CHECK(sample.embedding.size() == static_cast<size_t>(db.dim));
    }
  }
}

void Dump(const char* title, const std::vector<EnrollEntry>& entries) {
  std::fprintf(stderr, "%s:\n", title);
  for (const EnrollEntry& entry : entries) {
    std::fprintf(stderr, "  id=[%s] name=[%s] voiceprints=%zu\n", entry.id.c_str(),
                 entry.name.c_str(), entry.samples.size());
  }
}

// The edit was reported as promised and the file now holds `expected`.
void CheckEdit(const std::string& path, int dim, const std::vector<EnrollEntry>& expected) {
  const Db after = MustLoad(path);
  CheckLoaded(after);
  FUZZ_CHECK(after.dim == dim);
  if (!SameSpeakers(SpeakersOf(after.entries), SpeakersOf(expected))) {
    Dump("expected", expected);
    Dump("loaded", after.entries);
    FUZZ_CHECK(!"the database holds what the edit promised");
  }
}

// Writes `db` and returns what the file holds now: the same speakers, with
// blocks of one speaker (same id and name) possibly merged. Edits are checked
// against this, since they work on the file.
Db Restore(const std::string& path, const Db& db) {
  std::string error;
  FUZZ_CHECK(dictacore::WriteEnrollDb(path, db.dim, db.entries, &error));
  Db held = MustLoad(path);
  FUZZ_CHECK(held.dim == db.dim);
  FUZZ_CHECK(SameSpeakers(SpeakersOf(held.entries), SpeakersOf(db.entries)));
  return held;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Names and ids with a line break inside (a carriage return can come from a
// loaded file) are refused by the edits and leave the file alone.
void CheckRefused(const std::string& path, const Db& db, bool ok, const std::string& error) {
  FUZZ_CHECK(!ok);
  FUZZ_CHECK(fuzz::EndsWith(error, " must not contain a line feed or carriage return"));
  CheckEdit(path, db.dim, db.entries);
}

void CheckRename(const std::string& path, const Db& original, const std::string& id,
                 const std::string& name) {
  const Db db = Restore(path, original);
  bool found = false;
  std::string error;
  const bool ok = dictacore::RenameEnrollById(path, id, name, &found, &error);
  if (HasLineBreak(name)) return CheckRefused(path, db, ok, error);
  FUZZ_CHECK(ok);
  FUZZ_CHECK(found);
  std::vector<EnrollEntry> expected = db.entries;
  for (EnrollEntry& entry : expected) {
    if (entry.id != id) continue;
    entry.name = name;
    break;
  }
  CheckEdit(path, db.dim, expected);
}

void CheckRemoveById(const std::string& path, const Db& original, const std::string& id) {
  const Db db = Restore(path, original);
  bool found = false;
  std::string error;
  std::vector<std::string> removed;
  std::string name;
  FUZZ_CHECK(dictacore::RemoveEnrollById(path, id, &removed, &found, &name, &error));
  FUZZ_CHECK(found);
  std::vector<EnrollEntry> expected;
  std::vector<std::string> expected_removed;
  for (const EnrollEntry& entry : db.entries) {
    if (entry.id != id) {
      expected.push_back(entry);
      continue;
    }
    for (const EnrollSample& sample : entry.samples) {
      if (!sample.md5.empty()) expected_removed.push_back(sample.md5);
    }
  }
  FUZZ_CHECK(removed == expected_removed);
  CheckEdit(path, db.dim, expected);
}

void CheckRemoveByName(const std::string& path, const Db& original, const std::string& name) {
  const Db db = Restore(path, original);
  bool found = false;
  std::string error;
  std::vector<std::string> removed;
  FUZZ_CHECK(dictacore::RemoveEnrollByName(path, name, &removed, &found, &error));
  FUZZ_CHECK(found);
  std::vector<EnrollEntry> expected;
  for (const EnrollEntry& entry : db.entries) {
    if (entry.name != name) expected.push_back(entry);
  }
  CheckEdit(path, db.dim, expected);
}

void CheckRemoveByMd5(const std::string& path, const Db& original, const std::string& md5) {
  const Db db = Restore(path, original);
  bool found = false;
  std::string error;
  std::string owner;
  FUZZ_CHECK(dictacore::RemoveEnrollByMd5(path, md5, &found, &owner, &error));
  FUZZ_CHECK(found);
  std::vector<EnrollEntry> expected;
  for (EnrollEntry entry : db.entries) {
    entry.samples.erase(std::remove_if(entry.samples.begin(), entry.samples.end(),
                                       [&](const EnrollSample& s) { return s.md5 == md5; }),
                        entry.samples.end());
    if (!entry.samples.empty()) expected.push_back(std::move(entry));
  }
  CheckEdit(path, db.dim, expected);
}

void CheckAppend(const std::string& path, const Db& original, const std::string& speaker_id,
                 const std::string& name) {
  const Db db = Restore(path, original);
  const size_t dim = db.entries.empty() ? 3 : static_cast<size_t>(db.dim);
  if (dim == 0) return;  // speakers but no dimension: nothing can be appended
  // Models give a few hundred values; a database claiming far more only ever
  // meets embeddings of the wrong length.
  const size_t length = dim > 1024 ? 3 : dim;
  const std::vector<float> embedding(length, 0.25f);
  const std::string md5 = "00112233445566778899aabbccddeeff";
  bool present = false;
  bool digest_known = false;
  for (const EnrollEntry& entry : db.entries) {
    for (const EnrollSample& sample : entry.samples) digest_known |= sample.md5 == md5;
  }
  std::string error;
  std::string id;
  const bool ok = dictacore::AppendEnrollEmbedding(path, speaker_id, name, md5, embedding, &error,
                                                   &present, &id);
  if (HasLineBreak(name) || HasLineBreak(speaker_id)) return CheckRefused(path, db, ok, error);
  if (!digest_known && length != dim) {
    FUZZ_CHECK(!ok && error == "embedding dim " + std::to_string(length) +
                                   " != existing DB dim " + std::to_string(dim));
    return CheckEdit(path, db.dim, db.entries);
  }
  FUZZ_CHECK(ok);
  FUZZ_CHECK(present == digest_known);
  std::vector<EnrollEntry> expected = db.entries;
  if (!present) {
    if (speaker_id.empty()) {
      FUZZ_CHECK(!id.empty());
      expected.push_back({id, name, {{md5, embedding}}});
    } else {
      FUZZ_CHECK(id == speaker_id);
      for (EnrollEntry& entry : expected) {
        if (entry.id != speaker_id) continue;
        entry.samples.push_back({md5, embedding});
        entry.name = name;
        break;
      }
    }
  }
  CheckEdit(path, db.entries.empty() ? static_cast<int>(dim) : db.dim, expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::MemFile input;
  static ScratchDir scratch;
  input.Set(data, size);

  Db loaded;
  std::string error;
  if (!dictacore::LoadEnrollDb(input.path(), &loaded.dim, &loaded.entries, &error)) {
    FUZZ_CHECK(IsLoaderMessage(error, input.path()));
    FUZZ_CHECK(loaded.dim == 0 && loaded.entries.empty());
    return 0;
  }
  CheckLoaded(loaded);

  // Written and loaded again, nothing is lost; migrating changes nothing.
  const std::string path = scratch.File("enroll.txt");
  const Db db = Restore(path, loaded);
  std::string migrate_error;
  FUZZ_CHECK(dictacore::MigrateEnrollDb(path, &migrate_error));
  CheckEdit(path, db.dim, db.entries);

  CheckAppend(path, db, "", "Newcomer");
  if (db.entries.empty()) return 0;

  // Arguments for the edits come from what was loaded; which speaker is
  // picked depends on the input so that every position gets its turn.
  const size_t n = db.entries.size();
  const size_t who = size % n;
  const size_t other = (who + 1) % n;
  CheckRename(path, db, db.entries[who].id, db.entries[other].name);
  CheckRename(path, db, db.entries[who].id, "Renamed Speaker");
  CheckRemoveById(path, db, db.entries[who].id);
  CheckRemoveByName(path, db, db.entries[who].name);
  CheckAppend(path, db, db.entries[who].id, db.entries[other].name);
  for (const EnrollEntry& entry : db.entries) {
    if (entry.samples.empty() || entry.samples.front().md5.empty()) continue;
    CheckRemoveByMd5(path, db, entry.samples.front().md5);
    CheckAppend(path, db, "", entry.name);
    break;
  }
  return 0;
}
