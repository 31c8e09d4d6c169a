#include "engine/speakers/speaker_commands.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "engine/audio/audio_file_reader.h"
#include "engine/cli/event_emitter.h"
#include "engine/common/json_writer.h"
#include "engine/common/line_reader.h"
#include "engine/common/strings.h"
#include "engine/speakers/enroll_db.h"

namespace dictacore {
namespace {

int FailCommand(EventEmitter* emitter, const std::string& message) {
  emitter->EmitError(message);
  return 1;
}

// Prints the one result object of a command; `json` holds its open object.
int Print(EventEmitter* emitter, JsonWriter* json) {
  emitter->EmitRawJson(json->EndObject().text());
  return 0;
}

// The start of every "ok" result.
JsonWriter OkResult(const std::string& status) {
  JsonWriter json;
  json.BeginObject().String("type", "ok").String("status", status);
  return json;
}

std::string SamplePath(const std::string& samples_dir, const std::string& md5) {
  return JoinPath(samples_dir, md5 + ".wav");
}

// Copies the registered sample beside the database; the path of the copy, or
// empty when it could not be made.
std::string SaveSampleCopy(const std::string& input, const std::string& samples_dir,
                           const std::string& md5) {
  std::error_code ec;
  std::filesystem::create_directories(samples_dir, ec);
  if (ec) return std::string();
  const std::string copy = SamplePath(samples_dir, md5);
  std::filesystem::copy_file(input, copy, std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? std::string() : copy;
}

}  // namespace

std::string SamplesDirectory(const Options& options) {
  if (!options.speaker_samples_dir.empty()) return options.speaker_samples_dir;
  return JoinPath(std::filesystem::path(options.speaker_enroll_db).parent_path().string(),
                  "samples");
}

SpeakerIdentifierOptions IdentifierOptionsFor(const Options& options) {
  SpeakerIdentifierOptions identifier;
  identifier.model = options.speaker_embedding_model;
  identifier.enroll_db = options.speaker_enroll_db;
  identifier.num_threads = std::max(options.diarization_num_threads, 1);
  identifier.provider = options.provider_first;
  identifier.threshold = static_cast<float>(options.speaker_id_threshold);
  return identifier;
}

std::vector<DiarizationSegment> ParseSegmentList(std::istream& in) {
  std::vector<DiarizationSegment> segments;
  std::string line;
  for (LineStatus status;
       (status = ReadBoundedLine(in, kMaxSegmentLineBytes, &line)) != LineStatus::kEnd;) {
    if (status == LineStatus::kTooLong) continue;  // no sane turn is that long
    if (!line.empty() && line.back() == '\r') line.pop_back();
    DiarizationSegment segment;
    if (!ParseTurnLine(line, &segment)) continue;
    if (!(segment.start < segment.end) || segment.speaker.empty()) continue;
    segments.push_back(std::move(segment));
  }
  return segments;
}

void ClipSegmentsToRecording(double duration_seconds, std::vector<DiarizationSegment>* segments) {
  const auto clip = [duration_seconds](double t) {
    if (!(t > 0.0)) return 0.0;
    return t < duration_seconds ? t : duration_seconds;
  };
  for (DiarizationSegment& segment : *segments) {
    segment.start = clip(segment.start);
    segment.end = clip(segment.end);
  }
}

int RunRegister(const Options& options) {
  EventEmitter emitter;
  if (options.speaker_embedding_model.empty()) {
    return FailCommand(&emitter, "--register-name requires --speaker-embedding-model");
  }
  if (options.register_input.empty()) {
    return FailCommand(&emitter, "--register-name requires --register-input (16 kHz mono WAV)");
  }
  if (options.speaker_enroll_db.empty()) {
    return FailCommand(&emitter, "--register-name requires --speaker-enroll-db (output path)");
  }
  std::string error;
  // A line break would write extra lines into the database; refuse it before
  // anything is read or computed.
  if (!CheckNoLineBreak(options.register_name, "speaker name", &error) ||
      !CheckNoLineBreak(options.register_speaker_id, "speaker id", &error)) {
    return FailCommand(&emitter, "register: " + error);
  }

  const std::string md5 = Md5File(options.register_input, &error);
  if (md5.empty()) return FailCommand(&emitter, "register: " + error);
  error.clear();
  if (EnrollDbContainsMd5(options.speaker_enroll_db, md5, &error)) {
    JsonWriter json = OkResult("already_registered");
    json.String("name", options.register_name).String("md5", md5);
    return Print(&emitter, &json);
  }
  if (!error.empty()) return FailCommand(&emitter, "register: " + error);

  std::vector<float> samples;
  if (!ReadWavMono(options.register_input, options.sample_rate, &samples, &error)) {
    return FailCommand(&emitter, "register: " + error);
  }
  SpeakerIdentifierOptions identifier_options = IdentifierOptionsFor(options);
  identifier_options.enroll_db.clear();
  identifier_options.threshold = SpeakerIdentifierOptions().threshold;
  SpeakerIdentifier identifier;
  std::vector<float> embedding;
  if (!identifier.Init(identifier_options, &error) ||
      !identifier.ComputeEmbedding(samples, options.sample_rate, &embedding, &error)) {
    return FailCommand(&emitter, "register: " + error);
  }

  bool already_present = false;
  std::string id;
  if (!AppendEnrollEmbedding(options.speaker_enroll_db, options.register_speaker_id,
                             options.register_name, md5, embedding, &error, &already_present,
                             &id)) {
    return FailCommand(&emitter, "register: " + error);
  }
  if (already_present) {
    JsonWriter json = OkResult("already_registered");
    json.String("id", id).String("name", options.register_name).String("md5", md5);
    return Print(&emitter, &json);
  }

  const std::string samples_dir = SamplesDirectory(options);
  const std::string copy = SaveSampleCopy(options.register_input, samples_dir, md5);
  emitter.EmitLog(copy.empty()
                      ? "[REGISTER] warning: could not save sample copy under " + samples_dir
                      : "[REGISTER] saved sample copy -> " + copy);
  JsonWriter json = OkResult("registered");
  json.String("id", id)
      .String("name", options.register_name)
      .String("md5", md5)
      .String("sample", copy);
  return Print(&emitter, &json);
}

int RunListSpeakers(const Options& options) {
  EventEmitter emitter;
  if (options.speaker_enroll_db.empty()) {
    return FailCommand(&emitter, "--list-speakers requires --speaker-enroll-db");
  }
  int dim = 0;
  std::vector<EnrollEntry> entries;
  std::string error;
  if (!LoadEnrollDb(options.speaker_enroll_db, &dim, &entries, &error)) {
    return FailCommand(&emitter, "list: " + error);
  }
  const std::string samples_dir = SamplesDirectory(options);
  JsonWriter json;
  json.BeginObject().String("type", "speakers").Int("dim", dim).Key("speakers").BeginArray();
  for (const EnrollEntry& entry : entries) {
    json.BeginObject()
        .String("id", entry.id)
        .String("name", entry.name)
        .Int("count", static_cast<int64_t>(entry.samples.size()))
        .Key("voiceprints")
        .BeginArray();
    for (const EnrollSample& sample : entry.samples) {
      json.BeginObject()
          .String("md5", sample.md5)
          .String("sample", sample.md5.empty() ? "" : SamplePath(samples_dir, sample.md5))
          .EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray();
  return Print(&emitter, &json);
}

int RunMigrateSpeakers(const Options& options) {
  {
    EventEmitter emitter;
    if (options.speaker_enroll_db.empty()) {
      return FailCommand(&emitter, "--migrate-speakers requires --speaker-enroll-db");
    }
    std::string error;
    if (!MigrateEnrollDb(options.speaker_enroll_db, &error)) {
      return FailCommand(&emitter, "migrate: " + error);
    }
  }
  return RunListSpeakers(options);
}

int RunRenameSpeaker(const Options& options) {
  EventEmitter emitter;
  if (options.speaker_enroll_db.empty())
    return FailCommand(&emitter, "rename requires --speaker-enroll-db");
  if (options.rename_speaker_id.empty() || options.rename_speaker_name.empty()) {
    return FailCommand(&emitter,
                       "rename requires --rename-speaker-id ID and --rename-speaker-name NAME");
  }
  bool found = false;
  std::string error;
  if (!RenameEnrollById(options.speaker_enroll_db, options.rename_speaker_id,
                        options.rename_speaker_name, &found, &error)) {
    return FailCommand(&emitter, "rename: " + error);
  }
  if (!found) {
    JsonWriter json = OkResult("not_found");
    json.String("id", options.rename_speaker_id);
    return Print(&emitter, &json);
  }
  JsonWriter json = OkResult("renamed");
  json.String("id", options.rename_speaker_id).String("name", options.rename_speaker_name);
  return Print(&emitter, &json);
}

int RunUnregister(const Options& options) {
  EventEmitter emitter;
  if (options.speaker_enroll_db.empty()) {
    return FailCommand(&emitter, "unregister requires --speaker-enroll-db");
  }
  if (options.unregister_speaker_id.empty() && options.unregister_name.empty() &&
      options.unregister_md5.empty()) {
    return FailCommand(&emitter,
                       "unregister requires --unregister-name NAME or --unregister-md5 MD5");
  }
  const std::string samples_dir = SamplesDirectory(options);
  const std::string& db = options.speaker_enroll_db;
  std::vector<std::string> removed;
  std::string name;
  bool found = false;
  std::string error;
  bool ok = false;
  const char* key = nullptr;
  std::string key_value;
  if (!options.unregister_speaker_id.empty()) {
    key = "id";
    key_value = options.unregister_speaker_id;
    ok = RemoveEnrollById(db, key_value, &removed, &found, &name, &error);
  } else if (!options.unregister_name.empty()) {
    key = "name";
    key_value = options.unregister_name;
    name = key_value;
    ok = RemoveEnrollByName(db, key_value, &removed, &found, &error);
  } else {
    key = "md5";
    key_value = options.unregister_md5;
    removed.push_back(key_value);
    ok = RemoveEnrollByMd5(db, key_value, &found, &name, &error);
  }
  if (!ok) return FailCommand(&emitter, "unregister: " + error);
  if (!found) {
    JsonWriter json = OkResult("not_found");
    json.String(key, key_value);
    return Print(&emitter, &json);
  }

  JsonWriter json = OkResult("unregistered");
  json.String("id", options.unregister_speaker_id).String("name", name).Key("removed").BeginArray();
  for (const std::string& md5 : removed) {
    if (!md5.empty()) {
      std::error_code ignored;
      std::filesystem::remove(SamplePath(samples_dir, md5), ignored);
    }
    json.String(md5);
  }
  json.EndArray();
  return Print(&emitter, &json);
}

int RunIdentifyOnly(const Options& options) {
  EventEmitter emitter;
  if (options.speaker_embedding_model.empty()) {
    return FailCommand(&emitter, "--identify-only requires --speaker-embedding-model");
  }
  if (options.speaker_enroll_db.empty()) {
    return FailCommand(&emitter, "--identify-only requires --speaker-enroll-db");
  }
  if (options.wav_input.empty()) {
    return FailCommand(&emitter, "--identify-only requires --wav-input (16 kHz mono WAV)");
  }
  if (options.segments_input.empty()) {
    return FailCommand(&emitter,
                       "--identify-only requires --segments-input (TSV start\\tend\\tlabel)");
  }
  std::vector<float> samples;
  std::string error;
  if (!ReadWavMono(options.wav_input, options.sample_rate, &samples, &error)) {
    return FailCommand(&emitter, "identify: " + error);
  }
  std::ifstream list(options.segments_input, std::ios::binary);
  if (!list.is_open()) {
    return FailCommand(&emitter,
                       "identify: cannot open --segments-input: " + options.segments_input);
  }
  std::vector<DiarizationSegment> segments = ParseSegmentList(list);
  ClipSegmentsToRecording(
      static_cast<double>(samples.size()) / static_cast<double>(options.sample_rate), &segments);

  SpeakerIdentifier identifier;
  if (!identifier.Init(IdentifierOptionsFor(options), &error)) {
    return FailCommand(&emitter, "identify: " + error);
  }
  std::map<std::string, float> scores;
  const std::map<std::string, std::string> names =
      BuildClusterIdentityMap(&identifier, samples, options.sample_rate,
                              options.speaker_id_max_seconds, segments, &emitter, &scores);

  JsonWriter json;
  json.BeginObject().String("type", "identify-result").Key("speakers").BeginObject();
  for (const auto& [label, name] : names) json.String(label, name);
  json.EndObject().Key("segments").BeginArray();
  for (const DiarizationSegment& segment : segments) {
    const auto name = names.find(segment.speaker);
    const auto score = scores.find(segment.speaker);
    json.BeginObject()
        .Fixed("start_time", segment.start, 3)
        .Fixed("end_time", segment.end, 3)
        .String("label", segment.speaker)
        .String("speaker", name == names.end() ? segment.speaker : name->second)
        .Fixed("score", score == scores.end() ? 0.0 : score->second, 3)
        .EndObject();
  }
  emitter.EmitRawJson(json.EndArray().EndObject().text());
  emitter.EmitComplete("Identification complete");
  return 0;
}

}  // namespace dictacore
