#include "engine/cli/pcm_loop.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/audio/pcm_pipe_reader.h"
#include "engine/cli/single_model.h"
#include "engine/common/strings.h"
#include "engine/pipelines/segment_decode.h"
#include "engine/text/punc_refine.h"
#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

using Posting = SharedState::Posting;

const char* Flag(bool value) { return value ? "1" : "0"; }

class AudioLoop {
 public:
  AudioLoop(const Options& options, OnlineBackend* online, OfflineDecoderBackend* decoder,
            PuncBackend* punc, VadBackend* vad, EventEmitter* emitter, SharedState* shared,
            AudioBuffer* audio)
      : options_(options),
        online_(online),
        decoder_(decoder),
        punc_(punc),
        vad_(vad),
        emitter_(emitter),
        shared_(shared),
        audio_(audio),
        reader_(options.audio_fd,
                options.audio_format == "f32le" ? AudioFormat::F32LE : AudioFormat::S16LE,
                shared->wakeup.fd()),
        rate_(SampleRateOrDefault(options.sample_rate)),
        chunk_samples_(static_cast<size_t>(
            std::llround(std::max(0.02, std::isfinite(options.chunk_duration)
                                            ? std::min(options.chunk_duration, 3600.0)
                                            : 0.1) *
                         options.sample_rate))),
        vad_piece_samples_(VadPieceSamples(options.sample_rate)),
        second_pass_every_(std::max(0, options.second_pass_every)),
        min_batch_samples_(std::max<size_t>(1, static_cast<size_t>(std::llround(rate_)))),
        keepalive_every_(5 * static_cast<uint64_t>(rate_)),
        single_model_(options, decoder, vad, emitter, shared, audio, &last_partial_text_) {}

  void Run() {
    if (shared_->quit.load()) return;
    while (true) {
      // Emptied before the requests are looked at: a wake-up posted after
      // the look is still pending at the next wait.
      shared_->wakeup.Clear();
      HandleRequests();
      if (shared_->posting.load() != Posting::kNone) {
        shared_->wakeup.Wait(10);
      } else if (!ReadAndHandleChunk()) {
        break;
      }
      if (shared_->quit.load()) {
        // A "stop" the loop has not acted on yet still gets its final decode
        // when "quit" (or the end of the pipe) follows at once.
        HandleStopRequest();
        return;
      }
    }
    shared_->quit = true;
  }

 private:
  // False when the pipe has ended or failed, which ends the session.
  bool ReadAndHandleChunk() {
    pending_is_session_audio_ = shared_->capturing.load();
    bool eof = false;
    if (!reader_.ReadChunk(chunk_samples_, &chunk_, &eof)) {
      emitter_->EmitError("PCM pipe read failed");
      return false;
    }
    if (eof) {
      shared_->pcm_eof = true;
      emitter_->EmitLog("PCM pipe closed");
      HandleStopRequest();
      return false;
    }
    // Empty: a wake-up came first; the requests are handled at the top.
    if (chunk_.empty()) return true;
    // Read for the session before the loop saw the stop it is to end: still
    // the session's. The bytes left pending came with the chunk's last ones.
    pending_is_session_audio_ =
        shared_->capturing.load() || (pending_is_session_audio_ && StopUnseen());
    HandleChunk(chunk_, pending_is_session_audio_);
    return true;
  }

  // The requests of a command that is still being posted wait until it is
  // whole, except that a start waiting for a stop lets the stop (and the
  // requests posted before it) go first.
  void HandleRequests() {
    const Posting posting = shared_->posting.load();
    if (posting == Posting::kNone ||
        (posting == Posting::kStart && shared_->stop_requested.load())) {
      ApplyPendingRequests("loop-top");
    }
    if (posting != Posting::kStop) HandleStopRequest();
  }

  void HandleStopRequest() {
    if (!options_.manual_realtime || !shared_->stop_requested.load()) return;
    TakeLastChunks();
    if (VadPath()) {
      EndSegment();
    } else {
      DecodeAndEmitManualSegment(options_, decoder_, punc_, emitter_, audio_, shared_);
    }
    // The stop's last event, whatever it decoded (maybe nothing): the one
    // sign on the wire that its session is over.
    emitter_->EmitLog("[SESSION-DIAG] stop-done seq=" + std::to_string(shared_->start_seq.load()));
    // Cleared only now: a "start" waits for it, so that this session's
    // events all come before the next session begins.
    shared_->stop_requested = false;
  }

  // The whole samples read for the session but not yet a whole chunk belong
  // to it, as at the end of the pipe: no need to wait for bytes that may
  // only come with the next dictation.
  void TakeLastChunks() {
    if (!pending_is_session_audio_) return;
    pending_is_session_audio_ = false;
    for (reader_.TakePending(chunk_samples_, &chunk_); !chunk_.empty();
         reader_.TakePending(chunk_samples_, &chunk_)) {
      HandleChunk(chunk_, true);
    }
  }

  // A realtime stop turns capture off before the loop ends it.
  bool StopUnseen() const {
    return shared_->posting.load() == Posting::kStop || shared_->stop_requested.load();
  }

  // A chunk in hand while a "start" is being posted, or posted and not yet
  // applied, was read before the loop saw that start: it belongs to neither
  // session. The bytes pending behind it go with the start's requests, at
  // the top of the loop.
  bool StartUnseen() const {
    return shared_->posting.load() == Posting::kStart || shared_->pending_pcm_clear.load();
  }

  bool VadPath() const { return options_.manual_realtime && vad_ != nullptr && vad_->IsReady(); }
  bool OnlineReady() const { return online_ != nullptr && online_->IsReady(); }

  void HandleChunk(const std::vector<float>& chunk, bool capture) {
    const uint64_t n = chunk.size();
    const uint64_t previous_total = shared_->total_samples.fetch_add(n);
    if (capture && !StartUnseen()) CaptureChunk(chunk);

    const uint64_t total = previous_total + n;
    const uint64_t index = keepalive_every_ > 0 ? total / keepalive_every_ : 0;
    if (index > last_keepalive_index_) {
      emitter_->EmitLog("PCM keepalive: received " + FormatFixed(total / rate_, 6) + "s audio");
      last_keepalive_index_ = index;
    }
  }

  void CaptureChunk(const std::vector<float>& chunk) {
    const uint64_t n = chunk.size();
    const uint64_t previous_captured = shared_->captured_samples.fetch_add(n);
    const uint64_t seq = shared_->start_seq.load();
    if (previous_captured == 0 && seq != last_first_chunk_seq_) {
      emitter_->EmitLog("[SESSION-DIAG] first-chunk seq=" + std::to_string(seq) +
                        " reset_applied_seq=" + std::to_string(shared_->reset_applied_seq.load()) +
                        " chunk_samples=" + std::to_string(n) +
                        " pending_session_reset=" + Flag(shared_->pending_session_reset.load()) +
                        " pending_online_reset=" + Flag(shared_->pending_online_reset.load()) +
                        " pending_vad_reset=" + Flag(shared_->pending_vad_reset.load()));
      last_first_chunk_seq_ = seq;
    }
    if (!VadPath()) {
      std::lock_guard<std::mutex> lock(audio_->mutex);
      audio_->session_samples.insert(audio_->session_samples.end(), chunk.begin(), chunk.end());
      audio_->manual_samples.insert(audio_->manual_samples.end(), chunk.begin(), chunk.end());
      return;
    }
    // Larger chunks go through recognition in the pieces the detector takes,
    // so that they give what the default chunk size gives.
    if (chunk.size() <= vad_piece_samples_) {
      RecognizePiece(chunk, seq);
      return;
    }
    for (size_t from = 0; from < chunk.size(); from += vad_piece_samples_) {
      const size_t to = std::min(chunk.size(), from + vad_piece_samples_);
      piece_.assign(chunk.begin() + static_cast<std::ptrdiff_t>(from),
                    chunk.begin() + static_cast<std::ptrdiff_t>(to));
      RecognizePiece(piece_, seq);
    }
  }

  // VAD path: keeps the piece, runs the first pass and the detector on it
  // and closes the segments it ends (or runs single-model streaming).
  void RecognizePiece(const std::vector<float>& piece, uint64_t seq) {
    {
      std::lock_guard<std::mutex> lock(audio_->mutex);
      audio_->session_samples.insert(audio_->session_samples.end(), piece.begin(), piece.end());
    }
    if (!options_.single_model_streaming && OnlineReady()) RecognizeFirstPass(piece, seq);
    std::string error;
    if (!vad_->AcceptWaveform(piece, &error)) {
      emitter_->EmitLog("VAD accept failed: " + error);
    } else if (options_.single_model_streaming) {
      single_model_.OnChunk();
    } else {
      CloseVadSegments("stream");
    }
  }

  void ApplyPendingRequests(const char* tag) {
    const std::string at = tag != nullptr ? tag : "unknown";
    if (shared_->pending_pcm_clear.exchange(false)) {
      const size_t dropped = reader_.ClearPending();
      std::string line = "[SESSION-DIAG] pcm-pending-cleared at=" + at +
                         " dropped_bytes=" + std::to_string(dropped);
      if (dropped > 0) {
        line += " dropped_samples~=" + std::to_string(dropped / reader_.bytes_per_sample());
      }
      emitter_->EmitLog(line);
    }
    if (shared_->pending_session_reset.exchange(false)) {
      const uint64_t seq = shared_->start_seq.load();
      pending_segments_.clear();
      last_partial_text_.clear();
      single_model_.Reset();
      punc_context_.clear();
      disabled_logged_ = false;
      shared_->reset_applied_seq = seq;
      emitter_->EmitLog("[SESSION-DIAG] session-reset-consumed seq=" + std::to_string(seq) +
                        " at=" + at +
                        " pending_online_reset=" + Flag(shared_->pending_online_reset.load()) +
                        " pending_vad_reset=" + Flag(shared_->pending_vad_reset.load()));
    }
    if (VadPath() && shared_->pending_vad_reset.exchange(false)) {
      std::string error;
      if (vad_->Reset(&error)) {
        emitter_->EmitLog("[SESSION-DIAG] vad-reset-applied seq=" +
                          std::to_string(shared_->start_seq.load()) + " at=" + at);
      } else {
        emitter_->EmitLog("VAD reset failed: " + error);
      }
    }
    if (shared_->pending_online_reset.exchange(false) && OnlineReady()) {
      std::string error;
      if (online_->Reset(&error)) {
        emitter_->EmitLog("[SESSION-DIAG] online-reset-applied seq=" +
                          std::to_string(shared_->start_seq.load()) + " at=" + at);
      } else {
        emitter_->EmitLog("Online reset failed: " + error);
      }
      last_partial_text_.clear();
    }
  }

  void RecognizeFirstPass(const std::vector<float>& chunk, uint64_t seq) {
    std::string text;
    std::string error;
    if (!online_->AcceptAndDecode(chunk, &text, nullptr, &error)) {
      emitter_->EmitLog("Online accept/decode failed: " + error);
      return;
    }
    if (text.empty() || text == last_partial_text_) return;
    // Partial text belongs to the segment the VAD will close next.
    const int id = shared_->next_segment_id.load();
    if (seq != last_first_partial_seq_) {
      emitter_->EmitLog("[SESSION-DIAG] first-partial seq=" + std::to_string(seq) +
                        " reset_applied_seq=" + std::to_string(shared_->reset_applied_seq.load()) +
                        " seg_id=" + std::to_string(id) +
                        " captured_samples=" + std::to_string(shared_->captured_samples.load()) +
                        " text=\"" + ShortenForLog(text, 64) + "\"");
      last_first_partial_seq_ = seq;
    }
    emitter_->EmitRawJson(BuildFirstPassEventJson(id, text, false, options_.session_id));
    last_partial_text_ = text;
  }

  void CloseVadSegments(const char* source) {
    VadSegment segment;
    std::string error;
    while (vad_->PopSegment(&segment, &error)) {
      const int id = shared_->next_segment_id.fetch_add(1);
      const int64_t start = std::max<int64_t>(segment.start, 0);
      const auto count = static_cast<int64_t>(segment.samples.size());
      emitter_->EmitLog(
          std::string("[VAD] seg source=") + source + " id=" + std::to_string(id) + " start=" +
          FormatFixed(start / rate_, 3) + "s end=" + FormatFixed((start + count) / rate_, 3) +
          "s raw=" + FormatFixed(count / rate_, 3) + "s start_sample=" + std::to_string(start) +
          " end_sample=" + std::to_string(start + count) + " raw_samples=" + std::to_string(count));
      EmitPunctuatedForPartial(punc_, emitter_, id, last_partial_text_, options_.session_id);
      emitter_->EmitRawJson(BuildFirstPassEventJson(id, "", false, options_.session_id));

      if (second_pass_every_ > 0) {
        pending_segments_.push_back({id, segment.start, std::move(segment.samples)});
        if (std::string(source) == "stream" &&
            pending_segments_.size() >= static_cast<size_t>(second_pass_every_)) {
          RunRealtimeBatch(false);
        }
      } else if (!disabled_logged_) {
        emitter_->EmitLog("[M3] realtime 2pass disabled by config (second_pass_every=0)");
        disabled_logged_ = true;
      }

      if (OnlineReady()) {
        std::string reset_error;
        if (!online_->Reset(&reset_error)) {
          emitter_->EmitLog("Online reset failed: " + reset_error);
        }
      }
      last_partial_text_.clear();
      segment = VadSegment();
    }
  }

  void RunRealtimeBatch(bool final) {
    if (second_pass_every_ <= 0 || pending_segments_.empty()) return;
    size_t total = 0;
    for (const PendingRealtimeSegment& segment : pending_segments_) total += segment.samples.size();
    if (!final && total < min_batch_samples_) {
      emitter_->EmitLog(
          "[M3] realtime 2pass pending short segment samples=" + std::to_string(total) +
          " min_samples=" + std::to_string(min_batch_samples_));
      return;
    }
    if (!DecodeAndEmitRealtimeBatch(options_, decoder_, punc_, emitter_, pending_segments_, false,
                                    &punc_context_, 24, final)) {
      emitter_->EmitLog("[M3] realtime 2pass batch skipped after decode failure");
    }
    pending_segments_.clear();
  }

  void EndSegment() {
    std::string error;
    if (!vad_->Flush(&error)) {
      emitter_->EmitLog("VAD flush failed: " + error);
      return;
    }
    if (options_.single_model_streaming) {
      single_model_.OnSegmentEnd();
      return;
    }
    CloseVadSegments("flush");
    RunRealtimeBatch(true);
    if (!OnlineReady()) return;
    std::string text;
    if (!online_->InputFinishedAndDecode(&text, &error)) {
      emitter_->EmitLog("Online finalize failed: " + error);
    } else if (!text.empty() && text != last_partial_text_) {
      emitter_->EmitRawJson(BuildFirstPassEventJson(shared_->next_segment_id.load(), text, false,
                                                    options_.session_id));
    }
    std::string reset_error;
    if (!online_->Reset(&reset_error)) emitter_->EmitLog("Online reset failed: " + reset_error);
    last_partial_text_.clear();
  }

  const Options& options_;
  OnlineBackend* online_;
  OfflineDecoderBackend* decoder_;
  PuncBackend* punc_;
  VadBackend* vad_;
  EventEmitter* emitter_;
  SharedState* shared_;
  AudioBuffer* audio_;

  PcmPipeReader reader_;
  std::vector<float> chunk_;
  std::vector<float> piece_;
  // Whether the bytes now pending (and the chunk being read) were read for
  // the session: capture was on when the read began.
  bool pending_is_session_audio_ = false;
  const double rate_;
  const size_t chunk_samples_;
  const size_t vad_piece_samples_;
  const int second_pass_every_;
  const size_t min_batch_samples_;
  const uint64_t keepalive_every_;
  uint64_t last_keepalive_index_ = 0;
  uint64_t last_first_chunk_seq_ = 0;
  uint64_t last_first_partial_seq_ = 0;
  std::string last_partial_text_;
  std::vector<PendingRealtimeSegment> pending_segments_;
  std::string punc_context_;
  bool disabled_logged_ = false;
  SingleModelStreamer single_model_;
};

}  // namespace

void PcmLoop(const Options& options, OnlineBackend* online, OfflineDecoderBackend* decoder,
             PuncBackend* punc, VadBackend* vad, DiarizationBackend* /*diarization*/,
             SpeakerIdentifier* /*identifier*/, EventEmitter* emitter, SharedState* shared,
             AudioBuffer* audio) {
  AudioLoop loop(options, online, decoder, punc, vad, emitter, shared, audio);
  loop.Run();
}

}  // namespace dictacore
