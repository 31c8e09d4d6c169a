// A keyboard that exists only in memory, for the logic tests (and for builds
// with neither the macOS nor the X11 tap): tests set the physical key state
// and post events, and every open simulated tap receives them on its own
// watcher thread, the way the system hands events to Quartz event taps.
#ifndef ADDONS_HOTKEYS_SIMULATED_KEYBOARD_H_
#define ADDONS_HOTKEYS_SIMULATED_KEYBOARD_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "addons/hotkeys/event_tap.h"

namespace chordwatch {

class SimulatedEventTap;

class SimulatedKeyboard : public KeyStateSource {
 public:
  // The one keyboard of the process.
  static SimulatedKeyboard& Instance();

  bool IsKeyDown(int keycode) const override;
  uint64_t ModifierFlags() const override;

  void SetKeyDown(int keycode, bool down);
  void SetModifierFlags(uint64_t flags);
  // While set, opening a tap fails as it does without accessibility access.
  void SetRefuseTaps(bool refuse);
  // All keys up, no flags, taps allowed.
  void Reset();

  // Hands the event to every open tap and waits until each has handled it or
  // closed. True when some tap swallowed it.
  bool Post(const KeyEvent& event);

  size_t OpenTapCount() const;

 private:
  friend class SimulatedEventTap;
  bool Attach(SimulatedEventTap* tap);
  void Detach(SimulatedEventTap* tap);

  mutable std::mutex mutex_;
  std::unordered_set<int> keys_down_;
  uint64_t flags_ = 0;
  bool refuse_taps_ = false;
  std::vector<SimulatedEventTap*> taps_;
};

// An event on its way through the taps; whoever posted it waits for it.
class PostedEvent {
 public:
  PostedEvent(const KeyEvent& event, size_t taps);
  const KeyEvent& event() const { return event_; }
  void Finish(bool swallowed);
  bool Wait();  // true when some tap swallowed it

 private:
  const KeyEvent event_;
  std::mutex mutex_;
  std::condition_variable done_;
  size_t outstanding_;
  bool swallowed_ = false;
};

class SimulatedEventTap : public EventTap {
 public:
  explicit SimulatedEventTap(SimulatedKeyboard* keyboard);
  ~SimulatedEventTap() override;

  bool Open(bool exclusive, KeyEventHandler handler) override;
  void Run() override;
  void Close() override;
  void Wake() override;
  const KeyStateSource& KeyState() const override { return *keyboard_; }
  // It stands in for the macOS tap and logs in the same words.
  std::string StartedMessage() const override;
  std::string RefusedMessage() const override;

 private:
  friend class SimulatedKeyboard;
  void Enqueue(std::shared_ptr<PostedEvent> posted);

  SimulatedKeyboard* const keyboard_;
  KeyEventHandler handler_;
  bool exclusive_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<PostedEvent>> queue_;
  bool open_ = false;
  bool woken_ = false;
};

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_SIMULATED_KEYBOARD_H_
