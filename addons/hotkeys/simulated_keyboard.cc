#include "addons/hotkeys/simulated_keyboard.h"

#include <algorithm>
#include <utility>

namespace chordwatch {

SimulatedKeyboard& SimulatedKeyboard::Instance() {
  // Never destroyed: watcher threads may still use it while the process exits.
  static SimulatedKeyboard& keyboard = *new SimulatedKeyboard;
  return keyboard;
}

bool SimulatedKeyboard::IsKeyDown(int keycode) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return keys_down_.count(keycode) != 0;
}

uint64_t SimulatedKeyboard::ModifierFlags() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flags_;
}

void SimulatedKeyboard::SetKeyDown(int keycode, bool down) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (down) {
    keys_down_.insert(keycode);
  } else {
    keys_down_.erase(keycode);
  }
}

void SimulatedKeyboard::SetModifierFlags(uint64_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  flags_ = flags;
}

void SimulatedKeyboard::SetRefuseTaps(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_taps_ = refuse;
}

void SimulatedKeyboard::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  keys_down_.clear();
  flags_ = 0;
  refuse_taps_ = false;
}

bool SimulatedKeyboard::Post(const KeyEvent& event) {
  std::shared_ptr<PostedEvent> posted;
  {
    // Taps detach under this lock, so none can go away while it is handed
    // the event; a tap that closes later finishes what it still holds.
    std::lock_guard<std::mutex> lock(mutex_);
    posted = std::make_shared<PostedEvent>(event, taps_.size());
    for (SimulatedEventTap* tap : taps_) tap->Enqueue(posted);
  }
  return posted->Wait();
}

size_t SimulatedKeyboard::OpenTapCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taps_.size();
}

bool SimulatedKeyboard::Attach(SimulatedEventTap* tap) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_taps_) return false;
  taps_.push_back(tap);
  return true;
}

void SimulatedKeyboard::Detach(SimulatedEventTap* tap) {
  std::lock_guard<std::mutex> lock(mutex_);
  taps_.erase(std::remove(taps_.begin(), taps_.end(), tap), taps_.end());
}

PostedEvent::PostedEvent(const KeyEvent& event, size_t taps)
    : event_(event), outstanding_(taps) {}

void PostedEvent::Finish(bool swallowed) {
  std::lock_guard<std::mutex> lock(mutex_);
  swallowed_ = swallowed_ || swallowed;
  if (--outstanding_ == 0) done_.notify_all();
}

bool PostedEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return outstanding_ == 0; });
  return swallowed_;
}

SimulatedEventTap::SimulatedEventTap(SimulatedKeyboard* keyboard)
    : keyboard_(keyboard) {}

SimulatedEventTap::~SimulatedEventTap() { Close(); }

bool SimulatedEventTap::Open(bool exclusive, KeyEventHandler handler) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
    exclusive_ = exclusive;
    woken_ = false;
    open_ = true;
  }
  if (keyboard_->Attach(this)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  return false;
}

void SimulatedEventTap::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return woken_ || !queue_.empty(); });
    if (woken_) return;
    std::shared_ptr<PostedEvent> posted = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    // A listen-only tap cannot swallow, whatever the handler decides.
    const bool swallow = handler_(posted->event()) && exclusive_;
    posted->Finish(swallow);
    lock.lock();
  }
}

void SimulatedEventTap::Close() {
  keyboard_->Detach(this);
  std::deque<std::shared_ptr<PostedEvent>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    left.swap(queue_);
  }
  for (const auto& posted : left) posted->Finish(false);
}

void SimulatedEventTap::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return;
  woken_ = true;
  changed_.notify_all();
}

std::string SimulatedEventTap::StartedMessage() const {
  return "macOS event tap started";
}

std::string SimulatedEventTap::RefusedMessage() const {
  return "Failed to create macOS event tap (check Accessibility permission)";
}

void SimulatedEventTap::Enqueue(std::shared_ptr<PostedEvent> posted) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(posted));
  changed_.notify_all();
}

std::unique_ptr<EventTap> CreatePlatformEventTap() {
  return std::make_unique<SimulatedEventTap>(&SimulatedKeyboard::Instance());
}

}  // namespace chordwatch
