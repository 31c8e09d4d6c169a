// Live dictation figures, with dictacore driven the way the host drives it:
// a microphone-like feeder writes 100 ms chunks to descriptor 3 in real time
// (silence between dictations, as an open microphone does), commands go to
// standard input, events are read from standard output.
//
//   live_bench chunk    [--utterance utterance_120s.wav]
//       engine time per 100 ms chunk on the VAD path, toolkit calls excluded
//       (through bench/chunk_cost_probe);
//   live_bench stopwait [--reps 3]
//       the wait from "stop" to the final result against the dictation's
//       length, in realtime mode and in offline two-pass mode, the latter
//       beyond the toolkit time of the engine's own decode, and next to the
//       toolkit baseline's time for the same file;
//   live_bench idle     [--reps 5]
//       with the pipe idle after the dictation (a push-to-talk host pauses
//       its microphone at "stop"): the wait from "stop" to the final result
//       in realtime mode, beyond the toolkit time of the final batch's
//       decode, and the time from "quit" to the process's exit;
//   live_bench sessions [--sessions 100]
//       resident memory after each of many start/stop sessions in one process.
//   live_bench all      the four, in this order.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/engine_session.h"
#include "tests/support/kit.h"
#include "tests/support/subprocess.h"

namespace dictacore::bench {
namespace {

using testing::EngineSession;
using testing::Event;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 1600;  // 100 ms at 16 kHz
constexpr int kRate = 16000;

// Writes audio to the engine's pipe from its own thread: queued dictations
// either paced at real time or all at once, and real-time silence whenever
// nothing is queued.
class Feeder {
 public:
  explicit Feeder(EngineSession* session) : session_(session), thread_([this] { Run(); }) {}
  ~Feeder() { Stop(); }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

  // Returns a ticket that Written() reports once the last sample is written.
  uint64_t Queue(const std::vector<float>& samples, bool paced) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({samples, paced, ++last_ticket_});
    return last_ticket_;
  }
  bool Written(uint64_t ticket) const { return written_ticket_.load() >= ticket; }
  uint64_t written_samples() const { return written_samples_.load(); }
  // Idle: nothing is written while nothing is queued (a paused microphone).
  void SetIdle(bool idle) { idle_ = idle; }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Item {
    std::vector<float> samples;
    bool paced;
    uint64_t ticket;
  };

  void Run() {
    const std::vector<float> silence(kChunk, 0.0f);
    auto next = Clock::now();
    size_t offset = 0;
    while (!stop_) {
      std::vector<float> chunk;
      uint64_t finished = 0;
      bool paced = true;
      bool queued = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) {
          chunk = silence;
        } else {
          queued = true;
          Item& item = queue_.front();
          paced = item.paced;
          const size_t n = paced ? std::min(kChunk, item.samples.size() - offset)
                                 : item.samples.size() - offset;
          chunk.assign(item.samples.begin() + static_cast<std::ptrdiff_t>(offset),
                       item.samples.begin() + static_cast<std::ptrdiff_t>(offset + n));
          offset += n;
          if (offset >= item.samples.size()) {
            finished = item.ticket;
            queue_.pop_front();
            offset = 0;
          }
        }
      }
      if (paced) {
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(100);
      }
      if (!queued && idle_) continue;
      session_->SendAudio(chunk);
      if (!paced) next = Clock::now();
      written_samples_ += chunk.size();
      if (finished != 0) written_ticket_ = finished;
    }
  }

  EngineSession* session_;
  mutable std::mutex mutex_;
  std::deque<Item> queue_;
  uint64_t last_ticket_ = 0;
  std::atomic<uint64_t> written_ticket_{0};
  std::atomic<uint64_t> written_samples_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> idle_{false};
  std::thread thread_;
};

bool IsLog(const Event& e, const std::string& prefix) {
  return e.value("type", "") == "log" && e.value("message", "").rfind(prefix, 0) == 0;
}

// Reads events (keeping them) until `done` holds; false on timeout or when
// the engine's output ends.
bool PumpUntil(EngineSession* session, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    // Not less: the wait is counted in whole milliseconds, and one of 2 ms
    // left less than one to read in, so this loop spun without reading.
    session->WaitFor([](const Event&) { return false; }, std::chrono::milliseconds(5));
  }
  return true;
}

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// The last events read, for a failure message.
std::string RecentEvents(const EngineSession& session, size_t count = 40) {
  std::string text;
  const auto& events = session.events();
  for (size_t i = events.size() > count ? events.size() - count : 0; i < events.size(); ++i) {
    text += events[i].dump() + "\n";
  }
  return text;
}

// One engine process with a feeder, for a series of dictations.
class LiveEngine {
 public:
  LiveEngine(std::vector<std::string> args, const std::string& program = "")
      : session_(std::move(args), true, program) {
    Require(session_.WaitForType("ready", std::chrono::seconds(60)).has_value(),
            "the engine did not get ready");
    feeder_ = std::make_unique<Feeder>(&session_);
  }

  EngineSession& session() { return session_; }
  const Feeder& feeder() const { return *feeder_; }
  Feeder& feeder() { return *feeder_; }

  void Start() {
    session_.SendCommand("start");
    Require(session_.WaitForLog("[SESSION-DIAG] cmd=start").has_value(), "no start");
  }

  // Sends a dictation; the part before `paced_tail` seconds from its end at
  // once, then waits until the engine has read it all (its keepalive lines),
  // and the tail in real time. Returns when the last sample is written.
  void Dictate(const std::vector<float>& samples, double paced_tail) {
    const size_t tail = std::min(samples.size(), static_cast<size_t>(paced_tail * kRate));
    const size_t bulk = samples.size() - tail;
    if (bulk > 0) {
      const size_t seen = session_.events().size();
      const uint64_t ticket = feeder_->Queue(
          std::vector<float>(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(bulk)),
          false);
      Require(PumpUntil(&session_, [&] { return feeder_->Written(ticket); },
                        std::chrono::minutes(10)),
              "bulk audio not taken");
      // The keepalive line of the last whole 5 s the engine will count: what
      // was written less what the engine dropped at "start" (pipe bytes it had
      // read but not yet made a chunk of).
      const uint64_t counted = feeder_->written_samples() - DroppedSamples();
      const double mark = static_cast<double>(counted / (5 * kRate) * 5);
      auto reached = [&](const Event& e) {
        return IsLog(e, "PCM keepalive: received ") &&
               std::atof(e.value("message", "").c_str() + 24) >= mark;
      };
      bool caught_up = false;
      for (size_t i = seen; i < session_.events().size() && !caught_up; ++i) {
        caught_up = reached(session_.events()[i]);
      }
      Require(caught_up || session_.WaitFor(reached, std::chrono::minutes(10)).has_value(),
              "the engine did not catch up");
    }
    if (tail == 0) return;
    const uint64_t ticket = feeder_->Queue(
        std::vector<float>(samples.begin() + static_cast<std::ptrdiff_t>(bulk), samples.end()),
        true);
    Require(PumpUntil(&session_, [&] { return feeder_->Written(ticket); },
                      std::chrono::minutes(10)),
            "paced audio not taken");
  }

  // Samples the engine has dropped so far when a session started.
  uint64_t DroppedSamples() const {
    static const std::string kKey = "dropped_bytes=";
    uint64_t bytes = 0;
    for (const Event& e : session_.events()) {
      if (!IsLog(e, "[SESSION-DIAG] pcm-pending-cleared")) continue;
      const std::string message = e.value("message", "");
      bytes += std::strtoull(message.c_str() + message.find(kKey) + kKey.size(), nullptr, 10);
    }
    return bytes / 2;  // s16le
  }

  // Writes "stop" and returns the time just before: the engine may run
  // before this thread returns from the write.
  Clock::time_point Stop() {
    const Clock::time_point at = Clock::now();
    session_.SendCommand("stop");
    return at;
  }

  testing::ProcessResult Close() {
    feeder_->Stop();
    session_.SendCommand("quit");
    session_.CloseAudio();
    session_.CloseStdin();
    return session_.Finish(std::chrono::seconds(60));
  }

 private:
  EngineSession session_;
  std::unique_ptr<Feeder> feeder_;
};

// Waits for the result of the segment that "stop" flushed (realtime mode).
// Returns the time it arrived and fills the seconds the final batch spans.
Clock::time_point WaitRealtimeFinal(EngineSession* session, double* batch_seconds) {
  const auto flush = session->WaitFor([](const Event& e) { return IsLog(e, "[VAD] seg source=flush id="); },
                                      std::chrono::seconds(30));
  Require(flush.has_value(), "stop flushed no VAD segment:\n" + RecentEvents(*session));
  const std::string message = flush->value("message", "");
  const int id = std::atoi(message.c_str() + message.find("id=") + 3);
  const auto result = session->WaitFor(
      [&](const Event& e) {
        return e.value("type", "") == "result" && e.value("segment_id", -1) == id;
      },
      std::chrono::seconds(30));
  const auto arrived = Clock::now();
  Require(result.has_value(), "no result for the flushed segment:\n" + RecentEvents(*session));
  const Event& segment = (*result)["segments"][0];
  *batch_seconds = segment.value("end_time", 0.0) - segment.value("start_time", 0.0);
  return arrived;
}

// Waits for the offline two-pass result; fills when the drain wait ended.
Clock::time_point WaitOfflineFinal(EngineSession* session, Clock::time_point* drained) {
  const auto drain = session->WaitFor(
      [](const Event& e) { return IsLog(e, "offline_2pass stop drain finished"); },
      std::chrono::seconds(30));
  *drained = Clock::now();
  Require(drain.has_value(), "no end of the drain wait");
  const auto result = session->WaitFor(
      [](const Event& e) {
        return e.value("type", "") == "result" && e.value("offline_2pass", false);
      },
      std::chrono::minutes(5));
  const auto arrived = Clock::now();
  Require(result.has_value() && !result->value("merged_text", "").empty(),
          "no offline result with text");
  return arrived;
}

std::vector<float> LoadBenchWav(const std::string& name) {
  return testing::LoadWav(BenchAudio(name));
}

void PrintSummaryRow(const char* label, const Summary& s) {
  std::printf("  %-26s median %8.3f  p90 %8.3f  p99 %8.3f  max %8.3f  (n=%zu)\n", label, s.median,
              s.p90, s.p99, s.max, s.count);
}

void ChunkCost(int argc, char** argv) {
  const std::string name = ArgValue(argc, argv, "--utterance", "utterance_120s.wav");
  const std::vector<float> audio = LoadBenchWav(name);
  std::printf("== Engine time per 100 ms chunk, VAD path (%s, %.1f s paced in real time)\n",
              name.c_str(), static_cast<double>(audio.size()) / kRate);
  std::fflush(stdout);
  LiveEngine engine(testing::RealtimeKitArgs(), BenchProgram("chunk_cost_probe"));
  engine.Start();
  engine.Dictate(audio, static_cast<double>(audio.size()) / kRate);
  engine.Stop();
  double batch = 0;
  WaitRealtimeFinal(&engine.session(), &batch);
  const testing::ProcessResult result = engine.Close();
  const size_t at = result.err.find("chunk-cost ");
  Require(at != std::string::npos, "the probe wrote no figures:\n" + result.err);
  const Event figures = Event::parse(result.err.substr(at + 11, result.err.find('\n', at) - at - 11));
  const std::vector<double> engine_us = figures["engine_us"].get<std::vector<double>>();
  const std::vector<double> toolkit_us = figures["toolkit_us"].get<std::vector<double>>();
  Require(engine_us.size() * kChunk + 2 * kChunk >= audio.size(), "chunks missing");
  auto to_ms = [](std::vector<double> v) {
    for (double& x : v) x /= 1000.0;
    return v;
  };
  const Summary own = Summarize(to_ms(engine_us));
  PrintSummaryRow("engine ms/chunk", own);
  PrintSummaryRow("toolkit ms/chunk (excl.)", Summarize(to_ms(toolkit_us)));
  std::printf("  goal: median engine time < 1 ms: %s\n", own.median < 1.0 ? "met" : "MISSED");
  // Where the slowest chunks are, so a spike can be traced to its moment.
  std::vector<size_t> order(engine_us.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return engine_us[a] > engine_us[b]; });
  std::printf("  slowest chunks (index: engine ms / toolkit ms):");
  for (size_t i = 0; i < std::min<size_t>(5, order.size()); ++i) {
    std::printf(" %zu: %.2f/%.1f", order[i], engine_us[order[i]] / 1000.0,
                toolkit_us[order[i]] / 1000.0);
  }
  std::printf("\n");
  std::fflush(stdout);
}

// One stop: its wait and what it consisted of.
struct StopFigures {
  double wait_ms = 0;   // "stop" written -> final result read
  double batch_s = 0;   // realtime: audio the final batch spans
  double drain_ms = 0;  // offline: "stop" -> end of the drain wait
};

struct WaitRow {
  std::string name;
  double seconds = 0;
  std::vector<StopFigures> stops;
  std::vector<double> Of(double StopFigures::*field) const {
    std::vector<double> values;
    for (const StopFigures& f : stops) values.push_back(f.*field);
    return values;
  }
};

// `reps` dictations of each file in one engine; `finish` waits for the final
// result of a dictation whose "stop" was written at the given time.
std::vector<WaitRow> Dictations(
    LiveEngine* engine, const std::vector<std::string>& names, int reps, double paced_tail,
    const std::function<StopFigures(LiveEngine*, Clock::time_point)>& finish) {
  std::vector<WaitRow> rows;
  for (const std::string& name : names) {
    const std::vector<float> audio = LoadBenchWav(name);
    WaitRow row{name, static_cast<double>(audio.size()) / kRate, {}};
    for (int r = 0; r < reps; ++r) {
      engine->Start();
      engine->Dictate(audio, paced_tail);
      row.stops.push_back(finish(engine, engine->Stop()));
    }
    rows.push_back(row);
  }
  return rows;
}

void StopWait(int argc, char** argv) {
  const int reps = std::max(1, std::atoi(ArgValue(argc, argv, "--reps", "3").c_str()));
  const std::vector<std::string> names = {"utterance_5s.wav", "utterance_30s.wav",
                                          "utterance_120s.wav"};
  const double paced_tail = 5.0;
  std::printf("== Wait from \"stop\" to the final result (%d dictations each; all but the last "
              "%.0f s of each sent at once, the rest in real time, silence after it)\n",
              reps, paced_tail);
  std::fflush(stdout);

  std::vector<WaitRow> realtime;
  {
    LiveEngine engine(testing::RealtimeKitArgs());
    realtime = Dictations(&engine, names, reps, paced_tail, [](LiveEngine* e, Clock::time_point stop) {
      StopFigures f;
      const auto done = WaitRealtimeFinal(&e->session(), &f.batch_s);
      f.wait_ms = MsBetween(stop, done);
      return f;
    });
    engine.Close();
  }
  std::printf(" realtime mode (--manual-mode --manual-realtime):\n");
  for (const WaitRow& row : realtime) {
    const Summary wait = Summarize(row.Of(&StopFigures::wait_ms));
    std::printf("  %6.1f s dictation: wait median %6.1f ms (min %6.1f, max %6.1f); final batch "
                "spans %.2f s\n",
                row.seconds, wait.median, wait.min, wait.max,
                Median(row.Of(&StopFigures::batch_s)));
  }
  const double growth = Median(realtime.back().Of(&StopFigures::wait_ms)) -
                        Median(realtime.front().Of(&StopFigures::wait_ms));
  std::printf("  growth of the wait, shortest to longest dictation: %+.1f ms (goal: flat)\n",
              growth);
  std::fflush(stdout);

  // Offline two-pass: the probe build of the program, which also reports the
  // offline decode's own wall and toolkit time per stop.
  std::vector<WaitRow> offline;
  std::vector<Event> passes;
  {
    std::vector<std::string> args = testing::RealtimeKitArgs();
    args.push_back("--offline-2pass");
    LiveEngine engine(args, BenchProgram("chunk_cost_probe"));
    offline = Dictations(&engine, names, reps, paced_tail, [](LiveEngine* e, Clock::time_point stop) {
      StopFigures f;
      Clock::time_point drained;
      const auto done = WaitOfflineFinal(&e->session(), &drained);
      f.wait_ms = MsBetween(stop, done);
      f.drain_ms = MsBetween(stop, drained);
      return f;
    });
    const testing::ProcessResult result = engine.Close();
    for (const std::string& line : testing::SplitLines(result.err)) {
      if (line.rfind("offline-pass ", 0) == 0) passes.push_back(Event::parse(line.substr(13)));
    }
    Require(passes.size() == names.size() * static_cast<size_t>(reps),
            "the probe reported " + std::to_string(passes.size()) + " offline decodes");
  }
  std::printf(" offline two-pass mode (--manual-mode --manual-realtime --offline-2pass):\n");
  for (size_t i = 0; i < offline.size(); ++i) {
    const WaitRow& row = offline[i];
    std::vector<double> pass_wall, pass_toolkit, pass_create, baseline;
    for (int r = 0; r < reps; ++r) {
      const Event& pass = passes[i * static_cast<size_t>(reps) + static_cast<size_t>(r)];
      pass_wall.push_back(pass.value("wall_ms", 0.0));
      pass_toolkit.push_back(pass.value("toolkit_ms", 0.0));
      pass_create.push_back(pass.value("vad_create_ms", 0.0));
      const testing::ProcessResult b =
          testing::RunProcess(BaselineCommand(BenchAudio(row.name)), "", std::chrono::minutes(10));
      Require(b.exit_code == 0, "toolkit_baseline failed: " + b.err);
      baseline.push_back(Event::parse(b.out).value("toolkit_ms", 0.0));
    }
    const double wait = Median(row.Of(&StopFigures::wait_ms));
    const double drain = Median(row.Of(&StopFigures::drain_ms));
    const double toolkit = Median(pass_toolkit);
    const double beyond = wait - drain - toolkit;
    std::printf("  %6.1f s dictation: wait median %7.1f ms = drain %5.1f + toolkit time of the "
                "decode %6.1f + %+6.1f ms (goal < 20): %s\n",
                row.seconds, wait, drain, toolkit, beyond, beyond < 20 ? "met" : "MISSED");
    std::printf("  %6s   the engine's offline decode took %6.1f ms: toolkit %6.1f ms (of it %5.1f "
                "ms creating its VAD), engine's own work %5.1f ms\n",
                "", Median(pass_wall), toolkit, Median(pass_create), Median(pass_wall) - toolkit);
    const double baseline_toolkit = Median(baseline);
    std::printf("  %6s   toolkit_baseline on the same file, a process of its own: toolkit %6.1f "
                "ms; wait beyond drain and that %+6.1f ms\n",
                "", baseline_toolkit, wait - drain - baseline_toolkit);
  }
  std::fflush(stdout);
}

// The values of `key` in the probe's lines that begin with `tag` and a space.
std::vector<double> ProbeFigures(const std::string& err, const std::string& tag,
                                 const std::string& key) {
  std::vector<double> values;
  for (const std::string& line : testing::SplitLines(err)) {
    if (line.rfind(tag + " ", 0) == 0) values.push_back(Event::parse(line.substr(tag.size() + 1)).value(key, 0.0));
  }
  return values;
}

void IdlePipe(int argc, char** argv) {
  const int reps = std::max(1, std::atoi(ArgValue(argc, argv, "--reps", "5").c_str()));
  const std::vector<float> audio = LoadBenchWav("utterance_5s.wav");
  const double seconds = static_cast<double>(audio.size()) / kRate;
  std::printf("== Pipe idle after the dictation: the microphone pauses at \"stop\" (%d engines, "
              "one %.1f s dictation each, paced in real time; realtime mode)\n",
              reps, seconds);
  std::fflush(stdout);
  std::vector<double> wait, decode, beyond, quit;
  for (int r = 0; r < reps; ++r) {
    LiveEngine engine(testing::RealtimeKitArgs(), BenchProgram("chunk_cost_probe"));
    engine.feeder().SetIdle(true);
    engine.Start();
    engine.Dictate(audio, seconds);
    const Clock::time_point stop = engine.Stop();
    double batch = 0;
    wait.push_back(MsBetween(stop, WaitRealtimeFinal(&engine.session(), &batch)));
    // Nothing more arrives; the pipe stays open.
    const Clock::time_point quit_at = Clock::now();
    engine.session().SendCommand("quit");
    const testing::ProcessResult result = engine.session().Finish(std::chrono::seconds(60));
    quit.push_back(MsBetween(quit_at, Clock::now()));
    Require(result.exit_code == 0, "the engine did not end after quit:\n" + result.err);
    const std::vector<double> final_batch = ProbeFigures(result.err, "realtime-final", "toolkit_ms");
    Require(final_batch.size() == 1, "the probe reported " + std::to_string(final_batch.size()) +
                                         " final batches");
    decode.push_back(final_batch[0]);
    beyond.push_back(wait.back() - final_batch[0]);
  }
  const Summary w = Summarize(wait);
  const Summary b = Summarize(beyond);
  std::printf("  \"stop\" -> final result: median %6.1f ms (min %6.1f, max %6.1f); toolkit time of "
              "the final batch's decode %6.1f ms; beyond it median %5.1f ms (max %5.1f), goal < 50: "
              "%s\n",
              w.median, w.min, w.max, Median(decode), b.median, b.max,
              b.max < 50 ? "met" : "MISSED");
  const Summary q = Summarize(quit);
  std::printf("  \"quit\" -> process exit: median %6.1f ms (min %6.1f, max %6.1f), goal < 100: %s\n",
              q.median, q.min, q.max, q.max < 100 ? "met" : "MISSED");
  std::fflush(stdout);
}

void Sessions(int argc, char** argv) {
  const int sessions = std::max(2, std::atoi(ArgValue(argc, argv, "--sessions", "100").c_str()));
  const std::vector<float> audio = LoadBenchWav("utterance_5s.wav");
  const double audio_kb = static_cast<double>(audio.size() * sizeof(float)) / 1024.0;
  std::printf("== Resident memory over %d start/stop sessions in one process (%.1f s dictation "
              "each, %.0f KB as floats)\n",
              sessions, static_cast<double>(audio.size()) / kRate, audio_kb);
  std::fflush(stdout);
  for (const bool offline : {false, true}) {
    std::vector<std::string> args = testing::RealtimeKitArgs();
    if (offline) args.push_back("--offline-2pass");
    LiveEngine engine(args);
    std::vector<double> index;
    std::vector<double> rss;
    for (int s = 1; s <= sessions; ++s) {
      engine.Start();
      // The last second in real time: at "stop" the engine has caught up and
      // the last phrase is still open.
      engine.Dictate(audio, 1.0);
      engine.Stop();
      Clock::time_point drained;
      double batch = 0;
      if (offline) {
        WaitOfflineFinal(&engine.session(), &drained);
      } else {
        WaitRealtimeFinal(&engine.session(), &batch);
      }
      index.push_back(s);
      rss.push_back(static_cast<double>(ReadRssKb(engine.session().pid())));
    }
    engine.Close();
    const size_t from = std::min<size_t>(9, rss.size() - 2);  // after session 10
    const std::vector<double> tail_x(index.begin() + static_cast<std::ptrdiff_t>(from), index.end());
    const std::vector<double> tail_y(rss.begin() + static_cast<std::ptrdiff_t>(from), rss.end());
    const double growth = rss.back() - rss[from];
    std::printf(" %s: RSS KB after session 1 %.0f, 10 %.0f, %d %.0f, %d %.0f; slope from session "
                "%zu on %+.2f KB/session; growth %+.0f KB (goal <= %.0f KB): %s\n",
                offline ? "offline two-pass" : "realtime", rss[0], rss[from], sessions / 2,
                rss[static_cast<size_t>(sessions / 2 - 1)], sessions, rss.back(), from + 1,
                Slope(tail_x, tail_y), growth, audio_kb, growth <= audio_kb ? "met" : "MISSED");
    std::fflush(stdout);
  }
}

int Main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "all";
  std::printf("machine: %s\n", MachineDescription().c_str());
  if (mode == "chunk" || mode == "all") ChunkCost(argc, argv);
  if (mode == "stopwait" || mode == "all") StopWait(argc, argv);
  if (mode == "idle" || mode == "all") IdlePipe(argc, argv);
  if (mode == "sessions" || mode == "all") Sessions(argc, argv);
  return 0;
}

}  // namespace
}  // namespace dictacore::bench

int main(int argc, char** argv) {
  return dictacore::bench::RunGuarded("live_bench", dictacore::bench::Main, argc, argv);
}
