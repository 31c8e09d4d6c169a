#include "engine/cli/options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "engine/common/error.h"
#include "engine/common/strings.h"

namespace dictacore {
namespace {

using FlagField = bool Options::*;
using StringField = std::string Options::*;
using IntField = int Options::*;
using RealField = double Options::*;

const std::unordered_map<std::string_view, FlagField>& FlagOptions() {
  static const std::unordered_map<std::string_view, FlagField> table = {
      {"--disable-second-itn", &Options::disable_second_itn},
      {"--disable-endpoint", &Options::disable_endpoint},
      {"--manual-mode", &Options::manual_mode},
      {"--manual-realtime", &Options::manual_realtime},
      {"--offline-2pass", &Options::offline_2pass},
      {"--diarization", &Options::diarization},
      {"--speaker-id", &Options::speaker_id},
      {"--identify-only", &Options::identify_only},
      {"--list-speakers", &Options::list_speakers},
      {"--migrate-speakers", &Options::migrate_speakers},
      {"--start-paused", &Options::start_paused},
      {"--single-model-streaming", &Options::single_model_streaming},
  };
  return table;
}

const std::unordered_map<std::string_view, StringField>& StringOptions() {
  static const std::unordered_map<std::string_view, StringField> table = {
      {"--first-model-type", &Options::first_model_type},
      {"--first-encoder", &Options::first_encoder},
      {"--first-decoder", &Options::first_decoder},
      {"--first-joiner", &Options::first_joiner},
      {"--first-tokens", &Options::first_tokens},
      {"--second-type", &Options::second_type},
      {"--second-model", &Options::second_model},
      {"--second-encoder", &Options::second_encoder},
      {"--second-decoder", &Options::second_decoder},
      {"--second-tokens", &Options::second_tokens},
      {"--second-language", &Options::second_language},
      {"--second-task", &Options::second_task},
      {"--ct-transformer", &Options::ct_transformer},
      {"--provider-first", &Options::provider_first},
      {"--provider-second", &Options::provider_second},
      {"--provider-punc", &Options::provider_punc},
      {"--audio-format", &Options::audio_format},
      {"--silero-vad-model", &Options::silero_vad_model},
      {"--wav-input", &Options::wav_input},
      {"--pcm-input", &Options::pcm_input},
      {"--diarization-model", &Options::diarization_model},
      {"--diarization-segmentation-model", &Options::diarization_segmentation_model},
      {"--diarization-embedding-model", &Options::diarization_embedding_model},
      {"--diarization-helper-binary", &Options::diarization_helper_binary},
      {"--diarization-backend", &Options::diarization_backend},
      {"--speaker-embedding-model", &Options::speaker_embedding_model},
      {"--speaker-enroll-db", &Options::speaker_enroll_db},
      {"--register-speaker-id", &Options::register_speaker_id},
      {"--register-name", &Options::register_name},
      {"--enroll-name", &Options::register_name},
      {"--register-input", &Options::register_input},
      {"--enroll-input", &Options::register_input},
      {"--speaker-samples-dir", &Options::speaker_samples_dir},
      {"--segments-input", &Options::segments_input},
      {"--unregister-speaker-id", &Options::unregister_speaker_id},
      {"--unregister-name", &Options::unregister_name},
      {"--unregister-md5", &Options::unregister_md5},
      {"--rename-speaker-id", &Options::rename_speaker_id},
      {"--rename-speaker-name", &Options::rename_speaker_name},
  };
  return table;
}

const std::unordered_map<std::string_view, IntField>& IntOptions() {
  static const std::unordered_map<std::string_view, IntField> table = {
      {"--num-threads-first", &Options::num_threads_first},
      {"--num-threads-second", &Options::num_threads_second},
      {"--num-threads-punc", &Options::num_threads_punc},
      {"--second-pass-every", &Options::second_pass_every},
      {"--tail-padding", &Options::tail_padding},
      {"--sample-rate", &Options::sample_rate},
      {"--audio-fd", &Options::audio_fd},
      {"--diarization-min-speakers", &Options::diarization_min_speakers},
      {"--diarization-max-speakers", &Options::diarization_max_speakers},
      {"--diarization-num-threads", &Options::diarization_num_threads},
      {"--session-id", &Options::session_id},
  };
  return table;
}

const std::unordered_map<std::string_view, RealField>& RealOptions() {
  static const std::unordered_map<std::string_view, RealField> table = {
      {"--chunk-duration", &Options::chunk_duration},
      {"--vad-threshold", &Options::vad_threshold},
      {"--vad-min-silence", &Options::vad_min_silence},
      {"--vad-min-speech", &Options::vad_min_speech},
      {"--vad-max-speech", &Options::vad_max_speech},
      {"--vad-lookback", &Options::vad_lookback},
      {"--vad-lookahead", &Options::vad_lookahead},
      {"--speaker-id-threshold", &Options::speaker_id_threshold},
      {"--speaker-id-max-seconds", &Options::speaker_id_max_seconds},
      {"--single-partial-interval", &Options::single_partial_interval},
      {"--single-trim-cap", &Options::single_trim_cap},
      {"--single-trim-keep", &Options::single_trim_keep},
      {"--single-max-window", &Options::single_max_window},
  };
  return table;
}

// The C atoi rule (leading integer prefix, 0 without one), except that a
// prefix beyond the int range is clamped instead of being undefined.
int ParseIntLikeAtoi(const char* text) {
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool IsOneShotCommand(const Options& o) {
  return !o.register_name.empty() || o.identify_only || o.list_speakers || o.migrate_speakers ||
         !o.unregister_speaker_id.empty() || !o.unregister_name.empty() ||
         !o.unregister_md5.empty() || !o.rename_speaker_id.empty();
}

bool Validate(Options* o, std::string* error) {
  if (o->sample_rate != kDefaultSampleRate)
    return Fail(error, "Only 16 kHz sample_rate is supported");
  if (IsOneShotCommand(*o)) return true;
  if (o->audio_format != "s16le" && o->audio_format != "f32le") {
    return Fail(error, "Unsupported audio format: " + o->audio_format);
  }
  if (!o->wav_input.empty() && !o->pcm_input.empty()) {
    return Fail(error, "--wav-input and --pcm-input cannot be used together");
  }

  std::string first_type = NormalizeFirstModelType(o->first_model_type);
  if (first_type.empty()) {
    if (!o->first_model_type.empty()) {
      return Fail(error, "Unsupported --first-model-type: " + o->first_model_type +
                             " (expect transducer|paraformer)");
    }
    first_type = o->first_joiner.empty() ? "paraformer" : "transducer";
  }
  o->first_model_type = first_type;

  std::string second_type = NormalizeSecondType(o->second_type);
  if (second_type.empty()) {
    if (!o->second_type.empty()) {
      return Fail(error,
                  "Unsupported --second-type: " + o->second_type + " (expect sensevoice|whisper)");
    }
    const bool whisper_paths = !o->second_encoder.empty() || !o->second_decoder.empty();
    second_type = whisper_paths ? "whisper" : "sensevoice";
  }
  o->second_type = second_type;

  if (o->second_tokens.empty()) return Fail(error, "--second-tokens is required");
  if (o->second_type == "whisper") {
    if (o->second_encoder.empty() || o->second_decoder.empty()) {
      return Fail(
          error,
          "--second-encoder and --second-decoder are required when --second-type is whisper");
    }
  } else if (o->second_model.empty()) {
    return Fail(error, "--second-model is required when --second-type is sensevoice");
  }

  if (!o->manual_mode && !o->single_model_streaming) {
    const bool paraformer = o->first_model_type == "paraformer";
    const bool complete = !o->first_encoder.empty() && !o->first_decoder.empty() &&
                          !o->first_tokens.empty() && (paraformer || !o->first_joiner.empty());
    if (!complete) {
      return Fail(error, paraformer ? "Streaming paraformer model paths are required when not in "
                                      "--manual-mode"
                                    : "Streaming transducer model paths are required when not in "
                                      "--manual-mode");
    }
  }
  return true;
}

}  // namespace

bool ParseArgs(int argc, char** argv, Options* options, std::string* error) {
  if (options == nullptr || error == nullptr) return false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--help" || arg == "-h") return Fail(error, "help");

    if (auto it = FlagOptions().find(arg); it != FlagOptions().end()) {
      options->*(it->second) = true;
      continue;
    }

    const auto string_it = StringOptions().find(arg);
    const auto int_it = IntOptions().find(arg);
    const auto real_it = RealOptions().find(arg);
    const bool takes_value = string_it != StringOptions().end() || int_it != IntOptions().end() ||
                             real_it != RealOptions().end();
    if (!takes_value) continue;  // unknown options and stray words are ignored
    if (i + 1 >= argc || argv[i + 1] == nullptr) {
      return Fail(error, "Missing value for " + std::string(arg));
    }
    const char* value = argv[++i];
    if (string_it != StringOptions().end()) {
      options->*(string_it->second) = value;
    } else if (int_it != IntOptions().end()) {
      options->*(int_it->second) = ParseIntLikeAtoi(value);
    } else {
      options->*(real_it->second) = std::strtod(value, nullptr);
    }
  }
  return Validate(options, error);
}

std::string NormalizeFirstModelType(std::string type) {
  type = AsciiLower(std::move(type));
  if (type == "transducer" || type == "zipformer") return "transducer";
  if (type == "paraformer") return "paraformer";
  return std::string();
}

std::string NormalizeSecondType(std::string type) {
  type = AsciiLower(std::move(type));
  if (type == "sensevoice" || type == "sense-voice") return "sensevoice";
  if (type == "whisper") return "whisper";
  return std::string();
}

const char* UsageText() {
  return "dictacore (M2 in progress)\n"
         "First-pass:\n"
         "  --first-model-type transducer|paraformer (default: transducer)\n"
         "  transducer needs --first-encoder --first-decoder --first-joiner --first-tokens\n"
         "  paraformer needs --first-encoder --first-decoder --first-tokens\n"
         "Required (sensevoice):\n"
         "  --second-type sensevoice --second-model PATH --second-tokens PATH\n"
         "Required (whisper):\n"
         "  --second-type whisper --second-encoder PATH --second-decoder PATH --second-tokens "
         "PATH\n"
         "Optional:\n"
         "  --manual-mode --manual-realtime --start-paused\n"
         "  --single-model-streaming [--single-partial-interval 0.5]\n"
         "    (one model: SenseVoice second pass also drives realtime partials; no first-pass "
         "model)\n"
         "    [--single-trim-cap 3.0 --single-trim-keep 1.2]  (rolling commit chunk; 0 disables)\n"
         "    [--single-max-window 7.0]  (decode-window hard cap secs; smaller = less CPU)\n"
         "  --audio-fd 3 --audio-format s16le|f32le --chunk-duration 0.1\n"
         "  --wav-input /path/to/audio.wav | --pcm-input /path/to/audio.pcm\n"
         "  --diarization --diarization-model DIR [--diarization-segmentation-model PATH "
         "--diarization-embedding-model PATH]\n"
         "    macOS only: --diarization-helper-binary PATH (fluidaudio-diar helper)\n"
         "    macOS only: --diarization-backend offline|sortformer (default offline)\n"
         "  --speaker-id --speaker-embedding-model PATH --speaker-enroll-db PATH\n"
         "    [--speaker-id-threshold 0.7] [--speaker-id-max-seconds 15]\n"
         "    replaces SPEAKER_XX labels with enrolled names (all platforms; sherpa embedding)\n"
         "Register a speaker (one-shot, then exits; prints {\"type\":\"ok\"} or "
         "{\"type\":\"error\"}):\n"
         "  --register-name NAME --register-input PATH.wav --speaker-embedding-model PATH "
         "--speaker-enroll-db PATH\n"
         "  (legacy aliases: --enroll-name / --enroll-input)\n"
         "Manage the speaker DB (no ASR/diarization):\n"
         "  --list-speakers --speaker-enroll-db PATH\n"
         "  --migrate-speakers --speaker-enroll-db PATH          (backfill speaker ids)\n"
         "  --rename-speaker-id ID --rename-speaker-name NAME --speaker-enroll-db PATH\n"
         "  --unregister-speaker-id ID --speaker-enroll-db PATH (remove a speaker)\n"
         "  --unregister-name NAME --speaker-enroll-db PATH   (remove a speaker)\n"
         "  --unregister-md5 MD5 --speaker-enroll-db PATH     (remove one voiceprint)\n"
         "Identify-only (no ASR/diarization; audio + pre-labeled segments -> names):\n"
         "  --identify-only --wav-input PATH.wav --segments-input PATH.tsv "
         "(start\\tend\\tlabel)\n"
         "    --speaker-embedding-model PATH --speaker-enroll-db PATH "
         "[--speaker-id-threshold 0.7]\n";
}

void PrintUsage() {
  std::fputs(UsageText(), stderr);
  std::fflush(stderr);
}

}  // namespace dictacore
