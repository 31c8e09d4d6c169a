// The macOS side of focusprobe: AXUIElement trees, Core Foundation values and
// the window server's window list behind the portable accessibility
// interface. Built on macOS only.
#ifndef ADDONS_FOCUS_MAC_ACCESSIBILITY_H_
#define ADDONS_FOCUS_MAC_ACCESSIBILITY_H_

#include <ApplicationServices/ApplicationServices.h>

#include <string>
#include <vector>

#include "addons/focus/accessibility.h"
#include "addons/focus/focus_probe.h"

namespace focusprobe {

class MacPlatform : public Platform {
 public:
  bool IsProcessTrusted() const override;
  ElementRef CreateSystemWide() const override;
  std::vector<WindowListEntry> CopyOnScreenWindows() const override;
};

// "" for a null or empty string; otherwise converted and cut like every
// platform string.
std::string CFStringToStdString(CFStringRef string);

// The attribute's value when it is a string, else "".
std::string CopyAXStringAttribute(AXUIElementRef element, CFStringRef attribute);

void CollectTextCandidatesMac(AXUIElementRef element, const CGPoint& window_origin, int depth,
                              int* visited, int* child_errors, std::vector<TextCandidate>* out);

std::vector<TextCandidate> GetFocusedWindowTextCandidatesMac(TextProbeDebug* debug_or_null);

WindowInfo GetFocusProbeMac();

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_MAC_ACCESSIBILITY_H_
