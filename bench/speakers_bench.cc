// Costs on the speaker side that grow with the data:
//   - rewriting and loading the enrollment database (every edit rewrites the
//     whole file through a temporary file, fsync and rename);
//   - laying diarization turns over recognised segments (segments x turns).
//
//   build/bench/speakers_bench [repetitions]
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/common/scoped_temp_dir.h"
#include "engine/diarization/speaker_assign.h"
#include "engine/speakers/enroll_db.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BenchDatabase(int repetitions) {
  dictacore::ScopedTempDir dir("speakers-bench");
  const std::string db = dir.File("enroll.txt");
  std::printf("enrollment database, dim 192, 3 voiceprints per speaker\n");
  std::printf("%10s %12s %12s %12s\n", "speakers", "bytes", "write ms", "load ms");
  for (int speakers : {10, 100, 1000}) {
    std::vector<dictacore::EnrollEntry> entries;
    for (int s = 0; s < speakers; ++s) {
      dictacore::EnrollEntry entry{dictacore::GenerateUuidV4(), "Speaker " + std::to_string(s), {}};
      for (int v = 0; v < 3; ++v) {
        entry.samples.push_back({"", std::vector<float>(192, 0.001f * static_cast<float>(s + v))});
      }
      entries.push_back(std::move(entry));
    }
    double write_ms = 0.0;
    double load_ms = 0.0;
    for (int r = 0; r < repetitions; ++r) {
      Clock::time_point start = Clock::now();
      dictacore::WriteEnrollDb(db, 192, entries, nullptr);
      write_ms += MsSince(start);
      start = Clock::now();
      int dim = 0;
      std::vector<dictacore::EnrollEntry> loaded;
      dictacore::LoadEnrollDb(db, &dim, &loaded, nullptr);
      load_ms += MsSince(start);
    }
    std::printf("%10d %12zu %12.2f %12.2f\n", speakers, dictacore::ReadWholeFile(db).size(),
                write_ms / repetitions, load_ms / repetitions);
  }
}

void BenchAssignment(int repetitions) {
  std::printf("\nspeaker assignment, 2 s segments, turns alternating every 1.5 s\n");
  std::printf("%10s %10s %12s\n", "segments", "turns", "ms");
  for (int minutes : {1, 10, 60}) {
    const double seconds = 60.0 * minutes;
    std::vector<dictacore::SegmentResult> segments;
    for (double t = 0.0; t + 2.0 <= seconds; t += 2.0) {
      segments.push_back({t, t + 2.0, "words words words, more words here.", ""});
    }
    std::vector<dictacore::DiarizationSegment> turns;
    for (double t = 0.0; t + 1.5 <= seconds; t += 1.5) {
      turns.push_back({t, t + 1.5, turns.size() % 2 == 0 ? "SPEAKER_00" : "SPEAKER_01"});
    }
    double ms = 0.0;
    for (int r = 0; r < repetitions; ++r) {
      std::vector<dictacore::SegmentResult> work = segments;
      const Clock::time_point start = Clock::now();
      dictacore::AssignAndSplitBySpeakers(&work, turns, nullptr);
      ms += MsSince(start);
    }
    std::printf("%10zu %10zu %12.2f\n", segments.size(), turns.size(), ms / repetitions);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  BenchDatabase(repetitions);
  BenchAssignment(repetitions);
  return 0;
}
