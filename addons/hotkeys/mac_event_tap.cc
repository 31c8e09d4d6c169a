// The macOS event tap: a Quartz event tap at the login-session level on the
// watcher thread's run loop, and the HID system state for physical keys.
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "addons/hotkeys/event_tap.h"
#include "addons/hotkeys/log.h"

namespace chordwatch {

static_assert(static_cast<CGEventType>(KeyEventType::kKeyDown) == kCGEventKeyDown,
              "event types are passed through unchanged");
static_assert(static_cast<CGEventType>(KeyEventType::kKeyUp) == kCGEventKeyUp,
              "event types are passed through unchanged");
static_assert(static_cast<CGEventType>(KeyEventType::kFlagsChanged) == kCGEventFlagsChanged,
              "event types are passed through unchanged");

namespace {

// A tap without the permission its mode needs is not refused: the system
// clears the key-down and key-up bits from its mask and it hears modifier
// changes alone. So the permission is asked for first. Swallowing needs
// Accessibility; listening needs Input Monitoring (macOS 10.15 and later), which
// Accessibility also grants. Asking shows the system's prompt the first time,
// as creating the tap would.
bool MayTapKeys(bool exclusive) {
  if (!exclusive) {
    if (AXIsProcessTrusted()) return true;
    if (__builtin_available(macOS 10.15, *)) return CGRequestListenEventAccess();
    return false;  // before 10.15 key events reach trusted clients only
  }
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  const CFDictionaryRef options =
      CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks);
  const bool trusted = AXIsProcessTrustedWithOptions(options);
  if (options != nullptr) CFRelease(options);
  return trusted;
}

class MacKeyState : public KeyStateSource {
 public:
  bool IsKeyDown(int keycode) const override {
    return CGEventSourceKeyState(kCGEventSourceStateHIDSystemState,
                                 static_cast<CGKeyCode>(keycode));
  }
  uint64_t ModifierFlags() const override {
    return static_cast<uint64_t>(
        CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState));
  }
};

class MacEventTap : public EventTap {
 public:
  ~MacEventTap() override { Close(); }

  bool Open(bool exclusive, KeyEventHandler handler) override;
  void Run() override;
  void Close() override;
  void Wake() override;
  const KeyStateSource& KeyState() const override { return key_state_; }
  std::string StartedMessage() const override {
    return "macOS event tap started";
  }
  std::string RefusedMessage() const override { return refusal_; }

 private:
  static CGEventRef MacEventTapCallback(CGEventTapProxy proxy,
                                        CGEventType type, CGEventRef event,
                                        void* user_data);
  static void PerformStop(void* info);

  MacKeyState key_state_;
  KeyEventHandler handler_;
  std::string refusal_;

  // Owned by the watcher thread between Open and Close.
  CFMachPortRef event_tap_ = nullptr;
  CFRunLoopSourceRef run_loop_source_ = nullptr;
  bool stop_performed_ = false;

  // Published by Open for Wake, which may run on another thread.
  std::mutex mutex_;
  CFRunLoopRef run_loop_ = nullptr;
  // Signalled by Wake; fires on the watcher's run loop and stops it. A
  // signalled source stays pending until the run loop runs, so a Wake that
  // comes before Run is not lost the way a CFRunLoopStop would be.
  CFRunLoopSourceRef stop_source_ = nullptr;
};

bool MacEventTap::Open(bool exclusive, KeyEventHandler handler) {
  handler_ = std::move(handler);
  stop_performed_ = false;
  refusal_ = exclusive
                 ? "Failed to create macOS event tap (check Accessibility permission)"
                 : "Failed to create macOS event tap (check Input Monitoring permission)";
  if (!MayTapKeys(exclusive)) return false;
  const CGEventMask mask = CGEventMaskBit(kCGEventKeyDown) |
                           CGEventMaskBit(kCGEventKeyUp) |
                           CGEventMaskBit(kCGEventFlagsChanged);
  const CGEventTapOptions options =
      exclusive ? kCGEventTapOptionDefault : kCGEventTapOptionListenOnly;
  event_tap_ = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                options, mask, &MacEventTap::MacEventTapCallback,
                                this);
  if (event_tap_ == nullptr) return false;

  CFRunLoopSourceContext context = {};
  context.info = this;
  context.perform = &MacEventTap::PerformStop;
  CFRunLoopSourceRef stop_source =
      CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
  run_loop_source_ =
      CFMachPortCreateRunLoopSource(kCFAllocatorDefault, event_tap_, 0);
  if (stop_source == nullptr || run_loop_source_ == nullptr) {
    if (stop_source != nullptr) CFRelease(stop_source);
    Close();
    return false;
  }

  CFRunLoopRef run_loop = CFRunLoopGetCurrent();
  CFRunLoopAddSource(run_loop, run_loop_source_, kCFRunLoopCommonModes);
  CFRunLoopAddSource(run_loop, stop_source, kCFRunLoopCommonModes);
  CGEventTapEnable(event_tap_, true);

  std::lock_guard<std::mutex> lock(mutex_);
  CFRetain(run_loop);
  run_loop_ = run_loop;
  stop_source_ = stop_source;
  return true;
}

void MacEventTap::Run() {
  // CFRunLoopRun would also return on a stop that is not ours; only the stop
  // source ends the watcher.
  while (!stop_performed_) {
    const auto result =
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0e10, false);
    if (result == kCFRunLoopRunFinished) break;  // no sources left
  }
}

void MacEventTap::Close() {
  CFRunLoopRef run_loop = nullptr;
  CFRunLoopSourceRef stop_source = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(run_loop, run_loop_);
    std::swap(stop_source, stop_source_);
  }
  if (event_tap_ != nullptr) CGEventTapEnable(event_tap_, false);
  if (run_loop != nullptr) {
    if (run_loop_source_ != nullptr) {
      CFRunLoopRemoveSource(run_loop, run_loop_source_, kCFRunLoopCommonModes);
    }
    if (stop_source != nullptr) {
      CFRunLoopRemoveSource(run_loop, stop_source, kCFRunLoopCommonModes);
    }
    CFRelease(run_loop);
  }
  if (stop_source != nullptr) {
    CFRunLoopSourceInvalidate(stop_source);
    CFRelease(stop_source);
  }
  if (run_loop_source_ != nullptr) {
    CFRelease(run_loop_source_);
    run_loop_source_ = nullptr;
  }
  if (event_tap_ != nullptr) {
    CFMachPortInvalidate(event_tap_);
    CFRelease(event_tap_);
    event_tap_ = nullptr;
  }
}

void MacEventTap::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (run_loop_ == nullptr) return;
  CFRunLoopSourceSignal(stop_source_);
  CFRunLoopWakeUp(run_loop_);
}

void MacEventTap::PerformStop(void* info) {
  static_cast<MacEventTap*>(info)->stop_performed_ = true;
  CFRunLoopStop(CFRunLoopGetCurrent());
}

CGEventRef MacEventTap::MacEventTapCallback(CGEventTapProxy /*proxy*/,
                                            CGEventType type, CGEventRef event,
                                            void* user_data) {
  auto* tap = static_cast<MacEventTap*>(user_data);
  if (tap == nullptr) return event;
  if (type == kCGEventTapDisabledByTimeout) {
    // The system switches a tap off when a callback took too long; a hotkey
    // that silently stops working is worse than switching it back on.
    Log("macOS disabled the event tap after a slow callback; enabled it again");
    if (tap->event_tap_ != nullptr) CGEventTapEnable(tap->event_tap_, true);
    return event;
  }
  if (type == kCGEventTapDisabledByUserInput) {
    // Switched off on the user's behalf: not for the add-on to undo.
    Log("macOS disabled the event tap (user input); stop and start again to listen");
    return event;
  }
  if (type != kCGEventKeyDown && type != kCGEventKeyUp &&
      type != kCGEventFlagsChanged) {
    return event;
  }
  KeyEvent key_event;
  key_event.type = static_cast<KeyEventType>(type);
  key_event.keycode = static_cast<int>(
      CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
  key_event.flags = static_cast<uint64_t>(CGEventGetFlags(event));
  key_event.time = SystemClockSeconds();
  return tap->handler_(key_event) ? nullptr : event;
}

}  // namespace

std::unique_ptr<EventTap> CreatePlatformEventTap() {
  return std::make_unique<MacEventTap>();
}

}  // namespace chordwatch
