#include "engine/speakers/enroll_db.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "engine/common/file_lock.h"
#include "engine/common/line_reader.h"
#include "engine/common/posix_io.h"
#include "engine/common/strings.h"
#include "engine/speakers/md5.h"
#include "engine/common/error.h"

namespace dictacore {
namespace {

void ClearFlag(bool* flag) {
  if (flag != nullptr) *flag = false;
}

// The rest of a line after its first token, cut the way names and ids are:
// one leading space removed, trailing spaces and carriage returns removed.
std::string RestAfterToken(const std::string& line, const std::string& token) {
  const size_t token_pos = line.find(token);
  std::string rest = line.substr(token_pos + token.size());
  if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r')) rest.pop_back();
  return rest;
}

bool AllFinite(const std::vector<float>& values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

std::string AtLine(int line_number) { return " at line " + std::to_string(line_number); }

struct ParseState {
  int dim = 0;
  bool header_seen = false;
  std::vector<EnrollEntry> entries;
  std::map<std::string, size_t> first_entry_by_name;
  long current = -1;  // index into entries
  std::string current_name;
};

bool ParseLine(const std::string& line, int line_number, ParseState* state, std::string* error) {
  std::istringstream in(line);
  std::string token;
  if (!(in >> token)) return true;  // blank line

  if (token == "speaker-enroll") {
    state->header_seen = true;
    return true;
  }
  if (token == "dim") {
    int dim = 0;
    if (!(in >> dim) || dim < 1) {
      return Fail(error, "bad dim" + AtLine(line_number));
    }
    state->dim = dim;
    return true;
  }
  if (token == "speaker") {
    const std::string name = RestAfterToken(line, token);
    if (name.empty()) {
      return Fail(error, "empty speaker name" + AtLine(line_number));
    }
    auto it = state->first_entry_by_name.find(name);
    if (it == state->first_entry_by_name.end()) {
      state->entries.push_back({std::string(), name, {}});
      it = state->first_entry_by_name.emplace(name, state->entries.size() - 1).first;
    }
    state->current = static_cast<long>(it->second);
    state->current_name = name;
    return true;
  }
  if (token == "id") {
    if (state->current < 0) {
      return Fail(error, "id before any speaker" + AtLine(line_number));
    }
    const std::string id = RestAfterToken(line, token);
    if (id.empty()) {
      return Fail(error, "empty speaker id" + AtLine(line_number));
    }
    EnrollEntry& entry = state->entries[static_cast<size_t>(state->current)];
    if (!entry.id.empty() && entry.id != id && !entry.samples.empty()) {
      // Another speaker under the same name: it gets its own entry.
      state->entries.push_back({id, state->current_name, {}});
      state->current = static_cast<long>(state->entries.size() - 1);
    } else {
      entry.id = id;
    }
    return true;
  }
  if (token == "emb") {
    if (state->current < 0) {
      return Fail(error, "emb before any speaker" + AtLine(line_number));
    }
    if (state->dim <= 0) {
      return Fail(error, "emb before dim" + AtLine(line_number));
    }
    std::string first;
    if (!(in >> first)) {
      return Fail(error, "empty emb" + AtLine(line_number));
    }
    EnrollSample sample;
    if (first != "-") {
      if (LooksLikeMd5(first)) {
        sample.md5 = first;
      } else {
        float value = 0.0f;
        if (!ParseLeadingFloat(first, &value)) {
          return Fail(error, "bad emb token '" + first + "'" + AtLine(line_number));
        }
        sample.embedding.push_back(value);
      }
    }
    float value = 0.0f;
    while (in >> value) sample.embedding.push_back(value);
    // Only the first value can be infinite or NaN (the stream reads neither);
    // such a voiceprint would not survive the next write, so it is dropped
    // here like a line with the wrong count.
    if (sample.embedding.size() == static_cast<size_t>(state->dim) &&
        AllFinite(sample.embedding)) {
      state->entries[static_cast<size_t>(state->current)].samples.push_back(std::move(sample));
    }
    return true;
  }
  return true;  // any other first token is ignored
}

// The order in which the entries are written. A "speaker" line selects the
// first entry of that name and an "id" line starts another entry only once the
// current one holds a voiceprint, so an entry without voiceprints that comes
// first among entries of its name would absorb the next one on loading. The
// first entry of that name with voiceprints is written ahead of it instead;
// every other entry keeps its place.
std::vector<const EnrollEntry*> WriteOrder(const std::vector<EnrollEntry>& entries) {
  std::vector<const EnrollEntry*> order;
  order.reserve(entries.size());
  std::vector<bool> placed(entries.size(), false);
  std::set<std::string> names;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (placed[i]) continue;
    const bool first_of_name = names.insert(entries[i].name).second;
    if (first_of_name && entries[i].samples.empty()) {
      for (size_t j = i + 1; j < entries.size(); ++j) {
        if (entries[j].name != entries[i].name || entries[j].samples.empty()) continue;
        order.push_back(&entries[j]);
        placed[j] = true;
        break;
      }
    }
    order.push_back(&entries[i]);
    placed[i] = true;
  }
  return order;
}

std::string FormatDatabase(int dim, const std::vector<EnrollEntry>& entries) {
  std::string out = "speaker-enroll v2\n";
  // A database without a dimension is written without a dim line: "dim 0"
  // would not load again.
  if (dim > 0) out += "dim " + std::to_string(dim) + "\n";
  char value[64];
  for (const EnrollEntry* written : WriteOrder(entries)) {
    const EnrollEntry& entry = *written;
    out += "speaker " + entry.name + "\n";
    out += "id " + entry.id + "\n";
    for (const EnrollSample& sample : entry.samples) {
      out += "emb ";
      out += sample.md5.empty() ? "-" : sample.md5;
      for (float v : sample.embedding) {
        std::snprintf(value, sizeof(value), " %.9e", static_cast<double>(v));
        out += value;
      }
      out += "\n";
    }
  }
  return out;
}

// The parent directory as the database path names it ("/" and "\" both
// separate), or empty when the path has no separator past its first byte.
std::string NamedParent(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos || slash == 0) return std::string();
  return path.substr(0, slash);
}

// The file an edit replaces: through a symbolic link the linked file, not
// the link.
std::string ReplacedFile(const std::string& path) {
  struct stat link_st {};
  if (::lstat(path.c_str(), &link_st) != 0 || !S_ISLNK(link_st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

// The directory that holds `file` on this system, for fsync after rename.
std::string ContainingDirectory(const std::string& file) {
  const size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

// Opens a new file beside `target` for the replacement content. Created with
// mode 0666 so that the umask applies as it would to a fresh database.
int CreateSiblingTemp(const std::string& target, std::string* temp_path) {
  std::random_device random("/dev/urandom");
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof(suffix), ".tmp-%d-%08x", static_cast<int>(::getpid()),
                  static_cast<unsigned>(random()));
    *temp_path = target + suffix;
    const int fd = ::open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Flushes the directory entry of a finished rename. A failure here cannot
// undo the rename, so it is not reported.
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The process id in the name of a copy this file's writers make,
// "<file>.tmp-<pid>-<8 hex digits>" (see CreateSiblingTemp); 0 for any other
// name.
pid_t WriterOfTempName(const std::string& name, const std::string& file_name) {
  const std::string prefix = file_name + ".tmp-";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string rest = name.substr(prefix.size());
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash > 9 || rest[0] == '0') return 0;
  if (rest.size() - dash - 1 != 8) return 0;
  long pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    pid = pid * 10 + (rest[i] - '0');
  }
  for (size_t i = dash + 1; i < rest.size(); ++i) {
    const char ch = rest[i];
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return 0;
  }
  return pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the copies that writers killed in the middle of an edit left
// beside `target`. Run under the edit lock, so no writer that takes it is
// making one now; a copy whose writer still runs (one that does not take the
// lock) is left alone.
void RemoveStaleTemps(const std::string& target) {
  const std::string dir = ContainingDirectory(target);
  const std::string file_name = target.substr(target.rfind('/') + 1);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t writer = WriterOfTempName(name, file_name);
    if (writer <= 0) continue;
    const std::string temp = JoinPath(dir, name);
    struct stat st {};
    if (::lstat(temp.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::kill(writer, 0) == -1 && errno == ESRCH) ::unlink(temp.c_str());
  }
}

// Taken for the whole of one edit, from loading the file to renaming the new
// copy over it, so that no other edit comes between the two and is lost. The
// lock file sits beside the replaced file and is never deleted: the lock
// must outlive every rename of the database.
bool LockForEdit(const std::string& path, ExclusiveFileLock* lock, std::string* error) {
  const std::string target = ReplacedFile(path);
  // Where this process cannot create files, none of its edits can replace
  // the database (the new copy is made beside it): the edit goes on
  // unlocked and finds nothing to change or fails at its write.
  if (::access(ContainingDirectory(target).c_str(), W_OK) != 0) return true;
  if (!lock->Acquire(target + ".lock", kEnrollDbEditLockWait, error)) return false;
  RemoveStaleTemps(target);
  return true;
}

// A database loaded for an edit, locked until it goes away; `error`
// receives the lock's or the loader's message.
struct LoadedDb {
  ExclusiveFileLock lock;
  int dim = 0;
  std::vector<EnrollEntry> entries;
};

bool LoadForEdit(const std::string& path, LoadedDb* db, std::string* error) {
  return LockForEdit(path, &db->lock, error) &&
         LoadEnrollDb(path, &db->dim, &db->entries, error);
}

// Drops the entries `matches` selects, collecting their digests; true when
// one matched. `last_name` receives the last dropped entry's name.
template <typename Match>
bool DropEntries(std::vector<EnrollEntry>* entries, Match matches,
                 std::vector<std::string>* removed_md5s, std::string* last_name) {
  bool any = false;
  std::vector<EnrollEntry> kept;
  kept.reserve(entries->size());
  for (EnrollEntry& entry : *entries) {
    if (!matches(entry)) {
      kept.push_back(std::move(entry));
      continue;
    }
    any = true;
    if (last_name != nullptr) *last_name = entry.name;
    if (removed_md5s == nullptr) continue;
    for (const EnrollSample& sample : entry.samples) {
      if (!sample.md5.empty()) removed_md5s->push_back(sample.md5);
    }
  }
  *entries = std::move(kept);
  return any;
}

}  // namespace

bool LooksLikeMd5(const std::string& text) {
  if (text.size() != 32) return false;
  for (char ch : text) {
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
  }
  return true;
}

bool CheckNoLineBreak(const std::string& value, const std::string& what, std::string* error) {
  if (value.find_first_of("\r\n") == std::string::npos) return true;
  return Fail(error, what + " must not contain a line feed or carriage return");
}

std::string GenerateUuidV4() {
  std::random_device device("/dev/urandom");
  std::mt19937_64 engine(static_cast<std::mt19937_64::result_type>(device()));
  std::uniform_int_distribution<int> byte_dist(0, 255);
  unsigned char bytes[16];
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(byte_dist(engine));
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0x0F]);
  }
  return out;
}

bool LoadEnrollDb(const std::string& path, int* dim, std::vector<EnrollEntry>* entries,
                  std::string* error) {
  if (dim != nullptr) *dim = 0;
  if (entries != nullptr) entries->clear();
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return true;

  ParseState state;
  std::string line;
  int line_number = 0;
  for (LineStatus status;
       (status = ReadBoundedLine(file, kMaxEnrollDbLineBytes, &line)) != LineStatus::kEnd;) {
    ++line_number;
    // Not read whole, the line cannot be taken or safely dropped (a later
    // rewrite would lose it), so the database does not load.
    if (status == LineStatus::kTooLong) {
      return Fail(error, "line too long at line " + std::to_string(line_number));
    }
    if (!ParseLine(line, line_number, &state, error)) return false;
  }
  if (!state.entries.empty() && !state.header_seen) {
    return Fail(error, "missing 'speaker-enroll' header in " + path);
  }
  for (EnrollEntry& entry : state.entries) {
    if (entry.id.empty()) entry.id = GenerateUuidV4();
    // A dim line that changed the dimension leaves the voiceprints read
    // before it with the old length. A database has one dimension (the file
    // cannot even write two), so they go like any emb line of the wrong
    // length instead of vanishing at the next edit.
    std::vector<EnrollSample>& samples = entry.samples;
    samples.erase(std::remove_if(samples.begin(), samples.end(),
                                 [&](const EnrollSample& sample) {
                                   return sample.embedding.size() !=
                                          static_cast<size_t>(state.dim);
                                 }),
                  samples.end());
  }
  if (dim != nullptr) *dim = state.dim;
  if (entries != nullptr) *entries = std::move(state.entries);
  return true;
}

bool WriteEnrollDb(const std::string& path, int dim, const std::vector<EnrollEntry>& entries,
                   std::string* error) {
  const std::string parent = NamedParent(path);
  if (!parent.empty()) {
    struct stat st {};
    if (::stat(parent.c_str(), &st) != 0) {
      return Fail(error, "enroll DB directory does not exist: " + parent +
                          " (create it first, or pass a path under an existing directory)");
    }
    if (!S_ISDIR(st.st_mode)) {
      return Fail(error, "enroll DB parent is not a directory: " + parent);
    }
  }
  const std::string cannot_open = "cannot open enroll DB for write: " + path;

  const std::string target = ReplacedFile(path);
  struct stat old_st {};
  const bool existed = ::stat(target.c_str(), &old_st) == 0;
  if (existed && S_ISDIR(old_st.st_mode)) {
    return Fail(error, cannot_open);
  }

  std::vector<EnrollEntry> copy = entries;
  for (EnrollEntry& entry : copy) {
    if (entry.id.empty()) entry.id = GenerateUuidV4();
  }
  const std::string content = FormatDatabase(dim, copy);

  std::string temp_path;
  const int fd = CreateSiblingTemp(target, &temp_path);
  if (fd < 0) {
    return Fail(error, cannot_open);
  }
  if (existed) ::fchmod(fd, old_st.st_mode & 07777);
  bool ok = WriteAllToFd(fd, content) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp_path.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp_path.c_str());
    return Fail(error, "write error on " + path);
  }
  SyncDirectory(ContainingDirectory(target));
  return true;
}

bool AppendEnrollEmbedding(const std::string& path, const std::string& speaker_id,
                           const std::string& name, const std::string& md5,
                           const std::vector<float>& embedding, std::string* error,
                           bool* already_present, std::string* id_out) {
  ClearFlag(already_present);
  if (name.empty()) {
    return Fail(error, "register name is empty");
  }
  if (embedding.empty()) {
    return Fail(error, "register embedding is empty");
  }
  // The file could store it, but no load would ever give it back.
  if (!AllFinite(embedding)) {
    return Fail(error, "register embedding is not finite");
  }
  if (!CheckNoLineBreak(name, "speaker name", error) ||
      !CheckNoLineBreak(speaker_id, "speaker id", error)) {
    return false;
  }
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;

  if (!md5.empty()) {
    for (const EnrollEntry& entry : db.entries) {
      for (const EnrollSample& sample : entry.samples) {
        if (sample.md5 != md5) continue;
        if (already_present != nullptr) *already_present = true;
        if (id_out != nullptr) *id_out = entry.id;
        return true;
      }
    }
  }

  if (db.entries.empty()) {
    db.dim = static_cast<int>(embedding.size());
  } else if (embedding.size() != static_cast<size_t>(db.dim)) {
    return Fail(error, "embedding dim " + std::to_string(embedding.size()) +
                        " != existing DB dim " + std::to_string(db.dim));
  }

  if (!speaker_id.empty()) {
    EnrollEntry* target = nullptr;
    for (EnrollEntry& entry : db.entries) {
      if (entry.id == speaker_id) {
        target = &entry;
        break;
      }
    }
    if (target == nullptr) {
      return Fail(error, "speaker id not found: " + speaker_id);
    }
    target->samples.push_back({md5, embedding});
    target->name = name;
    if (id_out != nullptr) *id_out = speaker_id;
  } else {
    EnrollEntry entry{GenerateUuidV4(), name, {{md5, embedding}}};
    if (id_out != nullptr) *id_out = entry.id;
    db.entries.push_back(std::move(entry));
  }
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

bool EnrollDbContainsMd5(const std::string& path, const std::string& md5, std::string* error) {
  if (md5.empty()) return false;
  std::vector<EnrollEntry> entries;
  if (!LoadEnrollDb(path, nullptr, &entries, error)) return false;
  for (const EnrollEntry& entry : entries) {
    for (const EnrollSample& sample : entry.samples) {
      if (sample.md5 == md5) return true;
    }
  }
  return false;
}

std::string Md5File(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    Fail(error, "cannot open file for md5: " + path);
    return std::string();
  }
  Md5 md5;
  char buffer[65536];
  while (file.read(buffer, sizeof(buffer)) || file.gcount() > 0) {
    md5.Update(buffer, static_cast<size_t>(file.gcount()));
  }
  return md5.FinishHex();
}

bool RemoveEnrollByName(const std::string& path, const std::string& name,
                        std::vector<std::string>* removed_md5s, bool* found, std::string* error) {
  ClearFlag(found);
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;
  const bool any = DropEntries(
      &db.entries, [&](const EnrollEntry& entry) { return entry.name == name; }, removed_md5s,
      nullptr);
  if (any && found != nullptr) *found = true;
  if (!any && found != nullptr) return true;
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

bool RemoveEnrollById(const std::string& path, const std::string& id,
                      std::vector<std::string>* removed_md5s, bool* found, std::string* name_out,
                      std::string* error) {
  ClearFlag(found);
  if (id.empty()) {
    return Fail(error, "speaker id is empty");
  }
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;
  const bool any = DropEntries(
      &db.entries, [&](const EnrollEntry& entry) { return entry.id == id; }, removed_md5s,
      name_out);
  if (any && found != nullptr) *found = true;
  if (!any && found != nullptr) return true;
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

bool RemoveEnrollByMd5(const std::string& path, const std::string& md5, bool* found,
                       std::string* owner_name, std::string* error) {
  ClearFlag(found);
  if (md5.empty()) {
    return Fail(error, "unregister md5 is empty");
  }
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;
  bool removed = false;
  for (EnrollEntry& entry : db.entries) {
    const size_t before = entry.samples.size();
    std::vector<EnrollSample> kept;
    for (EnrollSample& sample : entry.samples) {
      if (sample.md5 != md5) kept.push_back(std::move(sample));
    }
    entry.samples = std::move(kept);
    if (entry.samples.size() != before) {
      removed = true;
      if (owner_name != nullptr) *owner_name = entry.name;
    }
  }
  if (!removed) return true;
  if (found != nullptr) *found = true;
  DropEntries(
      &db.entries, [](const EnrollEntry& entry) { return entry.samples.empty(); }, nullptr,
      nullptr);
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

bool RenameEnrollById(const std::string& path, const std::string& id, const std::string& new_name,
                      bool* found, std::string* error) {
  ClearFlag(found);
  if (id.empty()) {
    return Fail(error, "speaker id is empty");
  }
  if (new_name.empty()) {
    return Fail(error, "speaker name is empty");
  }
  if (!CheckNoLineBreak(new_name, "speaker name", error)) return false;
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;
  bool matched = false;
  for (EnrollEntry& entry : db.entries) {
    if (entry.id == id) {
      entry.name = new_name;
      matched = true;
      break;
    }
  }
  if (matched && found != nullptr) *found = true;
  if (!matched && found != nullptr) return true;
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

bool MigrateEnrollDb(const std::string& path, std::string* error) {
  LoadedDb db;
  if (!LoadForEdit(path, &db, error)) return false;
  if (db.entries.empty() && db.dim <= 0) return true;
  return WriteEnrollDb(path, db.dim, db.entries, error);
}

}  // namespace dictacore
