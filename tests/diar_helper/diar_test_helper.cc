// A scripted stand-in for the `fluidaudio-diar` helper program, for the
// engine's subprocess diarization tests. It speaks the helper line protocol:
// "READY" once, then for every request line {"input":"<wav path>"} zero or
// more "start<TAB>end<TAB>label" lines and "DONE"; it exits when its input
// ends. What it answers, and how it misbehaves, comes from the file "script"
// in the directory passed with --model, one directive per line:
//
//   first <text>        first line instead of READY (\t, \r and \\ unescaped)
//   first-none          exit at once without writing anything
//   exit-after-ready    exit right after the first line
//   emit <text>         a response line for every request (unescaped as above)
//   long-line <bytes>   before the responses, one line of that many 'x' bytes
//   die-after <n>       after n response lines, exit with status 3 (no DONE)
//   on-eof hang         keep running when the input ends
//   on-sigterm ignore   survive SIGTERM (it is still recorded)
//   hang-at-start       write nothing and never exit by itself (no READY)
//   hang-after <n>      after n response lines, stop answering (no DONE) and
//                       never exit by itself
//   hang-partial <text> with hang-after: first write <text> without a line feed
//   hang-runs <k>       the hang directives hold for the first k runs of the
//                       helper in this directory only (default: every run)
//
// It records what it saw in the same directory: "argv" (one argument per
// line), "pid", "runs" (one line per start), "requests" (each request line),
// "wav-<k>" (a copy of the k-th request's WAV file, or "missing-<k>" when it
// did not exist), "eof" when the input ended and "sigterm" when SIGTERM
// arrived.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Script {
  bool first_none = false;
  bool exit_after_ready = false;
  std::string first = "READY";
  std::vector<std::string> emits;
  long long long_line = 0;
  int die_after = -1;
  bool hang_on_eof = false;
  bool ignore_sigterm = false;
  bool hang_at_start = false;
  int hang_after = -1;
  std::string hang_partial;
  int hang_runs = -1;
};

char g_sigterm_marker[4096];
volatile sig_atomic_t g_ignore_sigterm = 0;

void OnSigterm(int) {
  const int fd = ::open(g_sigterm_marker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) ::close(fd);
  if (!g_ignore_sigterm) ::_exit(0);
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      if (next == 't') {
        out.push_back('\t');
      } else if (next == 'r') {
        out.push_back('\r');
      } else {
        out.push_back(next);
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

Script LoadScript(const std::string& dir) {
  Script script;
  std::ifstream in(dir + "/script");
  std::string line;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word == "first") {
      script.first = Unescape(rest);
    } else if (word == "first-none") {
      script.first_none = true;
    } else if (word == "exit-after-ready") {
      script.exit_after_ready = true;
    } else if (word == "emit") {
      script.emits.push_back(Unescape(rest));
    } else if (word == "long-line") {
      script.long_line = std::atoll(rest.c_str());
    } else if (word == "die-after") {
      script.die_after = std::atoi(rest.c_str());
    } else if (word == "on-eof") {
      script.hang_on_eof = rest == "hang";
    } else if (word == "on-sigterm") {
      script.ignore_sigterm = rest == "ignore";
    } else if (word == "hang-at-start") {
      script.hang_at_start = true;
    } else if (word == "hang-after") {
      script.hang_after = std::atoi(rest.c_str());
    } else if (word == "hang-partial") {
      script.hang_partial = Unescape(rest);
    } else if (word == "hang-runs") {
      script.hang_runs = std::atoi(rest.c_str());
    }
  }
  return script;
}

void WriteFile(const std::string& path, const std::string& data, bool append = false) {
  std::ofstream out(path, append ? std::ios::binary | std::ios::app : std::ios::binary);
  out << data;
}

// Records this start in "runs"; returns its number, counting from 1.
int CountRun(const std::string& dir) {
  std::ifstream in(dir + "/runs");
  int runs = 1;
  for (std::string line; std::getline(in, line);) ++runs;
  WriteFile(dir + "/runs", std::to_string(::getpid()) + "\n", true);
  return runs;
}

// A helper that stopped answering: only a signal ends it.
[[noreturn]] void Hang() {
  for (;;) ::pause();
}

bool WriteOut(const std::string& line) {
  const std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The WAV path of a request line, with the backslash escapes removed.
std::string RequestPath(const std::string& request) {
  static const std::string kPrefix = "{\"input\":\"";
  static const std::string kSuffix = "\"}";
  if (request.size() < kPrefix.size() + kSuffix.size() ||
      request.compare(0, kPrefix.size(), kPrefix) != 0 ||
      request.compare(request.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return std::string();
  }
  const std::string body =
      request.substr(kPrefix.size(), request.size() - kPrefix.size() - kSuffix.size());
  std::string path;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\\' && i + 1 < body.size()) ++i;
    path.push_back(body[i]);
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--model") == 0) dir = argv[i + 1];
  }
  std::string args;
  for (int i = 0; i < argc; ++i) args += std::string(argv[i]) + "\n";
  WriteFile(dir + "/argv", args);
  WriteFile(dir + "/pid", std::to_string(::getpid()) + "\n");

  Script script = LoadScript(dir);
  const int run = CountRun(dir);
  if (script.hang_runs >= 0 && run > script.hang_runs) {
    script.hang_at_start = false;
    script.hang_after = -1;
  }
  std::snprintf(g_sigterm_marker, sizeof(g_sigterm_marker), "%s/sigterm", dir.c_str());
  g_ignore_sigterm = script.ignore_sigterm ? 1 : 0;
  struct sigaction action {};
  action.sa_handler = OnSigterm;
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  if (script.hang_at_start) Hang();
  if (script.first_none) return 0;
  if (!WriteOut(script.first)) return 1;
  if (script.exit_after_ready) return 0;

  std::string request;
  int request_count = 0;
  char byte = 0;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
    if (n < 0) continue;
    if (n == 0) break;
    if (byte != '\n') {
      request.push_back(byte);
      continue;
    }
    ++request_count;
    WriteFile(dir + "/requests", request + "\n", true);
    const std::string wav = RequestPath(request);
    if (std::FILE* in = std::fopen(wav.c_str(), "rb")) {
      std::string bytes;
      char buffer[65536];
      size_t got = 0;
      while ((got = std::fread(buffer, 1, sizeof(buffer), in)) > 0) bytes.append(buffer, got);
      std::fclose(in);
      WriteFile(dir + "/wav-" + std::to_string(request_count), bytes);
    } else {
      WriteFile(dir + "/missing-" + std::to_string(request_count), wav + "\n");
    }
    request.clear();

    if (script.long_line > 0) WriteOut(std::string(static_cast<size_t>(script.long_line), 'x'));
    int sent = 0;
    const auto stop_here = [&] {
      if (sent == script.die_after) std::exit(3);
      if (sent != script.hang_after) return;
      if (!script.hang_partial.empty()) {
        [[maybe_unused]] const ssize_t written =
            ::write(STDOUT_FILENO, script.hang_partial.data(), script.hang_partial.size());
      }
      Hang();
    };
    for (const std::string& line : script.emits) {
      stop_here();
      WriteOut(line);
      ++sent;
    }
    stop_here();
    WriteOut("DONE");
  }

  WriteFile(dir + "/eof", "");
  if (script.hang_on_eof) {
    for (;;) ::pause();
  }
  return 0;
}
