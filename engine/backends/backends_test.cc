// The recognition backends over the real toolkit with the generated kit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "engine/audio/audio_file_reader.h"
#include "engine/backends/offline_decoder.h"
#include "engine/backends/online_backend.h"
#include "engine/backends/punc_backend.h"
#include "engine/backends/vad_backend.h"
#include "engine/common/scoped_temp_dir.h"
#include "tests/support/kit.h"
#include "tests/support/sanitizers.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::KitFile;
using testing::ModelPath;

std::vector<float> Wav(const std::string& name) {
  std::vector<float> samples;
  std::string error;
  EXPECT_TRUE(ReadWavMono(AudioPath(name + ".wav"), 16000, &samples, &error)) << error;
  return samples;
}

DecoderInitOptions SenseVoice() {
  DecoderInitOptions options;
  options.sample_rate = 16000;
  options.model = ModelPath("sense-voice/model.onnx");
  options.tokens = ModelPath("sense-voice/tokens.txt");
  return options;
}

DecoderInitOptions Whisper() {
  DecoderInitOptions options;
  options.sample_rate = 16000;
  options.model_type = "whisper";
  options.encoder = ModelPath("whisper/encoder.onnx");
  options.decoder = ModelPath("whisper/decoder.onnx");
  options.tokens = ModelPath("whisper/tokens.txt");
  return options;
}

std::string InitError(DecoderInitOptions options) {
  OfflineDecoderBackend decoder;
  std::string error;
  EXPECT_FALSE(decoder.Init(options, &error));
  EXPECT_FALSE(decoder.IsReady());
  return error;
}

TEST(OfflineDecoder, ValidationOrderAndTypeSelection) {
  DecoderInitOptions none;
  EXPECT_EQ(InitError(none), "Second-pass tokens path is empty");

  DecoderInitOptions no_model = SenseVoice();
  no_model.model.clear();
  EXPECT_EQ(InitError(no_model), "SenseVoice second-pass requires model path");
  no_model.model_type = "paraformer";  // unknown types run as SenseVoice
  EXPECT_EQ(InitError(no_model), "SenseVoice second-pass requires model path");

  DecoderInitOptions whisper = Whisper();
  whisper.model_type = "WHISPER";
  whisper.decoder.clear();
  EXPECT_EQ(InitError(whisper), "Whisper second-pass requires encoder and decoder paths");
  whisper.model_type = "";  // an encoder alone selects Whisper
  EXPECT_EQ(InitError(whisper), "Whisper second-pass requires encoder and decoder paths");

  DecoderInitOptions sense = SenseVoice();
  sense.model_type = "SENSE-VOICE";
  sense.encoder = "ignored";
  OfflineDecoderBackend decoder;
  std::string error;
  EXPECT_TRUE(decoder.Init(sense, &error)) << error;

  DecoderInitOptions missing = SenseVoice();
  missing.model = "/nonexistent/model.onnx";
  EXPECT_EQ(InitError(missing), "SherpaOnnxCreateOfflineRecognizer() failed");
}

TEST(OfflineDecoder, SenseVoiceLanguageIsPassedAsGiven) {
  // The toolkit only knows auto, zh, en, ja, ko and yue: "ZH" is not case
  // folded and so refused, while the empty default runs as "zh".
  DecoderInitOptions upper = SenseVoice();
  upper.language = "ZH";
  EXPECT_EQ(InitError(upper), "SherpaOnnxCreateOfflineRecognizer() failed");
  for (const char* language : {"", "auto", "en"}) {
    DecoderInitOptions options = SenseVoice();
    options.language = language;
    OfflineDecoderBackend decoder;
    std::string error;
    EXPECT_TRUE(decoder.Init(options, &error)) << language << ": " << error;
  }
}

TEST(OfflineDecoder, EmptyBufferSucceedsEvenUninitialised) {
  OfflineDecoderBackend decoder;
  std::string text = "stale";
  std::string error;
  EXPECT_TRUE(decoder.Decode({}, &text, &error));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(decoder.Decode({0.0f, 0.1f}, &text, &error));
  EXPECT_EQ(error, "Decoder is not initialized");
  DecodedTokens tokens;
  EXPECT_FALSE(decoder.DecodeWithTokens({0.0f}, &tokens, nullptr));
}

TEST(OfflineDecoder, SenseVoiceTokensWithTimestamps) {
  OfflineDecoderBackend decoder;
  std::string error;
  ASSERT_TRUE(decoder.Init(SenseVoice(), &error)) << error;
  const nlohmann::json& tones = KitFile("tones");
  DecodedTokens out;
  out.durations = {9.0f};
  ASSERT_TRUE(decoder.DecodeWithTokens(Wav("tones"), &out, &error)) << error;
  EXPECT_EQ(out.text, tones["text"].get<std::string>());
  const nlohmann::json& words = tones["words"];
  ASSERT_EQ(out.tokens.size(), words.size());
  ASSERT_EQ(out.timestamps.size(), words.size());
  EXPECT_TRUE(out.durations.empty()) << "this model reports no durations";
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(out.tokens[i], words[i]["word"].get<std::string>());
    EXPECT_NEAR(out.timestamps[i], words[i]["start"].get<double>(), 0.07) << i;
  }
  std::string text;
  ASSERT_TRUE(decoder.Decode(Wav("tones"), &text, &error));
  EXPECT_EQ(text, out.text);
}

TEST(OfflineDecoder, ZeroThreadsRunsWithOne) {
  DecoderInitOptions options = SenseVoice();
  options.num_threads = 0;
  OfflineDecoderBackend decoder;
  std::string error;
  ASSERT_TRUE(decoder.Init(options, &error)) << error;
  std::string text;
  ASSERT_TRUE(decoder.Decode(Wav("speech_pause_speech"), &text, &error));
  EXPECT_EQ(text, KitFile("speech_pause_speech")["text"].get<std::string>());
}

TEST(OfflineDecoder, InitAgainReplacesTheRecognizer) {
  OfflineDecoderBackend decoder;
  std::string error;
  ASSERT_TRUE(decoder.Init(SenseVoice(), &error));
  DecoderInitOptions broken = SenseVoice();
  broken.tokens.clear();
  EXPECT_FALSE(decoder.Init(broken, &error));
  EXPECT_FALSE(decoder.IsReady());
  ASSERT_TRUE(decoder.Init(Whisper(), &error)) << error;
  std::string text;
  ASSERT_TRUE(decoder.Decode(Wav("tones"), &text, &error));
  EXPECT_EQ(text, KitFile("tones")["text"].get<std::string>());
}

TEST(OfflineDecoder, WhisperLanguageHandling) {
  EXPECT_EQ(WhisperToolkitLanguage(""), "");
  EXPECT_EQ(WhisperToolkitLanguage("AUTO"), "");
  EXPECT_EQ(WhisperToolkitLanguage("De"), "de");
  for (const char* language : {"", "auto", "Auto", "EN", "zh"}) {
    DecoderInitOptions options = Whisper();
    options.language = language;
    OfflineDecoderBackend decoder;
    std::string error;
    ASSERT_TRUE(decoder.Init(options, &error)) << language << ": " << error;
    std::string text;
    ASSERT_TRUE(decoder.Decode(Wav("speech_pause_speech"), &text, &error)) << language;
    EXPECT_EQ(text, KitFile("speech_pause_speech")["text"].get<std::string>()) << language;
  }
  // A code the model does not have would end the process at the first
  // decode; it is refused up front instead.
  DecoderInitOptions unknown = Whisper();
  unknown.language = "xx";
  EXPECT_EQ(InitError(unknown), "Whisper model does not support language: xx");
  DecoderInitOptions list = Whisper();
  list.language = "zh,en,fr,de,es";
  EXPECT_EQ(InitError(list), "Whisper model does not support language: zh,en,fr,de,es");
}

TEST(OfflineDecoder, WhisperTranslateTask) {
  DecoderInitOptions options = Whisper();
  options.task = "translate";
  OfflineDecoderBackend decoder;
  std::string error;
  ASSERT_TRUE(decoder.Init(options, &error)) << error;
  std::string text;
  ASSERT_TRUE(decoder.Decode(Wav("speech_pause_speech"), &text, &error));
  EXPECT_EQ(text, "hello world hello world good morning");
}

TEST(PuncBackend, ErrorsKeepTheInput) {
  PuncBackend punc;
  std::string out = "x";
  std::string error;
  EXPECT_TRUE(punc.AddPunctuation("", &out, &error));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(punc.AddPunctuation("你好", &out, &error));
  EXPECT_EQ(out, "你好");
  EXPECT_EQ(error, "Punctuation backend is not initialized");

  PuncInitOptions options;
  EXPECT_FALSE(punc.Init(options, &error));
  EXPECT_EQ(error, "punctuation model path is empty");
  options.model = "/nonexistent/punct.onnx";
  EXPECT_FALSE(punc.Init(options, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateOfflinePunctuation() failed");
  EXPECT_FALSE(punc.IsReady());
}

TEST(PuncBackend, KitModelMarks) {
  PuncBackend punc;
  PuncInitOptions options;
  options.model = ModelPath("punct/model.onnx");
  options.num_threads = 0;
  std::string error;
  ASSERT_TRUE(punc.Init(options, &error)) << error;
  std::string out;
  ASSERT_TRUE(punc.AddPunctuation("你好世界今天", &out, &error));
  EXPECT_EQ(out, "你好世界，今天。");
  ASSERT_TRUE(punc.AddPunctuation("hello world", &out, nullptr));
  EXPECT_EQ(out, "hello world。");
}

// Text that is not UTF-8 never reaches the toolkit: it would read past a cut
// sequence and throw on a malformed one, which would end the engine.
TEST(PuncBackend, TextThatIsNotUtf8FailsAndKeepsTheInput) {
  PuncBackend punc;
  PuncInitOptions options;
  options.model = ModelPath("punct/model.onnx");
  std::string error;
  ASSERT_TRUE(punc.Init(options, &error)) << error;
  for (const std::string& text : {std::string("hello \xc3("), std::string("你好\xe4\xbd"),
                                  std::string("\xed\xa0\x80 surrogate"),
                                  std::string("over\xc0\xafong")}) {
    std::string out;
    EXPECT_FALSE(punc.AddPunctuation(text, &out, &error));
    EXPECT_EQ(out, text);
    EXPECT_EQ(error, "SherpaOfflinePunctuationAddPunct() failed: text is not valid UTF-8");
  }
  // The model still works afterwards.
  std::string out;
  ASSERT_TRUE(punc.AddPunctuation("你好世界今天", &out, &error)) << error;
  EXPECT_EQ(out, "你好世界，今天。");
}

// The punctuation call failing in the middle of a session: the toolkit runs
// out of memory (here: an address-space limit just above what the process
// holds) on a long text. The failure is reported, the text passes through,
// and the model works again once memory is back.
TEST(PuncBackendDeathTest, OutOfMemoryInsideTheToolkitIsReported) {
  if (testing::kSanitizedBuild) GTEST_SKIP() << "address-space limit under a sanitizer";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto run = [] {
    PuncBackend punc;
    PuncInitOptions options;
    options.model = ModelPath("punct/model.onnx");
    if (!punc.Init(options, nullptr)) ::_exit(10);
    std::string text;
    for (int i = 0; i < 1000000; ++i) text += "你";  // a million one-character tokens
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    const rlim_t old_soft = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (rlim_t{64} << 20);
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(11);
    std::string out;
    std::string error;
    const bool ok = punc.AddPunctuation(text, &out, &error);
    limit.rlim_cur = old_soft;
    ::setrlimit(RLIMIT_AS, &limit);
    if (ok) ::_exit(12);
    if (out != text) ::_exit(13);
    if (error != "SherpaOfflinePunctuationAddPunct() failed: std::bad_alloc") ::_exit(14);
    if (!punc.AddPunctuation("你好世界今天", &out, nullptr) || out != "你好世界，今天。") ::_exit(15);
    ::_exit(0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

VadInitOptions Silero(const std::string& file = "silero/silero_vad_v5.onnx") {
  VadInitOptions options;
  options.model = ModelPath(file);
  return options;
}

TEST(VadBackend, ErrorsWithoutADetector) {
  VadBackend vad;
  std::string error;
  EXPECT_TRUE(vad.AcceptWaveform({}, &error));
  EXPECT_FALSE(vad.AcceptWaveform({0.0f}, &error));
  EXPECT_EQ(error, "VAD is not initialized");
  EXPECT_FALSE(vad.Flush(&error));
  EXPECT_FALSE(vad.Reset(&error));
  VadSegment segment;
  segment.start = 7;
  segment.samples = {1.0f};
  EXPECT_FALSE(vad.PopSegment(&segment, &error));
  EXPECT_EQ(segment.start, 0);
  EXPECT_TRUE(segment.samples.empty());
  EXPECT_FALSE(vad.PopSegment(nullptr, &error));
  EXPECT_EQ(error, "out is null");
  EXPECT_FALSE(vad.Detected());

  EXPECT_FALSE(vad.Init(VadInitOptions(), &error));
  EXPECT_EQ(error, "VAD model path is empty");
  EXPECT_FALSE(vad.Init(Silero("missing.onnx"), &error));
  EXPECT_EQ(error, "SherpaOnnxCreateVoiceActivityDetector() failed");
}

// Feeds `audio` in 100 ms chunks, flushes, and returns every segment.
std::vector<VadSegment> Segments(VadBackend* vad, const std::vector<float>& audio, bool* heard) {
  std::string error;
  for (size_t pos = 0; pos < audio.size(); pos += 1600) {
    const std::vector<float> chunk(audio.begin() + static_cast<long>(pos),
                                   audio.begin() + static_cast<long>(std::min(pos + 1600, audio.size())));
    EXPECT_TRUE(vad->AcceptWaveform(chunk, &error));
    if (heard != nullptr) *heard = *heard || vad->Detected();
  }
  EXPECT_TRUE(vad->Flush(&error));
  std::vector<VadSegment> segments;
  VadSegment segment;
  while (vad->PopSegment(&segment, &error)) segments.push_back(segment);
  return segments;
}

TEST(VadBackend, SegmentsOfSpeechWithAPause) {
  for (const char* model : {"silero/silero_vad_v5.onnx", "silero/silero_vad_legacy.onnx"}) {
    SCOPED_TRACE(model);
    VadBackend vad;
    VadInitOptions options = Silero(model);
    options.num_threads = 0;
    std::string error;
    ASSERT_TRUE(vad.Init(options, &error)) << error;
    VadSegment segment;
    error = "untouched";
    EXPECT_FALSE(vad.PopSegment(&segment, &error));
    EXPECT_EQ(error, "untouched");

    bool heard = false;
    const std::vector<VadSegment> segments = Segments(&vad, Wav("speech_pause_speech"), &heard);
    EXPECT_TRUE(heard);
    const nlohmann::json& utterances = KitFile("speech_pause_speech")["utterances"];
    ASSERT_EQ(segments.size(), utterances.size());
    for (size_t i = 0; i < segments.size(); ++i) {
      const double start = segments[i].start / 16000.0;
      const double end = start + segments[i].samples.size() / 16000.0;
      EXPECT_NEAR(start, utterances[i]["start"].get<double>(), 0.3);
      EXPECT_GE(end, utterances[i]["end"].get<double>() - 0.05);
      EXPECT_LE(end, utterances[i]["end"].get<double>() + 0.35);
    }
    ASSERT_TRUE(vad.Reset(&error));
    EXPECT_FALSE(vad.PopSegment(&segment, &error));
  }
}

TEST(VadBackend, ResetDetectorBehavesAsAFreshOne) {
  // The offline decode reuses one detector across runs: after a reset it
  // must give the same segments, at the same sample positions.
  VadBackend vad;
  std::string error;
  ASSERT_TRUE(vad.Init(Silero(), &error)) << error;
  const std::vector<float> audio = Wav("speech_pause_speech");
  std::vector<float> longer = audio;
  longer.insert(longer.end(), audio.begin(), audio.end());
  const std::vector<VadSegment> first = Segments(&vad, longer, nullptr);
  ASSERT_TRUE(vad.Reset(&error));
  const std::vector<VadSegment> again = Segments(&vad, audio, nullptr);
  VadBackend fresh;
  ASSERT_TRUE(fresh.Init(Silero(), &error));
  const std::vector<VadSegment> expected = Segments(&fresh, audio, nullptr);
  ASSERT_EQ(again.size(), expected.size());
  ASSERT_FALSE(expected.empty());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(again[i].start, expected[i].start) << i;
    EXPECT_EQ(again[i].samples, expected[i].samples) << i;
  }
  EXPECT_GT(first.size(), expected.size());
}

OnlineInitOptions Transducer() {
  OnlineInitOptions options;
  options.encoder = ModelPath("streaming/encoder.onnx");
  options.decoder = ModelPath("streaming/decoder.onnx");
  options.joiner = ModelPath("streaming/joiner.onnx");
  options.tokens = ModelPath("streaming/tokens.txt");
  return options;
}

OnlineInitOptions Paraformer() {
  OnlineInitOptions options;
  options.model_type = "Paraformer";
  options.encoder = ModelPath("streaming-paraformer/encoder.onnx");
  options.decoder = ModelPath("streaming-paraformer/decoder.onnx");
  options.tokens = ModelPath("streaming-paraformer/tokens.txt");
  return options;
}

TEST(OnlineBackend, PathChecksFollowTheEffectiveType) {
  OnlineBackend online;
  std::string error;
  OnlineInitOptions no_joiner = Transducer();
  no_joiner.joiner.clear();
  EXPECT_FALSE(online.Init(no_joiner, &error));
  EXPECT_EQ(error, "online model paths are incomplete");
  no_joiner.model_type = "zipformer";  // any other type runs as a transducer
  EXPECT_FALSE(online.Init(no_joiner, &error));
  EXPECT_EQ(error, "online model paths are incomplete");
  OnlineInitOptions no_tokens = Paraformer();
  no_tokens.tokens.clear();
  EXPECT_FALSE(online.Init(no_tokens, &error));
  EXPECT_FALSE(online.IsReady());

  // Empty type: a joiner selects the transducer, none the paraformer.
  OnlineInitOptions by_joiner = Transducer();
  by_joiner.model_type.clear();
  EXPECT_TRUE(online.Init(by_joiner, &error)) << error;
  OnlineInitOptions without_joiner = Paraformer();
  without_joiner.model_type.clear();
  without_joiner.num_threads = 0;
  EXPECT_TRUE(online.Init(without_joiner, &error)) << error;
  EXPECT_TRUE(online.IsReady());

  OnlineInitOptions missing = Transducer();
  missing.encoder = "/nonexistent/encoder.onnx";
  EXPECT_FALSE(online.Init(missing, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateOnlineRecognizer() failed");
}

TEST(OnlineBackend, NotReadyOperations) {
  OnlineBackend online;
  std::string error;
  std::string text = "x";
  bool endpoint = true;
  EXPECT_TRUE(online.AcceptAndDecode({}, &text, &endpoint, &error));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(endpoint);
  EXPECT_FALSE(online.AcceptAndDecode({0.0f}, &text, &endpoint, &error));
  EXPECT_EQ(error, "Online backend is not initialized");
  EXPECT_FALSE(online.InputFinishedAndDecode(&text, &error));
  EXPECT_FALSE(online.Reset(&error));
  EXPECT_EQ(error, "Online backend is not initialized");
}

// Feeds audio in 100 ms chunks and returns every distinct partial text.
std::vector<std::string> Partials(OnlineBackend* online, const std::vector<float>& audio) {
  std::vector<std::string> partials;
  for (size_t pos = 0; pos < audio.size(); pos += 1600) {
    const std::vector<float> chunk(audio.begin() + static_cast<long>(pos),
                                   audio.begin() + static_cast<long>(std::min(pos + 1600, audio.size())));
    std::string text;
    bool endpoint = false;
    std::string error;
    EXPECT_TRUE(online->AcceptAndDecode(chunk, &text, &endpoint, &error)) << error;
    if (!text.empty() && (partials.empty() || partials.back() != text)) partials.push_back(text);
  }
  return partials;
}

TEST(OnlineBackend, PartialTextGrowsAndResetStartsOver) {
  for (const OnlineInitOptions& options : {Transducer(), Paraformer()}) {
    SCOPED_TRACE(options.encoder);
    OnlineBackend online;
    std::string error;
    ASSERT_TRUE(online.Init(options, &error)) << error;
    const std::vector<std::string> partials = Partials(&online, Wav("tones"));
    ASSERT_GE(partials.size(), 2u);
    for (size_t i = 1; i < partials.size(); ++i) {
      EXPECT_EQ(partials[i].rfind(partials[i - 1], 0), 0u)
          << "\"" << partials[i] << "\" does not grow from \"" << partials[i - 1] << "\"";
    }
    std::string text;
    ASSERT_TRUE(online.InputFinishedAndDecode(&text, &error));
    EXPECT_EQ(text.rfind(partials.back(), 0), 0u);
    // An empty chunk reports nothing, although the stream holds text.
    bool endpoint = true;
    ASSERT_TRUE(online.AcceptAndDecode({}, &text, &endpoint, &error));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(endpoint);

    ASSERT_TRUE(online.Reset(&error));
    const std::vector<std::string> again = Partials(&online, Wav("tones"));
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front(), partials.front()) << "after a reset the text starts from nothing";
  }
}

TEST(OnlineBackend, EndpointAfterTrailingSilence) {
  OnlineBackend online;
  std::string error;
  ASSERT_TRUE(online.Init(Transducer(), &error)) << error;
  std::vector<float> audio = Wav("tones");  // words until 3 s, then silence
  bool endpoint_seen = false;
  double endpoint_at = 0;
  for (size_t pos = 0; pos < audio.size() && !endpoint_seen; pos += 1600) {
    const std::vector<float> chunk(audio.begin() + static_cast<long>(pos),
                                   audio.begin() + static_cast<long>(std::min(pos + 1600, audio.size())));
    std::string text;
    ASSERT_TRUE(online.AcceptAndDecode(chunk, &text, &endpoint_seen, &error));
    endpoint_at = (pos + chunk.size()) / 16000.0;
  }
  EXPECT_TRUE(endpoint_seen);
  EXPECT_GT(endpoint_at, 2.75 + 0.8);  // rule 2: 0.8 s after the last word
}

// A tokens file the toolkit cannot read would end the process inside Init;
// both recognizers refuse it first.
TEST(TokensFiles, UnreadableLinesAreRefusedByBothRecognizers) {
  OnlineInitOptions online_options = Transducer();
  online_options.tokens = online_options.encoder;  // a model file, not tokens
  OnlineBackend online;
  std::string error;
  EXPECT_FALSE(online.Init(online_options, &error));
  EXPECT_EQ(error.rfind("tokens file " + online_options.encoder + ": line ", 0), 0u) << error;
  EXPECT_FALSE(online.IsReady());

  DecoderInitOptions decoder_options = Whisper();
  decoder_options.tokens = decoder_options.decoder;
  EXPECT_EQ(InitError(decoder_options).rfind("tokens file " + decoder_options.decoder + ": line ", 0),
            0u);
}

// A tokens file that lacks some of the model's ids (cut short) loads, but
// the toolkit throws when the model emits one of them. The decode fails and
// says so; the next chunks go on failing the same way, and a reset recovers.
TEST(OnlineBackend, TokenMissingFromTheTokensFileFailsTheDecode) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  OnlineInitOptions options = Transducer();
  std::ifstream full(options.tokens);
  std::string tokens;
  for (std::string line; std::getline(full, line) && line.rfind("▁world", 0) != 0;) {
    tokens += line + "\n";
  }
  options.tokens = dir.Write("tokens.txt", tokens);  // up to "▁hello"
  OnlineBackend online;
  std::string error;
  ASSERT_TRUE(online.Init(options, &error)) << error;
  const std::vector<float> audio = Wav("tones");
  std::vector<std::string> texts;
  int failures = 0;
  for (size_t pos = 0; pos < audio.size(); pos += 1600) {
    const std::vector<float> chunk(audio.begin() + static_cast<long>(pos),
                                   audio.begin() + static_cast<long>(std::min(pos + 1600, audio.size())));
    std::string text;
    if (online.AcceptAndDecode(chunk, &text, nullptr, &error)) {
      texts.push_back(text);
      continue;
    }
    ++failures;
    EXPECT_EQ(error.rfind("SherpaOnnxDecodeOnlineStream() exception: ", 0), 0u) << error;
  }
  EXPECT_GT(failures, 0);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "hello"), texts.end());
  EXPECT_FALSE(online.InputFinishedAndDecode(nullptr, &error));
  ASSERT_TRUE(online.Reset(&error)) << error;
  std::string text = "x";
  ASSERT_TRUE(online.AcceptAndDecode(std::vector<float>(1600, 0.0f), &text, nullptr, &error));
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace dictacore
