// Pieces shared by the benchmark drivers: where the programs, models and the
// benchmark audio are, the kit models' command lines, summaries of repeated
// measurements and a child's memory.
#ifndef DICTACORE_BENCH_BENCH_SUPPORT_H_
#define DICTACORE_BENCH_BENCH_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace dictacore::bench {

// Makes the benchmark audio (build/bench/audio) unless it is up to date and
// returns the path of one of its files ("long_speech.wav").
std::string BenchAudio(const std::string& file);

// Path of a program built into build/bench.
std::string BenchProgram(const std::string& name);

// dictacore options for the kit's punctuation model and the Silero VAD (the
// second pass: testing::SenseVoiceArgs).
std::vector<std::string> PunctuationArgs();
std::vector<std::string> VadArgs();

// The toolkit baseline's command line for a WAV file.
std::vector<std::string> BaselineCommand(const std::string& wav);

struct Summary {
  size_t count = 0;
  double min = 0, median = 0, p90 = 0, p99 = 0, max = 0, mean = 0;
};
// Nearest-rank percentiles of the values.
Summary Summarize(std::vector<double> values);
double Median(std::vector<double> values);

// Least-squares slope of y over x.
double Slope(const std::vector<double>& x, const std::vector<double>& y);

// VmRSS of a running process in KiB, or -1.
long ReadRssKb(pid_t pid);

double MsBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b);

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The machine the figures come from: CPU model, core count and how busy it
// was (1-minute load average).
std::string MachineDescription();

// `--name value` from argv, or `fallback`.
std::string ArgValue(int argc, char** argv, const std::string& name, const std::string& fallback);
bool HasFlag(int argc, char** argv, const std::string& name);

// Runs a driver's main; an exception becomes a message and exit status 1.
int RunGuarded(const char* name, int (*main)(int, char**), int argc, char** argv);

}  // namespace dictacore::bench

#endif  // DICTACORE_BENCH_BENCH_SUPPORT_H_
