// The binding state machine: which keys are down, which bindings are held,
// and which events script code hears about. It sees the keyboard only through
// KeyEvent records and a KeyStateSource, so it runs the same on every platform.
#ifndef ADDONS_HOTKEYS_CHORD_TRACKER_H_
#define ADDONS_HOTKEYS_CHORD_TRACKER_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "addons/hotkeys/event_tap.h"
#include "addons/hotkeys/key_names.h"
#include "addons/hotkeys/log.h"

namespace chordwatch {

struct Binding {
  std::string id;     // "binding_" + number
  KeySet keys;        // never empty
  std::string combo;  // canonical combination string
  std::string name;
  bool exclusive = false;
};

// One event for script code. Fields a type does not use stay empty, false or
// zero: raw events carry only raw_key; "release" alone has a duration.
struct EventPayload {
  std::string type;  // "press", "release", "raw_press" or "raw_release"
  std::string binding_id;
  std::string combo;
  std::string name;
  std::string raw_key;
  bool exclusive = false;
  double timestamp = 0;  // seconds since the Unix epoch
  double duration_s = 0;
  bool has_duration = false;
};

struct TrackerOptions {
  bool debug = false;           // log why releases are sent or ignored
  bool exclusive_mode = false;  // bindings may be exclusive; events swallowed
  double min_press_duration_s = 0.1;  // shorter holds report no release
};

// mods without "Fn" when the event's own key is not Fn and the physical Fn
// key is up: the platform sets the Fn flag on arrow and function keys.
KeySet MacFilterFnModifier(const KeySet& mods, const std::string& key_name,
                           const KeyStateSource& key_state);

EventPayload MakeRawKeyEvent(const std::string& type,
                             const std::string& key_name, double now);

class ChordTracker {
 public:
  explicit ChordTracker(const TrackerOptions& options, LogSink log = Log);
  ChordTracker(const ChordTracker&) = delete;
  ChordTracker& operator=(const ChordTracker&) = delete;

  const TrackerOptions& options() const { return options_; }

  // Adds a binding and returns its id. Ids are never reused. Outside
  // exclusive mode no binding is exclusive. Keys already down are not looked
  // at: the binding becomes pressed at the next key event.
  std::string Register(const ParsedCombo& combo, const std::string& name,
                       bool exclusive);
  // Forgets a binding without sending anything; unknown ids are ignored.
  void Unregister(const std::string& id);
  // Forgets every binding; the pressed keys and the id counter stay.
  void Clear();

  // The combinations of the exclusive bindings, each once, sorted by their
  // canonical string.
  std::vector<ParsedCombo> ExclusiveCombos();

  // "pressed", "released" or "unregistered". Brings the pressed keys of the
  // binding up to date from the physical state first; sends nothing.
  std::string BindingState(const std::string& id,
                           const KeyStateSource& key_state);

  // Applies one keyboard event, appends what script code should hear (the raw
  // event first, then presses and releases) and returns whether to swallow.
  bool HandleKeyEvent(const KeyEvent& event, const KeyStateSource& key_state,
                      std::vector<EventPayload>* events);

  // Forgets the pressed keys and held bindings without sending releases.
  void ForgetPressedState();

 private:
  void ReplaceModifiersLocked(const KeySet& mods);
  void SyncBindingsLocked(double now, std::vector<EventPayload>* events);
  bool ExclusiveBindingHeldLocked(const KeySet& down) const;
  void LogRelease(const std::string& id, double duration, bool sent) const;

  const TrackerOptions options_;
  const LogSink log_;

  std::mutex mutex_;
  KeySet pressed_keys_;
  std::unordered_map<std::string, Binding> bindings_;
  std::unordered_set<std::string> active_bindings_;
  std::unordered_map<std::string, double> press_start_times_;
  uint64_t binding_counter_ = 0;
};

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_CHORD_TRACKER_H_
