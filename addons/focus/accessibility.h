// The small slice of a platform accessibility interface that focusprobe reads:
// elements with named attributes, attribute values of a few kinds, error
// codes, and the list of on-screen windows. The macOS adapter implements it
// over AXUIElement and the window server, the Linux adapter over the AT-SPI
// accessibility bus and the X11 window list; the simulated tree implements it
// for tests.
#ifndef ADDONS_FOCUS_ACCESSIBILITY_H_
#define ADDONS_FOCUS_ACCESSIBILITY_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace focusprobe {

// Error codes of attribute queries, numerically those of the macOS
// accessibility interface (the debug object reports them unchanged).
inline constexpr int kErrorSuccess = 0;
inline constexpr int kErrorFailure = -25200;
inline constexpr int kErrorCannotComplete = -25204;
inline constexpr int kErrorAttributeUnsupported = -25205;
inline constexpr int kErrorApiDisabled = -25211;
inline constexpr int kErrorNoValue = -25212;

struct Point {
  double x = 0;
  double y = 0;
};

// A string as the platform holds it: UTF-16 code units. `units` holds the
// whole string or, for long strings, at least its first 513 units (enough to
// cut it); `length` is always the full length in code units.
struct Utf16Text {
  std::u16string units;
  long length = 0;
};

Utf16Text WholeText(std::u16string units);

class Element;
using ElementRef = std::shared_ptr<const Element>;

// One attribute value. Only the member matching `kind` is meaningful.
struct AttributeValue {
  enum class Kind {
    kNone,     // the query succeeded without a value
    kString,
    kBoolean,
    kPoint,    // a screen position
    kElement,  // another accessibility element
    kArray,
    kOther,    // anything else (numbers, sizes, ranges, ...)
  };

  static AttributeValue String(Utf16Text text);
  static AttributeValue Boolean(bool value);
  static AttributeValue PointValue(Point point);
  static AttributeValue ElementValue(ElementRef element);
  static AttributeValue Array(std::vector<AttributeValue> items);
  static AttributeValue Other();

  Kind kind = Kind::kNone;
  Utf16Text text;
  bool boolean = false;
  Point point;
  ElementRef element;
  std::vector<AttributeValue> items;
};

// Outcome of one attribute query: an error code (kErrorSuccess when it
// worked) and the value, which is kNone whenever the query failed.
struct AttributeResult {
  int error = kErrorSuccess;
  AttributeValue value;
};

// One node of the accessibility tree.
class Element {
 public:
  virtual ~Element() = default;
  virtual AttributeResult CopyAttribute(const std::string& attribute) const = 0;
};

// One entry of the on-screen window list. A field is empty when the window
// dictionary lacks it or holds a value of another type.
struct WindowListEntry {
  std::optional<int> layer;
  std::optional<Utf16Text> owner_name;
  std::optional<Utf16Text> name;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Whether this process may use the accessibility interface.
  virtual bool IsProcessTrusted() const = 0;
  // The system-wide element, or null when it cannot be created.
  virtual ElementRef CreateSystemWide() const = 0;
  // On-screen windows without desktop elements, front to back.
  virtual std::vector<WindowListEntry> CopyOnScreenWindows() const = 0;
};

// The accessibility interface of the system the add-on runs on. Defined by
// the one platform adapter a build links.
const Platform& SystemPlatform();

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_ACCESSIBILITY_H_
