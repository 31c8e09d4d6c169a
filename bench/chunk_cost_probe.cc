// dictacore with a stopwatch on its audio thread: the real program (same
// library, same main), linked with --wrap for every toolkit entry point of
// bench/toolkit_calls.inc, for read(), for poll() and for the two PCM
// conversions. The wrappers add up, per thread, the time spent inside the
// toolkit and waiting for input (read() and poll()); a chunk starts where the
// pipe reader converts it to floats. So for every chunk of the audio thread:
//
//   engine time = (start of the next chunk - start of this chunk)
//                 - time inside toolkit calls - time waiting for input
//
// i.e. what the engine itself spends on the chunk: the chunk bookkeeping, the
// shared buffer, VAD segment handling, batching, text and event work, and the
// stop handling when it falls between two chunks. A chunk counts as one of the
// VAD path when the VAD was called in its interval (fed, flushed or reset). At exit the probe
// writes one line to standard error:
//   chunk-cost {"engine_us":[...],"toolkit_us":[...]}
// with one entry per VAD-path chunk, in order.
//
// The offline two-pass decode that "stop" runs in --offline-2pass mode is
// timed as a whole too, with the toolkit time inside it (and, of that, the
// creation of its private VAD); one line per decode, as it ends:
//   offline-pass {"wall_ms":...,"toolkit_ms":...,"vad_create_ms":...}
// and so is the final realtime batch that "stop" decodes in realtime mode:
//   realtime-final {"wall_ms":...,"toolkit_ms":...}
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/backends/sherpa_onnx_c_api.h"
#include "engine/cli/run.h"
#include "engine/pipelines/offline_two_pass.h"
#include "engine/pipelines/segment_decode.h"

namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

thread_local int64_t toolkit_ns = 0;
thread_local int64_t read_ns = 0;
thread_local int64_t vad_calls = 0;
thread_local int64_t vad_create_ns = 0;
thread_local int64_t other_ns = 0;

// Adds the lifetime of the object to a per-thread sum.
class Timed {
 public:
  explicit Timed(int64_t* sum) : sum_(sum), start_(NowNs()) {}
  ~Timed() { *sum_ += NowNs() - start_; }
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  int64_t* sum_;
  int64_t start_;
};

struct ChunkStart {
  bool set = false;
  int64_t at = 0;
  int64_t toolkit = 0;
  int64_t read = 0;
  int64_t vad_calls = 0;
};
thread_local ChunkStart chunk_start;

std::mutex chunks_mutex;
std::vector<double> engine_us;  // VAD-path chunks only
std::vector<double> toolkit_us;

void StartChunk() {
  const int64_t now = NowNs();
  if (chunk_start.set && vad_calls > chunk_start.vad_calls) {
    const int64_t toolkit = toolkit_ns - chunk_start.toolkit;
    const int64_t reading = read_ns - chunk_start.read;
    const int64_t engine = now - chunk_start.at - toolkit - reading;
    std::lock_guard<std::mutex> lock(chunks_mutex);
    engine_us.push_back(static_cast<double>(engine) / 1000.0);
    toolkit_us.push_back(static_cast<double>(toolkit) / 1000.0);
  }
  chunk_start = {true, now, toolkit_ns, read_ns, vad_calls};
}

void CountCall(const char* name) {
  static const char kVad[] = "SherpaOnnxVoiceActivityDetector";
  if (std::strncmp(name, kVad, sizeof(kVad) - 1) == 0) ++vad_calls;
}

int64_t* CreateSum(const char* name) {
  return std::strcmp(name, "SherpaOnnxCreateVoiceActivityDetector") == 0 ? &vad_create_ns
                                                                         : &other_ns;
}

void WriteList(std::string* out, const std::vector<double>& values) {
  out->push_back('[');
  char number[32];
  for (size_t i = 0; i < values.size(); ++i) {
    std::snprintf(number, sizeof(number), i == 0 ? "%.1f" : ",%.1f", values[i]);
    *out += number;
  }
  out->push_back(']');
}

}  // namespace

#define TOOLKIT_CALL(ret, name, params, args) \
  extern "C" ret __real_##name params;        \
  extern "C" ret __wrap_##name params {       \
    Timed timed(&toolkit_ns);                 \
    Timed create(CreateSum(#name));           \
    CountCall(#name);                         \
    return __real_##name args;                \
  }                                           \
  static_assert(std::is_same_v<decltype(&__wrap_##name), decltype(&name)>, #name);
#include "toolkit_calls.inc"
#undef TOOLKIT_CALL

extern "C" ssize_t __real_read(int fd, void* buffer, size_t size);
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  Timed timed(&read_ns);
  return __real_read(fd, buffer, size);
}

// The audio thread waits for audio (and wake-ups) in poll().
extern "C" int __real_poll(pollfd* fds, nfds_t count, int timeout);
extern "C" int __wrap_poll(pollfd* fds, nfds_t count, int timeout) {
  Timed timed(&read_ns);
  return __real_poll(fds, count, timeout);
}

// dictacore::S16leToFloat and dictacore::F32leToFloat.
#define PCM_CONVERSION(mangled)                                                                   \
  extern "C" void __real_##mangled(const uint8_t* bytes, size_t count, std::vector<float>* out);  \
  extern "C" void __wrap_##mangled(const uint8_t* bytes, size_t count, std::vector<float>* out) { \
    StartChunk();                                                                                 \
    __real_##mangled(bytes, count, out);                                                          \
  }
PCM_CONVERSION(_ZN9dictacore12S16leToFloatEPKhmPSt6vectorIfSaIfEE)
PCM_CONVERSION(_ZN9dictacore12F32leToFloatEPKhmPSt6vectorIfSaIfEE)
#undef PCM_CONVERSION

// dictacore::DecodeAndEmitOffline2PassFull.
#define OFFLINE_PASS \
  _ZN9dictacore29DecodeAndEmitOffline2PassFullERKNS_7OptionsEPNS_21OfflineDecoderBackendEPNS_11PuncBackendEPNS_18DiarizationBackendEPNS_17SpeakerIdentifierEPNS_12EventEmitterEPNS_11AudioBufferE
#define OFFLINE_PASS_PARAMS                                                       \
  const dictacore::Options &options, dictacore::OfflineDecoderBackend *decoder,   \
      dictacore::PuncBackend *punc, dictacore::DiarizationBackend *diarization,   \
      dictacore::SpeakerIdentifier *identifier, dictacore::EventEmitter *emitter, \
      dictacore::AudioBuffer *audio
#define WRAPPED(prefix, name) WRAPPED_(prefix, name)
#define WRAPPED_(prefix, name) prefix##name
extern "C" bool WRAPPED(__real_, OFFLINE_PASS)(OFFLINE_PASS_PARAMS);
extern "C" bool WRAPPED(__wrap_, OFFLINE_PASS)(OFFLINE_PASS_PARAMS) {
  const int64_t start = NowNs();
  const int64_t toolkit_before = toolkit_ns;
  const int64_t create_before = vad_create_ns;
  const bool ok = WRAPPED(__real_, OFFLINE_PASS)(options, decoder, punc, diarization, identifier,
                                                 emitter, audio);
  std::fprintf(stderr,
               "offline-pass {\"wall_ms\":%.3f,\"toolkit_ms\":%.3f,\"vad_create_ms\":%.3f}\n",
               static_cast<double>(NowNs() - start) / 1e6,
               static_cast<double>(toolkit_ns - toolkit_before) / 1e6,
               static_cast<double>(vad_create_ns - create_before) / 1e6);
  return ok;
}
static_assert(std::is_same_v<decltype(&WRAPPED(__wrap_, OFFLINE_PASS)),
                             decltype(&dictacore::DecodeAndEmitOffline2PassFull)>);

// dictacore::DecodeAndEmitRealtimeBatch.
#define REALTIME_BATCH \
  _ZN9dictacore26DecodeAndEmitRealtimeBatchERKNS_7OptionsEPNS_21OfflineDecoderBackendEPNS_11PuncBackendEPNS_12EventEmitterERKSt6vectorINS_22PendingRealtimeSegmentESaISA_EEbPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEib
#define REALTIME_BATCH_PARAMS                                                              \
  const dictacore::Options &options, dictacore::OfflineDecoderBackend *decoder,            \
      dictacore::PuncBackend *punc, dictacore::EventEmitter *emitter,                      \
      const std::vector<dictacore::PendingRealtimeSegment>&batch, bool offline_2pass_flag, \
      std::string *punc_context, int context_chars, bool final
extern "C" bool WRAPPED(__real_, REALTIME_BATCH)(REALTIME_BATCH_PARAMS);
extern "C" bool WRAPPED(__wrap_, REALTIME_BATCH)(REALTIME_BATCH_PARAMS) {
  const int64_t start = NowNs();
  const int64_t toolkit_before = toolkit_ns;
  const bool ok =
      WRAPPED(__real_, REALTIME_BATCH)(options, decoder, punc, emitter, batch, offline_2pass_flag,
                                       punc_context, context_chars, final);
  if (final) {
    std::fprintf(stderr, "realtime-final {\"wall_ms\":%.3f,\"toolkit_ms\":%.3f}\n",
                 static_cast<double>(NowNs() - start) / 1e6,
                 static_cast<double>(toolkit_ns - toolkit_before) / 1e6);
  }
  return ok;
}
static_assert(std::is_same_v<decltype(&WRAPPED(__wrap_, REALTIME_BATCH)),
                             decltype(&dictacore::DecodeAndEmitRealtimeBatch)>);

int main(int argc, char** argv) {
  const int status = dictacore::Main(argc, argv);
  std::string line = "chunk-cost {\"engine_us\":";
  {
    std::lock_guard<std::mutex> lock(chunks_mutex);
    WriteList(&line, engine_us);
    line += ",\"toolkit_us\":";
    WriteList(&line, toolkit_us);
  }
  line += "}\n";
  std::fputs(line.c_str(), stderr);
  return status;
}
