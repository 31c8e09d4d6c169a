// focusprobe: script functions reporting the frontmost application and window
// and the texts of the focused window. They run synchronously on the calling
// script thread, take no arguments and never throw; platform failures give
// null, an empty array or the counters of the debug object.
#include <node.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "addons/focus/accessibility.h"
#include "addons/focus/focus_probe.h"
#if defined(FOCUSPROBE_SIMULATED)
#include "addons/focus/sim_script_hook.h"
#endif

namespace focusprobe {
namespace {

v8::Local<v8::String> NewString(v8::Isolate* isolate, const std::string& text) {
  return v8::String::NewFromUtf8(isolate, text.data(), v8::NewStringType::kNormal,
                                 static_cast<int>(text.size()))
      .ToLocalChecked();
}

// Defines an own data property, so that setters on Object.prototype never
// run. A failure leaves an exception pending, which reaches the caller.
void AddProperty(v8::Local<v8::Context> context, v8::Local<v8::Object> object, const char* key,
                 v8::Local<v8::Value> value) {
  v8::Isolate* isolate = context->GetIsolate();
  const v8::Local<v8::String> name =
      v8::String::NewFromUtf8(isolate, key, v8::NewStringType::kInternalized).ToLocalChecked();
  static_cast<void>(object->CreateDataProperty(context, name, value).FromMaybe(false));
}

v8::Local<v8::Object> WindowInfoObject(v8::Local<v8::Context> context, const WindowInfo& info) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Object> object = v8::Object::New(isolate);
  AddProperty(context, object, "appName", NewString(isolate, info.appName));
  AddProperty(context, object, "windowTitle", NewString(isolate, info.windowTitle));
  AddProperty(context, object, "canInput", v8::Boolean::New(isolate, info.canInput));
  return object;
}

v8::Local<v8::Object> CandidateObject(v8::Local<v8::Context> context,
                                      const TextCandidate& candidate) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Object> object = v8::Object::New(isolate);
  AddProperty(context, object, "value", NewString(isolate, candidate.value));
  AddProperty(context, object, "role", NewString(isolate, candidate.role));
  AddProperty(context, object, "rawX", v8::Number::New(isolate, candidate.rawX));
  AddProperty(context, object, "rawY", v8::Number::New(isolate, candidate.rawY));
  AddProperty(context, object, "x", v8::Number::New(isolate, candidate.x));
  AddProperty(context, object, "y", v8::Number::New(isolate, candidate.y));
  AddProperty(context, object, "depth", v8::Integer::New(isolate, candidate.depth));
  return object;
}

v8::Local<v8::Object> DebugObject(v8::Local<v8::Context> context, const TextProbeDebug& debug) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Object> object = v8::Object::New(isolate);
  AddProperty(context, object, "accessibilityTrusted",
              v8::Boolean::New(isolate, debug.accessibilityTrusted));
  AddProperty(context, object, "focusedWindowError",
              v8::Integer::New(isolate, debug.focusedWindowError));
  AddProperty(context, object, "focusedWindowFound",
              v8::Boolean::New(isolate, debug.focusedWindowFound));
  AddProperty(context, object, "visitedCount", v8::Integer::New(isolate, debug.visitedCount));
  AddProperty(context, object, "childFetchErrorCount",
              v8::Integer::New(isolate, debug.childFetchErrorCount));
  AddProperty(context, object, "candidateCount", v8::Integer::New(isolate, debug.candidateCount));
  return object;
}

// The module hosts load reads the system's accessibility interface; the test
// build reads the simulated trees its tests install.
#if defined(FOCUSPROBE_SIMULATED)
const Platform& CurrentPlatform() { return SimulatedPlatform(); }
#else
const Platform& CurrentPlatform() { return SystemPlatform(); }
#endif

}  // namespace

void GetActiveApp(const v8::FunctionCallbackInfo<v8::Value>& args) {
  const WindowInfo info = ProbeActiveApp(CurrentPlatform());
  if (info.appName.empty()) {
    args.GetReturnValue().SetNull();
    return;
  }
  args.GetReturnValue().Set(WindowInfoObject(args.GetIsolate()->GetCurrentContext(), info));
}

void GetFocusedWindowTextCandidates(const v8::FunctionCallbackInfo<v8::Value>& args) {
  const std::vector<TextCandidate> candidates = ProbeFocusedWindowText(CurrentPlatform(), nullptr);
  v8::Isolate* isolate = args.GetIsolate();
  const v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Array> array = v8::Array::New(isolate, static_cast<int>(candidates.size()));
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    static_cast<void>(array
                          ->CreateDataProperty(context, static_cast<uint32_t>(i),
                                               CandidateObject(context, candidates[i]))
                          .FromMaybe(false));
  }
  args.GetReturnValue().Set(array);
}

void GetFocusedWindowTextProbeDebug(const v8::FunctionCallbackInfo<v8::Value>& args) {
  TextProbeDebug debug;
  ProbeFocusedWindowText(CurrentPlatform(), &debug);
  args.GetReturnValue().Set(DebugObject(args.GetIsolate()->GetCurrentContext(), debug));
}

void Initialize(v8::Local<v8::Object> exports, v8::Local<v8::Value> /*module*/, void* /*priv*/) {
  NODE_SET_METHOD(exports, "getActiveApp", GetActiveApp);
  NODE_SET_METHOD(exports, "getFocusedWindowTextCandidates", GetFocusedWindowTextCandidates);
  NODE_SET_METHOD(exports, "getFocusedWindowTextProbeDebug", GetFocusedWindowTextProbeDebug);
#if defined(FOCUSPROBE_SIMULATED)
  NODE_SET_METHOD(exports, "_setSimulatedAccessibility", SetSimulatedAccessibility);
#endif
}

}  // namespace focusprobe

// Classic registration: the module record carries the module version of the
// headers this file is compiled against.
NODE_MODULE(focusprobe, focusprobe::Initialize)
