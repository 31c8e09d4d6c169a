#include "addons/focus/sim_script_hook.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addons/focus/sim_accessibility.h"

namespace focusprobe {
namespace {

// Until a test installs a tree, the process is as one that was not granted the
// accessibility permission.
std::unique_ptr<SimPlatform>& InstalledPlatform() {
  static std::unique_ptr<SimPlatform> platform = MissingPermissionPlatform();
  return platform;
}

// Builds a simulated platform from a plain script object:
//   { trusted: bool, systemWide: element, windows: [{layer, ownerName, name}] }
// `trusted` defaults to true; without `systemWide` the system-wide element
// cannot be created. An element is an object mapping attribute names to
// values; attributes it lacks answer "no value". A value is a string, a
// boolean, null (success without a value), a number (a value of another
// kind), an array of values, an element, {$point: [x, y]}, {$other: true} or,
// as an attribute's whole answer, {$error: code}.
class SimulationReader {
 public:
  explicit SimulationReader(v8::Local<v8::Context> context)
      : isolate_(context->GetIsolate()), context_(context) {}

  bool ReadPlatform(v8::Local<v8::Value> description, SimPlatform* platform) {
    if (!description->IsObject()) return Fail("description must be an object or null");
    const v8::Local<v8::Object> object = description.As<v8::Object>();
    v8::Local<v8::Value> trusted;
    v8::Local<v8::Value> system_wide;
    v8::Local<v8::Value> windows;
    if (!Get(object, "trusted", &trusted) || !Get(object, "systemWide", &system_wide) ||
        !Get(object, "windows", &windows)) {
      return false;
    }
    platform->trusted = trusted->IsUndefined() || trusted->BooleanValue(isolate_);
    if (system_wide->IsObject()) {
      if (!ReadElement(system_wide.As<v8::Object>(), 0, &platform->system_wide)) return false;
    } else if (!system_wide->IsNullOrUndefined()) {
      return Fail("systemWide must be an element object or null");
    }
    if (windows->IsUndefined()) return true;
    if (!windows->IsArray()) return Fail("windows must be an array");
    const v8::Local<v8::Array> list = windows.As<v8::Array>();
    for (uint32_t i = 0; i < list->Length(); ++i) {
      v8::Local<v8::Value> entry;
      if (!list->Get(context_, i).ToLocal(&entry)) return false;
      platform->windows.emplace_back();
      if (!ReadWindow(entry, &platform->windows.back())) return false;
    }
    return true;
  }

  // The message of a failed read; empty when a script exception is pending.
  const std::string& error() const { return error_; }

 private:
  // Deeper nesting is taken for a cycle in the description.
  static constexpr int kMaxNesting = 200;

  bool Fail(std::string message) {
    error_ = "simulated accessibility: " + std::move(message);
    return false;
  }

  bool Get(v8::Local<v8::Object> object, const char* key, v8::Local<v8::Value>* out) {
    return object->Get(context_, v8::String::NewFromUtf8(isolate_, key).ToLocalChecked())
        .ToLocal(out);
  }

  bool HasOwn(v8::Local<v8::Object> object, const char* key) {
    return object
        ->HasOwnProperty(context_, v8::String::NewFromUtf8(isolate_, key).ToLocalChecked())
        .FromMaybe(false);
  }

  Utf16Text ReadText(v8::Local<v8::String> string) {
    std::u16string units(static_cast<std::size_t>(string->Length()), u'\0');
    string->Write(isolate_, reinterpret_cast<uint16_t*>(units.data()), 0, string->Length(),
                  v8::String::NO_NULL_TERMINATION);
    return WholeText(std::move(units));
  }

  bool ReadInt(v8::Local<v8::Value> value, const char* what, int* out) {
    if (!value->IsNumber()) return Fail(std::string(what) + " must be a number");
    *out = value->Int32Value(context_).FromMaybe(0);
    return true;
  }

  bool ReadElement(v8::Local<v8::Object> object, int nesting,
                   std::shared_ptr<SimElement>* out) {
    if (nesting > kMaxNesting) return Fail("elements nest too deeply");
    auto element = std::make_shared<SimElement>();
    v8::Local<v8::Array> names;
    if (!object->GetOwnPropertyNames(context_).ToLocal(&names)) return false;
    for (uint32_t i = 0; i < names->Length(); ++i) {
      v8::Local<v8::Value> key;
      v8::Local<v8::Value> description;
      if (!names->Get(context_, i).ToLocal(&key) ||
          !object->Get(context_, key).ToLocal(&description)) {
        return false;
      }
      const v8::String::Utf8Value name(isolate_, key);
      const std::string attribute(*name, static_cast<std::size_t>(name.length()));
      if (description->IsObject() && HasOwn(description.As<v8::Object>(), "$error")) {
        v8::Local<v8::Value> code;
        int error = 0;
        if (!Get(description.As<v8::Object>(), "$error", &code) ||
            !ReadInt(code, "$error", &error)) {
          return false;
        }
        element->SetError(attribute, error);
        continue;
      }
      AttributeValue value;
      if (!ReadValue(description, nesting + 1, &value)) return false;
      element->Set(attribute, std::move(value));
    }
    *out = std::move(element);
    return true;
  }

  bool ReadValue(v8::Local<v8::Value> description, int nesting, AttributeValue* out) {
    if (nesting > kMaxNesting) return Fail("values nest too deeply");
    if (description->IsNull()) {
      *out = AttributeValue();
      return true;
    }
    if (description->IsString()) {
      *out = AttributeValue::String(ReadText(description.As<v8::String>()));
      return true;
    }
    if (description->IsBoolean()) {
      *out = AttributeValue::Boolean(description->BooleanValue(isolate_));
      return true;
    }
    if (description->IsNumber()) {
      *out = AttributeValue::Other();
      return true;
    }
    if (description->IsArray()) {
      const v8::Local<v8::Array> array = description.As<v8::Array>();
      std::vector<AttributeValue> items(array->Length());
      for (uint32_t i = 0; i < array->Length(); ++i) {
        v8::Local<v8::Value> item;
        if (!array->Get(context_, i).ToLocal(&item)) return false;
        if (!ReadValue(item, nesting + 1, &items[i])) return false;
      }
      *out = AttributeValue::Array(std::move(items));
      return true;
    }
    if (!description->IsObject()) return Fail("unsupported attribute value");
    const v8::Local<v8::Object> object = description.As<v8::Object>();
    if (HasOwn(object, "$point")) return ReadPoint(object, out);
    if (HasOwn(object, "$other")) {
      *out = AttributeValue::Other();
      return true;
    }
    if (HasOwn(object, "$error")) return Fail("$error stands only for a whole attribute");
    std::shared_ptr<SimElement> element;
    if (!ReadElement(object, nesting + 1, &element)) return false;
    *out = AttributeValue::ElementValue(std::move(element));
    return true;
  }

  bool ReadPoint(v8::Local<v8::Object> object, AttributeValue* out) {
    v8::Local<v8::Value> point;
    if (!Get(object, "$point", &point)) return false;
    if (!point->IsArray() || point.As<v8::Array>()->Length() != 2) {
      return Fail("$point must be an array of two numbers");
    }
    double coordinates[2] = {0, 0};
    for (uint32_t i = 0; i < 2; ++i) {
      v8::Local<v8::Value> coordinate;
      if (!point.As<v8::Array>()->Get(context_, i).ToLocal(&coordinate)) return false;
      if (!coordinate->IsNumber()) return Fail("$point must be an array of two numbers");
      coordinates[i] = coordinate.As<v8::Number>()->Value();
    }
    *out = AttributeValue::PointValue(Point{coordinates[0], coordinates[1]});
    return true;
  }

  // Like the window server's dictionaries: a field of another type is absent.
  bool ReadWindow(v8::Local<v8::Value> description, WindowListEntry* entry) {
    if (!description->IsObject()) return Fail("each window must be an object");
    const v8::Local<v8::Object> object = description.As<v8::Object>();
    v8::Local<v8::Value> layer;
    v8::Local<v8::Value> owner_name;
    v8::Local<v8::Value> name;
    if (!Get(object, "layer", &layer) || !Get(object, "ownerName", &owner_name) ||
        !Get(object, "name", &name)) {
      return false;
    }
    if (layer->IsNumber()) entry->layer = layer->Int32Value(context_).FromMaybe(0);
    if (owner_name->IsString()) entry->owner_name = ReadText(owner_name.As<v8::String>());
    if (name->IsString()) entry->name = ReadText(name.As<v8::String>());
    return true;
  }

  v8::Isolate* isolate_;
  v8::Local<v8::Context> context_;
  std::string error_;
};

}  // namespace

const Platform& SimulatedPlatform() { return *InstalledPlatform(); }

void SetSimulatedAccessibility(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  if (args.Length() == 0 || args[0]->IsNullOrUndefined()) {
    InstalledPlatform() = MissingPermissionPlatform();
    return;
  }
  auto platform = std::make_unique<SimPlatform>();
  SimulationReader reader(isolate->GetCurrentContext());
  if (!reader.ReadPlatform(args[0], platform.get())) {
    if (!reader.error().empty()) {
      isolate->ThrowException(v8::Exception::TypeError(
          v8::String::NewFromUtf8(isolate, reader.error().c_str()).ToLocalChecked()));
    }
    return;
  }
  InstalledPlatform() = std::move(platform);
}

}  // namespace focusprobe
