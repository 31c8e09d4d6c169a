// Standard-input command lines, two ways. Each line goes through
// ClassifyCommandLine, checked against a plain reading of the command
// grammar; then the whole input is fed to the real CommandLoop (standard input
// swapped for the fuzz text, standard output captured in memory) and the log
// lines it writes, decoded from their JSON, must be exactly the ones the
// commands call for, in order, with the shared state left accordingly.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/cli/command_loop.h"
#include "engine/cli/event_emitter.h"
#include "engine/cli/options.h"
#include "engine/cli/shared_state.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Kind = dictacore::SessionCommand::Kind;

// The lines as std::getline hands them out.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      lines.push_back(text.substr(begin));
      break;
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : line) {
    if (std::isspace(static_cast<unsigned char>(ch)) != 0) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(ch);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// The "set single-partial-interval V" rule read straight from the grammar.
bool ReadSetLine(const std::string& line, double* seconds) {
  const std::vector<std::string> words = Words(line);
  if (words.size() < 3 || words[0] != "set" || words[1] != "single-partial-interval") {
    return false;
  }
  char* end = nullptr;
  *seconds = std::strtod(words[2].c_str(), &end);
  return end != words[2].c_str();
}

void CheckClassification(const std::string& line, const dictacore::SessionCommand& command) {
  double seconds = 0.0;
  if (line.empty()) {
    FUZZ_CHECK(command.kind == Kind::kEmpty);
  } else if (line == "start") {
    FUZZ_CHECK(command.kind == Kind::kStart);
  } else if (line == "stop") {
    FUZZ_CHECK(command.kind == Kind::kStop);
  } else if (line == "quit") {
    FUZZ_CHECK(command.kind == Kind::kQuit);
  } else if (line == "manual" || line == "auto") {
    FUZZ_CHECK(command.kind == Kind::kMode);
  } else if (ReadSetLine(line, &seconds)) {
    FUZZ_CHECK(command.kind == Kind::kSetPartialInterval);
    FUZZ_CHECK(fuzz::SameBits(command.seconds, seconds));
  } else {
    FUZZ_CHECK(command.kind == Kind::kUnknown);
  }
}

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

// The message of one {"message":"...","type":"log"} line, unescaped.
bool DecodeLogLine(const std::string& line, std::string* message) {
  static const std::string kHead = "{\"message\":\"";
  static const std::string kTail = "\",\"type\":\"log\"}";
  if (!fuzz::StartsWith(line, kHead) || !fuzz::EndsWith(line, kTail)) return false;
  const std::string body = line.substr(kHead.size(), line.size() - kHead.size() - kTail.size());
  message->clear();
  for (size_t i = 0; i < body.size(); ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    if (byte < 0x20 || byte == '"') return false;  // must have been escaped
    if (byte != '\\') {
      message->push_back(body[i]);
      continue;
    }
    if (++i >= body.size()) return false;
    switch (body[i]) {
      case 't': message->push_back('\t'); break;
      case 'n': message->push_back('\n'); break;
      case 'r': message->push_back('\r'); break;
      case '"': message->push_back('"'); break;
      case '\\': message->push_back('\\'); break;
      case 'u': {
        if (i + 4 >= body.size() || body.compare(i + 1, 2, "00") != 0) return false;
        const int high = HexDigit(body[i + 3]);
        const int low = HexDigit(body[i + 4]);
        if (high < 0 || low < 0) return false;
        message->push_back(static_cast<char>(high * 16 + low));
        i += 4;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

// Standard output goes to an in-memory file for the whole process.
int CaptureStdout() {
  static fuzz::MemFile capture;
  FUZZ_CHECK(::dup2(capture.fd(), STDOUT_FILENO) == STDOUT_FILENO);
  return capture.fd();
}

std::string TakeCapturedOutput(int fd) {
  std::fflush(stdout);
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof(buffer), offset);
    FUZZ_CHECK(n >= 0);
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  FUZZ_CHECK(::ftruncate(fd, 0) == 0);
  FUZZ_CHECK(::lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int capture_fd = CaptureStdout();
  if (size == 0) return 0;

  dictacore::Options options;
  options.single_model_streaming = (data[0] & 1) != 0;
  options.manual_realtime = (data[0] & 2) != 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Expected log messages, line by line, up to "quit".
  std::vector<std::string> expected;  // exact messages, or prefixes ending in '*'
  uint64_t starts = 0;
  bool capturing = false;
  bool quit = false;
  std::string mode = "auto";
  uint32_t step = 0;
  for (const std::string& line : Lines(input)) {
    const dictacore::SessionCommand command = dictacore::ClassifyCommandLine(line);
    CheckClassification(line, command);
    switch (command.kind) {
      case Kind::kEmpty:
        break;
      case Kind::kStart:
        ++starts;
        capturing = true;
        expected.push_back("Capture started");
        expected.push_back("[SESSION-DIAG] cmd=start seq=" + std::to_string(starts) + " *");
        break;
      case Kind::kStop:
        capturing = false;
        expected.push_back("[SESSION-DIAG] cmd=stop seq=" + std::to_string(starts) + " *");
        expected.push_back("Capture stopped");
        break;
      case Kind::kQuit:
        quit = true;
        expected.push_back("Quit requested");
        break;
      case Kind::kMode:
        mode = line;
        expected.push_back("Mode switched to " + line);
        break;
      case Kind::kSetPartialInterval:
        step = dictacore::SinglePartialStepSamples(command.seconds, options.sample_rate);
        FUZZ_CHECK(step >= 1);
        expected.push_back("single-partial-interval updated to *");
        break;
      case Kind::kUnknown:
        expected.push_back("Unknown command: " + line);
        break;
    }
    if (quit) break;
  }

  std::stringbuf in(input);
  std::streambuf* saved = std::cin.rdbuf(&in);
  std::cin.clear();
  dictacore::EventEmitter emitter;
  dictacore::SharedState shared;
  dictacore::AudioBuffer audio;
  dictacore::CommandLoop(options, nullptr, nullptr, nullptr, nullptr, &emitter, &shared, &audio);
  std::cin.rdbuf(saved);
  std::cin.clear();

  const std::vector<std::string> written = Lines(TakeCapturedOutput(capture_fd));
  FUZZ_CHECK(written.size() == expected.size());
  for (size_t i = 0; i < written.size(); ++i) {
    std::string message;
    FUZZ_CHECK(DecodeLogLine(written[i], &message));
    if (fuzz::EndsWith(expected[i], "*")) {
      FUZZ_CHECK(fuzz::StartsWith(message, expected[i].substr(0, expected[i].size() - 1)));
    } else {
      FUZZ_CHECK(message == expected[i]);
    }
  }
  FUZZ_CHECK(shared.start_seq.load() == starts);
  FUZZ_CHECK(shared.capturing.load() == capturing);
  FUZZ_CHECK(shared.quit.load() == quit);
  FUZZ_CHECK(shared.mode == mode);
  FUZZ_CHECK(shared.single_partial_step.load() == step);
  return 0;
}
