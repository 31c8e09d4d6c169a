// x11_key_tool: a keyboard and an application for end-to-end tests against
// an X server. It types through XTest, and on request owns a focused window
// or a key grab and reports every key that reaches it, as another
// application on the desktop would see them.
//
// Commands on standard input, one per line, each answered by one line that
// starts with "ok" or "error":
//   down KEY, up KEY   press / release KEY; "ok <ns>", the CLOCK_MONOTONIC
//                      time taken just before the event was sent
//   keycode KEY        "ok <keycode>"
//   window             maps a window and gives it the input focus
//   grab KEY [MODS]    grabs KEY on the root window with the modifiers MODS
//                      ("control+shift", also lock, mod1 ... mod5);
//                      "error BadAccess" when another client holds it
//   sync               "ok" once the server has handled everything sent
// Keys that reach the window or the grab are reported, in between, as
// "got press KEYSYM" and "got release KEYSYM" (the key's unshifted symbol).
// KEY is a keysym name as XStringToKeysym reads it: Control_L, space, a, F5.
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>

namespace {

Display* display = nullptr;
Window window = None;
int last_error = Success;

int RecordError(Display*, XErrorEvent* error) {
  last_error = error->error_code;
  return 0;
}

void Reply(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

bool KeycodeFor(const std::string& name, KeyCode* keycode) {
  const KeySym keysym = XStringToKeysym(name.c_str());
  if (keysym == NoSymbol) return false;
  *keycode = XKeysymToKeycode(display, keysym);
  return *keycode != 0;
}

bool ParseModifiers(const std::string& text, unsigned* mask) {
  static const struct {
    const char* name;
    unsigned mask;
  } kModifiers[] = {{"shift", ShiftMask}, {"lock", LockMask},
                    {"control", ControlMask}, {"mod1", Mod1Mask},
                    {"mod2", Mod2Mask}, {"mod3", Mod3Mask},
                    {"mod4", Mod4Mask}, {"mod5", Mod5Mask}};
  *mask = 0;
  std::istringstream parts(text);
  std::string part;
  while (std::getline(parts, part, '+')) {
    if (part.empty()) continue;
    bool known = false;
    for (const auto& modifier : kModifiers) {
      if (part != modifier.name) continue;
      *mask |= modifier.mask;
      known = true;
    }
    if (!known) return false;
  }
  return true;
}

void ReportKey(const XKeyEvent& event) {
  const KeySym keysym = XkbKeycodeToKeysym(
      display, static_cast<KeyCode>(event.keycode), 0, 0);
  const char* name = XKeysymToString(keysym);
  Reply(std::string("got ") + (event.type == KeyPress ? "press " : "release ") +
        (name != nullptr ? name : "NoSymbol"));
}

void HandleXEvents() {
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == KeyPress || event.type == KeyRelease) {
      ReportKey(event.xkey);
    }
  }
}

long long MonotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string FakeKey(const std::string& name, bool press) {
  KeyCode keycode = 0;
  if (!KeycodeFor(name, &keycode)) return "error unknown key " + name;
  const long long sent_at = MonotonicNanoseconds();
  XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime);
  XSync(display, False);
  return "ok " + std::to_string(sent_at);
}

std::string OpenWindow() {
  if (window != None) return "error window already open";
  window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200,
                               100, 0, 0, 0);
  XSelectInput(display, window,
               KeyPressMask | KeyReleaseMask | StructureNotifyMask);
  XMapWindow(display, window);
  // The focus can only go to a viewable window.
  XEvent event;
  do {
    XNextEvent(display, &event);
  } while (event.type != MapNotify || event.xmap.window != window);
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  XSync(display, False);
  return "ok " + std::to_string(window);
}

std::string Grab(const std::string& name, const std::string& modifiers) {
  KeyCode keycode = 0;
  if (!KeycodeFor(name, &keycode)) return "error unknown key " + name;
  unsigned mask = 0;
  if (!ParseModifiers(modifiers, &mask)) return "error bad modifiers";
  last_error = Success;
  XGrabKey(display, keycode, mask, DefaultRootWindow(display), False,
           GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  if (last_error == BadAccess) return "error BadAccess";
  if (last_error != Success) return "error " + std::to_string(last_error);
  return "ok";
}

std::string Run(const std::string& line) {
  std::istringstream words(line);
  std::string command, key, extra;
  words >> command >> key >> extra;
  if (command == "down" || command == "up") return FakeKey(key, command == "down");
  if (command == "keycode") {
    KeyCode keycode = 0;
    if (!KeycodeFor(key, &keycode)) return "error unknown key " + key;
    return "ok " + std::to_string(keycode);
  }
  if (command == "window") return OpenWindow();
  if (command == "grab") return Grab(key, extra);
  if (command == "sync") {
    XSync(display, False);
    return "ok";
  }
  return "error unknown command " + command;
}

}  // namespace

int main() {
  display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x11_key_tool: cannot open display\n");
    return 1;
  }
  int event_base, error_base, major, minor;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
    std::fprintf(stderr, "x11_key_tool: no XTEST extension\n");
    return 1;
  }
  XSetErrorHandler(RecordError);

  std::string pending;
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0},
                   {ConnectionNumber(display), POLLIN, 0}};
  while (true) {
    HandleXEvents();
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & (POLLERR | POLLHUP)) break;
    if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) continue;
    char buffer[4096];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      // Keys that reached the window before the command are reported first.
      HandleXEvents();
      Reply(Run(line));
    }
  }
  XCloseDisplay(display);
  return 0;
}
