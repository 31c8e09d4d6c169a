// The script-facing class: bindings registered from script code, a watcher
// thread between start and stop, and events delivered to one script callback
// through a thread-safe function.
#ifndef ADDONS_HOTKEYS_CHORDWATCH_H_
#define ADDONS_HOTKEYS_CHORDWATCH_H_

#include <napi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "addons/hotkeys/chord_tracker.h"
#include "addons/hotkeys/keyboard_watcher.h"

namespace chordwatch {

struct CallbackSlot;

class Chordwatch : public Napi::ObjectWrap<Chordwatch> {
 public:
  static Napi::Object Init(Napi::Env env, Napi::Object exports);

  explicit Chordwatch(const Napi::CallbackInfo& info);
  ~Chordwatch() override;

 private:
  Napi::Value SetEventCallback(const Napi::CallbackInfo& info);
  Napi::Value Start(const Napi::CallbackInfo& info);
  Napi::Value Stop(const Napi::CallbackInfo& info);
  Napi::Value Register(const Napi::CallbackInfo& info);
  Napi::Value Unregister(const Napi::CallbackInfo& info);
  Napi::Value Clear(const Napi::CallbackInfo& info);
  Napi::Value GetBindingState(const Napi::CallbackInfo& info);

  // Watcher thread: one keyboard event in, whether to swallow it out.
  bool OnKeyEvent(const KeyEvent& event);
  // Watcher thread, without the tracker's lock: queues the events for the
  // installed callback, or drops them when there is none.
  void EmitEvents(std::vector<EventPayload> events);
  void StopInternal();
  // Hands the exclusive bindings to the tap after they changed.
  void UpdateExclusiveCombos();

  ChordTracker tracker_;
  KeyboardWatcher watcher_;

  // The installed callback; null when none. Swapped on the script thread,
  // read by the watcher, both under callback_mutex_.
  std::mutex callback_mutex_;
  std::shared_ptr<CallbackSlot> callback_;

  // Counts the stops. Queued events of an earlier run are dropped on the
  // script thread, so nothing arrives after stop returned. Shared with the
  // callbacks' queues, which may outlive the object.
  std::shared_ptr<std::atomic<uint64_t>> stop_count_;
};

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_CHORDWATCH_H_
