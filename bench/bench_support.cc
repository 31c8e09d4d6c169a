#include "bench/bench_support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/engine_session.h"
#include "tests/support/kit.h"
#include "tests/support/subprocess.h"

namespace dictacore::bench {

using testing::ModelPath;

std::string BenchAudio(const std::string& file) {
  static bool made = false;
  const std::string dir = std::string(DICTACORE_BENCH_DIR) + "/audio";
  if (!made) {
    const testing::ProcessResult r = testing::RunProcess(
        {"/usr/bin/python3", std::string(DICTACORE_SOURCE_DIR) + "/bench/make_bench_audio.py",
         "--out", dir},
        "", std::chrono::minutes(10));
    if (r.exit_code != 0) {
      throw std::runtime_error("make_bench_audio.py failed:\n" + r.out + r.err);
    }
    made = true;
  }
  return dir + "/" + file;
}

std::string BenchProgram(const std::string& name) {
  return std::string(DICTACORE_BENCH_DIR) + "/" + name;
}

std::vector<std::string> PunctuationArgs() {
  return {"--ct-transformer", ModelPath("punct/model.onnx")};
}

std::vector<std::string> VadArgs() {
  return {"--silero-vad-model", ModelPath("silero/silero_vad_v5.onnx")};
}

std::vector<std::string> BaselineCommand(const std::string& wav) {
  std::vector<std::string> command = {BenchProgram("toolkit_baseline"), "--wav", wav};
  for (const auto& part : {testing::SenseVoiceArgs(), PunctuationArgs(), VadArgs()}) {
    command.insert(command.end(), part.begin(), part.end());
  }
  return command;
}

namespace {

double Rank(const std::vector<double>& sorted, double fraction) {
  // Nearest rank: the smallest value with at least `fraction` of the values
  // at or below it.
  size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
  if (rank < 1) rank = 1;
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

}  // namespace

Summary Summarize(std::vector<double> values) {
  Summary s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.count = values.size();
  s.min = values.front();
  s.max = values.back();
  s.median = Median(values);
  s.p90 = Rank(values, 0.90);
  s.p99 = Rank(values, 0.99);
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / static_cast<double>(values.size());
  return s;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = std::min(x.size(), y.size());
  if (n < 2) return 0;
  double mx = 0, my = 0;
  for (size_t i = 0; i < n; ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double num = 0, den = 0;
  for (size_t i = 0; i < n; ++i) {
    num += (x[i] - mx) * (y[i] - my);
    den += (x[i] - mx) * (x[i] - mx);
  }
  return den > 0 ? num / den : 0;
}

long ReadRssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

double MsBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string Format(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

std::string MachineDescription() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  std::string model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) model = line.substr(colon + 2);
      break;
    }
  }
  std::ifstream loadavg("/proc/loadavg");
  double load = 0;
  loadavg >> load;
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) +
         " cores, load average " + Format("%.2f", load) + " at the start";
}

std::string ArgValue(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (name == argv[i]) return argv[i + 1];
  }
  return fallback;
}

bool HasFlag(int argc, char** argv, const std::string& name) {
  for (int i = 1; i < argc; ++i) {
    if (name == argv[i]) return true;
  }
  return false;
}

int RunGuarded(const char* name, int (*main)(int, char**), int argc, char** argv) {
  try {
    return main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
}

}  // namespace dictacore::bench
