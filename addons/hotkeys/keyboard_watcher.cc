#include "addons/hotkeys/keyboard_watcher.h"

#include <utility>

namespace chordwatch {

KeyboardWatcher::KeyboardWatcher(std::unique_ptr<EventTap> tap, LogSink log)
    : tap_(std::move(tap)), log_(std::move(log)) {}

KeyboardWatcher::~KeyboardWatcher() {
  Stop();
  JoinIfEnded();
}

bool KeyboardWatcher::Start(bool exclusive, KeyEventHandler handler) {
  if (running_.exchange(true)) return false;
  log_("Starting native chordwatch");
  // A watcher whose tap was refused has ended by itself but is still
  // joinable; it has to be joined before the thread object is replaced.
  JoinIfEnded();
  handler_ = std::move(handler);
  thread_ = std::thread(&KeyboardWatcher::WatcherMain, this, exclusive);
  return true;
}

bool KeyboardWatcher::Stop() {
  if (!running_.exchange(false)) return false;
  // The tap may not be open yet: then the watcher sees running_ false after
  // opening it and never enters Run, so Wake is not needed to end it.
  tap_->Wake();
  if (thread_.joinable()) thread_.join();
  return true;
}

void KeyboardWatcher::JoinIfEnded() {
  if (thread_.joinable()) thread_.join();
}

void KeyboardWatcher::WatcherMain(bool exclusive) {
  const bool opened = tap_->Open(exclusive, [this](const KeyEvent& event) {
    if (!running_.load()) return false;
    return handler_(event);
  });
  if (!opened) {
    log_(tap_->RefusedMessage());
    running_.store(false);
    return;
  }
  log_(tap_->StartedMessage() + " (exclusive=" + (exclusive ? "on" : "off") +
       ")");
  // Open publishes the tap before this check, and Stop clears running_ before
  // it wakes the tap: a Stop either finds the tap to wake or is seen here.
  if (running_.load()) tap_->Run();
  tap_->Close();
}

}  // namespace chordwatch
