// The two records the live threads share: flags and counters (atomics) and
// the captured audio (one mutex). Nothing else crosses between the command
// thread and the audio thread; waiting sides poll, there are no condition
// variables. The audio thread also polls a wake-up that the command thread
// posts after a request, so requests do not wait for the next chunk.
#ifndef DICTACORE_ENGINE_CLI_SHARED_STATE_H_
#define DICTACORE_ENGINE_CLI_SHARED_STATE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/common/wakeup_pipe.h"

namespace dictacore {

struct SharedState {
  std::atomic<bool> quit{false};
  std::atomic<bool> capturing{false};
  std::atomic<bool> pcm_eof{false};
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> pending_vad_reset{false};
  std::atomic<bool> pending_session_reset{false};
  std::atomic<bool> pending_pcm_clear{false};
  std::atomic<uint64_t> total_samples{0};
  std::atomic<uint64_t> captured_samples{0};
  std::atomic<uint64_t> start_seq{0};
  std::atomic<uint64_t> reset_applied_seq{0};
  // Samples of new audio between two single-model partial decodes; written
  // whole by the command thread, read by the audio thread.
  std::atomic<uint32_t> single_partial_step{0};
  std::atomic<int32_t> next_segment_id{1};
  std::atomic<bool> pending_online_reset{false};
  // The command the command thread is posting, if any: a "start" (which
  // first waits for a stop the audio thread is still ending) or a realtime
  // "stop". Meanwhile the audio thread reads no audio, so nothing read in
  // between lands in the wrong session, and leaves the command's requests
  // until it is whole, so that their events follow its log lines.
  enum class Posting : uint8_t { kNone, kStart, kStop };
  std::atomic<Posting> posting{Posting::kNone};
  // Posted after start, stop and quit requests.
  WakeupPipe wakeup;
  std::mutex mode_mutex;
  std::string mode = "auto";  // guarded by mode_mutex
};

struct AudioBuffer {
  std::mutex mutex;  // guards both vectors; never held while decoding or emitting
  // A second copy of the captured audio, kept when the live VAD path is not
  // active; the push-to-talk decode moves it out.
  std::vector<float> manual_samples;
  // All audio captured since the last "start" (in file mode: the file).
  std::vector<float> session_samples;
};

// The single-model partial interval in samples: NaN, infinite or non-positive
// seconds mean 0.5 s, at least 0.2 s, rounded; a rate below 1 counts as 16 kHz.
uint32_t SinglePartialStepSamples(double seconds, int sample_rate);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_CLI_SHARED_STATE_H_
