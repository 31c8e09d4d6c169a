#include "addons/hotkeys/chordwatch.h"

#include <string>
#include <utility>

#include "addons/hotkeys/key_names.h"
#include "addons/hotkeys/log.h"
#ifdef CHORDWATCH_SIMULATED_KEYBOARD
#include "addons/hotkeys/simulated_keyboard_js.h"
#endif

namespace chordwatch {

namespace {

struct Delivery {
  EventPayload payload;
  uint64_t stop_count = 0;  // of the object when the event was taken
};

void DeliverEvent(Napi::Env env, Napi::Function callback, CallbackSlot* slot,
                  Delivery* delivery);

using EventFunction =
    Napi::TypedThreadSafeFunction<CallbackSlot, Delivery, &DeliverEvent>;

}  // namespace

// One installed script callback. The object, the watcher and the function's
// own finalizer share it: the finalizer marks it unusable when the runtime
// destroys the function (also at environment teardown, before the object may
// be finalized), so nobody calls or releases a destroyed function.
struct CallbackSlot {
  std::mutex mutex;
  EventFunction tsfn;
  bool usable = false;  // created and neither released nor finalized
  std::shared_ptr<const std::atomic<uint64_t>> stop_count;
};

namespace {

Napi::Object MakeEventObject(Napi::Env env, const EventPayload& payload) {
  Napi::Object object = Napi::Object::New(env);
  object.Set("type", payload.type);
  object.Set("binding_id", payload.binding_id);
  object.Set("combo", payload.combo);
  if (!payload.name.empty()) object.Set("name", payload.name);
  if (!payload.raw_key.empty()) object.Set("raw_key", payload.raw_key);
  object.Set("exclusive", payload.exclusive);
  object.Set("timestamp", payload.timestamp);
  if (payload.has_duration) object.Set("duration_s", payload.duration_s);
  return object;
}

void DeliverEvent(Napi::Env env, Napi::Function callback, CallbackSlot* slot,
                  Delivery* raw) {
  std::unique_ptr<Delivery> delivery(raw);
  // A null environment means the runtime is discarding the queue.
  if (static_cast<napi_env>(env) == nullptr || callback.IsEmpty()) return;
  if (delivery->stop_count != slot->stop_count->load()) return;
  callback.Call(env.Undefined(), {MakeEventObject(env, delivery->payload)});
}

void ReleaseSlot(const std::shared_ptr<CallbackSlot>& slot) {
  if (!slot) return;
  std::lock_guard<std::mutex> lock(slot->mutex);
  if (!slot->usable) return;
  slot->usable = false;
  slot->tsfn.Release();
}

TrackerOptions ReadOptions(const Napi::CallbackInfo& info) {
  TrackerOptions options;
  if (info.Length() < 1 || !info[0].IsObject()) return options;
  const Napi::Object object = info[0].As<Napi::Object>();

  const Napi::Value debug = object.Get("debug");
  if (debug.IsBoolean()) options.debug = debug.As<Napi::Boolean>().Value();
  const Napi::Value exclusive = object.Get("exclusiveMode");
  if (exclusive.IsBoolean()) {
    options.exclusive_mode = exclusive.As<Napi::Boolean>().Value();
  }
  const Napi::Value min_press = object.Get("minPressDurationMs");
  if (min_press.IsNumber()) {
    const double ms = min_press.As<Napi::Number>().DoubleValue();
    options.min_press_duration_s = ms / 1000.0;
    if (options.debug) {
      Log("Min press duration set to: " + std::to_string(ms) + "ms");
    }
  }
  return options;
}

// The first argument as a string, or a TypeError with message.
std::string StringArgument(const Napi::CallbackInfo& info,
                           const char* message) {
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(info.Env(), message);
  }
  return info[0].As<Napi::String>().Utf8Value();
}

}  // namespace

Napi::Object Chordwatch::Init(Napi::Env env, Napi::Object exports) {
  Napi::Function constructor = DefineClass(
      env, "Chordwatch",
      {
          InstanceMethod("setEventCallback", &Chordwatch::SetEventCallback),
          InstanceMethod("start", &Chordwatch::Start),
          InstanceMethod("stop", &Chordwatch::Stop),
          InstanceMethod("register", &Chordwatch::Register),
          InstanceMethod("unregister", &Chordwatch::Unregister),
          InstanceMethod("clear", &Chordwatch::Clear),
          InstanceMethod("getBindingState", &Chordwatch::GetBindingState),
      });
  exports.Set("Chordwatch", constructor);
  return exports;
}

Chordwatch::Chordwatch(const Napi::CallbackInfo& info)
    : Napi::ObjectWrap<Chordwatch>(info),
      tracker_(ReadOptions(info)),
      watcher_(CreatePlatformEventTap()),
      stop_count_(std::make_shared<std::atomic<uint64_t>>(0)) {}

Chordwatch::~Chordwatch() {
  StopInternal();
  std::shared_ptr<CallbackSlot> slot;
  {
    std::lock_guard<std::mutex> lock(callback_mutex_);
    slot.swap(callback_);
  }
  ReleaseSlot(slot);
}

Napi::Value Chordwatch::SetEventCallback(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsFunction()) {
    throw Napi::TypeError::New(env, "setEventCallback expects a function");
  }

  auto slot = std::make_shared<CallbackSlot>();
  slot->stop_count = stop_count_;
  auto keep = std::make_unique<std::shared_ptr<CallbackSlot>>(slot);
  // Not weak: while a callback is installed it keeps the event loop alive.
  slot->tsfn = EventFunction::New(
      env, info[0].As<Napi::Function>(), "ChordwatchEvent", 0, 1, slot.get(),
      [](Napi::Env, std::shared_ptr<CallbackSlot>* kept, CallbackSlot*) {
        {
          std::lock_guard<std::mutex> lock((*kept)->mutex);
          (*kept)->usable = false;
        }
        delete kept;
      },
      keep.get());
  keep.release();  // the finalizer owns it now
  slot->usable = true;

  std::shared_ptr<CallbackSlot> previous;
  {
    std::lock_guard<std::mutex> lock(callback_mutex_);
    previous.swap(callback_);
    callback_ = std::move(slot);
  }
  // Waits for a delivery in progress on the old function, so the watcher
  // never queues on a released one.
  ReleaseSlot(previous);
  return env.Undefined();
}

Napi::Value Chordwatch::Start(const Napi::CallbackInfo& info) {
  watcher_.Start(tracker_.options().exclusive_mode,
                 [this](const KeyEvent& event) { return OnKeyEvent(event); });
  return info.Env().Undefined();
}

Napi::Value Chordwatch::Stop(const Napi::CallbackInfo& info) {
  StopInternal();
  return info.Env().Undefined();
}

Napi::Value Chordwatch::Register(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const std::string text =
      StringArgument(info, "register expects combo string");
  ParsedCombo parsed;
  if (!ParseCombo(text, &parsed)) throw Napi::Error::New(env, "combo is empty");

  bool exclusive = false;
  std::string name;
  if (info.Length() >= 2 && info[1].IsObject()) {
    const Napi::Object options = info[1].As<Napi::Object>();
    const Napi::Value exclusive_value = options.Get("exclusive");
    if (exclusive_value.IsBoolean()) {
      exclusive = exclusive_value.As<Napi::Boolean>().Value();
    }
    const Napi::Value name_value = options.Get("name");
    if (name_value.IsString()) name = name_value.As<Napi::String>().Utf8Value();
  }
  const std::string id = tracker_.Register(parsed, name, exclusive);
  UpdateExclusiveCombos();
  return Napi::String::New(env, id);
}

Napi::Value Chordwatch::Unregister(const Napi::CallbackInfo& info) {
  tracker_.Unregister(StringArgument(info, "unregister expects binding id"));
  UpdateExclusiveCombos();
  return info.Env().Undefined();
}

Napi::Value Chordwatch::Clear(const Napi::CallbackInfo& info) {
  tracker_.Clear();
  UpdateExclusiveCombos();
  return info.Env().Undefined();
}

Napi::Value Chordwatch::GetBindingState(const Napi::CallbackInfo& info) {
  const std::string id =
      StringArgument(info, "getBindingState expects binding id");
  return Napi::String::New(info.Env(),
                           tracker_.BindingState(id, watcher_.KeyState()));
}

bool Chordwatch::OnKeyEvent(const KeyEvent& event) {
  std::vector<EventPayload> events;
  const bool swallow =
      tracker_.HandleKeyEvent(event, watcher_.KeyState(), &events);
  EmitEvents(std::move(events));
  return swallow;
}

void Chordwatch::EmitEvents(std::vector<EventPayload> events) {
  if (events.empty()) return;
  std::shared_ptr<CallbackSlot> slot;
  {
    std::lock_guard<std::mutex> lock(callback_mutex_);
    slot = callback_;
  }
  if (!slot) return;

  const uint64_t stop_count = stop_count_->load();
  std::lock_guard<std::mutex> lock(slot->mutex);
  if (!slot->usable) return;
  for (EventPayload& payload : events) {
    auto delivery = std::make_unique<Delivery>();
    delivery->payload = std::move(payload);
    delivery->stop_count = stop_count;
    // A refused call (the function is closing) drops this event only.
    if (slot->tsfn.NonBlockingCall(delivery.get()) == napi_ok) {
      delivery.release();
    }
  }
}

void Chordwatch::UpdateExclusiveCombos() {
  // Outside exclusive mode no binding is exclusive: nothing to hand over.
  if (!tracker_.options().exclusive_mode) return;
  watcher_.SetExclusiveCombos(tracker_.ExclusiveCombos());
}

void Chordwatch::StopInternal() {
  if (!watcher_.Stop()) return;
  // The watcher has been joined, so no event can slip in between.
  tracker_.ForgetPressedState();
  stop_count_->fetch_add(1);
}

}  // namespace chordwatch

namespace {

Napi::Object InitAll(Napi::Env env, Napi::Object exports) {
  chordwatch::Chordwatch::Init(env, exports);
#ifdef CHORDWATCH_SIMULATED_KEYBOARD
  chordwatch::ExportSimulatedKeyboard(env, exports);
#endif
  return exports;
}

}  // namespace

NODE_API_MODULE(chordwatch, InitAll)
