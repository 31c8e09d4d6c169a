// The engine's command line: the options record every part of the engine
// reads, its parser and the usage text.
#ifndef DICTACORE_ENGINE_CLI_OPTIONS_H_
#define DICTACORE_ENGINE_CLI_OPTIONS_H_

#include <string>

namespace dictacore {

// The only rate the engine runs at.
constexpr int kDefaultSampleRate = 16000;

// Parsed once by main() and read-only afterwards; passed by const reference.
struct Options {
  std::string first_model_type = "transducer";
  std::string first_encoder;
  std::string first_decoder;
  std::string first_joiner;
  std::string first_tokens;
  std::string second_type = "sensevoice";
  std::string second_model;
  std::string second_encoder;
  std::string second_decoder;
  std::string second_tokens;
  std::string second_language;
  std::string second_task = "transcribe";
  bool disable_second_itn = false;
  std::string ct_transformer;
  int num_threads_first = 2;
  int num_threads_second = 4;
  int num_threads_punc = 1;
  std::string provider_first = "cpu";
  std::string provider_second = "cpu";
  std::string provider_punc = "cpu";
  int second_pass_every = 1;
  int tail_padding = 4000;  // parsed and kept; nothing reads it
  int sample_rate = kDefaultSampleRate;
  int audio_fd = 3;
  std::string audio_format = "s16le";
  double chunk_duration = 0.1;
  bool disable_endpoint = false;  // parsed and kept; nothing reads it
  std::string silero_vad_model;
  double vad_threshold = 0.5;
  double vad_min_silence = 0.5;
  double vad_min_speech = 0.25;
  double vad_max_speech = 8.0;
  double vad_lookback = 0.2;
  double vad_lookahead = 0.1;
  std::string wav_input;
  std::string pcm_input;
  bool manual_mode = false;
  bool manual_realtime = false;
  bool offline_2pass = false;
  bool diarization = false;
  std::string diarization_model;
  std::string diarization_segmentation_model;
  std::string diarization_embedding_model;
  std::string diarization_helper_binary;
  std::string diarization_backend = "offline";
  int diarization_min_speakers = 0;
  int diarization_max_speakers = 0;
  int diarization_num_threads = 4;
  bool speaker_id = false;
  std::string speaker_embedding_model;
  std::string speaker_enroll_db;
  double speaker_id_threshold = 0.7;
  double speaker_id_max_seconds = 15.0;
  std::string register_speaker_id;
  std::string register_name;
  std::string register_input;
  std::string speaker_samples_dir;
  bool identify_only = false;
  std::string segments_input;
  bool list_speakers = false;
  bool migrate_speakers = false;
  std::string unregister_speaker_id;
  std::string unregister_name;
  std::string unregister_md5;
  std::string rename_speaker_id;
  std::string rename_speaker_name;
  bool start_paused = false;
  int session_id = -1;
  bool single_model_streaming = false;
  double single_partial_interval = 0.5;
  double single_trim_cap = 3.0;
  double single_trim_keep = 1.2;
  double single_max_window = 7.0;
};

// The rate to compute with: `sample_rate`, or kDefaultSampleRate when it is
// below 1. ParseArgs accepts only 16000, but a record built in code may hold
// anything, and a rate of 0 must not divide or size anything.
inline int SampleRateOrDefault(int sample_rate) {
  return sample_rate > 0 ? sample_rate : kDefaultSampleRate;
}

// Fills `options` from the command line and validates it for the selected
// mode. On false, `error` holds the reason; the reason "help" means -h/--help.
// Prints nothing. Returns false at once when either pointer is null.
bool ParseArgs(int argc, char** argv, Options* options, std::string* error);

// "transducer"/"zipformer" -> "transducer", "paraformer" -> "paraformer",
// anything else -> "" (ASCII case-insensitive).
std::string NormalizeFirstModelType(std::string type);

// "sensevoice"/"sense-voice" -> "sensevoice", "whisper" -> "whisper",
// anything else -> "" (ASCII case-insensitive).
std::string NormalizeSecondType(std::string type);

// The usage text, exactly as the host expects it on standard error.
const char* UsageText();

// Writes the usage text to standard error.
void PrintUsage();

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_OPTIONS_H_
