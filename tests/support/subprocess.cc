#include "tests/support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

#include "engine/common/posix_io.h"

namespace dictacore::testing {
namespace {

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

struct PipePair {
  int read_end = -1;
  int write_end = -1;
};

// In the child: makes `fd` available as `target` across exec. dup2 onto
// itself would keep the close-on-exec flag, so that case clears it instead.
void MoveFd(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, 0);
  } else {
    dup2(fd, target);
  }
}

PipePair MakePipe() {
  int fds[2];
  if (!MakeCloseOnExecPipe(fds)) throw std::runtime_error("pipe failed");
  return {fds[0], fds[1]};
}

std::string VariableName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// This process's environment with `overrides` in place of the variables of
// the same names. Made before fork: the child of a threaded process should
// only exec.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> names;
  for (const std::string& entry : overrides) names.push_back(VariableName(entry));
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (std::find(names.begin(), names.end(), VariableName(variable)) == names.end()) {
      env.push_back(variable);
    }
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& text : *strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int64_t MsBetween(std::chrono::steady_clock::time_point from,
                  std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

Subprocess::Subprocess(const Config& config) : started_(std::chrono::steady_clock::now()) {
  // A test that writes to a child that already exited must see EPIPE, not die.
  signal(SIGPIPE, SIG_IGN);
  const PipePair in = MakePipe();
  const PipePair out = MakePipe();
  const PipePair err = MakePipe();
  PipePair audio;
  if (config.audio_pipe) audio = MakePipe();
  const int child_audio = config.audio_pipe ? audio.read_end : config.audio_fd;

  std::vector<std::string> args = config.argv;
  const std::vector<char*> argv = Pointers(&args);
  std::vector<std::string> env = ChildEnvironment(config.env);
  const std::vector<char*> envp = Pointers(&env);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    MoveFd(in.read_end, 0);
    MoveFd(out.write_end, 1);
    MoveFd(err.write_end, 2);
    if (child_audio >= 0) MoveFd(child_audio, 3);
    signal(SIGPIPE, SIG_DFL);
    for (int signal_number : config.ignored_signals) signal(signal_number, SIG_IGN);
    if (config.file_size_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(config.file_size_limit),
                         static_cast<rlim_t>(config.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (config.body) {
      // No exec closes the pipes' own descriptors here: the child keeps
      // only its standard streams (and descriptor 3).
      const int last_kept = child_audio >= 0 ? 3 : 2;
      for (int fd : {in.read_end, in.write_end, out.read_end, out.write_end, err.read_end,
                     err.write_end, audio.read_end, audio.write_end}) {
        if (fd > last_kept) close(fd);
      }
      _exit(config.body());
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in.read_end);
  close(out.write_end);
  close(err.write_end);
  stdin_fd_ = in.write_end;
  stdout_fd_ = out.read_end;
  stderr_fd_ = err.read_end;
  if (config.audio_pipe) {
    close(audio.read_end);
    audio_fd_ = audio.write_end;
  }
}

Subprocess::~Subprocess() {
  CloseFd(&stdin_fd_);
  CloseFd(&audio_fd_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  CloseFd(&stdout_fd_);
  CloseFd(&stderr_fd_);
}

bool Subprocess::WriteStdin(const std::string& data) {
  return stdin_fd_ >= 0 && WriteAll(stdin_fd_, data.data(), data.size());
}

bool Subprocess::WriteAudio(const void* data, size_t size) {
  return audio_fd_ >= 0 && WriteAll(audio_fd_, static_cast<const char*>(data), size);
}

void Subprocess::CloseStdin() { CloseFd(&stdin_fd_); }
void Subprocess::CloseAudio() { CloseFd(&audio_fd_); }

long Subprocess::AudioBytesUnread() const {
  int unread = 0;
  // Linux counts the bytes in a pipe from either end.
  if (audio_fd_ < 0 || ::ioctl(audio_fd_, FIONREAD, &unread) != 0) return -1;
  return unread;
}
void Subprocess::CloseStdout() { CloseFd(&stdout_fd_); }

bool Subprocess::PumpOutput(int timeout_ms) {
  pollfd fds[2];
  nfds_t count = 0;
  if (stdout_fd_ >= 0) fds[count++] = {stdout_fd_, POLLIN, 0};
  if (stderr_fd_ >= 0) fds[count++] = {stderr_fd_, POLLIN, 0};
  if (count == 0) return false;
  const int ready = poll(fds, count, timeout_ms);
  if (ready <= 0) return true;
  for (nfds_t i = 0; i < count; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[65536];
    const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    const bool is_out = fds[i].fd == stdout_fd_;
    if (n <= 0) {
      CloseFd(is_out ? &stdout_fd_ : &stderr_fd_);
      continue;
    }
    if (is_out) {
      if (out_all_.empty()) first_output_ = std::chrono::steady_clock::now();
      out_buffer_.append(buffer, static_cast<size_t>(n));
      out_all_.append(buffer, static_cast<size_t>(n));
    } else {
      err_all_.append(buffer, static_cast<size_t>(n));
    }
  }
  return true;
}

std::optional<std::string> Subprocess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const size_t newline = out_buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = out_buffer_.substr(0, newline);
      out_buffer_.erase(0, newline + 1);
      lines_.push_back(line);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stdout_fd_ < 0) return std::nullopt;
    PumpOutput(static_cast<int>(std::min<long long>(left.count(), 100)));
  }
}

ProcessResult Subprocess::Wait(std::chrono::milliseconds timeout) {
  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  rusage usage{};
  bool exited = false;
  while (!exited) {
    // With both outputs ended there is nothing to poll: pause instead.
    if (!PumpOutput(20)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) {
      exited = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      wait4(pid_, &status, 0, &usage);
      exited = true;
      result.timed_out = true;
    }
  }
  result.elapsed_ms = MsBetween(started_, std::chrono::steady_clock::now());
  result.max_rss_kb = usage.ru_maxrss;
  result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  pid_ = -1;
  while (PumpOutput(50)) {
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  result.out = out_all_;
  result.err = err_all_;
  if (!out_all_.empty()) result.first_output_ms = MsBetween(started_, first_output_);
  return result;
}

ProcessResult Subprocess::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
  return Wait(std::chrono::seconds(10));
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::milliseconds timeout) {
  Subprocess::Config config;
  config.argv = argv;
  return RunProcess(config, input, timeout);
}

ProcessResult RunProcess(const Subprocess::Config& config, const std::string& input,
                         std::chrono::milliseconds timeout) {
  Subprocess child(config);
  child.WriteStdin(input);
  child.CloseStdin();
  return child.Wait(timeout);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace dictacore::testing
