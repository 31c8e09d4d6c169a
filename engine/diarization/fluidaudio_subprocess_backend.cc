#include "engine/diarization/fluidaudio_subprocess_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/common/error.h"
#include "engine/common/json_writer.h"
#include "engine/common/posix_io.h"
#include "engine/common/strings.h"

namespace dictacore {
namespace {

constexpr size_t kMaxLineBytes = 65536;
constexpr int kExitChecksBeforeTerm = 10;
constexpr int kExitChecksBeforeKill = 20;
constexpr auto kExitCheckPause = std::chrono::milliseconds(50);

std::string ErrnoText() { return std::strerror(errno); }

void CloseFd(int* fd) {
  if (*fd >= 0) {
    ::close(*fd);
    *fd = -1;
  }
}

// Moves a descriptor above the standard ones, so that the child's dup2 onto
// 0 and 1 never meets a pipe end that already sits there.
bool RaiseAboveStdio(int* fd) {
  if (*fd > STDERR_FILENO) return true;
  const int raised = ::fcntl(*fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (raised < 0) return false;
  ::close(*fd);
  *fd = raised;
  return true;
}

bool MakePipe(int fds[2]) {
  if (!MakeCloseOnExecPipe(fds)) return false;
  if (RaiseAboveStdio(&fds[0]) && RaiseAboveStdio(&fds[1])) return true;
  const int saved = errno;
  ::close(fds[0]);
  ::close(fds[1]);
  errno = saved;
  return false;
}

void IgnoreBrokenPipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
}

// True once the child has been reaped (or is no longer ours to reap).
bool ReapNoHang(pid_t pid) {
  for (;;) {
    const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == pid) return true;
    if (r == 0) return false;
    if (errno == EINTR) continue;
    return true;  // ECHILD: nothing left to wait for
  }
}

bool ReapWithin(pid_t pid, int checks) {
  for (int i = 0; i < checks; ++i) {
    if (ReapNoHang(pid)) return true;
    std::this_thread::sleep_for(kExitCheckPause);
  }
  return false;
}

void ReapBlocking(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void PutLe16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutLe32(std::string* out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Waits until `fd` has something to read (or has ended, which the read then
// tells); false when the deadline passes first.
bool WaitReadable(int fd, MonotonicClock::time_point deadline) {
  for (;;) {
    const auto left = deadline - MonotonicClock::now();
    if (left <= MonotonicClock::duration::zero()) return false;
    // Rounded up, so that the last wait does not spin on a fraction of a
    // millisecond.
    const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd readable{fd, POLLIN, 0};
    const int r = ::poll(&readable, 1, static_cast<int>(std::min<int64_t>(left_ms, INT_MAX)));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // the read reports the error
  }
}

std::string Seconds(std::chrono::milliseconds limit) {
  return FormatFixed(static_cast<double>(limit.count()) / 1000.0, 1) + " s";
}

// A fresh temporary path for one request's audio; empty with the reason on
// failure.
std::string MakeTempWavPath(std::string* error) {
  char name[] = "/tmp/fluiddiar-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) {
    Fail(error, "mkstemp failed: " + ErrnoText());
    return std::string();
  }
  ::close(fd);
  const std::string with_extension = std::string(name) + ".wav";
  if (::rename(name, with_extension.c_str()) == 0) return with_extension;
  return name;
}

}  // namespace

size_t MaxHelperTurns(double seconds) {
  constexpr double kPerSecond = 10.0;
  const double extra = seconds > 0.0 ? seconds * kPerSecond : 0.0;
  // A 32-bit sample count cannot describe enough audio to overflow this.
  return 1000 + static_cast<size_t>(extra < 1e12 ? extra : 1e12);
}

bool ReadLine(int fd, std::string* line) {
  return ReadLineBefore(fd, MonotonicClock::time_point::max(), line) == LineRead::kLine;
}

LineRead ReadLineBefore(int fd, MonotonicClock::time_point deadline, std::string* line) {
  line->clear();
  const bool timed = deadline != MonotonicClock::time_point::max();
  for (;;) {
    if (timed && !WaitReadable(fd, deadline)) return LineRead::kTimedOut;
    char byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return LineRead::kEnd;
    if (byte == '\r') continue;
    if (byte == '\n') return LineRead::kLine;
    line->push_back(byte);
    if (line->size() > kMaxLineBytes) return LineRead::kEnd;
  }
}

bool WriteWavFloat32(const std::string& path, const std::vector<float>& samples, int sample_rate,
                     std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return Fail(error, "fopen failed: " + ErrnoText());
  }
  const uint32_t data_size = static_cast<uint32_t>(samples.size() * 4);
  const uint32_t rate = static_cast<uint32_t>(sample_rate);
  std::string header;
  header.reserve(44);
  header.append("RIFF");
  PutLe32(&header, 36 + data_size);
  header.append("WAVE");
  header.append("fmt ");
  PutLe32(&header, 16);
  PutLe16(&header, 3);  // IEEE float
  PutLe16(&header, 1);  // mono
  PutLe32(&header, rate);
  PutLe32(&header, rate * 4);
  PutLe16(&header, 4);
  PutLe16(&header, 32);
  header.append("data");
  PutLe32(&header, data_size);

  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  if (ok && !samples.empty()) {
    std::string data;
    data.reserve(samples.size() * 4);
    for (float sample : samples) {
      uint32_t bits = 0;
      std::memcpy(&bits, &sample, sizeof(bits));
      PutLe32(&data, bits);
    }
    ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  }
  if (std::fclose(file) != 0) ok = false;
  if (!ok) Fail(error, "wav write failed");
  return ok;
}

std::string BuildHelperRequestLine(const std::string& wav_path) {
  JsonWriter json(JsonEscaping::kQuotesOnly);
  return json.BeginObject().String("input", wav_path).EndObject().Take();
}

bool ParseHelperSegmentLine(const std::string& line, double* start, double* end,
                            std::string* label) {
  DiarizationSegment turn;
  if (!ParseTurnLine(line, &turn)) return false;
  // "inf" and "nan" read as numbers but are no times.
  if (!std::isfinite(turn.start) || !std::isfinite(turn.end)) return false;
  *start = turn.start;
  *end = turn.end;
  *label = std::move(turn.speaker);
  return true;
}

bool HelperResponseTurns::AddLine(const std::string& line) {
  double start = 0.0;
  double end = 0.0;
  std::string label;
  if (!ParseHelperSegmentLine(line, &start, &end, &label)) return true;
  if (!(start < end)) return true;
  if (turns_.size() == max_turns_) return false;
  auto it = labels_.find(label);
  if (it == labels_.end()) {
    if (labels_.size() == kMaxHelperSpeakers) return false;
    it = labels_.emplace(label, SpeakerLabel(static_cast<int>(labels_.size()))).first;
  }
  turns_.push_back({start, end, it->second});
  return true;
}

std::vector<DiarizationSegment> HelperResponseTurns::TakeSorted() {
  std::vector<DiarizationSegment> sorted = std::move(turns_);
  turns_.clear();
  labels_.clear();
  std::stable_sort(
      sorted.begin(), sorted.end(),
      [](const DiarizationSegment& a, const DiarizationSegment& b) { return a.start < b.start; });
  return sorted;
}

struct FluidAudioSubprocessBackend::Impl {
  explicit Impl(const DiarizationInitOptions& init_options) : options(init_options) {}

  DiarizationInitOptions options;
  pid_t pid = -1;
  int to_helper = -1;
  int from_helper = -1;
  bool ready = false;
  // A helper ended for overrunning its time is started afresh by the next
  // request.
  bool restart_pending = false;

  ~Impl() { Shutdown(); }

  bool Start(std::string* error);

  // Closing the helper's input asks it to exit; a helper that does not is
  // sent SIGTERM after about 0.5 s and SIGKILL after another second.
  void Shutdown() {
    CloseFd(&to_helper);
    CloseFd(&from_helper);
    if (pid > 0) {
      if (!ReapWithin(pid, kExitChecksBeforeTerm)) {
        ::kill(pid, SIGTERM);
        if (!ReapWithin(pid, kExitChecksBeforeKill)) {
          ::kill(pid, SIGKILL);
          ReapBlocking(pid);
        }
      }
      pid = -1;
    }
    ready = false;
  }
};

// Starts the helper and waits for its READY line, at most the ready limit.
bool FluidAudioSubprocessBackend::Impl::Start(std::string* error) {
  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  if (!MakePipe(in_pipe)) {
    return Fail(error, "pipe(in) failed: " + ErrnoText());
  }
  if (!MakePipe(out_pipe)) {
    const std::string reason = ErrnoText();
    CloseFd(&in_pipe[0]);
    CloseFd(&in_pipe[1]);
    return Fail(error, "pipe(out) failed: " + reason);
  }

  // Everything the child needs is prepared before fork: it only calls dup2,
  // close, execv and, on failure, writes one line.
  std::vector<std::string> args = {options.helper_binary, "--resident", "--model",
                                   options.model_dir};
  if (!options.backend.empty()) {
    args.push_back("--backend");
    args.push_back(options.backend);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) {
    const std::string reason = ErrnoText();
    CloseFd(&in_pipe[0]);
    CloseFd(&in_pipe[1]);
    CloseFd(&out_pipe[0]);
    CloseFd(&out_pipe[1]);
    return Fail(error, "fork failed: " + reason);
  }
  if (child == 0) {
    ::dup2(in_pipe[0], STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::execv(argv[0], argv.data());
    char message[512];
    const int len = std::snprintf(message, sizeof(message), "execv %s failed: %s\n", argv[0],
                                  std::strerror(errno));
    if (len > 0) {
      const size_t n = std::min(static_cast<size_t>(len), sizeof(message) - 1);
      [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, n);
    }
    ::_exit(127);
  }

  CloseFd(&in_pipe[0]);
  CloseFd(&out_pipe[1]);
  pid = child;
  to_helper = in_pipe[1];
  from_helper = out_pipe[0];

  std::string line;
  const LineRead read =
      ReadLineBefore(from_helper, MonotonicClock::now() + options.helper_limits.ready, &line);
  if (read == LineRead::kTimedOut) {
    Shutdown();
    return Fail(error, "diarization helper sent no READY within " +
                           Seconds(options.helper_limits.ready) + "; ended it");
  }
  if (read == LineRead::kEnd) {
    Shutdown();
    return Fail(error, "diarization helper exited before READY");
  }
  if (line != "READY") {
    Shutdown();
    return Fail(error, "expected READY from diarization helper, got: " + line);
  }
  ready = true;
  return true;
}

FluidAudioSubprocessBackend::FluidAudioSubprocessBackend() = default;
FluidAudioSubprocessBackend::~FluidAudioSubprocessBackend() = default;

std::unique_ptr<DiarizationBackend> MakeFluidAudioDiarizationBackend() {
  return std::make_unique<FluidAudioSubprocessBackend>();
}

int FluidAudioSubprocessBackend::HelperPid() const { return impl_ ? impl_->pid : -1; }

bool FluidAudioSubprocessBackend::IsReady() const {
  return impl_ && (impl_->ready || impl_->restart_pending);
}

bool FluidAudioSubprocessBackend::Init(const DiarizationInitOptions& options, std::string* error) {
  impl_.reset();  // shuts a previous helper down
  impl_ = std::make_unique<Impl>(options);

  if (options.helper_binary.empty()) {
    return Fail(error,
                "diarization helper_binary is empty (macOS requires --diarization-helper-binary)");
  }
  if (options.model_dir.empty()) {
    return Fail(error, "diarization model_dir is empty");
  }
  if (::access(options.helper_binary.c_str(), X_OK) != 0) {
    return Fail(error, "diarization helper not executable: " + options.helper_binary + " (" +
                           ErrnoText() + ")");
  }
  IgnoreBrokenPipeOnce();
  return impl_->Start(error);
}

bool FluidAudioSubprocessBackend::Process(const std::vector<float>& samples, int sample_rate,
                                          std::vector<DiarizationSegment>* out,
                                          std::string* error) {
  if (out == nullptr) {
    return Fail(error, "out is null");
  }
  out->clear();
  if (!IsReady()) {
    return Fail(error, "diarization backend not ready");
  }
  if (samples.empty()) return true;
  if (impl_->restart_pending) {
    // Once: a helper that cannot be started again stays gone.
    impl_->restart_pending = false;
    std::string start_error;
    if (!impl_->Start(&start_error)) {
      return Fail(error, "diarization helper restart failed: " + start_error);
    }
  }

  const std::string wav_path = MakeTempWavPath(error);
  if (wav_path.empty()) return false;
  std::string wav_error;
  if (!WriteWavFloat32(wav_path, samples, sample_rate, &wav_error)) {
    ::unlink(wav_path.c_str());
    return Fail(error, "wav write failed: " + wav_error);
  }

  const double seconds = sample_rate > 0 ? static_cast<double>(samples.size()) / sample_rate : 0.0;
  const std::chrono::milliseconds limit = impl_->options.helper_limits.Request(seconds);
  const auto deadline = MonotonicClock::now() + limit;
  if (!WriteAllToFd(impl_->to_helper, BuildHelperRequestLine(wav_path) + "\n")) {
    Fail(error, "write to helper failed: " + ErrnoText());
    ::unlink(wav_path.c_str());
    impl_->ready = false;
    return false;
  }

  const auto broken_exchange = [&](const std::string& message) {
    // A broken exchange yields no turns: the caller must not mistake a
    // partial answer for the whole recording. What the helper sends next no
    // longer belongs to any request, so the backend stops using it.
    out->clear();
    Fail(error, message);
    ::unlink(wav_path.c_str());
    impl_->ready = false;
    return false;
  };
  HelperResponseTurns turns(MaxHelperTurns(seconds));
  std::string line;
  for (;;) {
    const LineRead read = ReadLineBefore(impl_->from_helper, deadline, &line);
    if (read == LineRead::kTimedOut) {
      // A helper that stopped answering may never answer: it is ended now
      // and the next request starts a new one, so one stuck answer costs one
      // dictation its speakers, never the dictation.
      impl_->Shutdown();
      impl_->restart_pending = true;
      return broken_exchange("diarization helper did not answer within " + Seconds(limit) +
                             "; ended it, the next request starts it again");
    }
    if (read == LineRead::kEnd) {
      return broken_exchange("diarization helper closed stdout before DONE");
    }
    if (line == "DONE") break;
    if (!turns.AddLine(line)) return broken_exchange("diarization helper answer too large");
  }
  ::unlink(wav_path.c_str());
  *out = turns.TakeSorted();
  return true;
}

}  // namespace dictacore
