#include "addons/hotkeys/simulated_keyboard_js.h"

#include <cmath>
#include <cstdint>

#include "addons/hotkeys/log.h"
#include "addons/hotkeys/simulated_keyboard.h"

namespace chordwatch {

namespace {

double NumberArgument(const Napi::CallbackInfo& info, size_t index,
                      const char* what) {
  if (info.Length() <= index || !info[index].IsNumber()) {
    throw Napi::TypeError::New(info.Env(), std::string(what) +
                                               " must be a number");
  }
  return info[index].As<Napi::Number>().DoubleValue();
}

uint64_t FlagsArgument(const Napi::CallbackInfo& info, size_t index) {
  const double flags = NumberArgument(info, index, "flags");
  if (flags < 0 || flags != std::floor(flags) || flags > 9007199254740991.0) {
    throw Napi::RangeError::New(info.Env(),
                                "flags must be a non-negative integer");
  }
  return static_cast<uint64_t>(flags);
}

// post(type, keycode, flags = 0, time = now): type 10 key down, 11 key up,
// 12 flags changed. Waits until every started object handled the event and
// returns whether one swallowed it.
Napi::Value Post(const Napi::CallbackInfo& info) {
  KeyEvent event;
  const double type = NumberArgument(info, 0, "type");
  if (type != 10 && type != 11 && type != 12) {
    throw Napi::RangeError::New(info.Env(), "type must be 10, 11 or 12");
  }
  event.type = static_cast<KeyEventType>(static_cast<int>(type));
  event.keycode = static_cast<int>(NumberArgument(info, 1, "keycode"));
  event.flags = info.Length() > 2 && !info[2].IsUndefined()
                    ? FlagsArgument(info, 2)
                    : 0;
  event.time = info.Length() > 3 && !info[3].IsUndefined()
                   ? NumberArgument(info, 3, "time")
                   : SystemClockSeconds();
  return Napi::Boolean::New(info.Env(),
                            SimulatedKeyboard::Instance().Post(event));
}

Napi::Value SetKeyDown(const Napi::CallbackInfo& info) {
  const int keycode = static_cast<int>(NumberArgument(info, 0, "keycode"));
  const bool down = info.Length() < 2 || info[1].ToBoolean().Value();
  SimulatedKeyboard::Instance().SetKeyDown(keycode, down);
  return info.Env().Undefined();
}

Napi::Value SetFlags(const Napi::CallbackInfo& info) {
  SimulatedKeyboard::Instance().SetModifierFlags(FlagsArgument(info, 0));
  return info.Env().Undefined();
}

Napi::Value RefuseTaps(const Napi::CallbackInfo& info) {
  const bool refuse = info.Length() < 1 || info[0].ToBoolean().Value();
  SimulatedKeyboard::Instance().SetRefuseTaps(refuse);
  return info.Env().Undefined();
}

Napi::Value Reset(const Napi::CallbackInfo& info) {
  SimulatedKeyboard::Instance().Reset();
  return info.Env().Undefined();
}

Napi::Value OpenTapCount(const Napi::CallbackInfo& info) {
  return Napi::Number::New(
      info.Env(),
      static_cast<double>(SimulatedKeyboard::Instance().OpenTapCount()));
}

}  // namespace

void ExportSimulatedKeyboard(Napi::Env env, Napi::Object exports) {
  Napi::Object keyboard = Napi::Object::New(env);
  keyboard.Set("post", Napi::Function::New(env, Post, "post"));
  keyboard.Set("setKeyDown", Napi::Function::New(env, SetKeyDown, "setKeyDown"));
  keyboard.Set("setFlags", Napi::Function::New(env, SetFlags, "setFlags"));
  keyboard.Set("refuseTaps", Napi::Function::New(env, RefuseTaps, "refuseTaps"));
  keyboard.Set("reset", Napi::Function::New(env, Reset, "reset"));
  keyboard.Set("openTapCount",
               Napi::Function::New(env, OpenTapCount, "openTapCount"));
  exports.Set("simulatedKeyboard", keyboard);
}

}  // namespace chordwatch
