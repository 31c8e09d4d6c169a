#include "engine/diarization/fluidaudio_subprocess_backend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "tests/support/subprocess.h"

#ifndef DICTACORE_DIAR_TEST_HELPER
#error "DICTACORE_DIAR_TEST_HELPER must name the scripted helper program"
#endif

namespace dictacore {
namespace {

// One scripted helper run: its directory holds the script and what the
// helper recorded.
class HelperRun {
 public:
  explicit HelperRun(const std::string& script) { dir_.Write("script", script); }

  DiarizationInitOptions Options(const std::string& backend = "offline") const {
    DiarizationInitOptions options;
    options.helper_binary = DICTACORE_DIAR_TEST_HELPER;
    options.model_dir = dir_.path();
    options.backend = backend;
    return options;
  }
  bool Has(const std::string& name) const { return ::access(dir_.File(name).c_str(), F_OK) == 0; }
  std::string Read(const std::string& name) const { return ReadWholeFile(dir_.File(name)); }
  const ScopedTempDir& dir() const { return dir_; }

  // The WAV path of the first request the helper received.
  std::string FirstRequestPath() const {
    const std::string requests = Read("requests");
    std::smatch match;
    static const std::regex kRequest(
        "^\\{\"input\":\"(/tmp/fluiddiar-[A-Za-z0-9]{6}\\.wav)\"\\}\n");
    if (!std::regex_search(requests, match, kRequest)) return std::string();
    return match[1];
  }

 private:
  ScopedTempDir dir_{"diar-helper"};
};

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) == -1 && errno == ESRCH; }

// Waits until the process has exited (it stays a zombie until reaped).
bool WaitUntilZombie(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z')
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

uint32_t Le32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1])
                                                                     << 8);
}

// --- Start-up ---------------------------------------------------------------------

TEST(FluidAudioInit, OptionChecksBeforeAnyProcess) {
  FluidAudioSubprocessBackend backend;
  std::string error;
  DiarizationInitOptions options;
  EXPECT_FALSE(backend.Init(options, &error));
  EXPECT_EQ(error,
            "diarization helper_binary is empty (macOS requires --diarization-helper-binary)");
  options.helper_binary = DICTACORE_DIAR_TEST_HELPER;
  EXPECT_FALSE(backend.Init(options, &error));
  EXPECT_EQ(error, "diarization model_dir is empty");
  EXPECT_FALSE(backend.IsReady());
  EXPECT_EQ(backend.HelperPid(), -1);
}

TEST(FluidAudioInit, HelperMustBeExecutable) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string plain = dir.Write("helper", "#!/bin/sh\n");
  ::chmod(plain.c_str(), 0644);
  FluidAudioSubprocessBackend backend;
  DiarizationInitOptions options;
  options.helper_binary = plain;
  options.model_dir = dir.path();
  std::string error;
  EXPECT_FALSE(backend.Init(options, &error));
  EXPECT_EQ(error, "diarization helper not executable: " + plain + " (Permission denied)");
  options.helper_binary = dir.File("missing");
  EXPECT_FALSE(backend.Init(options, &error));
  EXPECT_EQ(error, "diarization helper not executable: " + dir.File("missing") +
                       " (No such file or directory)");
}

TEST(FluidAudioInit, ExecFailureIsReportedByTheChildAndEndsTheStart) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string garbage = dir.Write("helper", std::string("\x7f\x01\x02\x03garbage", 11));
  ::chmod(garbage.c_str(), 0755);
  FluidAudioSubprocessBackend backend;
  DiarizationInitOptions options;
  options.helper_binary = garbage;
  options.model_dir = dir.path();
  std::string error;
  ::testing::internal::CaptureStderr();
  const bool ok = backend.Init(options, &error);
  const std::string stderr_text = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "diarization helper exited before READY");
  EXPECT_EQ(stderr_text, "execv " + garbage + " failed: Exec format error\n");
  EXPECT_EQ(backend.HelperPid(), -1);
}

TEST(FluidAudioInit, WrongFirstLineFailsAndShutsTheHelperDown) {
  HelperRun run("first Loading models 10%\n");
  FluidAudioSubprocessBackend backend;
  std::string error;
  EXPECT_FALSE(backend.Init(run.Options(), &error));
  EXPECT_EQ(error, "expected READY from diarization helper, got: Loading models 10%");
  EXPECT_FALSE(backend.IsReady());
  EXPECT_EQ(backend.HelperPid(), -1);
  // Shut down by closing its input: it saw the end and exited by itself.
  EXPECT_TRUE(run.Has("eof"));
  EXPECT_FALSE(run.Has("sigterm"));
  const pid_t pid = std::stoi(run.Read("pid"));
  EXPECT_TRUE(ProcessGone(pid));
}

TEST(FluidAudioInit, HelperExitingBeforeReady) {
  HelperRun run("first-none\n");
  FluidAudioSubprocessBackend backend;
  std::string error;
  EXPECT_FALSE(backend.Init(run.Options(), &error));
  EXPECT_EQ(error, "diarization helper exited before READY");
  EXPECT_FALSE(backend.IsReady());
}

TEST(FluidAudioInit, CommandLineWithAndWithoutBackend) {
  {
    HelperRun run("");
    FluidAudioSubprocessBackend backend;
    ASSERT_TRUE(backend.Init(run.Options("sortformer"), nullptr));
    EXPECT_TRUE(backend.IsReady());
    EXPECT_GT(backend.HelperPid(), 0);
    EXPECT_EQ(run.Read("argv"), std::string(DICTACORE_DIAR_TEST_HELPER) +
                                    "\n--resident\n--model\n" + run.dir().path() +
                                    "\n--backend\nsortformer\n");
  }
  HelperRun run("");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(""), nullptr));
  EXPECT_EQ(run.Read("argv"), std::string(DICTACORE_DIAR_TEST_HELPER) + "\n--resident\n--model\n" +
                                  run.dir().path() + "\n");
}

TEST(FluidAudioInit, CarriageReturnsInTheHandshakeAreDropped) {
  HelperRun run("first RE\\rADY\\r\n");
  FluidAudioSubprocessBackend backend;
  EXPECT_TRUE(backend.Init(run.Options(), nullptr));
}

// --- Requests ---------------------------------------------------------------------

TEST(FluidAudioProcess, TurnsAreNumberedInReportOrderAndSortedByStart) {
  HelperRun run("emit 5.0\\t6.0\\tB\nemit 1.0\\t2.5\\tA\nemit 7.0\\t8.0\\tB\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  std::vector<DiarizationSegment> out;
  std::string error;
  ASSERT_TRUE(backend.Process({0.5f, -0.25f, 1.0f}, 16000, &out, &error)) << error;
  ASSERT_EQ(out.size(), 3u);
  EXPECT_DOUBLE_EQ(out[0].start, 1.0);
  EXPECT_DOUBLE_EQ(out[0].end, 2.5);
  EXPECT_EQ(out[0].speaker, "SPEAKER_01");
  EXPECT_DOUBLE_EQ(out[1].start, 5.0);
  EXPECT_EQ(out[1].speaker, "SPEAKER_00");
  EXPECT_DOUBLE_EQ(out[2].start, 7.0);
  EXPECT_EQ(out[2].speaker, "SPEAKER_00");

  // The request named a fresh WAV file that is gone afterwards.
  const std::string wav = run.FirstRequestPath();
  ASSERT_FALSE(wav.empty()) << run.Read("requests");
  EXPECT_EQ(::access(wav.c_str(), F_OK), -1);
  EXPECT_FALSE(run.Has("missing-1"));

  // The helper could read a 32-bit float mono WAV of exactly these samples.
  const std::string bytes = run.Read("wav-1");
  ASSERT_EQ(bytes.size(), 44u + 12u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(bytes, 4), 36u + 12u);
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le32(bytes, 16), 16u);
  EXPECT_EQ(Le16(bytes, 20), 3u);
  EXPECT_EQ(Le16(bytes, 22), 1u);
  EXPECT_EQ(Le32(bytes, 24), 16000u);
  EXPECT_EQ(Le32(bytes, 28), 64000u);
  EXPECT_EQ(Le16(bytes, 32), 4u);
  EXPECT_EQ(Le16(bytes, 34), 32u);
  EXPECT_EQ(bytes.substr(36, 4), "data");
  EXPECT_EQ(Le32(bytes, 40), 12u);
  const float expected[] = {0.5f, -0.25f, 1.0f};
  for (int i = 0; i < 3; ++i) {
    float sample = 0.0f;
    const uint32_t bits = Le32(bytes, 44 + 4 * static_cast<size_t>(i));
    std::memcpy(&sample, &bits, sizeof(sample));
    EXPECT_EQ(sample, expected[i]);
  }

  // A second request starts its own numbering and its own file.
  ASSERT_TRUE(backend.Process({0.0f}, 16000, &out, &error));
  EXPECT_EQ(out[0].speaker, "SPEAKER_01");
  EXPECT_TRUE(run.Has("wav-2"));
  EXPECT_EQ(run.Read("wav-2").size(), 48u);
}

TEST(FluidAudioProcess, OddLinesAreSkippedAndTheExchangeGoesOn) {
  HelperRun run(
      "emit \n"
      "emit no tabs at all\n"
      "emit 1.0\\tonly one tab\n"
      "emit abc\\t2.0\\tX\n"
      "emit 1.0\\txyz\\tX\n"
      "emit nan\\t2.0\\tX\n"
      "emit 1.0\\tinf\\tX\n"
      "emit 1e999\\t2.0\\tX\n"
      "emit 2.0\\t2.0\\tEQUAL\n"
      "emit 3.0\\t1.0\\tBACKWARDS\n"
      "emit  3.5\\t4.5 s\\tC\n"
      "emit 1\\r.0\\t2.0\\r\\tD\\r\n"
      "emit 5\\t6\\t\n"
      "emit 6\\t7\\tlabel\\twith tab\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  std::vector<DiarizationSegment> out;
  std::string error;
  ASSERT_TRUE(backend.Process({0.1f, 0.2f}, 16000, &out, &error)) << error;
  ASSERT_EQ(out.size(), 4u);
  // Sorted by start; numbers follow the order the labels were reported.
  EXPECT_DOUBLE_EQ(out[0].start, 1.0);
  EXPECT_EQ(out[0].speaker, "SPEAKER_01");  // D, carriage returns dropped
  EXPECT_DOUBLE_EQ(out[1].start, 3.5);
  EXPECT_DOUBLE_EQ(out[1].end, 4.5);
  EXPECT_EQ(out[1].speaker, "SPEAKER_00");  // C: EQUAL and BACKWARDS took no number
  EXPECT_EQ(out[2].speaker, "SPEAKER_02");  // the empty label
  EXPECT_EQ(out[3].speaker, "SPEAKER_03");
  EXPECT_TRUE(backend.IsReady());
}

TEST(FluidAudioProcess, NoSamplesNeverReachTheHelper) {
  HelperRun run("");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  std::vector<DiarizationSegment> out = {{0, 1, "stale"}};
  EXPECT_TRUE(backend.Process({}, 16000, &out, nullptr));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(run.Has("requests"));
}

TEST(FluidAudioProcess, ArgumentAndStateChecks) {
  FluidAudioSubprocessBackend backend;
  std::vector<DiarizationSegment> out = {{0, 1, "stale"}};
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f}, 16000, nullptr, &error));
  EXPECT_EQ(error, "out is null");
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization backend not ready");
  EXPECT_TRUE(out.empty());
}

TEST(FluidAudioProcess, HelperDyingMidRequestFailsThisAndLaterCalls) {
  HelperRun run("emit 1\\t2\\tA\nemit 3\\t4\\tB\ndie-after 1\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  const pid_t pid = backend.HelperPid();
  std::vector<DiarizationSegment> out;
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f, 0.2f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization helper closed stdout before DONE");
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(backend.IsReady());
  const std::string wav = run.FirstRequestPath();
  ASSERT_FALSE(wav.empty());
  EXPECT_EQ(::access(wav.c_str(), F_OK), -1);

  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization backend not ready");
  // Only the first request ever reached the helper.
  EXPECT_FALSE(run.Has("wav-2"));
  // The dead helper is still reaped when the backend goes.
  EXPECT_EQ(backend.HelperPid(), pid);
}

TEST(FluidAudioProcess, OverLongLineCountsAsAClosedStream) {
  HelperRun run("long-line 65537\nemit 1\\t2\\tA\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  std::vector<DiarizationSegment> out;
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization helper closed stdout before DONE");
  EXPECT_FALSE(backend.IsReady());
}

TEST(FluidAudioProcess, LineOfExactlyTheLimitIsRead) {
  HelperRun run("long-line 65536\nemit 1\\t2\\tA\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  std::vector<DiarizationSegment> out;
  std::string error;
  ASSERT_TRUE(backend.Process({0.1f}, 16000, &out, &error)) << error;
  EXPECT_EQ(out.size(), 1u);
}

TEST(MaxHelperTurns, ThousandPlusTenPerSecond) {
  EXPECT_EQ(MaxHelperTurns(0.0), 1000u);
  EXPECT_EQ(MaxHelperTurns(1.0), 1010u);
  EXPECT_EQ(MaxHelperTurns(3600.0), 37000u);
  EXPECT_EQ(MaxHelperTurns(-5.0), 1000u);
  EXPECT_EQ(MaxHelperTurns(std::nan("")), 1000u);
  EXPECT_GT(MaxHelperTurns(1e300), 1000u);
}

// Runs one request with `lines` as the helper's answer (before its DONE).
struct Answer {
  bool ok = false;
  std::string error;
  size_t turns = 0;
  bool ready_after = false;
};
Answer AnswerWith(const std::vector<std::string>& lines, size_t samples) {
  std::string script;
  for (const std::string& line : lines) script += "emit " + line + "\n";
  HelperRun run(script);
  FluidAudioSubprocessBackend backend;
  Answer answer;
  if (!backend.Init(run.Options(), &answer.error)) return answer;
  std::vector<DiarizationSegment> out;
  answer.ok = backend.Process(std::vector<float>(samples, 0.0f), 16000, &out, &answer.error);
  answer.turns = out.size();
  answer.ready_after = backend.IsReady();
  return answer;
}

// One second of audio allows 1010 turns and 1000 speakers; one more of
// either breaks the exchange, which then yields nothing.
TEST(FluidAudioProcess, AnswersBeyondTheTurnAndSpeakerLimitsAreRefused) {
  std::vector<std::string> turns(1010, "0\\t1\\tA");
  Answer answer = AnswerWith(turns, 16000);
  EXPECT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.turns, 1010u);
  turns.push_back("1\\t2\\tA");
  answer = AnswerWith(turns, 16000);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, "diarization helper answer too large");
  EXPECT_EQ(answer.turns, 0u);
  EXPECT_FALSE(answer.ready_after);
  // Longer audio allows more turns.
  answer = AnswerWith(turns, 32000);
  EXPECT_TRUE(answer.ok) << answer.error;

  std::vector<std::string> speakers;
  for (int i = 0; i < 1000; ++i) speakers.push_back("0\\t1\\tS" + std::to_string(i));
  answer = AnswerWith(speakers, 16000);
  EXPECT_TRUE(answer.ok) << answer.error;
  speakers.push_back("0\\t1\\tone too many");
  answer = AnswerWith(speakers, 16000);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, "diarization helper answer too large");
  EXPECT_FALSE(answer.ready_after);
}

TEST(FluidAudioProcess, WritingToAnExitedHelperFails) {
  HelperRun run("exit-after-ready\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(run.Options(), nullptr));
  ASSERT_TRUE(WaitUntilZombie(backend.HelperPid()));
  std::vector<DiarizationSegment> out;
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "write to helper failed: Broken pipe");
  EXPECT_FALSE(backend.IsReady());
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization backend not ready");
}

// --- Time limits ------------------------------------------------------------------

TEST(HelperTimeLimits, ThirtySecondsPlusTwiceTheAudio) {
  const HelperTimeLimits limits;
  EXPECT_EQ(limits.ready, std::chrono::seconds(120));
  EXPECT_EQ(limits.Request(0.0), std::chrono::seconds(30));
  EXPECT_EQ(limits.Request(10.0), std::chrono::seconds(50));
  EXPECT_EQ(limits.Request(-3.0), std::chrono::seconds(30));
  EXPECT_EQ(limits.Request(std::nan("")), std::chrono::seconds(30));
  EXPECT_GT(limits.Request(1e300), limits.Request(3600.0));
}

// Limits of seconds for the helpers that stop answering, still ample for the
// stand-in's READY and answers in sanitizer builds on a busy machine.
DiarizationInitOptions QuickLimits(DiarizationInitOptions options) {
  options.helper_limits.ready = std::chrono::milliseconds(2000);
  options.helper_limits.request_base = std::chrono::milliseconds(1000);
  options.helper_limits.request_per_audio_second = 0.0;
  return options;
}

// The stuck helper is ended and its partial answer dropped; the next request
// starts a new helper, once.
TEST(FluidAudioTimeLimits, HelperThatStopsAnsweringIsReplacedByTheNextRequest) {
  HelperRun run("emit 1\\t2\\tA\nemit 3\\t4\\tB\nhang-after 1\nhang-partial 5\\t6\nhang-runs 1\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(QuickLimits(run.Options()), nullptr));
  const pid_t first = backend.HelperPid();
  std::vector<DiarizationSegment> out;
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f, 0.2f}, 16000, &out, &error));
  EXPECT_EQ(error,
            "diarization helper did not answer within 1.0 s; ended it, the next request "
            "starts it again");
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(ProcessGone(first));
  EXPECT_EQ(::access(run.FirstRequestPath().c_str(), F_OK), -1) << "the WAV file is deleted";
  EXPECT_TRUE(backend.IsReady());

  ASSERT_TRUE(backend.Process({0.1f, 0.2f}, 16000, &out, &error)) << error;
  EXPECT_EQ(out.size(), 2u);
  EXPECT_NE(backend.HelperPid(), first);
  EXPECT_GT(backend.HelperPid(), 0);
}

TEST(FluidAudioTimeLimits, HelperThatCannotBeStartedAgainIsGivenUp) {
  HelperRun run("hang-after 0\n");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(QuickLimits(run.Options()), nullptr));
  std::vector<DiarizationSegment> out;
  std::string error;
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_TRUE(backend.IsReady());
  // The next helper will not get as far as READY.
  run.dir().Write("script", "hang-at-start\n");
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error,
            "diarization helper restart failed: diarization helper sent no READY within "
            "2.0 s; ended it");
  EXPECT_FALSE(backend.IsReady());
  EXPECT_FALSE(backend.Process({0.1f}, 16000, &out, &error));
  EXPECT_EQ(error, "diarization backend not ready");
}

// --- Failures of the operating system ----------------------------------------------

// Runs `body` in a child process (resource limits are process-wide) and
// returns the text it produced.
std::string InChild(const std::function<std::string()>& body) {
  testing::Subprocess::Config config;
  config.body = [&] {
    const std::string text = body();
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    return 0;
  };
  return testing::RunProcess(config).out;
}

// Uses up every descriptor below a small limit, then frees `spare` of them.
void ExhaustDescriptors(int spare) {
  const rlimit limit{64, 64};
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> taken;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) taken.push_back(fd);
  for (int i = 0; i < spare && !taken.empty(); ++i) {
    ::close(taken.back());
    taken.pop_back();
  }
}

TEST(FluidAudioSystemFailures, PipesThatCannotBeMade) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime probes memory through a pipe of its own; with no
  // descriptor left that probe fails and is reported as a bad object.
  GTEST_SKIP() << "needs free descriptors under the sanitizer runtime";
#endif
  HelperRun run("");
  EXPECT_EQ(InChild([&] {
              FluidAudioSubprocessBackend backend;
              ExhaustDescriptors(0);
              std::string error;
              return backend.Init(run.Options(), &error) ? std::string("started") : error;
            }),
            "pipe(in) failed: Too many open files");
  EXPECT_EQ(InChild([&] {
              FluidAudioSubprocessBackend backend;
              ExhaustDescriptors(2);
              std::string error;
              return backend.Init(run.Options(), &error) ? std::string("started") : error;
            }),
            "pipe(out) failed: Too many open files");
  EXPECT_FALSE(run.Has("argv"));  // no helper was ever started
}

TEST(FluidAudioSystemFailures, TemporaryFileThatCannotBeMade) {
  HelperRun run("");
  EXPECT_EQ(InChild([&] {
              FluidAudioSubprocessBackend backend;
              std::string error;
              if (!backend.Init(run.Options(), &error)) return error;
              ExhaustDescriptors(0);
              std::vector<DiarizationSegment> out;
              if (backend.Process({0.1f}, 16000, &out, &error)) return std::string("processed");
              return error + (backend.IsReady() ? " (ready)" : " (not ready)");
            }),
            "mkstemp failed: Too many open files (ready)");
  EXPECT_FALSE(run.Has("requests"));
}

TEST(FluidAudioSystemFailures, ShortWavWriteIsReported) {
  HelperRun run("");
  const std::string text = InChild([&] {
    FluidAudioSubprocessBackend backend;
    std::string error;
    if (!backend.Init(run.Options(), &error)) return error;
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{20, 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<DiarizationSegment> out;
    if (backend.Process(std::vector<float>(4000, 0.1f), 16000, &out, &error)) {
      return std::string("processed");
    }
    return error + (backend.IsReady() ? " (ready)" : " (not ready)");
  });
  EXPECT_EQ(text, "wav write failed: wav write failed (ready)");
  EXPECT_FALSE(run.Has("requests"));
}

// --- Shutdown ---------------------------------------------------------------------

struct ShutdownCase {
  const char* name;
  const char* script;
  bool expect_sigterm;
};

class FluidAudioShutdown : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(FluidAudioShutdown, HelperIsAlwaysGoneAfterwards) {
  HelperRun run(GetParam().script);
  pid_t pid = -1;
  {
    auto backend = std::make_unique<FluidAudioSubprocessBackend>();
    ASSERT_TRUE(backend->Init(run.Options(), nullptr));
    pid = backend->HelperPid();
    ASSERT_GT(pid, 0);
  }
  EXPECT_TRUE(run.Has("eof"));
  EXPECT_EQ(run.Has("sigterm"), GetParam().expect_sigterm);
  EXPECT_TRUE(ProcessGone(pid));
  // Reaped by the backend: nothing is left for us to wait for.
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
}

INSTANTIATE_TEST_SUITE_P(Escalation, FluidAudioShutdown,
                         ::testing::Values(ShutdownCase{"ExitsAtEndOfInput", "", false},
                                           ShutdownCase{"NeedsSigterm", "on-eof hang\n", true},
                                           ShutdownCase{"NeedsSigkill",
                                                        "on-eof hang\non-sigterm ignore\n", true}),
                         [](const ::testing::TestParamInfo<ShutdownCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(FluidAudioShutdownOnInit, RepeatedInitReplacesTheHelper) {
  HelperRun first("");
  HelperRun second("");
  FluidAudioSubprocessBackend backend;
  ASSERT_TRUE(backend.Init(first.Options(), nullptr));
  const pid_t first_pid = backend.HelperPid();
  ASSERT_TRUE(backend.Init(second.Options(), nullptr));
  EXPECT_NE(backend.HelperPid(), first_pid);
  EXPECT_TRUE(first.Has("eof"));
  EXPECT_TRUE(ProcessGone(first_pid));
  EXPECT_TRUE(backend.IsReady());
}

// --- Pieces -----------------------------------------------------------------------

TEST(BuildHelperRequestLine, EscapesOnlyBackslashAndQuote) {
  EXPECT_EQ(BuildHelperRequestLine("/tmp/a.wav"), "{\"input\":\"/tmp/a.wav\"}");
  EXPECT_EQ(BuildHelperRequestLine("/tmp/say \"hi\"\\x\t.wav"),
            "{\"input\":\"/tmp/say \\\"hi\\\"\\\\x\t.wav\"}");
}

TEST(ParseHelperSegmentLine, FieldsAndLabel) {
  double start = 0;
  double end = 0;
  std::string label;
  ASSERT_TRUE(
      ParseHelperSegmentLine("  1.5\t 2.5xyz\tSpeaker one\twith tab", &start, &end, &label));
  EXPECT_DOUBLE_EQ(start, 1.5);
  EXPECT_DOUBLE_EQ(end, 2.5);
  EXPECT_EQ(label, "Speaker one\twith tab");
  EXPECT_FALSE(ParseHelperSegmentLine("1\t2", &start, &end, &label));
  EXPECT_FALSE(ParseHelperSegmentLine("\t2\tA", &start, &end, &label));
  EXPECT_FALSE(ParseHelperSegmentLine("-inf\t2\tA", &start, &end, &label));
}

TEST(HelperResponseTurns, EqualStartsKeepTheHelpersOrderAndTakingStartsAfresh) {
  HelperResponseTurns turns(10);
  EXPECT_TRUE(turns.AddLine("2\t3\tB"));
  EXPECT_TRUE(turns.AddLine("1\t4\tA"));
  EXPECT_TRUE(turns.AddLine("1\t2\tC"));
  EXPECT_TRUE(turns.AddLine("1\t1\tD"));
  std::vector<DiarizationSegment> sorted = turns.TakeSorted();
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(sorted[0].speaker, "SPEAKER_01");
  EXPECT_EQ(sorted[0].end, 4.0);
  EXPECT_EQ(sorted[1].speaker, "SPEAKER_02");
  EXPECT_EQ(sorted[2].speaker, "SPEAKER_00");
  EXPECT_TRUE(turns.AddLine("0\t1\tC"));
  sorted = turns.TakeSorted();
  ASSERT_EQ(sorted.size(), 1u);
  EXPECT_EQ(sorted[0].speaker, "SPEAKER_00");
}

TEST(HelperResponseTurns, TurnBeyondTheLimitIsRefusedButSkippedLinesDoNotCount) {
  HelperResponseTurns turns(2);
  EXPECT_TRUE(turns.AddLine("0\t1\tA"));
  EXPECT_TRUE(turns.AddLine("not a turn"));
  EXPECT_TRUE(turns.AddLine("3\t3\tA"));
  EXPECT_TRUE(turns.AddLine("1\t2\tB"));
  EXPECT_FALSE(turns.AddLine("2\t3\tA"));
  EXPECT_EQ(turns.TakeSorted().size(), 2u);
}

TEST(ReadLine, DropsCarriageReturnsAndStopsAtTheLimit) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([fd = fds[1]] {
    const std::string data =
        "a\rb\r\n\r\n" + std::string(65536, 'y') + "\n" + std::string(65537, 'z') + "\n";
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  });
  std::string line;
  ASSERT_TRUE(ReadLine(fds[0], &line));
  EXPECT_EQ(line, "ab");
  ASSERT_TRUE(ReadLine(fds[0], &line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(ReadLine(fds[0], &line));
  EXPECT_EQ(line.size(), 65536u);
  EXPECT_FALSE(ReadLine(fds[0], &line));
  // Drain the rest, then the end of input reads as false.
  while (ReadLine(fds[0], &line)) {
  }
  EXPECT_FALSE(ReadLine(fds[0], &line));
  writer.join();
  ::close(fds[0]);
}

TEST(WriteWavFloat32, UnopenablePathAndEmptyAudio) {
  std::string error;
  EXPECT_FALSE(WriteWavFloat32("/nonexistent/dir/x.wav", {0.1f}, 16000, &error));
  EXPECT_EQ(error, "fopen failed: No such file or directory");
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(WriteWavFloat32(dir.File("empty.wav"), {}, 8000, &error));
  const std::string bytes = ReadWholeFile(dir.File("empty.wav"));
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(Le32(bytes, 4), 36u);
  EXPECT_EQ(Le32(bytes, 24), 8000u);
  EXPECT_EQ(Le32(bytes, 40), 0u);
}

}  // namespace
}  // namespace dictacore
