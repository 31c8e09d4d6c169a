// The toolkit work of a file transcription and nothing else, as the yardstick
// for dictacore: load the second-pass recognizer, the punctuation model and a
// Silero VAD with the settings dictacore uses for a file; read a 16-bit mono
// WAV; feed the VAD in 100 ms pieces; decode every speech segment; punctuate
// every segment's text and then the joined text once more. Only the toolkit's
// C API is used (the engine's declarations of it), and no sample is copied
// that the toolkit does not ask for.
//
//   toolkit_baseline --wav F --second-model M --second-tokens T
//                    --ct-transformer P --silero-vad-model V
//                    [--num-threads-second 4] [--num-threads-punc 1]
//                    [--vad-threshold 0.5] [--vad-min-silence 0.5]
//                    [--vad-min-speech 0.25] [--vad-max-speech 120]
//                    [--diarization-segmentation-model S --diarization-embedding-model E
//                     [--diarization-num-threads 4]]
//
// With the diarization models it also diarizes the whole recording, with the
// settings dictacore uses (clustering by threshold 0.5, turns of at least
// 0.3 s, gaps of 0.5 s closed), after the decoding.
//
// Prints one JSON line: milliseconds per stage (model loading, reading, VAD,
// decoding, punctuation; "toolkit_ms" is VAD + decoding + punctuation), the
// segment count, the seconds of audio decoded and the final text's length.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/backends/sherpa_handles.h"
#include "engine/backends/sherpa_onnx_c_api.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A 16-bit PCM mono WAV (the benchmark writes only those) as floats.
bool ReadWav16(const std::string& path, std::vector<float>* out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<unsigned char> bytes;
  unsigned char buffer[1 << 16];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  std::fclose(file);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  bool pcm16 = false;
  for (size_t pos = 12; pos + 8 <= bytes.size();) {
    const uint32_t size = Le32(bytes.data() + pos + 4);
    const unsigned char* body = bytes.data() + pos + 8;
    const size_t avail = bytes.size() - pos - 8;
    if (std::memcmp(bytes.data() + pos, "fmt ", 4) == 0 && size >= 16 && avail >= 16) {
      pcm16 = (body[0] | (body[1] << 8)) == 1 && (body[2] | (body[3] << 8)) == 1 &&
              (body[14] | (body[15] << 8)) == 16;
    } else if (std::memcmp(bytes.data() + pos, "data", 4) == 0) {
      if (!pcm16) return false;
      const size_t count = std::min<size_t>(size, avail) / 2;
      out->resize(count);
      for (size_t i = 0; i < count; ++i) {
        const auto value = static_cast<int16_t>(body[2 * i] | (body[2 * i + 1] << 8));
        (*out)[i] = static_cast<float>(value) / 32768.0f;
      }
      return true;
    }
    pos += 8 + size + (size & 1);
  }
  return false;
}

std::string Punctuate(const SherpaOnnxOfflinePunctuation* punct, const std::string& text) {
  dictacore::PunctuatedTextHandle result(SherpaOfflinePunctuationAddPunct(punct, text.c_str()));
  return result ? std::string(result.get()) : text;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args = {
      {"--num-threads-second", "4"}, {"--num-threads-punc", "1"},
      {"--vad-threshold", "0.5"},    {"--vad-min-silence", "0.5"},
      {"--vad-min-speech", "0.25"},  {"--vad-max-speech", "120"},
      {"--diarization-num-threads", "4"}};
  for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
  for (const char* key : {"--wav", "--second-model", "--second-tokens", "--ct-transformer",
                          "--silero-vad-model"}) {
    if (args[key].empty()) {
      std::fprintf(stderr, "toolkit_baseline: %s is required\n", key);
      return 2;
    }
  }
  const int32_t sample_rate = 16000;

  const auto load_start = Clock::now();
  SherpaOnnxOfflineRecognizerConfig config{};
  config.model_config.tokens = args["--second-tokens"].c_str();
  config.model_config.num_threads = std::stoi(args["--num-threads-second"]);
  config.model_config.provider = "cpu";
  config.decoding_method = "greedy_search";
  config.model_config.sense_voice.model = args["--second-model"].c_str();
  config.model_config.sense_voice.language = "zh";
  config.model_config.sense_voice.use_itn = 1;
  dictacore::OfflineRecognizerHandle recognizer(SherpaOnnxCreateOfflineRecognizer(&config));

  SherpaOnnxOfflinePunctuationConfig punct_config{};
  punct_config.model.ct_transformer = args["--ct-transformer"].c_str();
  punct_config.model.num_threads = std::stoi(args["--num-threads-punc"]);
  punct_config.model.provider = "cpu";
  dictacore::PunctuationHandle punct(SherpaOnnxCreateOfflinePunctuation(&punct_config));

  SherpaOnnxVadModelConfig vad_config{};
  vad_config.silero_vad.model = args["--silero-vad-model"].c_str();
  vad_config.silero_vad.threshold = std::stof(args["--vad-threshold"]);
  vad_config.silero_vad.min_silence_duration = std::stof(args["--vad-min-silence"]);
  vad_config.silero_vad.min_speech_duration = std::stof(args["--vad-min-speech"]);
  vad_config.silero_vad.max_speech_duration = std::stof(args["--vad-max-speech"]);
  vad_config.silero_vad.window_size = 512;
  vad_config.sample_rate = sample_rate;
  vad_config.num_threads = 1;
  vad_config.provider = "cpu";
  dictacore::VadHandle vad(SherpaOnnxCreateVoiceActivityDetector(&vad_config, 120.0f));
  const bool diarize = !args["--diarization-segmentation-model"].empty();
  SherpaOnnxOfflineSpeakerDiarizationConfig diar_config{};
  diar_config.segmentation.pyannote.model = args["--diarization-segmentation-model"].c_str();
  diar_config.segmentation.num_threads = std::stoi(args["--diarization-num-threads"]);
  diar_config.segmentation.provider = "cpu";
  diar_config.embedding.model = args["--diarization-embedding-model"].c_str();
  diar_config.embedding.num_threads = diar_config.segmentation.num_threads;
  diar_config.embedding.provider = "cpu";
  diar_config.clustering.num_clusters = -1;
  diar_config.clustering.threshold = 0.5f;
  diar_config.min_duration_on = 0.3f;
  diar_config.min_duration_off = 0.5f;
  dictacore::DiarizationHandle diarizer(
      diarize ? SherpaOnnxCreateOfflineSpeakerDiarization(&diar_config) : nullptr);
  if (!recognizer || !punct || !vad || (diarize && !diarizer)) {
    std::fprintf(stderr, "toolkit_baseline: a model failed to load\n");
    return 1;
  }
  const double load_ms = MsSince(load_start);

  const auto read_start = Clock::now();
  std::vector<float> audio;
  if (!ReadWav16(args["--wav"], &audio)) {
    std::fprintf(stderr, "toolkit_baseline: cannot read %s\n", args["--wav"].c_str());
    return 1;
  }
  const double read_ms = MsSince(read_start);

  const auto vad_start = Clock::now();
  const size_t piece = sample_rate / 10;
  for (size_t pos = 0; pos < audio.size(); pos += piece) {
    SherpaOnnxVoiceActivityDetectorAcceptWaveform(
        vad.get(), audio.data() + pos, static_cast<int32_t>(std::min(piece, audio.size() - pos)));
  }
  SherpaOnnxVoiceActivityDetectorFlush(vad.get());
  const double vad_ms = MsSince(vad_start);

  double decode_ms = 0;
  double punc_ms = 0;
  int segments = 0;
  int64_t decoded_samples = 0;
  std::string joined;
  while (SherpaOnnxVoiceActivityDetectorEmpty(vad.get()) == 0) {
    const auto decode_start = Clock::now();
    std::string text;
    {
      dictacore::SpeechSegmentHandle segment(SherpaOnnxVoiceActivityDetectorFront(vad.get()));
      dictacore::OfflineStreamHandle stream(SherpaOnnxCreateOfflineStream(recognizer.get()));
      SherpaOnnxAcceptWaveformOffline(stream.get(), sample_rate, segment->samples, segment->n);
      SherpaOnnxDecodeOfflineStream(recognizer.get(), stream.get());
      dictacore::OfflineResultHandle result(SherpaOnnxGetOfflineStreamResult(stream.get()));
      if (result && result->text != nullptr) text = result->text;
      decoded_samples += segment->n;
    }
    SherpaOnnxVoiceActivityDetectorPop(vad.get());
    decode_ms += MsSince(decode_start);
    ++segments;
    if (text.empty()) continue;
    const auto punc_start = Clock::now();
    if (!joined.empty()) joined.push_back(' ');
    joined += Punctuate(punct.get(), text);
    punc_ms += MsSince(punc_start);
  }
  const auto merged_start = Clock::now();
  const std::string merged = joined.empty() ? joined : Punctuate(punct.get(), joined);
  punc_ms += MsSince(merged_start);

  const auto diarization_start = Clock::now();
  int32_t turns = 0;
  if (diarize) {
    dictacore::DiarizationResultHandle result(SherpaOnnxOfflineSpeakerDiarizationProcess(
        diarizer.get(), audio.data(), static_cast<int32_t>(audio.size())));
    turns = result ? SherpaOnnxOfflineSpeakerDiarizationResultGetNumSegments(result.get()) : -1;
  }
  const double diarization_ms = MsSince(diarization_start);

  std::printf(
      "{\"load_ms\":%.3f,\"read_ms\":%.3f,\"vad_ms\":%.3f,\"decode_ms\":%.3f,\"punc_ms\":%.3f,"
      "\"toolkit_ms\":%.3f,\"segments\":%d,\"decoded_seconds\":%.3f,\"audio_seconds\":%.3f,"
      "\"chars\":%zu,\"diarization_ms\":%.3f,\"turns\":%d}\n",
      load_ms, read_ms, vad_ms, decode_ms, punc_ms, vad_ms + decode_ms + punc_ms, segments,
      static_cast<double>(decoded_samples) / sample_rate,
      static_cast<double>(audio.size()) / sample_rate, merged.size(), diarization_ms, turns);
  return merged.empty() ? 1 : 0;
}
