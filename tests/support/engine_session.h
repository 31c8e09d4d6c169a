// A dictacore process driven the way the host drives it: audio on descriptor
// 3, commands on standard input, JSON events read from standard output.
#ifndef DICTACORE_TESTS_SUPPORT_ENGINE_SESSION_H_
#define DICTACORE_TESTS_SUPPORT_ENGINE_SESSION_H_

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/kit.h"
#include "tests/support/subprocess.h"

namespace dictacore::testing {

using Event = nlohmann::json;

// Path of a built program.
std::string BinPath(const std::string& name);

// `seconds` of digital silence at 16 kHz.
inline std::vector<float> Silence(double seconds) {
  return std::vector<float>(static_cast<size_t>(seconds * 16000), 0.0f);
}

// Float samples as s16le or f32le bytes.
std::string ToS16le(const std::vector<float>& samples);
std::string ToF32le(const std::vector<float>& samples);

// Reads a mono 16-bit or float WAV written by the kit.
std::vector<float> LoadWav(const std::string& path);

class EngineSession {
 public:
  // `program`: another build of the engine (default: build/bin/dictacore).
  explicit EngineSession(std::vector<std::string> args, bool audio_pipe = true,
                         const std::string& program = "");
  // Spawned as `spawn` says; its argv is replaced by the program and `args`.
  EngineSession(std::vector<std::string> args, Subprocess::Config spawn);

  // Writes audio as fast as the pipe takes it, or paced like a microphone
  // (`realtime`: chunks of `chunk_seconds` at wall-clock speed).
  void SendAudio(const std::vector<float>& samples, bool f32 = false, bool realtime = false,
                 double chunk_seconds = 0.1);
  void SendCommand(const std::string& line);
  // Raw bytes on standard input (no line feed added); false when the engine
  // no longer reads it. May run on its own thread while events are read.
  bool WriteStdin(const std::string& data) { return process_.WriteStdin(data); }

  // "start" for session `seq`, then one chunk of silence read on its own, so
  // that no byte of the session is dropped with the bytes pending from before
  // the command.
  void StartCapture(int seq);

  // Sends `audio` after enough silence that all audio sent so far reaches a
  // multiple of five seconds, then waits for that keepalive line: the engine
  // has then taken in every chunk. Returns false on a timeout.
  bool SendAndSync(const std::vector<float>& audio);
  // Waits until the engine has read every byte written to its audio pipe
  // (whether it has made chunks of them or not). False on a timeout.
  bool WaitUntilAudioRead(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void CloseStdin() { process_.CloseStdin(); }
  void CloseAudio() { process_.CloseAudio(); }
  void CloseStdout() { process_.CloseStdout(); }
  pid_t pid() const { return process_.pid(); }

  // Waits until one of the engine's threads is blocked reading standard
  // input (Linux: a thread whose current system call is read on descriptor
  // 0), i.e. until a command line sent now is sure to be read even if the
  // session ends first. False on a timeout. Where the threads' system calls
  // cannot be read, it only pauses a little.
  bool WaitUntilReadingCommands(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Reads events until one matches; nothing when the output ends or the
  // timeout passes. Every event read is kept in events().
  std::optional<Event> WaitFor(const std::function<bool(const Event&)>& match,
                               std::chrono::milliseconds timeout = std::chrono::seconds(60));
  std::optional<Event> WaitForLog(const std::string& prefix,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(60));
  std::optional<Event> WaitForType(const std::string& type,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // Waits for the exit, then reads the rest of the output into events().
  ProcessResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  const std::vector<Event>& events() const { return events_; }
  // Every line that was not one JSON object (should stay empty).
  const std::vector<std::string>& bad_lines() const { return bad_lines_; }

  // Events of one type / log messages, in order.
  std::vector<Event> OfType(const std::string& type) const;
  std::vector<std::string> Logs() const;
  bool HasLog(const std::string& prefix) const;
  // Log messages after "ready" without "PCM pipe closed": whether the audio
  // thread reports the closed pipe depends on whether it was already reading
  // when the session ended.
  std::vector<std::string> CommandLogs() const;

 private:
  void Keep(const std::string& line);

  Subprocess process_;
  size_t samples_sent_ = 0;
  std::vector<Event> events_;
  std::vector<std::string> bad_lines_;
};

// Runs dictacore (or `program`, another build of it) to completion (file
// mode, one-shot commands) and parses its output.
struct EngineRun {
  ProcessResult result;
  std::vector<Event> events;
  std::vector<std::string> bad_lines;
  std::vector<Event> OfType(const std::string& type) const;
  std::vector<std::string> Logs() const;
  bool HasLog(const std::string& prefix) const;
};
EngineRun RunEngine(const std::vector<std::string>& args, const std::string& input = "");
EngineRun RunEngine(const std::vector<std::string>& args, Subprocess::Config spawn,
                    const std::string& input = "", const std::string& program = "");

}  // namespace dictacore::testing

#endif  // DICTACORE_TESTS_SUPPORT_ENGINE_SESSION_H_
