// The accessibility interface of the module the script tests load: simulated
// trees that script code installs. Only that test build of the module links
// this; the module hosts load reads the system's accessibility interface and
// has no way to install a tree.
#ifndef ADDONS_FOCUS_SIM_SCRIPT_HOOK_H_
#define ADDONS_FOCUS_SIM_SCRIPT_HOOK_H_

#include <node.h>

#include "addons/focus/accessibility.h"

namespace focusprobe {

// The tree installed last; until one is, a platform without the
// accessibility permission.
const Platform& SimulatedPlatform();

// `_setSimulatedAccessibility(description)`: installs a simulated tree built
// from a plain script object (format below, in the source), or with null or
// no argument goes back to the missing-permission platform. A malformed
// description throws a TypeError and leaves the installed tree as it was.
void SetSimulatedAccessibility(const v8::FunctionCallbackInfo<v8::Value>& args);

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_SIM_SCRIPT_HOOK_H_
