// The X11 side of focusprobe on Linux: the window manager's list of client
// windows (EWMH) as the on-screen window list, and the accessibility bus
// address an X11 session publishes on its root window. Both read the display
// through XCB, which returns X errors with the reply they
// belong to instead of handing them to a process-wide handler: a window that
// no longer exists (still listed by a window manager that died) is skipped,
// and a lost display ends the read, never the process.
#ifndef ADDONS_FOCUS_X11_WINDOW_LIST_H_
#define ADDONS_FOCUS_X11_WINDOW_LIST_H_

#include <optional>
#include <string>
#include <vector>

#include "addons/focus/accessibility.h"

namespace focusprobe {

// The layer of windows that are neither normal application windows nor
// dialogs (docks, panels, menus, notifications, ...); normal ones are layer 0.
inline constexpr int kX11OtherLayer = 1;

// The client windows front to back (`_NET_CLIENT_LIST_STACKING`, topmost
// first), each with its title (`_NET_WM_NAME`, else `WM_NAME`) and owning
// application (the class of `WM_CLASS`, else its instance, else the name of
// the process `_NET_WM_PID` names). Minimised windows and desktop windows are
// left out. Empty without a display or without a window manager keeping the
// list.
std::vector<WindowListEntry> CopyX11ClientWindows();

// The `AT_SPI_BUS` string property of the root window of the display's
// default screen; nullopt when the display cannot be opened or lacks it.
std::optional<std::string> ReadX11AccessibilityBusAddress(const std::string& display_name);

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_X11_WINDOW_LIST_H_
