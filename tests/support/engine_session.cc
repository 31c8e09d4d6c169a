#include "tests/support/engine_session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "engine/audio/audio_file_reader.h"

namespace dictacore::testing {

std::string BinPath(const std::string& name) { return std::string(DICTACORE_BIN_DIR) + "/" + name; }

std::string ToS16le(const std::vector<float>& samples) {
  std::string bytes;
  bytes.reserve(samples.size() * 2);
  for (float sample : samples) {
    float scaled = sample * 32768.0f;
    if (scaled > 32767.0f) scaled = 32767.0f;
    if (scaled < -32768.0f) scaled = -32768.0f;
    const auto value = static_cast<int16_t>(scaled);
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
  }
  return bytes;
}

std::string ToF32le(const std::vector<float>& samples) {
  std::string bytes(samples.size() * sizeof(float), '\0');
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

std::vector<float> LoadWav(const std::string& path) {
  std::vector<float> samples;
  std::string error;
  if (!ReadWavMono(path, 16000, &samples, &error)) {
    throw std::runtime_error("cannot load " + path + ": " + error);
  }
  return samples;
}

namespace {

// `spawn` with argv set to the engine program and `args`.
Subprocess::Config WithEngineArgs(Subprocess::Config spawn, const std::vector<std::string>& args,
                                  const std::string& program = "") {
  spawn.argv = args;
  spawn.argv.insert(spawn.argv.begin(), program.empty() ? BinPath("dictacore") : program);
  return spawn;
}

}  // namespace

EngineSession::EngineSession(std::vector<std::string> args, bool audio_pipe,
                             const std::string& program)
    : process_([&] {
        Subprocess::Config spawn;
        spawn.audio_pipe = audio_pipe;
        return WithEngineArgs(std::move(spawn), args, program);
      }()) {}

EngineSession::EngineSession(std::vector<std::string> args, Subprocess::Config spawn)
    : process_(WithEngineArgs(std::move(spawn), args)) {}

void EngineSession::SendAudio(const std::vector<float>& samples, bool f32, bool realtime,
                              double chunk_seconds) {
  samples_sent_ += samples.size();
  const std::string bytes = f32 ? ToF32le(samples) : ToS16le(samples);
  if (!realtime) {
    process_.WriteAudio(bytes.data(), bytes.size());
    return;
  }
  const size_t bytes_per_sample = f32 ? 4 : 2;
  const size_t chunk = static_cast<size_t>(chunk_seconds * 16000) * bytes_per_sample;
  const auto start = std::chrono::steady_clock::now();
  for (size_t offset = 0, index = 0; offset < bytes.size(); offset += chunk, ++index) {
    std::this_thread::sleep_until(start + std::chrono::duration<double>(chunk_seconds * index));
    process_.WriteAudio(bytes.data() + offset, std::min(chunk, bytes.size() - offset));
  }
}

bool EngineSession::WaitUntilReadingCommands(std::chrono::milliseconds timeout) {
  const std::string tasks = "/proc/" + std::to_string(pid()) + "/task";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    bool readable = false;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      // "<number> <first argument> ...": read(2) is 0 on x86-64.
      std::ifstream in(task.path() / "syscall");
      std::string number;
      std::string fd;
      if (!(in >> number)) continue;
      readable = true;  // "running" for a thread outside any system call
      if (number == "0" && in >> fd && fd == "0x0") return true;
    }
    if (!readable && !error) {
      // Where system calls cannot be inspected (no ptrace access), a pause
      // is the best that can be done.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool EngineSession::WaitUntilAudioRead(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (process_.AudioBytesUnread() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void EngineSession::SendCommand(const std::string& line) { process_.WriteStdin(line + "\n"); }

void EngineSession::StartCapture(int seq) {
  SendCommand("start");
  if (!WaitForLog("[SESSION-DIAG] cmd=start seq=" + std::to_string(seq) + " ")) {
    throw std::runtime_error("no start line for session " + std::to_string(seq));
  }
  // A chunk still in the pipe from before may already have opened the
  // session, its line written between the command's own two lines.
  if (HasLog("[SESSION-DIAG] first-chunk seq=" + std::to_string(seq) + " ")) return;
  SendAudio(std::vector<float>(1600, 0.0f));
  if (!WaitForLog("[SESSION-DIAG] first-chunk seq=" + std::to_string(seq) + " ")) {
    throw std::runtime_error("no first chunk for session " + std::to_string(seq));
  }
}

bool EngineSession::SendAndSync(const std::vector<float>& audio) {
  const size_t five = 5 * 16000;
  const size_t total = ((samples_sent_ + audio.size() + five - 1) / five) * five;
  std::vector<float> padded(total - samples_sent_ - audio.size(), 0.0f);
  padded.insert(padded.end(), audio.begin(), audio.end());
  SendAudio(padded);
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.6f", static_cast<double>(total) / 16000.0);
  return WaitForLog(std::string("PCM keepalive: received ") + seconds + "s audio").has_value();
}

void EngineSession::Keep(const std::string& line) {
  try {
    Event event = Event::parse(line);
    if (event.is_object()) {
      events_.push_back(std::move(event));
      return;
    }
  } catch (const std::exception&) {
  }
  bad_lines_.push_back(line);
}

std::optional<Event> EngineSession::WaitFor(const std::function<bool(const Event&)>& match,
                                            std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    const std::optional<std::string> line = process_.ReadLine(left);
    if (!line) return std::nullopt;
    const size_t before = events_.size();
    Keep(*line);
    if (events_.size() > before && match(events_.back())) return events_.back();
  }
}

std::optional<Event> EngineSession::WaitForLog(const std::string& prefix,
                                               std::chrono::milliseconds timeout) {
  return WaitFor(
      [&](const Event& e) {
        return e.value("type", "") == "log" && e.value("message", "").rfind(prefix, 0) == 0;
      },
      timeout);
}

std::optional<Event> EngineSession::WaitForType(const std::string& type,
                                                std::chrono::milliseconds timeout) {
  return WaitFor([&](const Event& e) { return e.value("type", "") == type; }, timeout);
}

ProcessResult EngineSession::Finish(std::chrono::milliseconds timeout) {
  while (process_.ReadLine(std::chrono::milliseconds(0))) Keep(process_.lines().back());
  ProcessResult result = process_.Wait(timeout);
  // Wait collected the rest of standard output; keep the lines not yet read.
  const std::vector<std::string> all = SplitLines(result.out);
  for (size_t i = process_.lines().size(); i < all.size(); ++i) Keep(all[i]);
  return result;
}

namespace {

std::vector<Event> SelectType(const std::vector<Event>& events, const std::string& type) {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (e.value("type", "") == type) out.push_back(e);
  }
  return out;
}

std::vector<std::string> LogMessages(const std::vector<Event>& events) {
  std::vector<std::string> out;
  for (const Event& e : SelectType(events, "log")) out.push_back(e.value("message", ""));
  return out;
}

bool AnyLogStartsWith(const std::vector<Event>& events, const std::string& prefix) {
  for (const std::string& message : LogMessages(events)) {
    if (message.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<Event> EngineSession::OfType(const std::string& type) const {
  return SelectType(events_, type);
}
std::vector<std::string> EngineSession::Logs() const { return LogMessages(events_); }
bool EngineSession::HasLog(const std::string& prefix) const {
  return AnyLogStartsWith(events_, prefix);
}

std::vector<std::string> EngineSession::CommandLogs() const {
  std::vector<std::string> logs;
  bool after_ready = false;
  for (const Event& e : events_) {
    if (e["type"] == "ready") after_ready = true;
    if (after_ready && e["type"] == "log" && e["message"] != "PCM pipe closed") {
      logs.push_back(e["message"]);
    }
  }
  return logs;
}

std::vector<Event> EngineRun::OfType(const std::string& type) const {
  return SelectType(events, type);
}
std::vector<std::string> EngineRun::Logs() const { return LogMessages(events); }
bool EngineRun::HasLog(const std::string& prefix) const { return AnyLogStartsWith(events, prefix); }

EngineRun RunEngine(const std::vector<std::string>& args, const std::string& input) {
  return RunEngine(args, Subprocess::Config(), input);
}

EngineRun RunEngine(const std::vector<std::string>& args, Subprocess::Config spawn,
                    const std::string& input, const std::string& program) {
  EngineRun run;
  run.result = RunProcess(WithEngineArgs(std::move(spawn), args, program), input);
  for (const std::string& line : SplitLines(run.result.out)) {
    try {
      Event event = Event::parse(line);
      if (event.is_object()) {
        run.events.push_back(std::move(event));
        continue;
      }
    } catch (const std::exception&) {
    }
    run.bad_lines.push_back(line);
  }
  return run;
}

}  // namespace dictacore::testing
