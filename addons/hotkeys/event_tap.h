// What the hotkey logic needs from the platform: keyboard events as they
// happen, the physical key state on demand, and a tap that delivers the events
// on a thread of its own. The macOS adapter implements it with a Quartz event
// tap, the X11 adapter with XInput2 raw events and key grabs; the logic tests
// use the simulated keyboard.
//
// Events speak the macOS vocabulary: virtual key codes and the Quartz
// modifier flag word. Adapters of other platforms translate into it, so that
// a combination string names the same keys everywhere.
#ifndef ADDONS_HOTKEYS_EVENT_TAP_H_
#define ADDONS_HOTKEYS_EVENT_TAP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addons/hotkeys/key_names.h"

namespace chordwatch {

// Values are the platform's event type numbers.
enum class KeyEventType { kKeyDown = 10, kKeyUp = 11, kFlagsChanged = 12 };

struct KeyEvent {
  KeyEventType type = KeyEventType::kKeyDown;
  int keycode = 0;     // virtual key code
  uint64_t flags = 0;  // modifier flag word carried by the event
  double time = 0;     // seconds since the Unix epoch
};

// The physical keyboard state, independent of any event stream.
class KeyStateSource {
 public:
  virtual ~KeyStateSource() = default;
  virtual bool IsKeyDown(int keycode) const = 0;
  virtual uint64_t ModifierFlags() const = 0;
};

// Returns true to swallow the event (only honoured by an exclusive tap).
using KeyEventHandler = std::function<bool(const KeyEvent&)>;

// One keyboard tap. Open, Run and Close are called in that order on one
// watcher thread; Wake may be called from any thread at any time.
class EventTap {
 public:
  virtual ~EventTap() = default;

  // Installs the tap on the calling thread. An exclusive tap may swallow
  // events, otherwise it only listens. False when the system refuses the tap.
  virtual bool Open(bool exclusive, KeyEventHandler handler) = 0;

  // Delivers events to the handler until Wake. A Wake that came after Open
  // returned makes Run return at once, even when Run had not started yet.
  virtual void Run() = 0;

  // Removes the tap; events that were not delivered pass through.
  virtual void Close() = 0;

  // Ends Run. Before Open it does nothing.
  virtual void Wake() = 0;

  // The combinations of the exclusive bindings, whenever they change; may be
  // called from any thread, opened or not. A tap that swallows by the
  // handler's answer alone needs nothing in advance. A tap that has to claim
  // keys beforehand (X11 grabs them) claims these while it is open and
  // exclusive, and returns once the claim is in place.
  virtual void SetExclusiveCombos(std::vector<ParsedCombo> /*combos*/) {}

  virtual const KeyStateSource& KeyState() const = 0;

  // What the log says of a tap that opened (the watcher adds whether it is
  // exclusive), and of one that Open refused.
  virtual std::string StartedMessage() const = 0;
  virtual std::string RefusedMessage() const = 0;
};

// The tap of this build's platform.
std::unique_ptr<EventTap> CreatePlatformEventTap();

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_EVENT_TAP_H_
