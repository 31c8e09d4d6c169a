// Every model file the engine loads, broken in the ways downloads and disks
// break them: missing, a directory where the file should be (unreadable),
// empty, and cut to half its size. The engine reports the failure in the
// words of the start-up step that loads the model and goes on where it can:
// without punctuation, VAD groups, live partials, diarization or names; a
// file decode without its second-pass model ends with status 1. It never
// dies.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/engine_session.h"
#include "tests/support/sanitizers.h"

namespace dictacore {
namespace {

using testing::AudioPath;
using testing::EngineRun;
using testing::EngineSession;
using testing::ModelPath;
using testing::RunEngine;

enum class Fault { kMissing, kDirectory, kEmpty, kTruncated };

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kMissing: return "Missing";
    case Fault::kDirectory: return "Directory";
    case Fault::kEmpty: return "Empty";
    case Fault::kTruncated: return "Truncated";
  }
  return "";
}

// The broken stand-in for `source` (a kit file), made in `dir`.
std::string BreakFile(const ScopedTempDir& dir, const std::string& source, Fault fault) {
  const std::string name = source.substr(source.find_last_of('/') + 1);
  switch (fault) {
    case Fault::kMissing:
      return dir.File("missing/" + name);
    case Fault::kDirectory: {
      const std::string path = dir.File(name);
      std::filesystem::create_directory(path);
      return path;
    }
    case Fault::kEmpty:
      return dir.Write(name, "");
    case Fault::kTruncated: {
      const std::string whole = ReadWholeFile(source);
      return dir.Write(name, whole.substr(0, whole.size() / 2));
    }
  }
  return std::string();
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string kSenseVoiceModel = ModelPath("sense-voice/model.onnx");
const std::string kSenseVoiceTokens = ModelPath("sense-voice/tokens.txt");
const std::string kVad = ModelPath("silero/silero_vad_v5.onnx");
const std::string kSpeech = AudioPath("speech_pause_speech.wav");

std::vector<std::string> SenseVoice(const std::string& model = kSenseVoiceModel) {
  return {"--manual-mode", "--second-model", model, "--second-tokens", kSenseVoiceTokens};
}

std::vector<std::string> Whisper(const std::string& encoder, const std::string& decoder) {
  return {"--manual-mode", "--second-type", "whisper", "--second-encoder", encoder,
          "--second-decoder", decoder, "--second-tokens", ModelPath("whisper/tokens.txt")};
}

std::vector<std::string> Realtime(const std::vector<std::string>& first_pass,
                                  const std::string& vad = kVad) {
  return Join(Join(SenseVoice(), {"--manual-realtime", "--silero-vad-model", vad}), first_pass);
}

std::vector<std::string> Transducer(const std::string& encoder, const std::string& decoder,
                                    const std::string& joiner,
                                    const std::string& tokens = ModelPath("streaming/tokens.txt")) {
  return {"--first-encoder", encoder, "--first-decoder", decoder, "--first-joiner", joiner,
          "--first-tokens", tokens};
}

std::vector<std::string> Paraformer(const std::string& encoder, const std::string& decoder) {
  return {"--first-model-type", "paraformer", "--first-encoder", encoder, "--first-decoder",
          decoder, "--first-tokens", ModelPath("streaming-paraformer/tokens.txt")};
}

std::vector<std::string> Diarized(const std::string& segmentation, const std::string& embedding) {
  return Join(SenseVoice(), {"--diarization", "--diarization-segmentation-model", segmentation,
                             "--diarization-embedding-model", embedding});
}

const std::string kStreaming = ModelPath("streaming/");
const std::string kParaformer = ModelPath("streaming-paraformer/");
const std::string kSegmentation = ModelPath("speaker/segmentation.onnx");
const std::string kEmbedding = ModelPath("speaker/embedding.onnx");

// How a run with the broken file must go.
enum class Run {
  kFileFails,    // file mode: the log line, an error, "File decode failed", status 1
  kFileGoesOn,   // file mode: the log line, then a result and status 0
  kLiveGoesOn,   // live mode: the log line (and the fall-back line), ready, a clean quit
  kCommandFails  // a one-shot command: one error event, status 1
};

struct Slot {
  const char* name;
  std::string source;                                           // the kit file broken
  std::function<std::vector<std::string>(const std::string&)> args;  // with the broken path
  Run run;
  std::string report;     // the line (prefix) that reports the failure
  std::string fallback;   // a log line that must follow it, or empty
};

std::vector<Slot> Slots() {
  return {
      {"SenseVoiceModel", kSenseVoiceModel,
       [](const std::string& p) { return Join(SenseVoice(p), {"--wav-input", kSpeech}); },
       Run::kFileFails, "[M2] Offline decoder init failed: SherpaOnnxCreateOfflineRecognizer() failed",
       "[M2] Running in skeleton fallback mode"},
      {"WhisperEncoder", ModelPath("whisper/encoder.onnx"),
       [](const std::string& p) {
         return Join(Whisper(p, ModelPath("whisper/decoder.onnx")), {"--wav-input", kSpeech});
       },
       Run::kFileFails, "[M2] Offline decoder init failed: SherpaOnnxCreateOfflineRecognizer() failed",
       "[M2] Running in skeleton fallback mode"},
      {"WhisperDecoder", ModelPath("whisper/decoder.onnx"),
       [](const std::string& p) {
         return Join(Whisper(ModelPath("whisper/encoder.onnx"), p), {"--wav-input", kSpeech});
       },
       Run::kFileFails, "[M2] Offline decoder init failed: SherpaOnnxCreateOfflineRecognizer() failed",
       "[M2] Running in skeleton fallback mode"},
      {"Punctuation", ModelPath("punct/model.onnx"),
       [](const std::string& p) {
         return Join(SenseVoice(), {"--ct-transformer", p, "--wav-input", kSpeech});
       },
       Run::kFileGoesOn, "[M3] Offline punctuation init failed: SherpaOnnxCreateOfflinePunctuation() failed",
       ""},
      {"VadInFileMode", kVad,
       [](const std::string& p) {
         return Join(SenseVoice(), {"--silero-vad-model", p, "--wav-input", kSpeech});
       },
       Run::kFileGoesOn,
       "offline_2pass VAD init failed, fallback to chunk decode: "
       "SherpaOnnxCreateVoiceActivityDetector() failed",
       ""},
      {"VadLive", kVad,
       [](const std::string& p) {
         return Realtime(Transducer(kStreaming + "encoder.onnx", kStreaming + "decoder.onnx",
                                    kStreaming + "joiner.onnx"),
                         p);
       },
       Run::kLiveGoesOn, "[M2] VAD init failed: SherpaOnnxCreateVoiceActivityDetector() failed",
       "[M2] manual-realtime will fallback to legacy buffering"},
      {"StreamingEncoder", kStreaming + "encoder.onnx",
       [](const std::string& p) {
         return Realtime(Transducer(p, kStreaming + "decoder.onnx", kStreaming + "joiner.onnx"));
       },
       Run::kLiveGoesOn, "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed",
       "[M3] first-pass will fallback to placeholder events"},
      {"StreamingDecoder", kStreaming + "decoder.onnx",
       [](const std::string& p) {
         return Realtime(Transducer(kStreaming + "encoder.onnx", p, kStreaming + "joiner.onnx"));
       },
       Run::kLiveGoesOn, "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed",
       "[M3] first-pass will fallback to placeholder events"},
      {"StreamingJoiner", kStreaming + "joiner.onnx",
       [](const std::string& p) {
         return Realtime(Transducer(kStreaming + "encoder.onnx", kStreaming + "decoder.onnx", p));
       },
       Run::kLiveGoesOn, "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed",
       "[M3] first-pass will fallback to placeholder events"},
      {"ParaformerEncoder", kParaformer + "encoder.onnx",
       [](const std::string& p) { return Realtime(Paraformer(p, kParaformer + "decoder.onnx")); },
       Run::kLiveGoesOn, "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed",
       "[M3] first-pass will fallback to placeholder events"},
      {"ParaformerDecoder", kParaformer + "decoder.onnx",
       [](const std::string& p) { return Realtime(Paraformer(kParaformer + "encoder.onnx", p)); },
       Run::kLiveGoesOn, "[M3] Online recognizer init failed: SherpaOnnxCreateOnlineRecognizer() failed",
       "[M3] first-pass will fallback to placeholder events"},
      {"Segmentation", kSegmentation,
       [](const std::string& p) { return Join(Diarized(p, kEmbedding), {"--wav-input", kSpeech}); },
       Run::kFileGoesOn,
       "[M2] Speaker diarization init failed: sherpa-onnx backend init failed: "
       "SherpaOnnxCreateOfflineSpeakerDiarization() failed",
       ""},
      {"DiarizationEmbedding", kEmbedding,
       [](const std::string& p) {
         return Join(Diarized(kSegmentation, p), {"--wav-input", kSpeech});
       },
       Run::kFileGoesOn,
       "[M2] Speaker diarization init failed: sherpa-onnx backend init failed: "
       "SherpaOnnxCreateOfflineSpeakerDiarization() failed",
       ""},
      {"SpeakerIdEmbedding", kEmbedding,
       [](const std::string& p) {
         return Join(Diarized(kSegmentation, kEmbedding),
                     {"--speaker-id", "--speaker-embedding-model", p, "--speaker-enroll-db",
                      "/nonexistent/enroll.txt", "--wav-input", kSpeech});
       },
       Run::kFileGoesOn, "[M2] Speaker identification init failed: ", ""},
      {"RegisterEmbedding", kEmbedding,
       [](const std::string& p) {
         return std::vector<std::string>{"--register-name", "Ann", "--register-input",
                                         AudioPath("speaker/a_enroll.wav"), "--speaker-enroll-db",
                                         "/tmp/dictacore-never-written/enroll.txt",
                                         "--speaker-embedding-model", p};
       },
       Run::kCommandFails, "register: ", ""},
  };
}

struct Param {
  Slot slot;
  Fault fault;
};

std::vector<Param> Params() {
  std::vector<Param> params;
  for (const Slot& slot : Slots()) {
    for (Fault fault : {Fault::kMissing, Fault::kDirectory, Fault::kEmpty, Fault::kTruncated}) {
      params.push_back({slot, fault});
    }
  }
  return params;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The log (or error) message that starts with `prefix`, or empty.
template <typename Events>
std::string FindMessage(const Events& events, const std::string& type, const std::string& prefix) {
  for (const auto& e : events) {
    if (e["type"] == type && StartsWith(e["message"].template get<std::string>(), prefix)) {
      return e["message"];
    }
  }
  return std::string();
}

// The message that comes right after `message` among the logs.
std::string LogAfter(const std::vector<std::string>& logs, const std::string& message) {
  for (size_t i = 0; i + 1 < logs.size(); ++i) {
    if (logs[i] == message) return logs[i + 1];
  }
  return std::string();
}

class BrokenModelFile : public ::testing::TestWithParam<Param> {
 protected:
  ScopedTempDir dir_{"broken-model"};
  testing::ScopedToolkitFailureSuppressions toolkit_failure_leaks_{dir_.File("lsan.supp")};
};

TEST_P(BrokenModelFile, IsReportedAndTheEngineGoesOn) {
  ASSERT_FALSE(dir_.path().empty());
  const Slot& slot = GetParam().slot;
  const std::string broken = BreakFile(dir_, slot.source, GetParam().fault);
  const std::vector<std::string> args = slot.args(broken);

  if (slot.run == Run::kLiveGoesOn) {
    EngineSession engine(args);
    ASSERT_TRUE(engine.WaitForType("ready"));
    engine.SendCommand("quit");
    engine.CloseAudio();
    const auto result = engine.Finish();
    EXPECT_EQ(result.exit_code, 0) << "signal " << result.term_signal;
    const std::string report = FindMessage(engine.events(), "log", slot.report);
    ASSERT_FALSE(report.empty()) << "no log line starting with \"" << slot.report << "\"";
    EXPECT_EQ(LogAfter(engine.Logs(), report), slot.fallback);
    EXPECT_EQ(engine.events().back()["message"], "Session ended (partial M2)");
    EXPECT_TRUE(engine.bad_lines().empty());
    return;
  }

  const EngineRun run = RunEngine(args);
  EXPECT_EQ(run.result.term_signal, 0) << "the engine died: " << run.result.err;
  EXPECT_TRUE(run.bad_lines.empty());
  ASSERT_FALSE(run.events.empty());
  if (slot.run == Run::kCommandFails) {
    EXPECT_EQ(run.result.exit_code, 1);
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_FALSE(FindMessage(run.events, "error", slot.report).empty()) << run.result.out;
    return;
  }
  const std::string report = FindMessage(run.events, "log", slot.report);
  ASSERT_FALSE(report.empty()) << "no log line starting with \"" << slot.report << "\"\n"
                               << run.result.out;
  if (!slot.fallback.empty()) {
    EXPECT_EQ(LogAfter(run.Logs(), report), slot.fallback);
  }
  const auto& last = run.events.back();
  EXPECT_EQ(last["type"], "complete");
  if (slot.run == Run::kFileFails) {
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_EQ(last["message"], "File decode failed");
    const std::string error = FindMessage(run.events, "error", "Decoder is not ready for --wav-input: ");
    EXPECT_FALSE(error.empty()) << run.result.out;
    EXPECT_TRUE(run.OfType("result").empty());
  } else {
    EXPECT_EQ(run.result.exit_code, 0) << run.result.out;
    EXPECT_EQ(last["message"], "WAV decode done");
    const auto results = run.OfType("result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]["segments"].empty());
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModelKind, BrokenModelFile, ::testing::ValuesIn(Params()),
                         [](const ::testing::TestParamInfo<Param>& param) {
                           return std::string(param.param.slot.name) +
                                  FaultName(param.param.fault);
                         });

// A start-up step that cannot load its model follows its report with a line
// naming the option and the file, the way a user finds what to fix.
class UnloadableModelFile : public ::testing::Test {
 protected:
  ScopedTempDir dir_{"unloadable-model"};
  testing::ScopedToolkitFailureSuppressions toolkit_failure_leaks_{dir_.File("lsan.supp")};
};

TEST_F(UnloadableModelFile, IsNamedWithItsOption) {
  ASSERT_FALSE(dir_.path().empty());
  const std::string missing = BreakFile(dir_, kSenseVoiceModel, Fault::kMissing);
  const std::string tokens = BreakFile(dir_, kSenseVoiceTokens, Fault::kMissing);
  const std::string folder = BreakFile(dir_, ModelPath("punct/model.onnx"), Fault::kDirectory);
  const std::string empty = BreakFile(dir_, kVad, Fault::kEmpty);
  const std::string not_onnx = dir_.Write("segmentation.tar.bz2", "BZh91AY&SY");

  EngineRun run = RunEngine({"--manual-mode", "--second-model", missing, "--second-tokens", tokens,
                             "--wav-input", kSpeech});
  EXPECT_TRUE(run.HasLog("[M2] --second-model " + missing + ": no such file")) << run.result.out;
  EXPECT_TRUE(run.HasLog("[M2] --second-tokens " + tokens + ": no such file"));

  run = RunEngine(Join(Diarized(not_onnx, kEmbedding), {"--ct-transformer", folder,
                                                        "--silero-vad-model", empty,
                                                        "--wav-input", kSpeech}));
  EXPECT_TRUE(run.HasLog("[M3] --ct-transformer " + folder + ": is a directory, not a model file"))
      << run.result.out;
  EXPECT_TRUE(run.HasLog("[OFFLINE2PASS] --silero-vad-model " + empty + ": is empty"));
  EXPECT_TRUE(run.HasLog("[M2] --diarization-segmentation-model " + not_onnx +
                         ": is not an ONNX model"));
  EXPECT_FALSE(run.HasLog("[M2] --diarization-embedding-model")) << "that one loads";

  // Live: each line follows its step's fall-back line.
  EngineSession engine(Realtime(
      Transducer(kStreaming + "encoder.onnx", kStreaming + "decoder.onnx", missing), empty));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_EQ(LogAfter(engine.Logs(), "[M3] first-pass will fallback to placeholder events"),
            "[M3] --first-joiner " + missing + ": no such file");
  EXPECT_EQ(LogAfter(engine.Logs(), "[M2] manual-realtime will fallback to legacy buffering"),
            "[M2] --silero-vad-model " + empty + ": is empty");
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
}

// The tokens files: the toolkit reads them itself, ends the process on a
// line it cannot read, and throws at decode time when the model emits an id
// the file lacks.
class BrokenTokensFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  EngineRun Decode(const std::string& tokens) const {
    return RunEngine({"--manual-mode", "--second-model", kSenseVoiceModel, "--second-tokens",
                      tokens, "--wav-input", kSpeech});
  }
  ScopedTempDir dir_{"broken-tokens"};
};

TEST_F(BrokenTokensFile, ModelFileGivenAsTokensIsRefusedBeforeTheToolkit) {
  const EngineRun run = Decode(kSenseVoiceModel);
  EXPECT_EQ(run.result.exit_code, 1) << "signal " << run.result.term_signal;
  const std::string report =
      FindMessage(run.events, "log", "[M2] Offline decoder init failed: tokens file " +
                                         kSenseVoiceModel + ": line ");
  ASSERT_FALSE(report.empty()) << run.result.out;
  const std::string suffix = " is not '<token> <id>'";
  EXPECT_EQ(report.substr(report.size() - suffix.size()), suffix);
  EXPECT_EQ(run.events.back()["message"], "File decode failed");
}

TEST_F(BrokenTokensFile, MissingOrUnreadableFailsTheDecoder) {
  for (Fault fault : {Fault::kMissing, Fault::kDirectory}) {
    SCOPED_TRACE(FaultName(fault));
    const EngineRun run = Decode(BreakFile(dir_, kSenseVoiceTokens, fault));
    EXPECT_EQ(run.result.exit_code, 1) << "signal " << run.result.term_signal;
    EXPECT_TRUE(run.HasLog(
        "[M2] Offline decoder init failed: SherpaOnnxCreateOfflineRecognizer() failed"));
  }
}

TEST_F(BrokenTokensFile, EmptyOrCutShortFailsTheDecode) {
  for (Fault fault : {Fault::kEmpty, Fault::kTruncated}) {
    SCOPED_TRACE(FaultName(fault));
    const EngineRun run = Decode(BreakFile(dir_, kSenseVoiceTokens, fault));
    EXPECT_EQ(run.result.exit_code, 1) << "signal " << run.result.term_signal;
    EXPECT_TRUE(run.HasLog("[M2] Offline decoder initialized"));
    EXPECT_FALSE(FindMessage(run.events, "error",
                             "offline_2pass decode failed: SherpaOnnxDecodeOfflineStream() exception: ")
                     .empty())
        << run.result.out;
    EXPECT_EQ(run.events.back()["message"], "File decode failed");
  }
}

// Live partials with a cut-short streaming tokens file: each failing decode
// is logged, and the dictation still gets its segments and second pass.
TEST_F(BrokenTokensFile, StreamingTokensCutShortFailDecodesNotTheSession) {
  const std::string tokens = BreakFile(dir_, kStreaming + "tokens.txt", Fault::kTruncated);
  EngineSession engine(Realtime(Transducer(kStreaming + "encoder.onnx", kStreaming + "decoder.onnx",
                                           kStreaming + "joiner.onnx", tokens)));
  ASSERT_TRUE(engine.WaitForType("ready"));
  EXPECT_TRUE(engine.HasLog("[M3] Online recognizer initialized for first-pass partials"));
  engine.StartCapture(1);
  engine.SendAudio(testing::LoadWav(kSpeech));
  engine.SendAudio(std::vector<float>(16000, 0.0f));
  const auto result = engine.WaitForType("result");
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)["segments"][0]["text"], "hello world你好世界");
  EXPECT_TRUE(engine.HasLog("Online accept/decode failed: SherpaOnnxDecodeOnlineStream() exception: "));
  engine.SendCommand("quit");
  engine.CloseAudio();
  EXPECT_EQ(engine.Finish().exit_code, 0);
  EXPECT_TRUE(engine.bad_lines().empty());
}

}  // namespace
}  // namespace dictacore
