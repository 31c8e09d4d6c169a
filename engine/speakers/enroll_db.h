// The speaker enrollment database: a small UTF-8 text file of enrolled
// speakers and their voiceprints ("speaker-enroll v2" format). Every edit
// loads the whole file, changes the list and writes the whole file back; a
// file that does not exist is an empty database.
//
// Edits of several processes are serialised by an exclusive advisory lock on
// "<database>.lock" beside the database (beside the linked file when the path
// is a symbolic link), held from the load to the rename of the new copy.
// Readers need no lock: the file is only ever replaced whole.
#ifndef DICTACORE_ENGINE_SPEAKERS_ENROLL_DB_H_
#define DICTACORE_ENGINE_SPEAKERS_ENROLL_DB_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace dictacore {

// One voiceprint.
struct EnrollSample {
  std::string md5;               // lowercase hex digest of the sample WAV, or empty
  std::vector<float> embedding;  // length equals the database dimension
};

// One enrolled speaker.
struct EnrollEntry {
  std::string id;    // normally a version-4 UUID; never empty after loading
  std::string name;  // display name, never empty
  std::vector<EnrollSample> samples;
};

// How long an edit waits for the edits of other processes before it fails
// ("timed out after 10000 ms waiting for the lock on <database>.lock") and
// changes nothing.
constexpr std::chrono::milliseconds kEnrollDbEditLockWait{10000};

// Longest database line read: a voiceprint line of some 60 000 values. A
// longer line fails the load ("line too long at line N").
constexpr size_t kMaxEnrollDbLineBytes = size_t{1} << 20;

// Outputs are cleared at entry; `dim` and `entries` may be null. A missing
// file is an empty database (dimension 0). Voiceprints whose length is not the
// file's (last) dimension, or that hold an infinite or NaN value, are dropped.
bool LoadEnrollDb(const std::string& path, int* dim, std::vector<EnrollEntry>* entries,
                  std::string* error);

// Replaces the file with the given content. The new content goes to a
// temporary file beside the database, is flushed to disk and renamed over it,
// so a crash or a full disk leaves either the old or the new database, never
// a partial one. Entries without an id get a new one. It takes no lock: the
// edits below hold it around their load and this write.
bool WriteEnrollDb(const std::string& path, int dim, const std::vector<EnrollEntry>& entries,
                   std::string* error);

// The edits (append, the removals, rename, migrate) take the edit lock and,
// under it, delete the temporary copies that writers which no longer run
// left beside the database. An edit that waits longer than
// kEnrollDbEditLockWait fails without changing anything.
//
// Adds one voiceprint: to the entry with `speaker_id` (renaming it to `name`)
// or, when `speaker_id` is empty, as a new speaker. When `md5` is already in
// the database nothing is written and `already_present` is set. `id_out`
// receives the id used. `already_present` and `id_out` may be null. An
// embedding with an infinite or NaN value is refused.
bool AppendEnrollEmbedding(const std::string& path, const std::string& speaker_id,
                           const std::string& name, const std::string& md5,
                           const std::vector<float>& embedding, std::string* error,
                           bool* already_present, std::string* id_out);

// True when a voiceprint has exactly this digest; false with a message only
// when the database cannot be loaded.
bool EnrollDbContainsMd5(const std::string& path, const std::string& md5, std::string* error);

// The MD5 of a file's bytes as 32 lowercase hex digits; empty on failure.
std::string Md5File(const std::string& path, std::string* error);

// The removals and the rename set `found` (cleared at entry) when something
// matched; a true result with `found` false means the file was not touched.
bool RemoveEnrollByName(const std::string& path, const std::string& name,
                        std::vector<std::string>* removed_md5s, bool* found, std::string* error);
bool RemoveEnrollById(const std::string& path, const std::string& id,
                      std::vector<std::string>* removed_md5s, bool* found, std::string* name_out,
                      std::string* error);
// Removes one voiceprint everywhere; entries left without voiceprints go too.
bool RemoveEnrollByMd5(const std::string& path, const std::string& md5, bool* found,
                       std::string* owner_name, std::string* error);
bool RenameEnrollById(const std::string& path, const std::string& id, const std::string& new_name,
                      bool* found, std::string* error);

// Stores ids for entries that have none and rewrites the file in the current
// format; a missing or empty database is left alone.
bool MigrateEnrollDb(const std::string& path, std::string* error);

// A random version-4 UUID in lowercase 8-4-4-4-12 form.
std::string GenerateUuidV4();

// Exactly 32 characters, each 0-9 or a-f.
bool LooksLikeMd5(const std::string& text);

// Names and ids are written one per line, so a line feed or carriage return in
// them would add lines to the file. False with "<what> must not contain a line
// feed or carriage return" for such a value.
bool CheckNoLineBreak(const std::string& value, const std::string& what, std::string* error);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_SPEAKERS_ENROLL_DB_H_
