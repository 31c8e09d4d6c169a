// Starts the children of every test: a program run the way the host runs it
// (pipes on standard input, output and error, optionally the audio pipe on
// descriptor 3), or a function run in a forked copy of the test process, for
// tests that need a second process of their own (one to kill mid-write, one
// with a small file size limit).
#ifndef DICTACORE_TESTS_SUPPORT_SUBPROCESS_H_
#define DICTACORE_TESTS_SUPPORT_SUBPROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dictacore::testing {

struct ProcessResult {
  int exit_code = -1;            // -1 when killed by a signal
  int term_signal = 0;           // the signal that ended it, 0 when it exited
  std::string out;               // everything written to standard output
  std::string err;               // everything written to standard error
  long max_rss_kb = 0;           // the child's peak resident set (getrusage ru_maxrss)
  double cpu_seconds = 0;        // the child's user + system time
  int64_t elapsed_ms = 0;        // from the start to the exit
  int64_t first_output_ms = -1;  // when standard output first had bytes; -1: never
  bool timed_out = false;        // Wait killed it for running past its timeout
};

class Subprocess {
 public:
  struct Config {
    std::vector<std::string> argv;  // argv[0] is the program path
    // Instead of a program: runs in a forked copy of this process, and its
    // result is the exit status. It must not use the test framework.
    std::function<int()> body;
    // "NAME=value" entries of the program's environment, on top of this
    // process's (an entry replaces the variable of the same name).
    std::vector<std::string> env;
    bool audio_pipe = false;  // give the child a pipe on descriptor 3
    int audio_fd = -1;        // or hand it this descriptor as 3 (any kind)
    // Signals the child starts with ignored, as a host may spawn it.
    std::vector<int> ignored_signals;
    // The child's file size limit in bytes (RLIMIT_FSIZE), -1 for none.
    long long file_size_limit = -1;
  };

  explicit Subprocess(const Config& config);
  ~Subprocess();  // kills the child if it still runs
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const { return pid_; }

  // Writes everything (blocking); false when the reading end is gone.
  bool WriteStdin(const std::string& data);
  bool WriteAudio(const void* data, size_t size);
  void CloseStdin();
  void CloseAudio();
  // Bytes written to the audio pipe that the child has not read yet; -1
  // without an audio pipe.
  long AudioBytesUnread() const;
  // Closes the reading end of the child's standard output, as a host that
  // stops listening does. Nothing more of it is read afterwards.
  void CloseStdout();

  // Next complete line of standard output (without the line feed), or nothing
  // when the output ends or the timeout passes first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  // Waits for the exit (collecting the rest of both outputs); kills the child
  // with SIGKILL when it takes longer than `timeout`.
  ProcessResult Wait(std::chrono::milliseconds timeout);
  // Kills the child with SIGKILL now and collects it.
  ProcessResult Kill();

  // Lines already read through ReadLine, in order.
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  bool PumpOutput(int timeout_ms);  // false when both outputs have ended

  const std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point first_output_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int audio_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  std::string out_buffer_;  // stdout bytes not yet returned as lines
  std::string out_all_;
  std::string err_all_;
  std::vector<std::string> lines_;
};

// Runs to completion with `input` on standard input (then closed).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));
ProcessResult RunProcess(const Subprocess::Config& config, const std::string& input = "",
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));

// The lines of a text, without their line feeds.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace dictacore::testing

#endif  // DICTACORE_TESTS_SUPPORT_SUBPROCESS_H_
