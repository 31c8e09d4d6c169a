// The engine's command line: ParseArgs over arbitrary argument vectors (the
// input split at NUL bytes), then everything start-up derives from the
// options record (grouping, single-model limits, partial step, identifier
// settings), which must stay in range whatever the numbers were.
#include <string>
#include <vector>

#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"
#include "engine/cli/single_model.h"
#include "engine/pipelines/decode_groups.h"
#include "engine/speakers/speaker_commands.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using dictacore::Options;

bool IsOneShot(const Options& o) {
  return !o.register_name.empty() || o.identify_only || o.list_speakers || o.migrate_speakers ||
         !o.unregister_speaker_id.empty() || !o.unregister_name.empty() ||
         !o.unregister_md5.empty() || !o.rename_speaker_id.empty();
}

bool Parse(std::vector<std::string> args, Options* options, std::string* error) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return dictacore::ParseArgs(static_cast<int>(args.size()), argv.data(), options, error);
}

void CheckValidForMode(const Options& o) {
  FUZZ_CHECK(o.sample_rate == 16000);
  if (IsOneShot(o)) return;
  FUZZ_CHECK(o.audio_format == "s16le" || o.audio_format == "f32le");
  FUZZ_CHECK(o.wav_input.empty() || o.pcm_input.empty());
  FUZZ_CHECK(o.first_model_type == "transducer" || o.first_model_type == "paraformer");
  FUZZ_CHECK(o.second_type == "sensevoice" || o.second_type == "whisper");
  FUZZ_CHECK(!o.second_tokens.empty());
  if (o.second_type == "whisper") {
    FUZZ_CHECK(!o.second_encoder.empty() && !o.second_decoder.empty());
  } else {
    FUZZ_CHECK(!o.second_model.empty());
  }
  if (!o.manual_mode && !o.single_model_streaming) {
    FUZZ_CHECK(!o.first_encoder.empty() && !o.first_decoder.empty() && !o.first_tokens.empty());
    if (o.first_model_type == "transducer") FUZZ_CHECK(!o.first_joiner.empty());
  }
}

// What start-up computes from the record must be usable as sizes.
void CheckDerivedValues(const Options& o) {
  const dictacore::GroupingParams grouping = dictacore::MakeGroupingParams(o);
  FUZZ_CHECK(grouping.sample_rate > 0);
  FUZZ_CHECK(grouping.group_limit >= grouping.sample_rate);
  FUZZ_CHECK(grouping.decode_window >= 1);
  FUZZ_CHECK(grouping.silence_gap >= 1);
  FUZZ_CHECK(grouping.lookback >= 0 && grouping.lookahead >= 0);

  const dictacore::SingleModelLimits limits = dictacore::MakeSingleModelLimits(o);
  FUZZ_CHECK(limits.rate >= 1.0);
  FUZZ_CHECK(limits.trim_cap >= 0 && limits.trim_keep >= 0);
  FUZZ_CHECK(limits.max_window > limits.trim_cap + limits.trim_keep);
  FUZZ_CHECK(limits.silence >= 1);

  FUZZ_CHECK(dictacore::SinglePartialStepSamples(o.single_partial_interval, o.sample_rate) >= 1);

  const dictacore::SpeakerIdentifierOptions identifier = dictacore::IdentifierOptionsFor(o);
  FUZZ_CHECK(identifier.num_threads >= 1);
  const std::string samples = dictacore::SamplesDirectory(o);
  FUZZ_CHECK(o.speaker_samples_dir.empty() ? fuzz::EndsWith(samples, "samples")
                                           : samples == o.speaker_samples_dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = fuzz::SplitAtNul(data, size);
  args.insert(args.begin(), "dictacore");

  std::string untouched = "untouched";
  FUZZ_CHECK(!Parse(args, nullptr, &untouched));
  FUZZ_CHECK(untouched == "untouched");
  Options unused;
  FUZZ_CHECK(!Parse(args, &unused, nullptr));

  Options options;
  std::string error;
  const bool ok = Parse(args, &options, &error);

  // The same line parses the same way again.
  Options again;
  std::string again_error;
  FUZZ_CHECK(Parse(args, &again, &again_error) == ok);
  FUZZ_CHECK(again_error == error);

  if (!ok) {
    FUZZ_CHECK(!error.empty());
    if (error == "help") {
      bool asked = false;
      for (size_t i = 1; i < args.size(); ++i) asked |= args[i] == "--help" || args[i] == "-h";
      FUZZ_CHECK(asked);
    }
    return 0;
  }
  CheckValidForMode(options);
  CheckDerivedValues(options);

  for (size_t i = 1; i < args.size(); ++i) {
    const std::string first = dictacore::NormalizeFirstModelType(args[i]);
    FUZZ_CHECK(first.empty() || first == "transducer" || first == "paraformer");
    FUZZ_CHECK(dictacore::NormalizeFirstModelType(first) == first);
    const std::string second = dictacore::NormalizeSecondType(args[i]);
    FUZZ_CHECK(second.empty() || second == "sensevoice" || second == "whisper");
    FUZZ_CHECK(dictacore::NormalizeSecondType(second) == second);
  }
  return 0;
}
