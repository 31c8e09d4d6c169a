#include "engine/cli/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace dictacore {
namespace {

struct ParseOutcome {
  bool ok = false;
  Options options;
  std::string error;
};

ParseOutcome Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "dictacore");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ParseOutcome outcome;
  outcome.ok = ParseArgs(static_cast<int>(args.size()), argv.data(), &outcome.options,
                         &outcome.error);
  return outcome;
}

// A valid push-to-talk line with a SenseVoice model; tests append to it.
std::vector<std::string> ManualSenseVoice(std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--manual-mode", "--second-model", "m.onnx", "--second-tokens",
                                   "t.txt"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

const std::vector<std::string> kTransducer = {"--first-encoder", "e", "--first-decoder", "d",
                                              "--first-joiner", "j", "--first-tokens", "t"};

TEST(ParseArgsHelp, HelpAnywhereWinsUnlessAnEarlierArgumentFailed) {
  EXPECT_EQ(Parse({"--help"}).error, "help");
  EXPECT_EQ(Parse({"--manual-mode", "--sample-rate", "8000", "-h"}).error, "help");
  EXPECT_EQ(Parse({"--first-model-type", "ctc", "--help"}).error, "help");  // before validation
  // A string option swallows the next word, even "-h".
  const ParseOutcome swallowed = Parse(ManualSenseVoice({"--wav-input", "-h"}));
  EXPECT_TRUE(swallowed.ok) << swallowed.error;
  EXPECT_EQ(swallowed.options.wav_input, "-h");
  EXPECT_NE(Parse({"help"}).error, "help");
  EXPECT_NE(Parse({"-help"}).error, "help");
}

TEST(ParseArgsHelp, NullOutputsFailWithoutTouchingAnything) {
  char prog[] = "dictacore";
  char help[] = "--help";
  char* argv[] = {prog, help, nullptr};
  std::string error = "unchanged";
  EXPECT_FALSE(ParseArgs(2, argv, nullptr, &error));
  EXPECT_EQ(error, "unchanged");
  Options options;
  EXPECT_FALSE(ParseArgs(2, argv, &options, nullptr));
}

TEST(ParseArgsTables, MissingValueForEveryValueKind) {
  EXPECT_EQ(Parse({"--second-model"}).error, "Missing value for --second-model");
  EXPECT_EQ(Parse({"--enroll-name"}).error, "Missing value for --enroll-name");
  EXPECT_EQ(Parse({"--audio-fd"}).error, "Missing value for --audio-fd");
  EXPECT_EQ(Parse({"--vad-threshold"}).error, "Missing value for --vad-threshold");
  EXPECT_EQ(Parse({"--tail-padding"}).error, "Missing value for --tail-padding");
  // A flag at the end is fine.
  EXPECT_TRUE(Parse(ManualSenseVoice({"--speaker-id"})).ok);
}

TEST(ParseArgsTables, ValuesMayLookLikeOptions) {
  const ParseOutcome out = Parse(ManualSenseVoice({"--second-language", "--manual-realtime"}));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.options.second_language, "--manual-realtime");
  EXPECT_FALSE(out.options.manual_realtime);
}

TEST(ParseArgsTables, EveryFlagSetsItsField) {
  const ParseOutcome out = Parse(ManualSenseVoice(
      {"--disable-second-itn", "--disable-endpoint", "--manual-realtime", "--offline-2pass",
       "--diarization", "--speaker-id", "--start-paused", "--single-model-streaming"}));
  ASSERT_TRUE(out.ok) << out.error;
  const Options& o = out.options;
  EXPECT_TRUE(o.disable_second_itn && o.disable_endpoint && o.manual_mode && o.manual_realtime &&
              o.offline_2pass && o.diarization && o.speaker_id && o.start_paused &&
              o.single_model_streaming);
  EXPECT_TRUE(Parse({"--identify-only"}).options.identify_only);
  EXPECT_TRUE(Parse({"--list-speakers"}).options.list_speakers);
  EXPECT_TRUE(Parse({"--migrate-speakers"}).options.migrate_speakers);
}

TEST(ParseArgsTables, StringOptionsAndAliases) {
  const ParseOutcome out = Parse(ManualSenseVoice(
      {"--first-model-type", "paraformer", "--second-language", "en", "--second-task", "translate",
       "--ct-transformer", "p.onnx", "--provider-first", "cuda", "--provider-second", "coreml",
       "--provider-punc", "x", "--audio-format", "f32le", "--silero-vad-model", "v.onnx",
       "--pcm-input", "a.pcm", "--diarization-model", "dm", "--diarization-segmentation-model",
       "seg", "--diarization-embedding-model", "emb", "--diarization-helper-binary", "h",
       "--diarization-backend", "sortformer", "--speaker-embedding-model", "sem",
       "--speaker-enroll-db", "db", "--register-speaker-id", "id7", "--speaker-samples-dir",
       "dir", "--segments-input", "s.tsv", "--rename-speaker-name", "Bob"}));
  ASSERT_TRUE(out.ok) << out.error;
  const Options& o = out.options;
  EXPECT_EQ(o.first_model_type, "paraformer");
  EXPECT_EQ(o.second_language, "en");
  EXPECT_EQ(o.second_task, "translate");
  EXPECT_EQ(o.ct_transformer, "p.onnx");
  EXPECT_EQ(o.provider_first, "cuda");
  EXPECT_EQ(o.provider_second, "coreml");
  EXPECT_EQ(o.provider_punc, "x");
  EXPECT_EQ(o.audio_format, "f32le");
  EXPECT_EQ(o.silero_vad_model, "v.onnx");
  EXPECT_EQ(o.pcm_input, "a.pcm");
  EXPECT_EQ(o.diarization_model, "dm");
  EXPECT_EQ(o.diarization_segmentation_model, "seg");
  EXPECT_EQ(o.diarization_embedding_model, "emb");
  EXPECT_EQ(o.diarization_helper_binary, "h");
  EXPECT_EQ(o.diarization_backend, "sortformer");
  EXPECT_EQ(o.speaker_embedding_model, "sem");
  EXPECT_EQ(o.speaker_enroll_db, "db");
  EXPECT_EQ(o.register_speaker_id, "id7");
  EXPECT_EQ(o.speaker_samples_dir, "dir");
  EXPECT_EQ(o.segments_input, "s.tsv");
  EXPECT_EQ(o.rename_speaker_name, "Bob");

  const ParseOutcome legacy = Parse({"--enroll-name", "Ann", "--enroll-input", "a.wav"});
  const ParseOutcome modern = Parse({"--register-name", "Ann", "--register-input", "a.wav"});
  ASSERT_TRUE(legacy.ok && modern.ok);
  EXPECT_EQ(legacy.options.register_name, modern.options.register_name);
  EXPECT_EQ(legacy.options.register_input, modern.options.register_input);
}

TEST(ParseArgsTables, IntegersFollowAtoi) {
  const ParseOutcome out = Parse(ManualSenseVoice(
      {"--num-threads-first", "3", "--num-threads-second", "abc", "--num-threads-punc", "7x",
       "--second-pass-every", "-2", "--tail-padding", "  12", "--audio-fd", "+5",
       "--diarization-min-speakers", "2", "--diarization-max-speakers", "4",
       "--diarization-num-threads", "0", "--session-id", "9"}));
  ASSERT_TRUE(out.ok) << out.error;
  const Options& o = out.options;
  EXPECT_EQ(o.num_threads_first, 3);
  EXPECT_EQ(o.num_threads_second, 0);
  EXPECT_EQ(o.num_threads_punc, 7);
  EXPECT_EQ(o.second_pass_every, -2);
  EXPECT_EQ(o.tail_padding, 12);
  EXPECT_EQ(o.audio_fd, 5);
  EXPECT_EQ(o.diarization_min_speakers, 2);
  EXPECT_EQ(o.diarization_max_speakers, 4);
  EXPECT_EQ(o.diarization_num_threads, 0);
  EXPECT_EQ(o.session_id, 9);
}

TEST(ParseArgsTables, IntegerOverflowIsClamped) {
  EXPECT_EQ(Parse(ManualSenseVoice({"--session-id", "99999999999999999999"})).options.session_id,
            INT_MAX);
  EXPECT_EQ(Parse(ManualSenseVoice({"--audio-fd", "-99999999999"})).options.audio_fd, INT_MIN);
}

TEST(ParseArgsTables, RealsFollowAtof) {
  const ParseOutcome out = Parse(ManualSenseVoice(
      {"--chunk-duration", "fast", "--vad-threshold", "0.25", "--vad-min-silence", "1e-1",
       "--vad-min-speech", ".5s", "--vad-max-speech", "-3", "--vad-lookback", "0",
       "--vad-lookahead", "2", "--speaker-id-threshold", "0.9", "--speaker-id-max-seconds", "20",
       "--single-partial-interval", "0.05", "--single-trim-cap", "0", "--single-trim-keep", "1",
       "--single-max-window", "9.5"}));
  ASSERT_TRUE(out.ok) << out.error;
  const Options& o = out.options;
  EXPECT_EQ(o.chunk_duration, 0.0);
  EXPECT_DOUBLE_EQ(o.vad_threshold, 0.25);
  EXPECT_DOUBLE_EQ(o.vad_min_silence, 0.1);
  EXPECT_DOUBLE_EQ(o.vad_min_speech, 0.5);
  EXPECT_DOUBLE_EQ(o.vad_max_speech, -3.0);
  EXPECT_DOUBLE_EQ(o.vad_lookback, 0.0);
  EXPECT_DOUBLE_EQ(o.vad_lookahead, 2.0);
  EXPECT_DOUBLE_EQ(o.speaker_id_threshold, 0.9);
  EXPECT_DOUBLE_EQ(o.speaker_id_max_seconds, 20.0);
  EXPECT_DOUBLE_EQ(o.single_partial_interval, 0.05);
  EXPECT_DOUBLE_EQ(o.single_trim_cap, 0.0);
  EXPECT_DOUBLE_EQ(o.single_trim_keep, 1.0);
  EXPECT_DOUBLE_EQ(o.single_max_window, 9.5);
  EXPECT_TRUE(std::isnan(Parse(ManualSenseVoice({"--vad-threshold", "nan"})).options.vad_threshold));
}

TEST(ParseArgsTables, DefaultsBeforeParsing) {
  const ParseOutcome out = Parse(ManualSenseVoice());
  ASSERT_TRUE(out.ok) << out.error;
  const Options& o = out.options;
  EXPECT_EQ(o.first_model_type, "transducer");
  EXPECT_EQ(o.second_type, "sensevoice");
  EXPECT_EQ(o.second_task, "transcribe");
  EXPECT_EQ(o.num_threads_first, 2);
  EXPECT_EQ(o.num_threads_second, 4);
  EXPECT_EQ(o.num_threads_punc, 1);
  EXPECT_EQ(o.second_pass_every, 1);
  EXPECT_EQ(o.tail_padding, 4000);
  EXPECT_EQ(o.audio_fd, 3);
  EXPECT_EQ(o.audio_format, "s16le");
  EXPECT_DOUBLE_EQ(o.chunk_duration, 0.1);
  EXPECT_DOUBLE_EQ(o.vad_max_speech, 8.0);
  EXPECT_EQ(o.diarization_backend, "offline");
  EXPECT_EQ(o.diarization_num_threads, 4);
  EXPECT_DOUBLE_EQ(o.speaker_id_threshold, 0.7);
  EXPECT_DOUBLE_EQ(o.speaker_id_max_seconds, 15.0);
  EXPECT_EQ(o.session_id, -1);
  EXPECT_DOUBLE_EQ(o.single_partial_interval, 0.5);
  EXPECT_DOUBLE_EQ(o.single_trim_cap, 3.0);
  EXPECT_DOUBLE_EQ(o.single_trim_keep, 1.2);
  EXPECT_DOUBLE_EQ(o.single_max_window, 7.0);
}

TEST(ParseArgsTables, UnknownOptionsAndStrayWordsAreSkipped) {
  const ParseOutcome out = Parse(ManualSenseVoice({"--no-such", "--audio-fd", "7", "stray"}));
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.options.audio_fd, 7);
  // The unknown option's value is examined on its own: here it is a flag.
  EXPECT_TRUE(Parse(ManualSenseVoice({"--bogus", "--offline-2pass"})).options.offline_2pass);
  // Option names are case-sensitive.
  EXPECT_FALSE(Parse(ManualSenseVoice({"--Offline-2pass"})).options.offline_2pass);
}

TEST(ParseArgsTables, RepeatedOptionKeepsLastValue) {
  EXPECT_EQ(Parse(ManualSenseVoice({"--session-id", "1", "--session-id", "2"})).options.session_id,
            2);
}

TEST(ParseArgsValidation, SampleRateIsCheckedFirstEvenForOneShotCommands) {
  EXPECT_EQ(Parse({"--sample-rate", "8000", "--list-speakers", "--speaker-enroll-db", "db"}).error,
            "Only 16 kHz sample_rate is supported");
  EXPECT_EQ(Parse({"--sample-rate", "x", "--audio-format", "bad"}).error,
            "Only 16 kHz sample_rate is supported");
}

TEST(ParseArgsValidation, OneShotCommandsSkipModelChecks) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--list-speakers", "--speaker-enroll-db", "db"},
           {"--register-name", "A"},
           {"--identify-only"},
           {"--migrate-speakers"},
           {"--unregister-speaker-id", "x"},
           {"--unregister-name", "x"},
           {"--unregister-md5", "x"},
           {"--rename-speaker-id", "x"}}) {
    const ParseOutcome out = Parse(args);
    EXPECT_TRUE(out.ok) << args[0] << ": " << out.error;
  }
  // Not normalised either: the one-shot path returns before that step.
  const ParseOutcome out = Parse({"--list-speakers", "--first-model-type", "Zipformer"});
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.options.first_model_type, "Zipformer");
  // An empty register name does not select the command.
  EXPECT_EQ(Parse({"--register-name", ""}).error, "--second-tokens is required");
}

TEST(ParseArgsValidation, AudioFormatAndInputs) {
  EXPECT_EQ(Parse(ManualSenseVoice({"--audio-format", "S16LE"})).error,
            "Unsupported audio format: S16LE");
  EXPECT_EQ(Parse(ManualSenseVoice({"--audio-format", ""})).error, "Unsupported audio format: ");
  EXPECT_EQ(Parse(ManualSenseVoice({"--wav-input", "a", "--pcm-input", "b"})).error,
            "--wav-input and --pcm-input cannot be used together");
  // The format is checked before the inputs.
  EXPECT_EQ(Parse({"--audio-format", "u8", "--wav-input", "a", "--pcm-input", "b"}).error,
            "Unsupported audio format: u8");
}

TEST(ParseArgsValidation, FirstModelTypeNormalisation) {
  EXPECT_EQ(Parse(ManualSenseVoice({"--first-model-type", "Zipformer"})).options.first_model_type,
            "transducer");
  EXPECT_EQ(Parse(ManualSenseVoice({"--first-model-type", "PARAFORMER"})).options.first_model_type,
            "paraformer");
  EXPECT_EQ(Parse(ManualSenseVoice({"--first-model-type", "ctc"})).error,
            "Unsupported --first-model-type: ctc (expect transducer|paraformer)");
  EXPECT_EQ(Parse(ManualSenseVoice({"--first-model-type", ""})).options.first_model_type,
            "paraformer");
  EXPECT_EQ(Parse(ManualSenseVoice({"--first-model-type", "", "--first-joiner", "j"}))
                .options.first_model_type,
            "transducer");
}

TEST(ParseArgsValidation, SecondTypeNormalisation) {
  EXPECT_EQ(Parse(ManualSenseVoice({"--second-type", "SENSE-VOICE"})).options.second_type,
            "sensevoice");
  EXPECT_EQ(Parse(ManualSenseVoice({"--second-type", "foo"})).error,
            "Unsupported --second-type: foo (expect sensevoice|whisper)");
  const ParseOutcome whisper = Parse({"--second-type", "", "--second-encoder", "e",
                                      "--second-decoder", "d", "--second-tokens", "t",
                                      "--manual-mode"});
  ASSERT_TRUE(whisper.ok) << whisper.error;
  EXPECT_EQ(whisper.options.second_type, "whisper");
  EXPECT_EQ(Parse({"--second-type", "", "--second-model", "m", "--second-tokens", "t",
                   "--manual-mode"})
                .options.second_type,
            "sensevoice");
}

TEST(ParseArgsValidation, SecondPassModelPaths) {
  EXPECT_EQ(Parse({"--manual-mode", "--second-model", "m"}).error, "--second-tokens is required");
  EXPECT_EQ(Parse({"--manual-mode", "--second-tokens", "t"}).error,
            "--second-model is required when --second-type is sensevoice");
  EXPECT_EQ(Parse({"--manual-mode", "--second-type", "whisper", "--second-encoder", "e",
                   "--second-tokens", "t"})
                .error,
            "--second-encoder and --second-decoder are required when --second-type is whisper");
  // A Whisper line does not need --second-model.
  EXPECT_TRUE(Parse({"--manual-mode", "--second-type", "Whisper", "--second-encoder", "e",
                     "--second-decoder", "d", "--second-tokens", "t"})
                  .ok);
}

TEST(ParseArgsValidation, StreamingPathsRequiredOutsideManualMode) {
  const std::vector<std::string> sensevoice = {"--second-model", "m", "--second-tokens", "t"};
  EXPECT_EQ(Parse(sensevoice).error,
            "Streaming transducer model paths are required when not in --manual-mode");
  EXPECT_TRUE(Parse(ManualSenseVoice()).ok);

  std::vector<std::string> single = sensevoice;
  single.push_back("--single-model-streaming");
  EXPECT_TRUE(Parse(single).ok);

  std::vector<std::string> full = sensevoice;
  full.insert(full.end(), kTransducer.begin(), kTransducer.end());
  EXPECT_TRUE(Parse(full).ok);

  std::vector<std::string> no_joiner = sensevoice;
  no_joiner.insert(no_joiner.end(), {"--first-encoder", "e", "--first-decoder", "d",
                                     "--first-tokens", "t"});
  EXPECT_EQ(Parse(no_joiner).error,
            "Streaming transducer model paths are required when not in --manual-mode");
  no_joiner.insert(no_joiner.end(), {"--first-model-type", "paraformer"});
  EXPECT_TRUE(Parse(no_joiner).ok);

  std::vector<std::string> paraformer_missing = sensevoice;
  paraformer_missing.insert(paraformer_missing.end(), {"--first-model-type", "paraformer"});
  EXPECT_EQ(Parse(paraformer_missing).error,
            "Streaming paraformer model paths are required when not in --manual-mode");
}

TEST(Normalizers, FirstModelType) {
  EXPECT_EQ(NormalizeFirstModelType("Transducer"), "transducer");
  EXPECT_EQ(NormalizeFirstModelType("zipFormer"), "transducer");
  EXPECT_EQ(NormalizeFirstModelType("Paraformer"), "paraformer");
  EXPECT_EQ(NormalizeFirstModelType(""), "");
  EXPECT_EQ(NormalizeFirstModelType("transducer "), "");
}

TEST(Normalizers, SecondType) {
  EXPECT_EQ(NormalizeSecondType("SenseVoice"), "sensevoice");
  EXPECT_EQ(NormalizeSecondType("sense-voice"), "sensevoice");
  EXPECT_EQ(NormalizeSecondType("WHISPER"), "whisper");
  EXPECT_EQ(NormalizeSecondType("sense_voice"), "");
  EXPECT_EQ(NormalizeSecondType(""), "");
}

TEST(UsageText, ShapeOfTheText) {
  std::vector<std::string> lines;
  std::istringstream in(UsageText());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 36u);
  EXPECT_EQ(lines.front(), "dictacore (M2 in progress)");
  EXPECT_EQ(lines[23],
            "Register a speaker (one-shot, then exits; prints {\"type\":\"ok\"} or "
            "{\"type\":\"error\"}):");
  // The identify line spells the separators as backslash-t, not as tabs.
  EXPECT_NE(lines[34].find("(start\\tend\\tlabel)"), std::string::npos);
  EXPECT_EQ(std::string(UsageText()).find('\t'), std::string::npos);
  EXPECT_EQ(std::string(UsageText()).back(), '\n');
}

}  // namespace
}  // namespace dictacore
