#include "engine/cli/run.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "engine/backends/model_files.h"
#include "engine/backends/offline_decoder.h"
#include "engine/backends/online_backend.h"
#include "engine/backends/punc_backend.h"
#include "engine/backends/vad_backend.h"
#include "engine/cli/command_loop.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/pcm_loop.h"
#include "engine/cli/shared_state.h"
#include "engine/common/strings.h"
#include "engine/diarization/diarization_backend.h"
#include "engine/diarization/diarization_factory.h"
#include "engine/pipelines/offline_two_pass.h"
#include "engine/speakers/speaker_commands.h"
#include "engine/speakers/speaker_identifier.h"

namespace dictacore {
namespace {

DecoderInitOptions MakeDecoderOptions(const Options& o) {
  DecoderInitOptions d;
  d.sample_rate = o.sample_rate;
  d.num_threads = o.num_threads_second;
  d.provider = o.provider_second;
  d.model_type = o.second_type;
  d.model = o.second_model;
  d.encoder = o.second_encoder;
  d.decoder = o.second_decoder;
  d.tokens = o.second_tokens;
  d.language = o.second_language;
  d.task = o.second_task;
  d.use_itn = !o.disable_second_itn;
  return d;
}

PuncInitOptions MakePuncOptions(const Options& o) {
  PuncInitOptions p;
  p.model = o.ct_transformer;
  p.num_threads = o.num_threads_punc;
  p.provider = o.provider_punc;
  return p;
}

OnlineInitOptions MakeOnlineOptions(const Options& o) {
  OnlineInitOptions p;
  p.sample_rate = o.sample_rate;
  p.num_threads = o.num_threads_first;
  p.provider = o.provider_first;
  p.model_type = o.first_model_type;
  p.encoder = o.first_encoder;
  p.decoder = o.first_decoder;
  p.joiner = o.first_joiner;
  p.tokens = o.first_tokens;
  return p;
}

VadInitOptions MakeLiveVadOptions(const Options& o) {
  return MakeVadInitOptions(o.sample_rate, o.provider_first, o.silero_vad_model, o.vad_threshold,
                            o.vad_min_silence, o.vad_min_speech, o.vad_max_speech);
}

DiarizationInitOptions MakeDiarizationOptions(const Options& o,
                                              const HelperTimeLimits& helper_limits) {
  DiarizationInitOptions d;
  d.model_dir = o.diarization_model;
  d.segmentation_model = o.diarization_segmentation_model;
  d.embedding_model = o.diarization_embedding_model;
  d.num_threads = o.diarization_num_threads < 1 ? 1 : o.diarization_num_threads;
  d.provider = o.provider_first;
  d.min_speakers = o.diarization_min_speakers;
  d.max_speakers = o.diarization_max_speakers;
  d.helper_binary = o.diarization_helper_binary;
  d.backend = o.diarization_backend;
  d.helper_limits = helper_limits;
  return d;
}

bool WantsDiarization(const Options& o) {
  return o.diarization &&
         (!o.diarization_model.empty() ||
          (!o.diarization_segmentation_model.empty() && !o.diarization_embedding_model.empty()));
}

std::string DiarizationLabel(const Options& o) {
  if (o.diarization_helper_binary.empty()) return "sherpa-onnx";
  return "fluidaudio-diar, backend=" +
         (o.diarization_backend.empty() ? std::string("offline") : o.diarization_backend);
}

// After a start-up step failed: one line per model file of the step that
// visibly cannot load, naming the option and the file.
void LogModelFileFaults(EventEmitter* emitter, const std::string& tag,
                        const std::vector<ModelFileArg>& files) {
  for (const std::string& line : DescribeModelFileFaults(files)) emitter->EmitLog(tag + " " + line);
}

std::vector<ModelFileArg> DecoderFiles(const Options& o) {
  if (o.second_type == "whisper") {
    return {{"--second-encoder", o.second_encoder},
            {"--second-decoder", o.second_decoder},
            {"--second-tokens", o.second_tokens, false}};
  }
  return {{"--second-model", o.second_model}, {"--second-tokens", o.second_tokens, false}};
}

std::vector<ModelFileArg> FirstPassFiles(const Options& o) {
  std::vector<ModelFileArg> files = {{"--first-encoder", o.first_encoder},
                                     {"--first-decoder", o.first_decoder}};
  if (o.first_model_type == "transducer") files.push_back({"--first-joiner", o.first_joiner});
  files.push_back({"--first-tokens", o.first_tokens, false});
  return files;
}

// Everything Run owns for the life of the process; destroyed after both live
// threads have been joined.
struct Engine {
  EventEmitter emitter;
  SharedState shared;
  AudioBuffer audio;
  OfflineDecoderBackend decoder;
  PuncBackend punc;
  VadBackend vad;
  OnlineBackend online;
  SpeakerIdentifier identifier;
  std::unique_ptr<DiarizationBackend> diarization;
  std::string decoder_error;
  bool punc_ready = false;
  bool online_ready = false;
  bool vad_ready = false;
};

void StartBackends(const Options& options, const HelperTimeLimits& helper_limits, Engine* e) {
  e->shared.single_partial_step =
      SinglePartialStepSamples(options.single_partial_interval, options.sample_rate);
  e->shared.capturing = options.manual_mode ? !options.start_paused : true;

  const bool decoder_ok = e->decoder.Init(MakeDecoderOptions(options), &e->decoder_error);
  e->emitter.EmitLog("Creating recognizers. Please wait...");
  if (decoder_ok) {
    e->emitter.EmitLog("[M2] Offline decoder initialized");
  } else {
    e->emitter.EmitLog("[M2] Offline decoder init failed: " + e->decoder_error);
    e->emitter.EmitLog("[M2] Running in skeleton fallback mode");
    LogModelFileFaults(&e->emitter, "[M2]", DecoderFiles(options));
  }

  std::string error;
  if (!options.ct_transformer.empty()) {
    e->punc_ready = e->punc.Init(MakePuncOptions(options), &error);
    e->emitter.EmitLog(e->punc_ready ? "[M3] Offline punctuation initialized"
                                     : "[M3] Offline punctuation init failed: " + error);
    if (!e->punc_ready) {
      LogModelFileFaults(&e->emitter, "[M3]", {{"--ct-transformer", options.ct_transformer}});
    }
  }

  if (options.manual_realtime && !options.single_model_streaming) {
    error.clear();
    e->online_ready = e->online.Init(MakeOnlineOptions(options), &error);
    if (e->online_ready) {
      e->emitter.EmitLog("[M3] Online recognizer initialized for first-pass partials");
    } else {
      e->emitter.EmitLog("[M3] Online recognizer init failed: " + error);
      e->emitter.EmitLog("[M3] first-pass will fallback to placeholder events");
      LogModelFileFaults(&e->emitter, "[M3]", FirstPassFiles(options));
    }
  }

  if (options.manual_realtime) {
    error.clear();
    e->vad_ready = e->vad.Init(MakeLiveVadOptions(options), &error);
    if (e->vad_ready) {
      e->emitter.EmitLog("[M2] VAD initialized for manual-realtime");
    } else {
      e->emitter.EmitLog("[M2] VAD init failed: " + error);
      e->emitter.EmitLog("[M2] manual-realtime will fallback to legacy buffering");
      LogModelFileFaults(&e->emitter, "[M2]", {{"--silero-vad-model", options.silero_vad_model}});
    }
  }

  if (WantsDiarization(options)) {
    error.clear();
    e->diarization =
        CreateDiarizationBackend(MakeDiarizationOptions(options, helper_limits), &error);
    e->emitter.EmitLog(e->diarization ? "[M2] Speaker diarization initialized (" +
                                            DiarizationLabel(options) + ")"
                                      : "[M2] Speaker diarization init failed: " + error);
    if (!e->diarization && options.diarization_helper_binary.empty()) {
      LogModelFileFaults(
          &e->emitter, "[M2]",
          {{"--diarization-segmentation-model", options.diarization_segmentation_model},
           {"--diarization-embedding-model", options.diarization_embedding_model}});
    }
  }

  if (e->diarization && options.speaker_id && !options.speaker_embedding_model.empty() &&
      !options.speaker_enroll_db.empty()) {
    error.clear();
    e->emitter.EmitLog(e->identifier.Init(IdentifierOptionsFor(options), &error)
                           ? "[M2] Speaker identification initialized (threshold=" +
                                 FormatFixed(options.speaker_id_threshold, 6) + ")"
                           : "[M2] Speaker identification init failed: " + error);
  }
  if (options.offline_2pass) PrepareOffline2Pass(options);
  e->emitter.EmitReady();
}

int RunFileMode(const Options& options, Engine* e) {
  const bool wav = !options.wav_input.empty();
  const std::string tag = wav ? "WAV" : "PCM";
  if (!e->decoder.IsReady()) {
    e->emitter.EmitError(std::string("Decoder is not ready for ") +
                         (wav ? "--wav-input" : "--pcm-input") + ": " + e->decoder_error);
    e->emitter.EmitComplete("File decode failed");
    return 1;
  }
  std::vector<float> samples;
  std::string error;
  const bool read = wav ? ReadWavMono(options.wav_input, options.sample_rate, &samples, &error)
                        : ReadPcmMono(options.pcm_input, options.audio_format, &samples, &error);
  if (!read) {
    e->emitter.EmitError(error);
    e->emitter.EmitComplete("File decode failed");
    return 1;
  }
  {
    std::lock_guard<std::mutex> lock(e->audio.mutex);
    e->audio.session_samples = std::move(samples);
    e->audio.manual_samples.clear();
  }
  e->emitter.EmitLog(tag + " input: using unified offline_2pass decode path");
  const bool ok = DecodeAndEmitOffline2PassFull(
      options, &e->decoder, e->punc_ready ? &e->punc : nullptr, e->diarization.get(),
      e->identifier.IsReady() ? &e->identifier : nullptr, &e->emitter, &e->audio);
  if (!ok) {
    e->emitter.EmitError("File decode failed");
    e->emitter.EmitComplete("File decode failed");
    return 1;
  }
  e->emitter.EmitComplete(tag + " decode done");
  return 0;
}

int RunLiveMode(const Options& options, Engine* e) {
  PuncBackend* punc = e->punc_ready ? &e->punc : nullptr;
  SpeakerIdentifier* identifier = e->identifier.IsReady() ? &e->identifier : nullptr;
  std::thread command_thread(CommandLoop, std::cref(options), &e->decoder, punc,
                             e->diarization.get(), identifier, &e->emitter, &e->shared, &e->audio);
  std::thread audio_thread(PcmLoop, std::cref(options), e->online_ready ? &e->online : nullptr,
                           &e->decoder, punc, e->vad_ready ? &e->vad : nullptr,
                           e->diarization.get(), identifier, &e->emitter, &e->shared, &e->audio);
  while (!e->shared.quit.load()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  command_thread.join();
  audio_thread.join();
  e->emitter.EmitComplete("Session ended (partial M2)");
  return 0;
}

}  // namespace

int Run(const Options& options, const HelperTimeLimits& helper_limits) {
  auto engine = std::make_unique<Engine>();
  StartBackends(options, helper_limits, engine.get());
  if (!options.wav_input.empty() || !options.pcm_input.empty()) {
    return RunFileMode(options, engine.get());
  }
  return RunLiveMode(options, engine.get());
}

int Main(int argc, char** argv, const HelperTimeLimits& helper_limits) {
  Options options;
  std::string error;
  if (!ParseArgs(argc, argv, &options, &error)) {
    if (error == "help") {
      PrintUsage();
      return 0;
    }
    EventEmitter emitter;
    emitter.EmitError(error);
    PrintUsage();
    return 1;
  }
  if (!options.register_name.empty()) return RunRegister(options);
  if (options.list_speakers) return RunListSpeakers(options);
  if (options.migrate_speakers) return RunMigrateSpeakers(options);
  if (!options.rename_speaker_id.empty()) return RunRenameSpeaker(options);
  if (!options.unregister_speaker_id.empty() || !options.unregister_name.empty() ||
      !options.unregister_md5.empty()) {
    return RunUnregister(options);
  }
  if (options.identify_only) return RunIdentifyOnly(options);
  return Run(options, helper_limits);
}

}  // namespace dictacore
