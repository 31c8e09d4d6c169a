#include "addons/focus/mac_accessibility.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

#include "addons/focus/text_conversion.h"

namespace focusprobe {

static_assert(kErrorSuccess == kAXErrorSuccess, "error codes are passed through unchanged");
static_assert(kErrorFailure == kAXErrorFailure, "error codes are passed through unchanged");
static_assert(kErrorCannotComplete == kAXErrorCannotComplete,
              "error codes are passed through unchanged");
static_assert(kErrorAttributeUnsupported == kAXErrorAttributeUnsupported,
              "error codes are passed through unchanged");
static_assert(kErrorApiDisabled == kAXErrorAPIDisabled, "error codes are passed through unchanged");
static_assert(kErrorNoValue == kAXErrorNoValue, "error codes are passed through unchanged");
static_assert(sizeof(UniChar) == sizeof(char16_t), "UniChar is one UTF-16 code unit");

namespace {

// How long one accessibility call waits for the application. The system's
// default is several seconds, and the probes run on the script thread.
constexpr std::chrono::milliseconds kMessagingTimeout(500);

// What the elements of one probe share. Every element of a probe but the
// system-wide one belongs to the focused application: once a call to it has
// timed out, the rest of the probe asks it nothing more and fails at once,
// with the error of a timeout.
struct ProbeCalls {
  bool application_silent = false;
};
using ProbeCallsRef = std::shared_ptr<ProbeCalls>;

// Owns one reference obtained from a Create or Copy call and releases it.
class ScopedCFRef {
 public:
  explicit ScopedCFRef(CFTypeRef ref) : ref_(ref) {}
  ~ScopedCFRef() {
    if (ref_ != nullptr) CFRelease(ref_);
  }
  ScopedCFRef(const ScopedCFRef&) = delete;
  ScopedCFRef& operator=(const ScopedCFRef&) = delete;

  CFTypeRef get() const { return ref_; }

 private:
  CFTypeRef ref_;
};

bool HasType(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}

// The string's full length and as many leading code units as cutting it
// needs; long strings are never copied whole.
Utf16Text ReadUtf16Text(CFStringRef string) {
  Utf16Text text;
  if (string == nullptr) return text;
  const CFIndex length = CFStringGetLength(string);
  text.length = static_cast<long>(length);
  const CFIndex head = std::min<CFIndex>(length, kMaxStringUnits + 1);
  if (head <= 0) return text;
  text.units.resize(static_cast<std::size_t>(head));
  CFStringGetCharacters(string, CFRangeMake(0, head),
                        reinterpret_cast<UniChar*>(text.units.data()));
  return text;
}

// One AXUIElementRef, released with the element.
class MacElement : public Element {
 public:
  // Takes over a reference the caller owns.
  MacElement(AXUIElementRef element, ProbeCallsRef calls)
      : element_(element), calls_(std::move(calls)) {}
  ~MacElement() override { CFRelease(element_); }
  MacElement(const MacElement&) = delete;
  MacElement& operator=(const MacElement&) = delete;

  // An application's element, with the probe's time limit. (The limit is
  // never set on the system-wide element: there it would change every
  // accessibility call of the host process.)
  static ElementRef Retain(AXUIElementRef element, ProbeCallsRef calls) {
    CFRetain(element);
    AXUIElementSetMessagingTimeout(element,
                                   std::chrono::duration<float>(kMessagingTimeout).count());
    return std::make_shared<MacElement>(element, std::move(calls));
  }

  AttributeResult CopyAttribute(const std::string& attribute) const override;

 private:
  AXUIElementRef element_;
  ProbeCallsRef calls_;
};

// Converts a value the caller still owns; elements inside take their own
// references and belong to the probe of `calls`.
AttributeValue ConvertValue(CFTypeRef value, const ProbeCallsRef& calls) {
  if (value == nullptr) return AttributeValue();
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) {
    return AttributeValue::String(ReadUtf16Text(static_cast<CFStringRef>(value)));
  }
  if (type == CFBooleanGetTypeID()) {
    return AttributeValue::Boolean(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
  }
  if (type == AXValueGetTypeID()) {
    CGPoint point = CGPointZero;
    if (!AXValueGetValue(static_cast<AXValueRef>(value), kAXValueTypeCGPoint, &point)) {
      return AttributeValue::Other();
    }
    return AttributeValue::PointValue(Point{point.x, point.y});
  }
  if (type == AXUIElementGetTypeID()) {
    return AttributeValue::ElementValue(
        MacElement::Retain(static_cast<AXUIElementRef>(value), calls));
  }
  if (type == CFArrayGetTypeID()) {
    const auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    std::vector<AttributeValue> items;
    items.reserve(static_cast<std::size_t>(std::max<CFIndex>(count, 0)));
    for (CFIndex i = 0; i < count; ++i) {
      items.push_back(ConvertValue(CFArrayGetValueAtIndex(array, i), calls));
    }
    return AttributeValue::Array(std::move(items));
  }
  return AttributeValue::Other();
}

AttributeResult CopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                   const ProbeCallsRef& calls) {
  AttributeResult result;
  if (calls != nullptr && calls->application_silent) {
    result.error = kAXErrorCannotComplete;
    return result;
  }
  CFTypeRef raw = nullptr;
  const auto start = std::chrono::steady_clock::now();
  result.error = AXUIElementCopyAttributeValue(element, attribute, &raw);
  const ScopedCFRef value(raw);
  if (result.error == kAXErrorSuccess) result.value = ConvertValue(value.get(), calls);
  // "Cannot complete" also means other messaging failures; the clock tells a
  // timeout apart (with a margin, as the system measures it on a clock of its
  // own).
  if (result.error == kAXErrorCannotComplete && calls != nullptr &&
      std::chrono::steady_clock::now() - start >= kMessagingTimeout * 9 / 10) {
    calls->application_silent = true;
  }
  return result;
}

AttributeResult MacElement::CopyAttribute(const std::string& attribute) const {
  const ScopedCFRef name(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(attribute.data()),
      static_cast<CFIndex>(attribute.size()), kCFStringEncodingUTF8, false));
  if (name.get() == nullptr) {
    AttributeResult failed;
    failed.error = kAXErrorFailure;
    return failed;
  }
  return CopyAttributeValue(element_, static_cast<CFStringRef>(name.get()), calls_);
}

std::optional<Utf16Text> DictionaryString(CFDictionaryRef dictionary, CFStringRef key) {
  const CFTypeRef value = CFDictionaryGetValue(dictionary, key);
  if (!HasType(value, CFStringGetTypeID())) return std::nullopt;
  return ReadUtf16Text(static_cast<CFStringRef>(value));
}

}  // namespace

bool MacPlatform::IsProcessTrusted() const { return AXIsProcessTrusted(); }

ElementRef MacPlatform::CreateSystemWide() const {
  // Each probe starts here, with calls of its own.
  const AXUIElementRef system_wide = AXUIElementCreateSystemWide();
  if (system_wide == nullptr) return nullptr;
  return std::make_shared<MacElement>(system_wide, std::make_shared<ProbeCalls>());
}

std::vector<WindowListEntry> MacPlatform::CopyOnScreenWindows() const {
  std::vector<WindowListEntry> windows;
  const ScopedCFRef list(CGWindowListCopyWindowInfo(
      static_cast<CGWindowListOption>(kCGWindowListOptionOnScreenOnly |
                                      kCGWindowListExcludeDesktopElements),
      kCGNullWindowID));
  if (!HasType(list.get(), CFArrayGetTypeID())) return windows;
  const auto array = static_cast<CFArrayRef>(list.get());
  const CFIndex count = CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    const CFTypeRef item = CFArrayGetValueAtIndex(array, i);
    if (!HasType(item, CFDictionaryGetTypeID())) continue;
    const auto dictionary = static_cast<CFDictionaryRef>(item);
    WindowListEntry entry;
    const CFTypeRef layer = CFDictionaryGetValue(dictionary, kCGWindowLayer);
    if (HasType(layer, CFNumberGetTypeID())) {
      int value = 0;
      CFNumberGetValue(static_cast<CFNumberRef>(layer), kCFNumberIntType, &value);
      entry.layer = value;
    }
    entry.owner_name = DictionaryString(dictionary, kCGWindowOwnerName);
    entry.name = DictionaryString(dictionary, kCGWindowName);
    windows.push_back(std::move(entry));
  }
  return windows;
}

std::string CFStringToStdString(CFStringRef string) {
  return PlatformTextToUtf8(ReadUtf16Text(string));
}

std::string CopyAXStringAttribute(AXUIElementRef element, CFStringRef attribute) {
  if (element == nullptr || attribute == nullptr) return std::string();
  return StringValue(CopyAttributeValue(element, attribute, nullptr));
}

void CollectTextCandidatesMac(AXUIElementRef element, const CGPoint& window_origin, int depth,
                              int* visited, int* child_errors, std::vector<TextCandidate>* out) {
  if (element == nullptr) return;
  const ElementRef root = MacElement::Retain(element, std::make_shared<ProbeCalls>());
  CollectTextCandidates(*root, Point{window_origin.x, window_origin.y}, depth, visited,
                        child_errors, out);
}

std::vector<TextCandidate> GetFocusedWindowTextCandidatesMac(TextProbeDebug* debug_or_null) {
  return ProbeFocusedWindowText(MacPlatform(), debug_or_null);
}

WindowInfo GetFocusProbeMac() { return ProbeActiveApp(MacPlatform()); }

const Platform& SystemPlatform() {
  static const MacPlatform platform;
  return platform;
}

}  // namespace focusprobe
