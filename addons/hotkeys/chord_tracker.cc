#include "addons/hotkeys/chord_tracker.h"

#include <map>
#include <utility>

namespace chordwatch {

namespace {

bool AllDown(const KeySet& keys, const KeySet& down) {
  for (const std::string& key : keys) {
    if (down.count(key) == 0) return false;
  }
  return true;
}

}  // namespace

KeySet MacFilterFnModifier(const KeySet& mods, const std::string& key_name,
                           const KeyStateSource& key_state) {
  KeySet filtered = mods;
  if (filtered.count("Fn") != 0 && key_name != "Fn" &&
      !key_state.IsKeyDown(kFnKeycode)) {
    filtered.erase("Fn");
  }
  return filtered;
}

EventPayload MakeRawKeyEvent(const std::string& type,
                             const std::string& key_name, double now) {
  EventPayload event;
  event.type = type;
  event.raw_key = key_name;
  event.timestamp = now;
  return event;
}

ChordTracker::ChordTracker(const TrackerOptions& options, LogSink log)
    : options_(options), log_(std::move(log)) {}

std::string ChordTracker::Register(const ParsedCombo& combo,
                                   const std::string& name, bool exclusive) {
  Binding binding;
  binding.keys = combo.keys;
  binding.combo = combo.combo;
  binding.name = name;
  binding.exclusive = exclusive && options_.exclusive_mode;

  std::lock_guard<std::mutex> lock(mutex_);
  ++binding_counter_;
  binding.id = "binding_" + std::to_string(binding_counter_);
  std::string id = binding.id;
  bindings_.emplace(id, std::move(binding));
  return id;
}

void ChordTracker::Unregister(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  bindings_.erase(id);
  active_bindings_.erase(id);
  press_start_times_.erase(id);
}

void ChordTracker::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  bindings_.clear();
  active_bindings_.clear();
  press_start_times_.clear();
}

std::vector<ParsedCombo> ChordTracker::ExclusiveCombos() {
  std::map<std::string, KeySet> combos;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : bindings_) {
      const Binding& binding = entry.second;
      if (binding.exclusive) combos.emplace(binding.combo, binding.keys);
    }
  }
  std::vector<ParsedCombo> sorted;
  for (auto& entry : combos) {
    ParsedCombo combo;
    combo.combo = entry.first;
    combo.keys = std::move(entry.second);
    sorted.push_back(std::move(combo));
  }
  return sorted;
}

std::string ChordTracker::BindingState(const std::string& id,
                                       const KeyStateSource& key_state) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = bindings_.find(id);
  if (it == bindings_.end()) return "unregistered";

  const uint64_t flags = key_state.ModifierFlags();
  for (const std::string& key : it->second.keys) {
    bool down = false;
    if (key == "Fn") {
      down = key_state.IsKeyDown(kFnKeycode);
    } else if (MacIsModifierName(key)) {
      down = MacFlagIncludesModifier(flags, key);
    } else {
      int keycode = 0;
      if (!MacKeycodeForName(key, &keycode)) continue;  // no way to ask
      down = key_state.IsKeyDown(keycode);
    }
    if (down) {
      pressed_keys_.insert(key);
    } else {
      pressed_keys_.erase(key);
    }
  }
  return AllDown(it->second.keys, pressed_keys_) ? "pressed" : "released";
}

bool ChordTracker::HandleKeyEvent(const KeyEvent& event,
                                  const KeyStateSource& key_state,
                                  std::vector<EventPayload>* events) {
  const std::string key_name = MacKeycodeToName(event.keycode);
  const double now = event.time;

  if (event.type == KeyEventType::kFlagsChanged) {
    // A modifier's own event always keeps the Fn flag.
    const KeySet mods = MacFilterFnModifier(MacModifiersFromFlags(event.flags),
                                            "Fn", key_state);
    if (MacIsModifierName(key_name)) {
      const bool down = MacFlagIncludesModifier(event.flags, key_name);
      events->push_back(
          MakeRawKeyEvent(down ? "raw_press" : "raw_release", key_name, now));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ReplaceModifiersLocked(mods);
    if (MacIsSidedModifierName(key_name)) {
      // The flag word cannot tell which side moved, so a sided key's events
      // alternate between down and up while its bit is set.
      if (pressed_keys_.count(key_name) != 0) {
        pressed_keys_.erase(key_name);
      } else if (MacFlagIncludesModifier(event.flags, key_name)) {
        pressed_keys_.insert(key_name);
      }
    } else if (MacIsModifierName(key_name)) {
      if (MacFlagIncludesModifier(event.flags, key_name)) {
        pressed_keys_.insert(key_name);
      } else {
        pressed_keys_.erase(key_name);
      }
    }
    SyncBindingsLocked(now, events);
    return ExclusiveBindingHeldLocked(pressed_keys_);
  }

  const bool key_down = event.type == KeyEventType::kKeyDown;
  const KeySet mods = MacFilterFnModifier(MacModifiersFromFlags(event.flags),
                                          key_name, key_state);
  events->push_back(MakeRawKeyEvent(key_down ? "raw_press" : "raw_release",
                                    key_name, now));

  std::lock_guard<std::mutex> lock(mutex_);
  if (key_down) {
    ReplaceModifiersLocked(mods);
    pressed_keys_.insert(key_name);
    SyncBindingsLocked(now, events);
    return ExclusiveBindingHeldLocked(pressed_keys_);
  }
  // The key-up that ends an exclusive chord is swallowed like its key-down,
  // so the decision looks at the keys as they were before this event.
  KeySet before = pressed_keys_;
  before.insert(key_name);
  before.insert(mods.begin(), mods.end());
  ReplaceModifiersLocked(mods);
  pressed_keys_.erase(key_name);
  SyncBindingsLocked(now, events);
  return ExclusiveBindingHeldLocked(before);
}

void ChordTracker::ForgetPressedState() {
  std::lock_guard<std::mutex> lock(mutex_);
  pressed_keys_.clear();
  active_bindings_.clear();
  press_start_times_.clear();
}

void ChordTracker::ReplaceModifiersLocked(const KeySet& mods) {
  for (const std::string& generic : ModifierOrder()) {
    pressed_keys_.erase(generic);
  }
  pressed_keys_.insert(mods.begin(), mods.end());
}

void ChordTracker::SyncBindingsLocked(double now,
                                      std::vector<EventPayload>* events) {
  for (const auto& entry : bindings_) {
    const Binding& binding = entry.second;
    const bool down = AllDown(binding.keys, pressed_keys_);
    const bool active = active_bindings_.count(binding.id) != 0;
    if (down == active) continue;

    EventPayload event;
    event.binding_id = binding.id;
    event.combo = binding.combo;
    event.name = binding.name;
    event.exclusive = binding.exclusive;
    event.timestamp = now;
    if (down) {
      active_bindings_.insert(binding.id);
      press_start_times_[binding.id] = now;
      event.type = "press";
      events->push_back(std::move(event));
      continue;
    }

    active_bindings_.erase(binding.id);
    double start = 0;
    auto started = press_start_times_.find(binding.id);
    if (started != press_start_times_.end()) {
      start = started->second;
      press_start_times_.erase(started);
    }
    const double duration = now - start;
    const bool sent = duration >= options_.min_press_duration_s;
    if (options_.debug) LogRelease(binding.id, duration, sent);
    if (!sent) continue;
    event.type = "release";
    event.duration_s = duration;
    event.has_duration = true;
    events->push_back(std::move(event));
  }
}

bool ChordTracker::ExclusiveBindingHeldLocked(const KeySet& down) const {
  if (!options_.exclusive_mode) return false;
  for (const auto& entry : bindings_) {
    if (entry.second.exclusive && AllDown(entry.second.keys, down)) return true;
  }
  return false;
}

void ChordTracker::LogRelease(const std::string& id, double duration,
                              bool sent) const {
  log_(std::string(sent ? "Release sent for " : "Release ignored for ") + id +
       " (duration: " + std::to_string(duration * 1000.0) + "ms " +
       (sent ? ">=" : "<") +
       " threshold: " + std::to_string(options_.min_press_duration_s * 1000.0) +
       "ms)");
}

}  // namespace chordwatch
