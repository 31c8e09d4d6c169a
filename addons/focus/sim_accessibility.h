// A simulated accessibility tree: elements holding fixed attribute answers,
// and a platform around them. The unit tests drive the probes over it, and
// builds without a platform accessibility interface use it in place of one.
#ifndef ADDONS_FOCUS_SIM_ACCESSIBILITY_H_
#define ADDONS_FOCUS_SIM_ACCESSIBILITY_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "addons/focus/accessibility.h"
#include "addons/focus/text_conversion.h"

namespace focusprobe {

class SimElement : public Element {
 public:
  // Attributes that were never set answer with `missing_error`.
  explicit SimElement(int missing_error = kErrorNoValue) : missing_error_(missing_error) {}

  AttributeResult CopyAttribute(const std::string& attribute) const override;

  SimElement& Set(const std::string& attribute, AttributeValue value);
  SimElement& SetString(const std::string& attribute, std::string_view utf8);
  SimElement& SetPoint(const std::string& attribute, double x, double y);
  SimElement& SetError(const std::string& attribute, int error);
  // Appends to the "AXChildren" array, which it creates when needed.
  std::shared_ptr<SimElement> AddChild();
  void AppendChild(ElementRef child);

  // Every attribute queried so far, in order.
  const std::vector<std::string>& reads() const { return reads_; }

 private:
  int missing_error_;
  std::map<std::string, AttributeResult> attributes_;
  mutable std::vector<std::string> reads_;
};

struct SimPlatform : public Platform {
  bool IsProcessTrusted() const override { return trusted; }
  ElementRef CreateSystemWide() const override { return system_wide; }
  std::vector<WindowListEntry> CopyOnScreenWindows() const override { return windows; }

  bool trusted = true;
  std::shared_ptr<SimElement> system_wide;  // null: cannot be created
  std::vector<WindowListEntry> windows;
};

// The platform as a process without the accessibility permission sees it:
// not trusted, every attribute query fails with kErrorApiDisabled, and no
// windows.
std::unique_ptr<SimPlatform> MissingPermissionPlatform();

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_SIM_ACCESSIBILITY_H_
