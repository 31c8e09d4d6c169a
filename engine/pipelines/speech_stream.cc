#include "engine/pipelines/speech_stream.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace dictacore {
namespace {

// What the reading thread hands to the decoding thread, in stream order.
struct StreamItem {
  enum class Kind { kLog, kDecode, kSpeechEnd, kVadFailed, kReadFailed, kEnd };
  Kind kind = Kind::kEnd;
  std::string text;            // kLog: the line; kVadFailed, kReadFailed: the message
  bool tail = false;           // kSpeechEnd: the audio goes on after the last speech
  SampleRange range;           // kDecode
  std::vector<float> samples;  // kDecode
};

// The items between the two threads. Pushing a decode waits while
// `max_decodes` are queued, which bounds the audio held, until the decoding
// side gives up on decoding.
class StreamQueue {
 public:
  explicit StreamQueue(size_t max_decodes) : max_decodes_(std::max<size_t>(max_decodes, 1)) {}

  void Push(StreamItem item) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (item.kind == StreamItem::Kind::kDecode) {
      room_.wait(lock, [this] { return decodes_ < max_decodes_ || stopped_; });
      ++decodes_;
    }
    items_.push_back(std::move(item));
    ready_.notify_one();
  }

  StreamItem Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !items_.empty(); });
    StreamItem item = std::move(items_.front());
    items_.pop_front();
    if (item.kind == StreamItem::Kind::kDecode) {
      --decodes_;
      room_.notify_one();
    }
    return item;
  }

  // No more decodes are wanted: pushes stop waiting and the reader stops
  // reading groups.
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    room_.notify_all();
  }

  bool stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }

 private:
  const size_t max_decodes_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<StreamItem> items_;
  size_t decodes_ = 0;
  bool stopped_ = false;
};

StreamItem Item(StreamItem::Kind kind, std::string text = std::string()) {
  StreamItem item;
  item.kind = kind;
  item.text = std::move(text);
  return item;
}

// The reading thread: source → VAD → groups → queue. Always ends the stream
// with kEnd.
class SpeechReader {
 public:
  SpeechReader(const AudioSource& source, VadBackend* vad, const SpeechStreamSettings& settings,
               StreamQueue* queue)
      : source_(source),
        vad_(vad),
        settings_(settings),
        queue_(queue),
        walker_(
            source.length(), settings.params,
            [queue](const std::string& line) { queue->Push(Item(StreamItem::Kind::kLog, line)); },
            [this](const GroupCut& cut) { return QueueDecodes(cut); }) {}

  void Run() {
    if (RunVad()) WalkTail();
    queue_->Push(Item(StreamItem::Kind::kEnd));
  }

 private:
  // Feeds the whole recording to the VAD, walking its segments as they come.
  // False when the stream has ended early (a failure was queued).
  bool RunVad() {
    const int64_t length = source_.length();
    const auto piece = static_cast<int64_t>(VadPieceSamples(settings_.params.sample_rate));
    // Whole VAD pieces per read, so that the VAD sees the pieces a single
    // read of the recording would give it.
    const int64_t block = std::max<int64_t>(settings_.read_samples / piece, 1) * piece;
    std::vector<float> samples;
    std::vector<float> chunk;
    std::string error;
    for (int64_t pos = 0; pos < length; pos += block) {
      if (!source_.Read(pos, block, &samples, &error)) {
        queue_->Push(Item(StreamItem::Kind::kReadFailed, error));
        return false;
      }
      for (size_t at = 0; at < samples.size(); at += static_cast<size_t>(piece)) {
        chunk.assign(samples.begin() + static_cast<std::ptrdiff_t>(at),
                     samples.begin() + static_cast<std::ptrdiff_t>(std::min(
                                           at + static_cast<size_t>(piece), samples.size())));
        if (!vad_->AcceptWaveform(chunk, &error)) {
          queue_->Push(Item(StreamItem::Kind::kVadFailed,
                            "offline_2pass VAD accept failed, fallback to chunk decode: " + error));
          return false;
        }
      }
      if (!WalkSegments()) return false;
    }
    if (!vad_->Flush(&error)) {
      queue_->Push(Item(StreamItem::Kind::kVadFailed,
                        "offline_2pass VAD flush failed, fallback to chunk decode: " + error));
      return false;
    }
    return WalkSegments();
  }

  // Takes the segments the VAD has finished. After a failed cut the VAD goes
  // on alone: where the speech ends decides the first line of the stream.
  bool WalkSegments() {
    VadSegment segment;
    std::string error;
    while (vad_->PopSegment(&segment, &error)) {
      if (segment.samples.empty()) continue;
      const SampleRange range = ClipToAudio(
          {segment.start, static_cast<int64_t>(segment.start) +
                              static_cast<int64_t>(segment.samples.size())},
          source_.length());
      if (range.end > range.start) speech_end_ = std::max(speech_end_, range.end);
      if (walking_) walking_ = walker_.Add(range);
      if (read_failed_) return false;
    }
    return true;
  }

  void WalkTail() {
    const int64_t length = source_.length();
    StreamItem end = Item(StreamItem::Kind::kSpeechEnd);
    end.tail = speech_end_ < length;
    queue_->Push(std::move(end));
    if (!walking_) return;
    if (speech_end_ < length) {
      for (const SampleRange& piece :
           TailPieces(speech_end_, length, settings_.params.group_limit)) {
        if (!walker_.Add(piece)) return;
      }
    }
    walker_.Flush();
  }

  bool QueueDecodes(const GroupCut& cut) {
    for (const SampleRange& range : SplitForDecodeWindow(cut.padded, settings_.params)) {
      if (queue_->stopped()) return false;
      StreamItem item = Item(StreamItem::Kind::kDecode);
      item.range = range;
      std::string error;
      if (!source_.Read(range.start, range.size(), &item.samples, &error)) {
        read_failed_ = true;
        queue_->Push(Item(StreamItem::Kind::kReadFailed, error));
        return false;
      }
      queue_->Push(std::move(item));
    }
    return true;
  }

  const AudioSource& source_;
  VadBackend* vad_;
  const SpeechStreamSettings& settings_;
  StreamQueue* queue_;
  DecodeGroupWalker walker_;
  int64_t speech_end_ = 0;
  bool walking_ = true;
  bool read_failed_ = false;
};

// Joins the reading thread on every way out; a decoding side that leaves
// early first tells the reader to stop waiting for room.
class ReaderThread {
 public:
  ReaderThread(SpeechReader* reader, StreamQueue* queue)
      : queue_(queue), thread_([reader] { reader->Run(); }) {}
  ~ReaderThread() {
    queue_->Stop();
    thread_.join();
  }
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

 private:
  StreamQueue* queue_;
  std::thread thread_;
};

}  // namespace

SpeechStreamOutcome DecodeSpeechStream(const AudioSource& source, VadBackend* vad,
                                       const SpeechStreamSettings& settings,
                                       EventEmitter* emitter, const DecodeRangeFn& decode,
                                       std::string* vad_failure) {
  // Until the VAD has heard the whole recording, whether the tail line comes
  // first is unknown: everything is held until then.
  std::vector<std::string> held;
  EventEmitter holder(&held);
  EventEmitter* out = &holder;
  bool failed = false;

  StreamQueue queue(settings.queued_decodes);
  SpeechReader reader(source, vad, settings, &queue);
  ReaderThread thread(&reader, &queue);
  while (true) {
    StreamItem item = queue.Pop();
    switch (item.kind) {
      case StreamItem::Kind::kLog:
        if (!failed) out->EmitLog(item.text);
        break;
      case StreamItem::Kind::kDecode:
        if (!failed && !decode(item.range, item.samples, out)) {
          failed = true;
          queue.Stop();
        }
        break;
      case StreamItem::Kind::kSpeechEnd:
        if (item.tail) emitter->EmitLog("offline_2pass tail compensation enabled");
        for (const std::string& line : held) emitter->EmitRawJson(line);
        held.clear();
        out = emitter;
        break;
      case StreamItem::Kind::kVadFailed:
        if (vad_failure != nullptr) *vad_failure = item.text;
        return SpeechStreamOutcome::kVadFailed;
      case StreamItem::Kind::kReadFailed:
        // The reader could not read what the file's size promised (it
        // shrank): the file is refused, like one whose header lies.
        // Held events go with it; a decode error already written stands.
        if (out == &holder || !failed) emitter->EmitError(item.text);
        return SpeechStreamOutcome::kFailed;
      case StreamItem::Kind::kEnd:
        for (const std::string& line : held) emitter->EmitRawJson(line);
        return failed ? SpeechStreamOutcome::kFailed : SpeechStreamOutcome::kDecoded;
    }
  }
}

}  // namespace dictacore
