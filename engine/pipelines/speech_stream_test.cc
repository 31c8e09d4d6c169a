// The overlapped VAD and decode against the order it replaces (the VAD over
// the whole recording, then the group walk), with the kit's Silero VAD on
// kit audio: the same events whatever the size of the reads, a recording
// that ends inside speech, a decode that fails while the VAD is ahead, and a
// file that shrinks after it was opened.
#include "engine/pipelines/speech_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/diarization/fluidaudio_subprocess_backend.h"
#include "tests/support/kit.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::ModelPath;

constexpr int kRate = 16000;

VadInitOptions OfflineVad() {
  return MakeVadInitOptions(kRate, "cpu", ModelPath("silero/silero_vad_v5.onnx"), 0.5, 0.5, 0.25,
                            120.0);
}

// Short groups with padding longer than the silence that ends a segment, so
// that groups are closed often and well before the reader has their end.
GroupingParams ShortGroups() {
  GroupingParams params;
  params.sample_rate = kRate;
  params.group_limit = kRate * 3 / 2;
  params.decode_window = INT32_MAX;
  params.silence_gap = kRate / 4;
  params.lookback = kRate;
  params.lookahead = kRate * 3 / 2;
  return params;
}

// A decode that logs its range and checks that it was handed that range's
// samples; the decode numbered `fail_at` fails.
struct Decoder {
  const std::vector<float>* audio = nullptr;
  int fail_at = -1;
  int calls = 0;

  bool operator()(const SampleRange& range, const std::vector<float>& samples,
                  EventEmitter* emitter) {
    const int index = calls++;
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), audio->begin() + range.start,
                           audio->begin() + range.end) &&
                static_cast<int64_t>(samples.size()) == range.size())
        << "samples of [" << range.start << ", " << range.end << ")";
    emitter->EmitLog("decoded " + std::to_string(range.start) + "-" + std::to_string(range.end));
    if (index != fail_at) return true;
    emitter->EmitError("decode failed");
    return false;
  }
};

// The events of the order before streaming: VAD over everything, then walk.
std::vector<std::string> WholeRecordingEvents(const std::vector<float>& audio,
                                              const GroupingParams& params, Decoder decoder) {
  std::vector<std::string> lines;
  EventEmitter out(&lines);
  VadBackend vad;
  std::string error;
  EXPECT_TRUE(vad.Init(OfflineVad(), &error)) << error;
  const size_t piece = VadPieceSamples(kRate);
  for (size_t pos = 0; pos < audio.size(); pos += piece) {
    const std::vector<float> chunk(audio.begin() + pos,
                                   audio.begin() + std::min(pos + piece, audio.size()));
    EXPECT_TRUE(vad.AcceptWaveform(chunk, &error)) << error;
  }
  EXPECT_TRUE(vad.Flush(&error)) << error;
  std::vector<SampleRange> ranges;
  VadSegment segment;
  while (vad.PopSegment(&segment, &error)) {
    if (segment.samples.empty()) continue;
    ranges.push_back(
        {segment.start, segment.start + static_cast<int64_t>(segment.samples.size())});
  }
  const auto length = static_cast<int64_t>(audio.size());
  if (CompensateTail(&ranges, length, params.group_limit)) {
    out.EmitLog("offline_2pass tail compensation enabled");
  }
  WalkDecodeGroups(
      ranges, length, params, [&](const std::string& line) { out.EmitLog(line); },
      [&](const GroupCut& cut) {
        std::vector<float> samples;
        for (const SampleRange& range : SplitForDecodeWindow(cut.padded, params)) {
          samples.assign(audio.begin() + range.start, audio.begin() + range.end);
          if (!decoder(range, samples, &out)) return false;
        }
        return true;
      });
  return lines;
}

struct Streamed {
  SpeechStreamOutcome outcome = SpeechStreamOutcome::kDecoded;
  std::vector<std::string> lines;
  int decodes = 0;
};

Streamed Stream(const AudioSource& source, const std::vector<float>& audio,
                SpeechStreamSettings settings, int fail_at = -1) {
  Streamed streamed;
  EventEmitter out(&streamed.lines);
  VadBackend vad;
  std::string error;
  EXPECT_TRUE(vad.Init(OfflineVad(), &error)) << error;
  Decoder decoder{&audio, fail_at};
  streamed.outcome = DecodeSpeechStream(
      source, &vad, settings, &out,
      [&decoder](const SampleRange& range, const std::vector<float>& samples,
                 EventEmitter* emitter) { return decoder(range, samples, emitter); },
      &error);
  streamed.decodes = decoder.calls;
  return streamed;
}

std::vector<float> ReadAll(const std::string& path) {
  std::vector<float> samples;
  std::string error;
  EXPECT_TRUE(ReadWavMono(path, kRate, &samples, &error)) << error;
  return samples;
}

AudioSource OpenWav(const std::string& path) {
  AudioSource source;
  std::string error;
  EXPECT_TRUE(OpenWavMono(path, kRate, &source, &error)) << error;
  return source;
}

off_t FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(part) != std::string::npos;
  }));
}

TEST(SpeechStream, SameEventsWhateverTheReadSize) {
  const std::string path = AudioPath("long_recording.wav");
  const std::vector<float> audio = ReadAll(path);
  const AudioSource source = OpenWav(path);
  GroupingParams defaults = ShortGroups();
  defaults.group_limit = 8 * kRate;
  defaults.silence_gap = kRate / 2;
  defaults.lookback = kRate / 5;
  defaults.lookahead = kRate / 10;
  // One VAD piece, pieces that straddle groups, and the whole recording.
  const struct {
    GroupingParams params;
    std::vector<int64_t> reads;
  } cases[] = {{ShortGroups(), {1600, 7 * 16000 + 5, 3600 * 16000}}, {defaults, {4800}}};
  for (const auto& [params, reads] : cases) {
    const std::vector<std::string> expected = WholeRecordingEvents(audio, params, {&audio});
    ASSERT_GT(CountContaining(expected, "decoded "), 2u);
    for (int64_t read : reads) {
      SpeechStreamSettings settings;
      settings.params = params;
      settings.read_samples = read;
      settings.queued_decodes = read == 1600 ? 1 : 2;
      const Streamed streamed = Stream(source, audio, settings);
      EXPECT_EQ(streamed.outcome, SpeechStreamOutcome::kDecoded);
      EXPECT_EQ(streamed.lines, expected) << "reads of " << read << " samples";
    }
  }
}

TEST(SpeechStream, RecordingEndingInsideSpeech) {
  const std::vector<float> whole = ReadAll(AudioPath("speech_pause_speech.wav"));
  const auto& second = testing::KitFile("speech_pause_speech")["utterances"][1];
  const double middle = (second["start"].get<double>() + second["end"].get<double>()) / 2;
  const std::vector<float> audio(whole.begin(),
                                 whole.begin() + static_cast<int64_t>(middle * kRate));
  ScopedTempDir dir;
  const std::string path = dir.path() + "/cut.wav";
  std::string error;
  ASSERT_TRUE(WriteWavFloat32(path, audio, kRate, &error)) << error;

  SpeechStreamSettings settings;
  settings.params = ShortGroups();
  settings.read_samples = 4000;
  const Streamed streamed = Stream(OpenWav(path), audio, settings);
  EXPECT_EQ(streamed.outcome, SpeechStreamOutcome::kDecoded);
  EXPECT_EQ(streamed.lines, WholeRecordingEvents(audio, settings.params, {&audio}));
  // The group open at the end of the file is decoded to its last sample.
  ASSERT_FALSE(streamed.lines.empty());
  EXPECT_NE(streamed.lines.back().find("-" + std::to_string(audio.size()) + "\""),
            std::string::npos)
      << streamed.lines.back();
}

TEST(SpeechStream, DecodeFailureWhileTheVadIsAhead) {
  const std::string path = AudioPath("long_recording.wav");
  const std::vector<float> audio = ReadAll(path);
  const std::vector<std::string> expected = WholeRecordingEvents(audio, ShortGroups(), {&audio, 1});
  ASSERT_EQ(CountContaining(expected, "decode failed"), 1u);
  ASSERT_EQ(CountContaining(expected, "tail compensation"), 1u);
  // The VAD reads a piece at a time and one group may wait: it is at most a
  // group ahead when the decode fails, and must still find the speech's end.
  for (size_t queued : {size_t{1}, size_t{4}}) {
    SpeechStreamSettings settings;
    settings.params = ShortGroups();
    settings.read_samples = 1600;
    settings.queued_decodes = queued;
    const Streamed streamed = Stream(OpenWav(path), audio, settings, 1);
    EXPECT_EQ(streamed.outcome, SpeechStreamOutcome::kFailed);
    EXPECT_EQ(streamed.decodes, 2);
    EXPECT_EQ(streamed.lines, expected);
  }
}

TEST(SpeechStream, FileThatShrinksAfterOpeningIsRefused) {
  const std::vector<float> audio = ReadAll(AudioPath("long_recording.wav"));
  ScopedTempDir dir;
  std::string error;
  const std::string wav = dir.path() + "/shrinks.wav";
  ASSERT_TRUE(WriteWavFloat32(wav, audio, kRate, &error)) << error;
  const std::string pcm = dir.Write(
      "shrinks.f32", std::string(reinterpret_cast<const char*>(audio.data()), audio.size() * 4));
  AudioSource wav_source = OpenWav(wav);
  AudioSource pcm_source;
  ASSERT_TRUE(OpenPcmMono(pcm, "f32le", &pcm_source, &error)) << error;

  // Cut after the first groups: they were decoded, but a file that does not
  // hold what it promised is refused whole, without their events.
  const struct {
    const AudioSource* source;
    std::string path;
    std::string message;
  } cases[] = {{&wav_source, wav, "Invalid WAV data chunk"},
               {&pcm_source, pcm, "Failed to read PCM file: " + pcm}};
  for (const auto& c : cases) {
    // The first group (28 s of speech) closes before 35 s.
    const off_t header = FileSize(c.path) - static_cast<off_t>(audio.size()) * 4;
    ASSERT_EQ(truncate(c.path.c_str(), header + 35 * kRate * 4), 0);
    SpeechStreamSettings settings;
    settings.params = ShortGroups();
    settings.read_samples = 1600;
    const Streamed streamed = Stream(*c.source, audio, settings);
    EXPECT_EQ(streamed.outcome, SpeechStreamOutcome::kFailed);
    EXPECT_GT(streamed.decodes, 0);
    EXPECT_EQ(streamed.lines, std::vector<std::string>{"{\"message\":\"" + c.message +
                                                       "\",\"type\":\"error\"}"});
  }
}

}  // namespace
}  // namespace dictacore
