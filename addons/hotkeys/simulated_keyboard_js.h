// Script access to the simulated keyboard, for the add-on's tests. Only
// builds without the macOS event tap have it.
#ifndef ADDONS_HOTKEYS_SIMULATED_KEYBOARD_JS_H_
#define ADDONS_HOTKEYS_SIMULATED_KEYBOARD_JS_H_

#include <napi.h>

namespace chordwatch {

// Adds the object "simulatedKeyboard" to exports.
void ExportSimulatedKeyboard(Napi::Env env, Napi::Object exports);

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_SIMULATED_KEYBOARD_JS_H_
