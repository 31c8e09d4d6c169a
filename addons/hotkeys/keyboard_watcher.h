// The watcher thread of one started object: it opens the platform's event tap,
// runs it until stopped and hands every keyboard event to a handler.
#ifndef ADDONS_HOTKEYS_KEYBOARD_WATCHER_H_
#define ADDONS_HOTKEYS_KEYBOARD_WATCHER_H_

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "addons/hotkeys/event_tap.h"
#include "addons/hotkeys/log.h"

namespace chordwatch {

class KeyboardWatcher {
 public:
  KeyboardWatcher(std::unique_ptr<EventTap> tap, LogSink log = Log);
  ~KeyboardWatcher();  // stops and joins
  KeyboardWatcher(const KeyboardWatcher&) = delete;
  KeyboardWatcher& operator=(const KeyboardWatcher&) = delete;

  // Starts the watcher thread unless already running; false in that case.
  // The handler runs on the watcher thread and only while running; when the
  // tap cannot be created the watcher logs it and stops by itself.
  bool Start(bool exclusive, KeyEventHandler handler);

  // Ends the watcher and joins it; false when it was not running. Once it
  // returns the handler is not called again.
  bool Stop();

  bool IsRunning() const { return running_.load(); }

  // The exclusive bindings' combinations, for a tap that claims their keys
  // in advance; see EventTap::SetExclusiveCombos.
  void SetExclusiveCombos(std::vector<ParsedCombo> combos) {
    tap_->SetExclusiveCombos(std::move(combos));
  }

  const KeyStateSource& KeyState() const { return tap_->KeyState(); }

 private:
  void WatcherMain(bool exclusive);
  void JoinIfEnded();

  const std::unique_ptr<EventTap> tap_;
  const LogSink log_;
  std::atomic<bool> running_{false};
  KeyEventHandler handler_;  // written only while no watcher thread exists
  std::thread thread_;
};

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_KEYBOARD_WATCHER_H_
