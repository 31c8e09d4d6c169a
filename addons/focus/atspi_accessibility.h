// The Linux side of focusprobe: applications, windows and their texts from the
// AT-SPI accessibility bus (libatspi), and the on-screen window list from X11,
// behind the portable accessibility interface. Built on Linux only.
#ifndef ADDONS_FOCUS_ATSPI_ACCESSIBILITY_H_
#define ADDONS_FOCUS_ATSPI_ACCESSIBILITY_H_

#include <vector>

#include "addons/focus/accessibility.h"

namespace focusprobe {

// One libatspi call waits at most this long for the application to answer.
// An application that lets a call run this long is taken for hung: the rest
// of the probe asks it nothing more.
inline constexpr int kAtspiCallTimeoutMs = 500;
// One probe spends at most this long on the accessibility bus; every query
// after that fails at once.
inline constexpr int kAtspiProbeBudgetMs = 1500;

// The answers of the accessibility bus, as macOS would give them: the
// system-wide element offers "AXFocusedApplication" (the application whose
// frame or dialog is active) and "AXFocusedUIElement"; an application offers
// "AXTitle" and "AXFocusedWindow"; every element offers "AXRole" (AT-SPI
// roles mapped onto the probe's kinds), "AXTitle" (its name), "AXValue" (its
// text), "AXPosition" (on screen), "AXChildren" and "AXEditable".
// Without a reachable accessibility bus every query fails with
// kErrorApiDisabled, and libatspi is not touched.
class AtspiPlatform : public Platform {
 public:
  // Whether the accessibility bus is reachable and accessibility is enabled
  // (org.a11y.Status).
  bool IsProcessTrusted() const override;
  ElementRef CreateSystemWide() const override;
  // The X11 window manager's client list (x11_window_list.h).
  std::vector<WindowListEntry> CopyOnScreenWindows() const override;
};

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_ATSPI_ACCESSIBILITY_H_
