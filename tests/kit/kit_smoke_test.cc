// Runs every model of the generated test kit in the real toolkit, through the
// engine's own declarations of its C API, on the generated audio, and checks
// that each gives the output its generator promises (see tests/kit/*.py and
// build/audio/manifest.json). Later tests predict engine results from these
// same rules, so a kit that drifts must fail here first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "engine/backends/sherpa_handles.h"
#include "engine/backends/sherpa_onnx_c_api.h"

namespace dictacore {
namespace {

constexpr int32_t kRate = 16000;
const std::string kModels = DICTACORE_MODEL_DIR;
const std::string kAudio = DICTACORE_AUDIO_DIR;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in.tellg();
  std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

template <typename T>
std::vector<T> FromBytes(const std::string& bytes) {
  std::vector<T> out(bytes.size() / sizeof(T));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
  return out;
}

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               (static_cast<unsigned char>(b[at + 1]) << 8));
}

// The kit writes canonical 44-byte-header WAV files; returns the data bytes
// after checking that the header says mono 16 kHz with the given encoding.
std::string KitWavData(const std::string& path, uint16_t format, uint16_t bits) {
  const std::string b = ReadBytes(path);
  EXPECT_GE(b.size(), 44u) << path;
  if (b.size() < 44) return {};
  EXPECT_EQ(b.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(b, 4), b.size() - 8);
  EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le16(b, 20), format);
  EXPECT_EQ(Le16(b, 22), 1);
  EXPECT_EQ(Le32(b, 24), static_cast<uint32_t>(kRate));
  EXPECT_EQ(Le16(b, 34), bits);
  EXPECT_EQ(b.substr(36, 4), "data");
  EXPECT_EQ(Le32(b, 40), b.size() - 44);
  return b.substr(44);
}

const nlohmann::json& Manifest() {
  static const nlohmann::json manifest =
      nlohmann::json::parse(ReadBytes(kAudio + "/manifest.json"));
  return manifest;
}

const nlohmann::json& Entry(const std::string& name) { return Manifest().at("files").at(name); }

std::vector<std::string> FileNames() {
  std::vector<std::string> names;
  for (const auto& item : Manifest().at("files").items()) names.push_back(item.key());
  return names;
}

std::vector<float> LoadSamples(const std::string& name) {
  const std::vector<int16_t> pcm = FromBytes<int16_t>(
      KitWavData(kAudio + "/" + Entry(name).at("wav").get<std::string>(), 1, 16));
  std::vector<float> out(pcm.size());
  std::transform(pcm.begin(), pcm.end(), out.begin(),
                 [](int16_t s) { return static_cast<float>(s) / 32768.0f; });
  return out;
}

struct Word {
  std::string text;
  double start = 0;
  double end = 0;
};

std::vector<Word> Words(const nlohmann::json& list) {
  std::vector<Word> out;
  for (const auto& w : list) {
    out.push_back({w.at("word").get<std::string>(), w.at("start").get<double>(),
                   w.at("end").get<double>()});
  }
  return out;
}

// The text a recognizer prints for a run of words: joined, leading space gone.
std::string Joined(const std::vector<Word>& words) {
  std::string text;
  for (const Word& w : words) text += w.text;
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

// ---------------------------------------------------------------- audio
TEST(KitAudio, EveryFormOfAFileHoldsTheSameSamples) {
  int checked = 0;
  for (const std::string& name : FileNames()) {
    SCOPED_TRACE(name);
    const nlohmann::json& e = Entry(name);
    const std::vector<float> samples = LoadSamples(name);
    EXPECT_EQ(samples.size(), e.at("samples").get<size_t>());
    if (!e.contains("f32le")) continue;
    const std::string s16 = ReadBytes(kAudio + "/" + e.at("s16le").get<std::string>());
    const std::string f32 = ReadBytes(kAudio + "/" + e.at("f32le").get<std::string>());
    EXPECT_EQ(KitWavData(kAudio + "/" + e.at("wav").get<std::string>(), 1, 16), s16);
    EXPECT_EQ(KitWavData(kAudio + "/" + e.at("wav_f32").get<std::string>(), 3, 32), f32);
    EXPECT_EQ(FromBytes<float>(f32), samples);  // exactly s16 / 32768
    ++checked;
  }
  EXPECT_GE(checked, 1);
}

TEST(KitAudio, WordsLieInsideTheirUtterancesInTimeOrder) {
  for (const std::string& name : FileNames()) {
    SCOPED_TRACE(name);
    const nlohmann::json& e = Entry(name);
    const std::vector<Word> words = Words(e.at("words"));
    EXPECT_EQ(Joined(words), e.at("text").get<std::string>());
    for (size_t i = 1; i < words.size(); ++i) EXPECT_GT(words[i].start, words[i - 1].end);
    for (const auto& u : e.at("utterances")) {
      for (const Word& w : Words(u.at("words"))) {
        EXPECT_GE(w.start, u.at("start").get<double>());
        EXPECT_LE(w.end, u.at("end").get<double>());
        EXPECT_GE(w.end - w.start, 0.15) << w.text;
      }
    }
    EXPECT_LE(e.at("duration").get<double>() * kRate, e.at("samples").get<double>() + 1);
  }
}

// ---------------------------------------------------------------- offline
struct Decoded {
  std::string text;
  std::string lang;
  std::vector<std::string> tokens;
  std::vector<float> timestamps;
  bool has_durations = false;
};

Decoded DecodeOffline(const SherpaOnnxOfflineRecognizer* recognizer, const std::vector<float>& samples) {
  Decoded out;
  OfflineStreamHandle stream(SherpaOnnxCreateOfflineStream(recognizer));
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return out;
  SherpaOnnxAcceptWaveformOffline(stream.get(), kRate, samples.data(),
                                  static_cast<int32_t>(samples.size()));
  SherpaOnnxDecodeOfflineStream(recognizer, stream.get());
  OfflineResultHandle result(SherpaOnnxGetOfflineStreamResult(stream.get()));
  EXPECT_NE(result, nullptr);
  if (result == nullptr) return out;
  out.text = result->text != nullptr ? result->text : "";
  out.lang = result->lang != nullptr ? result->lang : "";
  for (int32_t i = 0; i < result->count; ++i) {
    if (result->tokens_arr != nullptr) out.tokens.emplace_back(result->tokens_arr[i]);
    if (result->timestamps != nullptr) out.timestamps.push_back(result->timestamps[i]);
  }
  out.has_durations = result->durations != nullptr;
  return out;
}

std::vector<std::string> Texts(const std::vector<Word>& words) {
  std::vector<std::string> out;
  for (const Word& w : words) out.push_back(w.text);
  return out;
}

struct OfflinePaths {
  std::string model, encoder, decoder, tokens;
};

const OfflinePaths kSenseVoice{kModels + "/sense-voice/model.onnx", "", "",
                               kModels + "/sense-voice/tokens.txt"};
const OfflinePaths kWhisper{"", kModels + "/whisper/encoder.onnx", kModels + "/whisper/decoder.onnx",
                            kModels + "/whisper/tokens.txt"};

// The Latin reading of the CJK words (Whisper task "translate", SenseVoice
// language "en"): 你 好 世 界 become the first four Latin words.
std::vector<Word> Translated(std::vector<Word> words) {
  const std::pair<const char*, const char*> table[] = {
      {"你", " hello"}, {"好", " world"}, {"世", " good"}, {"界", " morning"}};
  for (Word& w : words) {
    for (const auto& [from, to] : table) {
      if (w.text == from) w.text = to;
    }
  }
  return words;
}

OfflineRecognizerHandle SenseVoice(const char* language, int32_t use_itn = 1) {
  SherpaOnnxOfflineRecognizerConfig config{};
  config.model_config.tokens = kSenseVoice.tokens.c_str();
  config.model_config.num_threads = 1;
  config.model_config.provider = "cpu";
  config.model_config.sense_voice.model = kSenseVoice.model.c_str();
  config.model_config.sense_voice.language = language;
  config.model_config.sense_voice.use_itn = use_itn;
  config.decoding_method = "greedy_search";
  return OfflineRecognizerHandle(SherpaOnnxCreateOfflineRecognizer(&config));
}

OfflineRecognizerHandle Whisper(const char* language, const char* task) {
  SherpaOnnxOfflineRecognizerConfig config{};
  config.model_config.tokens = kWhisper.tokens.c_str();
  config.model_config.num_threads = 1;
  config.model_config.provider = "cpu";
  config.model_config.whisper.encoder = kWhisper.encoder.c_str();
  config.model_config.whisper.decoder = kWhisper.decoder.c_str();
  config.model_config.whisper.language = language;
  config.model_config.whisper.task = task;
  config.decoding_method = "greedy_search";
  return OfflineRecognizerHandle(SherpaOnnxCreateOfflineRecognizer(&config));
}

// SenseVoice reports a word at the start of the first 60 ms feature row whose
// first 25 ms frame hears the tone: never before onset - 25 ms, at most one
// row after the onset.
void ExpectSenseVoiceTimes(const Decoded& d, const std::vector<Word>& words, double offset) {
  ASSERT_EQ(d.timestamps.size(), words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    SCOPED_TRACE(words[i].text);
    EXPECT_GE(d.timestamps[i], words[i].start - offset - 0.025);
    EXPECT_LE(d.timestamps[i], words[i].start - offset + 0.06);
  }
}

TEST(KitSenseVoice, ToneWordsComeOutOnceEachWithTheirOnsetTimes) {
  OfflineRecognizerHandle recognizer = SenseVoice("zh");
  ASSERT_NE(recognizer, nullptr);
  const std::vector<Word> words = Words(Entry("tones").at("words"));
  const Decoded d = DecodeOffline(recognizer.get(), LoadSamples("tones"));
  EXPECT_EQ(d.text, "hello world你好好。");  // the repeated 好 survives the gap
  EXPECT_EQ(d.text, Joined(words));
  EXPECT_EQ(d.tokens, Texts(words));
  EXPECT_FALSE(d.has_durations);
  ExpectSenseVoiceTimes(d, words, 0.0);
}

TEST(KitSenseVoice, EveryRecordingDecodesToItsManifestText) {
  OfflineRecognizerHandle recognizer = SenseVoice("zh");
  ASSERT_NE(recognizer, nullptr);
  for (const std::string& name : FileNames()) {
    SCOPED_TRACE(name);
    const Decoded d = DecodeOffline(recognizer.get(), LoadSamples(name));
    EXPECT_EQ(d.text, Entry(name).at("text").get<std::string>());
    ExpectSenseVoiceTimes(d, Words(Entry(name).at("words")), 0.0);
  }
  EXPECT_EQ(Entry("speech_no_words").at("text"), "");
  EXPECT_EQ(Entry("punct_only").at("text"), "。");
}

TEST(KitSenseVoice, AnExcerptYieldsItsOwnWordsTimedFromItsStart) {
  OfflineRecognizerHandle recognizer = SenseVoice("zh");
  ASSERT_NE(recognizer, nullptr);
  const nlohmann::json& second = Entry("speech_pause_speech").at("utterances").at(1);
  const double from = second.at("start").get<double>() - 0.2;
  const double to = second.at("end").get<double>() + 0.1;
  const std::vector<float> all = LoadSamples("speech_pause_speech");
  const std::vector<float> excerpt(all.begin() + static_cast<long>(from * kRate),
                                   all.begin() + static_cast<long>(to * kRate));
  const Decoded d = DecodeOffline(recognizer.get(), excerpt);
  EXPECT_EQ(d.text, "你好世界");
  ExpectSenseVoiceTimes(d, Words(second.at("words")), static_cast<long>(from * kRate) / double(kRate));
}

// The language picks the prompt token the toolkit reports as "lang"; "en"
// also reads the CJK words in Latin, so the setting shows in the text.
TEST(KitSenseVoice, LanguageSettingPicksThePromptTokenAndEnglishReadsCjkInLatin) {
  const std::vector<float> samples = LoadSamples("tones");
  const std::vector<Word> words = Words(Entry("tones").at("words"));
  const std::pair<const char*, const char*> cases[] = {
      {"zh", "<|zh|>"}, {"en", "<|en|>"}, {"auto", "<|auto|>"}, {"yue", "<|yue|>"}, {"", "<|auto|>"},
  };
  for (const auto& [language, token] : cases) {
    SCOPED_TRACE(language);
    OfflineRecognizerHandle recognizer = SenseVoice(language);
    ASSERT_NE(recognizer, nullptr);
    const Decoded d = DecodeOffline(recognizer.get(), samples);
    EXPECT_EQ(d.lang, token);
    const std::vector<Word> want = std::string(language) == "en" ? Translated(words) : words;
    EXPECT_EQ(d.text, Joined(want));
    EXPECT_EQ(d.tokens, Texts(want));
    ExpectSenseVoiceTimes(d, want, 0.0);
  }
}

// Without inverse text normalisation the marks 。 and ？ are not emitted.
TEST(KitSenseVoice, WithoutItnTheMarksDisappear) {
  OfflineRecognizerHandle recognizer = SenseVoice("zh", 0);
  ASSERT_NE(recognizer, nullptr);
  for (const std::string& name : FileNames()) {
    SCOPED_TRACE(name);
    std::vector<Word> want;
    for (const Word& w : Words(Entry(name).at("words"))) {
      if (w.text != "。" && w.text != "？") want.push_back(w);
    }
    const Decoded d = DecodeOffline(recognizer.get(), LoadSamples(name));
    EXPECT_EQ(d.text, Joined(want));
    ExpectSenseVoiceTimes(d, want, 0.0);
  }
  EXPECT_EQ(DecodeOffline(recognizer.get(), LoadSamples("punct_only")).text, "");
}

// The toolkit checks the SenseVoice language when the recognizer is made:
// only auto, zh, en, ja, ko, yue (exactly, lower case) or empty pass.
TEST(KitSenseVoice, LanguageOutsideTheToolkitListFailsCreation) {
  for (const char* language : {"fr", "ZH", "Auto", "zh,en"}) {
    EXPECT_EQ(SenseVoice(language), nullptr) << language;
  }
}

TEST(KitWhisper, LanguageAndTaskSettingsGiveTheWordsInOrder) {
  const std::vector<float> samples = LoadSamples("tones");
  const std::vector<Word> words = Words(Entry("tones").at("words"));
  struct Case {
    const char* language;
    const char* task;
    const char* lang;
    std::vector<Word> words;
  };
  for (const Case& c : {Case{"", "transcribe", "zh", words}, Case{"en", "transcribe", "en", words},
                        Case{"de", "translate", "de", Translated(words)}}) {
    SCOPED_TRACE(std::string(c.language) + "/" + c.task);
    OfflineRecognizerHandle recognizer = Whisper(c.language, c.task);
    ASSERT_NE(recognizer, nullptr);
    const Decoded d = DecodeOffline(recognizer.get(), samples);
    EXPECT_EQ(d.text, Joined(c.words));
    EXPECT_EQ(d.tokens, Texts(c.words));
    EXPECT_EQ(d.lang, c.lang);
    EXPECT_TRUE(d.timestamps.empty());
  }
  EXPECT_EQ(Joined(Translated(words)), "hello world hello world world。");
  // The task holds for every decode of the recognizer, not only the first.
  OfflineRecognizerHandle translating = Whisper("", "translate");
  ASSERT_NE(translating, nullptr);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(DecodeOffline(translating.get(), LoadSamples("speech_pause_speech")).text,
              "hello world hello world good morning");
  }
}

TEST(KitWhisper, WithoutALanguageTheModelAnswersZhForCjkWordsElseEn) {
  OfflineRecognizerHandle recognizer = Whisper("", "transcribe");
  ASSERT_NE(recognizer, nullptr);
  const Decoded mixed = DecodeOffline(recognizer.get(), LoadSamples("long_utterance"));
  EXPECT_EQ(mixed.text, Entry("long_utterance").at("text").get<std::string>());
  EXPECT_EQ(mixed.lang, "zh");
  std::vector<float> first_words = LoadSamples("speech_pause_speech");
  first_words.resize(static_cast<size_t>(2.0 * kRate));
  EXPECT_EQ(DecodeOffline(recognizer.get(), first_words).lang, "en");
}

TEST(KitWhisper, OnlyTheFirst29AndAHalfSecondsAreHeardSo29SecondPiecesCoverAll) {
  OfflineRecognizerHandle recognizer = Whisper("en", "transcribe");
  ASSERT_NE(recognizer, nullptr);
  const std::vector<float> samples = LoadSamples("long_recording");
  const std::vector<Word> words = Words(Entry("long_recording").at("words"));
  ASSERT_GT(samples.size(), 35u * kRate);
  std::vector<Word> heard, rest;
  for (const Word& w : words) (w.start < 29.5 ? heard : rest).push_back(w);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(DecodeOffline(recognizer.get(), samples).text, Joined(heard));

  // Pieces of at most 29 s, as the engine cuts them, lose nothing (no word
  // straddles the cut in this recording).
  const size_t cut = 29 * kRate;
  std::vector<Word> before, after;
  for (const Word& w : words) {
    ASSERT_TRUE(w.end * kRate < cut || w.start * kRate >= cut) << w.text;
    (w.start * kRate < cut ? before : after).push_back(w);
  }
  const Decoded a = DecodeOffline(recognizer.get(), std::vector<float>(samples.begin(), samples.begin() + cut));
  const Decoded b = DecodeOffline(recognizer.get(), std::vector<float>(samples.begin() + cut, samples.end()));
  EXPECT_EQ(a.text, Joined(before));
  EXPECT_EQ(b.text, Joined(after));
}

// The toolkit accepts any language string when the recognizer is created,
// but a value that is not one of the model's codes (a list, "auto", upper
// case) ends the whole process at the first decode.
TEST(KitWhisperDeathTest, LanguageOutsideTheModelCodesEndsTheProcessAtDecode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<float> samples = LoadSamples("tones");
  for (const char* language : {"zh,en,fr,de,es", "auto", "EN"}) {
    SCOPED_TRACE(language);
    OfflineRecognizerHandle recognizer = Whisper(language, "transcribe");
    ASSERT_NE(recognizer, nullptr);
    EXPECT_EXIT(DecodeOffline(recognizer.get(), samples), ::testing::ExitedWithCode(255),
                "Invalid language");
  }
}

// ---------------------------------------------------------------- punctuation
TEST(KitPunctuation, CommaAfterEveryFourthTokenAndAFullStopAtTheEnd) {
  const std::string model = kModels + "/punct/model.onnx";
  SherpaOnnxOfflinePunctuationConfig config{};
  config.model.ct_transformer = model.c_str();
  config.model.num_threads = 1;
  config.model.provider = "cpu";
  PunctuationHandle punct(SherpaOnnxCreateOfflinePunctuation(&config));
  ASSERT_NE(punct, nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"hello world", "hello world。"},
      {"你好世界", "你好世界。"},  // a comma on the last token turns into the full stop
      {"你好世界今天", "你好世界，今天。"},
      {"今天天气很好", "今天天气，很好。"},
      {"Hello World good morning everyone", "Hello World good morning，everyone。"},
      {"hello world你好世界 good", "hello world你好，世界good。"},  // CJK/Latin joins drop the space
      {"a b c d e f g h i j", "a b c d，e f g h，i j。"},
      {"zebra quokka", "zebra quokka。"},  // unknown words are punctuated alike
      {"。", "。"},
  };
  for (const auto& [in, want] : cases) {
    PunctuatedTextHandle out(SherpaOfflinePunctuationAddPunct(punct.get(), in));
    ASSERT_NE(out, nullptr) << in;
    EXPECT_EQ(std::string(out.get()), want) << in;
  }
  // Past 20 tokens the toolkit feeds the model again from the start; the
  // rule still counts from the first token.
  std::string many, want;
  for (int i = 1; i <= 30; ++i) {
    many += "好";
    want += "好";
    if (i % 4 == 0 && i != 30) want += "，";
  }
  PunctuatedTextHandle out(SherpaOfflinePunctuationAddPunct(punct.get(), many.c_str()));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::string(out.get()), want + "。");
}

// ---------------------------------------------------------------- streaming
// The two streaming families of the kit and what tells them apart.
struct StreamingModel {
  const char* name;
  const char* model_type;
  std::string dir;
  bool joiner;
  // Longest delay, in seconds of fed audio, from a word's onset until the
  // partial text shows it: one encoder chunk (0.32 s transducer; 0.6 s plus
  // 3 rows of right context paraformer) and the 100 ms feeding step.
  double latency;
  // Earliest and latest endpoint after the last word's onset under rule 2
  // (0.8 s): the transducer counts silence from the word's output frame, the
  // paraformer from the start of the chunk that found the word.
  double endpoint_min;
  double endpoint_max;
};

std::ostream& operator<<(std::ostream& os, const StreamingModel& m) { return os << m.name; }

const StreamingModel kTransducer{"transducer", "transducer", kModels + "/streaming/", true, 0.5, 0.8, 1.3};
const StreamingModel kParaformer{"paraformer", "paraformer", kModels + "/streaming-paraformer/", false, 1.4, 0.3,
                                 2.0};

OnlineRecognizerHandle Streaming(const StreamingModel& m) {
  const std::string encoder = m.dir + "encoder.onnx", decoder = m.dir + "decoder.onnx",
                    joiner = m.dir + "joiner.onnx", tokens = m.dir + "tokens.txt";
  SherpaOnnxOnlineRecognizerConfig config{};
  config.feat_config.sample_rate = kRate;
  config.feat_config.feature_dim = 80;
  if (m.joiner) {
    config.model_config.transducer.encoder = encoder.c_str();
    config.model_config.transducer.decoder = decoder.c_str();
    config.model_config.transducer.joiner = joiner.c_str();
  } else {
    config.model_config.paraformer.encoder = encoder.c_str();
    config.model_config.paraformer.decoder = decoder.c_str();
  }
  config.model_config.tokens = tokens.c_str();
  config.model_config.num_threads = 1;
  config.model_config.provider = "cpu";
  config.model_config.model_type = m.model_type;
  config.decoding_method = "greedy_search";
  config.max_active_paths = 4;
  config.enable_endpoint = 1;
  config.rule1_min_trailing_silence = 1.8f;
  config.rule2_min_trailing_silence = 0.8f;
  config.rule3_min_utterance_length = 8.0f;
  return OnlineRecognizerHandle(SherpaOnnxCreateOnlineRecognizer(&config));
}

bool IsLatin(const std::string& token) {
  return !token.empty() && static_cast<unsigned char>(token.back()) < 0x80;
}

// The paraformer's text: a space before every Latin word and between a Latin
// word and a following CJK character; the leading space is dropped.
std::string ParaformerJoined(const std::vector<Word>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string bare = words[i].text.substr(words[i].text.find_first_not_of(' '));
    if (IsLatin(bare) || (i > 0 && IsLatin(words[i - 1].text))) text += " ";
    text += bare;
  }
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

// One observation after feeding a 100 ms chunk.
struct Partial {
  double fed = 0;  // seconds of audio fed to this stream
  std::string text;
  bool endpoint = false;
  std::vector<float> timestamps;
};

class KitStreaming : public ::testing::TestWithParam<StreamingModel> {
 protected:
  void SetUp() override {
    recognizer_ = Streaming(GetParam());
    ASSERT_NE(recognizer_, nullptr);
  }

  std::string Text(const std::vector<Word>& words) const {
    return GetParam().joiner ? Joined(words) : ParaformerJoined(words);
  }

  // Feeds samples [from, to) to a fresh stream in 100 ms chunks, the way the
  // live loop does, and records the result and endpoint flag after each.
  std::vector<Partial> Feed(const std::vector<float>& samples, size_t from, size_t to) const {
    std::vector<Partial> out;
    OnlineStreamHandle stream(SherpaOnnxCreateOnlineStream(recognizer_.get()));
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) return out;
    const SherpaOnnxOnlineRecognizer* r = recognizer_.get();
    const size_t chunk = kRate / 10;
    for (size_t at = from; at < to; at += chunk) {
      const size_t n = std::min(chunk, to - at);
      SherpaOnnxOnlineStreamAcceptWaveform(stream.get(), kRate, samples.data() + at, static_cast<int32_t>(n));
      while (SherpaOnnxIsOnlineStreamReady(r, stream.get())) SherpaOnnxDecodeOnlineStream(r, stream.get());
      OnlineResultHandle result(SherpaOnnxGetOnlineStreamResult(r, stream.get()));
      Partial p;
      p.fed = static_cast<double>(at + n - from) / kRate;
      if (result != nullptr && result->text != nullptr) p.text = result->text;
      if (result != nullptr && result->timestamps != nullptr) {
        p.timestamps.assign(result->timestamps, result->timestamps + result->count);
      }
      p.endpoint = SherpaOnnxOnlineStreamIsEndpoint(r, stream.get()) != 0;
      out.push_back(p);
    }
    return out;
  }

  std::vector<Partial> FeedAll(const std::vector<float>& samples) const {
    return Feed(samples, 0, samples.size());
  }

  static std::vector<Partial>::const_iterator FirstEndpoint(const std::vector<Partial>& partials) {
    return std::find_if(partials.begin(), partials.end(), [](const Partial& p) { return p.endpoint; });
  }

  OnlineRecognizerHandle recognizer_;
};

INSTANTIATE_TEST_SUITE_P(BothFamilies, KitStreaming, ::testing::Values(kTransducer, kParaformer),
                         [](const ::testing::TestParamInfo<StreamingModel>& param) {
                           return std::string(param.param.name);
                         });

// A word shows once the encoder chunk holding its onset has been decoded:
// never before its onset, at most `latency` after it, and the text is always
// the words so far. The transducer also
// times each word within 0.06 s of its onset; the paraformer gives no times.
TEST_P(KitStreaming, PartialTextGrowsByOneWordAfterEachOnset) {
  for (const char* name : {"tones", "long_utterance"}) {
    SCOPED_TRACE(name);
    const std::vector<Word> words = Words(Entry(name).at("words"));
    std::vector<Partial> partials = FeedAll(LoadSamples(name));
    const auto endpoint = FirstEndpoint(partials);  // rule 3 cuts long_utterance at 8 s
    partials.erase(endpoint, partials.end());
    ASSERT_FALSE(partials.empty());
    size_t shown = 0;
    for (size_t k = 0; k < words.size(); ++k) {
      SCOPED_TRACE(words[k].text);
      const std::vector<Word> prefix(words.begin(), words.begin() + static_cast<long>(k) + 1);
      // The first partial showing at least these k + 1 words (a paraformer
      // chunk may bring two at once).
      const auto first = std::find_if(partials.begin(), partials.end(),
                                      [&](const Partial& p) { return p.text.rfind(Text(prefix), 0) == 0; });
      if (first == partials.end()) break;
      ++shown;
      EXPECT_GT(first->fed, words[k].start);
      EXPECT_LE(first->fed, words[k].start + GetParam().latency);
      if (!GetParam().joiner) {
        EXPECT_TRUE(first->timestamps.empty());
        continue;
      }
      ASSERT_GE(first->timestamps.size(), k + 1);
      EXPECT_GE(first->timestamps[k], words[k].start - 0.04);
      EXPECT_LE(first->timestamps[k], words[k].start + 0.06);
    }
    // Every word whose onset lies a full latency before the end is shown.
    const double end = partials.back().fed;
    const size_t due = static_cast<size_t>(std::count_if(
        words.begin(), words.end(), [&](const Word& w) { return w.start + GetParam().latency <= end; }));
    EXPECT_GE(shown, due);
    EXPECT_GE(shown, 6u);
    // Every partial is exactly the first m words for some m, and m only grows.
    const auto first_words = [&](size_t count) {
      return Text(std::vector<Word>(words.begin(), words.begin() + static_cast<long>(count)));
    };
    size_t m = 0;
    for (const Partial& p : partials) {
      while (m <= words.size() && p.text != first_words(m)) ++m;
      ASSERT_LE(m, words.size()) << "not a run of first words, or shrinking: " << p.text;
    }
    EXPECT_EQ(partials.back().text, first_words(shown));
  }
}

// Rule 2: trailing silence after the last word reaches 0.8 s; the flag then
// stays up until the stream is replaced.
TEST_P(KitStreaming, EndpointFollowsTheLastWordAfterTheRuleTwoSilence) {
  const std::vector<Word> words = Words(Entry("tones").at("words"));
  const std::vector<Partial> partials = FeedAll(LoadSamples("tones"));
  const auto first = FirstEndpoint(partials);
  ASSERT_NE(first, partials.end());
  EXPECT_EQ(first->text, Text(words));
  EXPECT_GT(first->fed, words.back().start + GetParam().endpoint_min);
  EXPECT_LE(first->fed, words.back().start + GetParam().endpoint_max);
  EXPECT_TRUE(std::all_of(first, partials.end(), [](const Partial& p) { return p.endpoint; }));
}

// Rule 1: with nothing decoded, 1.8 s of silence make an endpoint.
TEST_P(KitStreaming, SilenceAloneEndsAfterTheRuleOneSilence) {
  const std::vector<Partial> partials = FeedAll(std::vector<float>(3 * kRate, 0.0f));
  const auto first = FirstEndpoint(partials);
  ASSERT_NE(first, partials.end());
  EXPECT_GT(first->fed, 1.8);
  EXPECT_LE(first->fed, 1.8 + 0.7);
  EXPECT_TRUE(std::all_of(partials.begin(), partials.end(), [](const Partial& p) { return p.text.empty(); }));
}

// A fresh stream after each endpoint gives one utterance's words each time,
// as the live loop sees them.
TEST_P(KitStreaming, ANewStreamAfterEachEndpointStartsFromNothing) {
  const std::vector<float> samples = LoadSamples("speech_pause_speech");
  std::vector<std::string> texts;
  for (size_t at = 0; at < samples.size();) {
    const std::vector<Partial> partials = Feed(samples, at, samples.size());
    ASSERT_FALSE(partials.empty());
    const auto end = FirstEndpoint(partials);
    const Partial& last = end != partials.end() ? *end : partials.back();
    if (!last.text.empty()) texts.push_back(last.text);
    at += static_cast<size_t>(std::llround(last.fed * kRate));
  }
  std::vector<std::string> want;
  for (const auto& u : Entry("speech_pause_speech").at("utterances")) want.push_back(Text(Words(u.at("words"))));
  EXPECT_EQ(texts, want);
}

// ---------------------------------------------------------------- VAD
struct Segment {
  double start = 0;
  double end = 0;
};

std::vector<Segment> RunVad(const std::string& model, const std::vector<float>& samples) {
  SherpaOnnxVadModelConfig config{};
  config.silero_vad.model = model.c_str();
  config.silero_vad.threshold = 0.5f;
  config.silero_vad.min_silence_duration = 0.5f;
  config.silero_vad.min_speech_duration = 0.25f;
  config.silero_vad.max_speech_duration = 120.0f;
  config.silero_vad.window_size = 512;
  config.sample_rate = kRate;
  config.num_threads = 1;
  config.provider = "cpu";
  std::vector<Segment> out;
  VadHandle vad(SherpaOnnxCreateVoiceActivityDetector(&config, 120.0f));
  EXPECT_NE(vad, nullptr) << model;
  if (vad == nullptr) return out;
  const auto drain = [&] {
    while (SherpaOnnxVoiceActivityDetectorEmpty(vad.get()) == 0) {
      SpeechSegmentHandle seg(SherpaOnnxVoiceActivityDetectorFront(vad.get()));
      if (seg != nullptr) {
        out.push_back({static_cast<double>(seg->start) / kRate,
                       static_cast<double>(seg->start + seg->n) / kRate});
      }
      SherpaOnnxVoiceActivityDetectorPop(vad.get());
    }
  };
  for (size_t at = 0; at < samples.size(); at += kRate / 10) {
    const size_t n = std::min<size_t>(kRate / 10, samples.size() - at);
    SherpaOnnxVoiceActivityDetectorAcceptWaveform(vad.get(), samples.data() + at, static_cast<int32_t>(n));
    drain();
  }
  SherpaOnnxVoiceActivityDetectorFlush(vad.get());
  drain();
  return out;
}

// Utterances closer than the detector's 0.5 s minimum silence form one
// speech stretch; each stretch should come back as one segment that starts
// within 0.15 s before / 0.3 s after it and ends up to 0.3 s after it.
std::vector<Segment> SpeechStretches(const std::string& name) {
  std::vector<Segment> out;
  for (const auto& u : Entry(name).at("utterances")) {
    const Segment s{u.at("start").get<double>(), u.at("end").get<double>()};
    if (!out.empty() && s.start - out.back().end < 0.5) {
      out.back().end = s.end;
    } else {
      out.push_back(s);
    }
  }
  return out;
}

TEST(KitVad, BothSileroModelsFindTheSpeechStretchesOfEveryRecording) {
  for (const char* file : {"silero_vad_v5.onnx", "silero_vad_legacy.onnx"}) {
    const std::string model = kModels + "/silero/" + file;
    for (const std::string& name : FileNames()) {
      SCOPED_TRACE(std::string(file) + " " + name);
      const std::vector<Segment> found = RunVad(model, LoadSamples(name));
      const std::vector<Segment> want = SpeechStretches(name);
      ASSERT_EQ(found.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_GE(found[i].start, want[i].start - 0.15);
        EXPECT_LE(found[i].start, want[i].start + 0.3);
        EXPECT_GE(found[i].end, want[i].end - 0.1);
        EXPECT_LE(found[i].end, want[i].end + 0.3);
      }
    }
  }
}

}  // namespace
}  // namespace dictacore
