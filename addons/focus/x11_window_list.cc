#include "addons/focus/x11_window_list.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>

#include "addons/focus/text_conversion.h"

namespace focusprobe {
namespace {

// Bounds on what one read asks of the server, in 32-bit units: the window
// list and each text property.
constexpr uint32_t kMaxListedWindows = 4096;
constexpr uint32_t kMaxPropertyLongs = 1u << 18;  // 1 MiB of text

// One connection to a display (null: the one DISPLAY names), closed with the
// object.
class Display {
 public:
  explicit Display(const char* name = nullptr) : connection_(xcb_connect(name, &screen_)) {}
  ~Display() { xcb_disconnect(connection_); }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  bool ok() const { return connection_ != nullptr && xcb_connection_has_error(connection_) == 0; }
  xcb_connection_t* get() const { return connection_; }

  xcb_window_t Root() const {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_ && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem <= 0) return XCB_WINDOW_NONE;
    return screens.data->root;
  }

 private:
  int screen_ = 0;
  xcb_connection_t* connection_;
};

// The atoms the reads need. Atoms are looked up, never created: one the
// server does not know names no property of any window.
struct Atoms {
  xcb_atom_t client_list_stacking = XCB_ATOM_NONE;
  xcb_atom_t wm_name_utf8 = XCB_ATOM_NONE;
  xcb_atom_t utf8_string = XCB_ATOM_NONE;
  xcb_atom_t wm_pid = XCB_ATOM_NONE;
  xcb_atom_t window_type = XCB_ATOM_NONE;
  xcb_atom_t type_normal = XCB_ATOM_NONE;
  xcb_atom_t type_dialog = XCB_ATOM_NONE;
  xcb_atom_t type_desktop = XCB_ATOM_NONE;
  xcb_atom_t wm_state = XCB_ATOM_NONE;
  xcb_atom_t state_hidden = XCB_ATOM_NONE;
};

Atoms LookUpAtoms(xcb_connection_t* connection) {
  Atoms atoms;
  const std::array<std::pair<const char*, xcb_atom_t*>, 10> wanted = {{
      {"_NET_CLIENT_LIST_STACKING", &atoms.client_list_stacking},
      {"_NET_WM_NAME", &atoms.wm_name_utf8},
      {"UTF8_STRING", &atoms.utf8_string},
      {"_NET_WM_PID", &atoms.wm_pid},
      {"_NET_WM_WINDOW_TYPE", &atoms.window_type},
      {"_NET_WM_WINDOW_TYPE_NORMAL", &atoms.type_normal},
      {"_NET_WM_WINDOW_TYPE_DIALOG", &atoms.type_dialog},
      {"_NET_WM_WINDOW_TYPE_DESKTOP", &atoms.type_desktop},
      {"_NET_WM_STATE", &atoms.wm_state},
      {"_NET_WM_STATE_HIDDEN", &atoms.state_hidden},
  }};
  // All requests go out before the first answer is awaited.
  std::array<xcb_intern_atom_cookie_t, wanted.size()> cookies{};
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const char* name = wanted[i].first;
    cookies[i] = xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name);
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
    if (reply == nullptr) continue;
    *wanted[i].second = reply->atom;
    std::free(reply);
  }
  return atoms;
}

// One property as the server returned it.
struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  uint8_t format = 0;
  std::string bytes;

  // The value as 32-bit items (window ids, atoms, cardinals).
  std::vector<uint32_t> Items() const {
    std::vector<uint32_t> items(format == 32 ? bytes.size() / 4 : 0);
    if (!items.empty()) std::memcpy(items.data(), bytes.data(), items.size() * 4);
    return items;
  }
};

xcb_get_property_cookie_t RequestProperty(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property, uint32_t max_longs) {
  return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                          max_longs);
}

// The property's value; nullopt when the property is missing, or the request
// failed (BadWindow for a window that is gone).
std::optional<Property> AwaitProperty(xcb_connection_t* connection,
                                      xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, &error);
  std::free(error);
  if (reply == nullptr) return std::nullopt;
  std::optional<Property> property;
  if (reply->type != XCB_ATOM_NONE) {
    property.emplace();
    property->type = reply->type;
    property->format = reply->format;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    property->bytes.assign(data, static_cast<std::size_t>(std::max(length, 0)));
  }
  std::free(reply);
  return property;
}

// ICCCM STRING properties are ISO 8859-1: each byte is its own code point.
Utf16Text TextFromLatin1(std::string_view latin1) {
  std::u16string units(latin1.size(), u'\0');
  std::transform(latin1.begin(), latin1.end(), units.begin(),
                 [](char byte) { return static_cast<char16_t>(static_cast<unsigned char>(byte)); });
  return WholeText(std::move(units));
}

// The text of a STRING or UTF8_STRING property up to its first NUL.
std::optional<Utf16Text> PropertyText(const std::optional<Property>& property,
                                      const Atoms& atoms) {
  if (!property.has_value() || property->format != 8) return std::nullopt;
  const std::string_view bytes(property->bytes.c_str());
  if (property->type == atoms.utf8_string) return TextFromUtf8(bytes);
  if (property->type == XCB_ATOM_STRING) return TextFromLatin1(bytes);
  return std::nullopt;
}

// WM_CLASS holds "instance\0class\0"; the class names the application.
std::optional<Utf16Text> ClassName(const std::optional<Property>& wm_class) {
  if (!wm_class.has_value() || wm_class->format != 8 || wm_class->type != XCB_ATOM_STRING) {
    return std::nullopt;
  }
  const std::string_view bytes(wm_class->bytes);
  const std::string_view instance = bytes.substr(0, bytes.find('\0'));
  const std::string_view rest =
      instance.size() < bytes.size() ? bytes.substr(instance.size() + 1) : std::string_view();
  const std::string_view class_name = rest.substr(0, rest.find('\0'));
  if (!class_name.empty()) return TextFromLatin1(class_name);
  if (!instance.empty()) return TextFromLatin1(instance);
  return std::nullopt;
}

// The name the kernel keeps for a local process.
std::optional<Utf16Text> ProcessName(const std::optional<Property>& pid) {
  if (!pid.has_value() || pid->type != XCB_ATOM_CARDINAL) return std::nullopt;
  const std::vector<uint32_t> items = pid->Items();
  if (items.empty() || items[0] == 0) return std::nullopt;
  std::ifstream comm("/proc/" + std::to_string(items[0]) + "/comm");
  std::string name;
  if (!std::getline(comm, name) || name.empty()) return std::nullopt;
  return TextFromUtf8(name);
}

bool Contains(const std::vector<uint32_t>& atoms, xcb_atom_t atom) {
  return atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

// The requests for one listed window, all sent before any is awaited.
struct WindowRequests {
  xcb_get_property_cookie_t name_utf8;
  xcb_get_property_cookie_t name;
  xcb_get_property_cookie_t wm_class;
  xcb_get_property_cookie_t pid;
  xcb_get_property_cookie_t type;
  xcb_get_property_cookie_t state;
};

WindowRequests RequestWindow(xcb_connection_t* connection, xcb_window_t window,
                             const Atoms& atoms) {
  WindowRequests requests{};
  requests.name_utf8 = RequestProperty(connection, window, atoms.wm_name_utf8, kMaxPropertyLongs);
  requests.name = RequestProperty(connection, window, XCB_ATOM_WM_NAME, kMaxPropertyLongs);
  requests.wm_class = RequestProperty(connection, window, XCB_ATOM_WM_CLASS, kMaxPropertyLongs);
  requests.pid = RequestProperty(connection, window, atoms.wm_pid, 1);
  requests.type = RequestProperty(connection, window, atoms.window_type, 64);
  requests.state = RequestProperty(connection, window, atoms.wm_state, 64);
  return requests;
}

// The entry of one window; nullopt for a window that is gone, minimised or
// part of the desktop. Every reply is awaited, so none is left queued.
std::optional<WindowListEntry> AwaitWindow(xcb_connection_t* connection,
                                           const WindowRequests& requests, const Atoms& atoms) {
  const std::optional<Property> name_utf8 = AwaitProperty(connection, requests.name_utf8);
  const std::optional<Property> name = AwaitProperty(connection, requests.name);
  const std::optional<Property> wm_class = AwaitProperty(connection, requests.wm_class);
  const std::optional<Property> pid = AwaitProperty(connection, requests.pid);
  const std::optional<Property> type = AwaitProperty(connection, requests.type);
  const std::optional<Property> state = AwaitProperty(connection, requests.state);
  // A window that is gone fails every request; WM_CLASS and WM_NAME are
  // the ones a live client window is most likely to have.
  if (!wm_class.has_value() && !name.has_value() && !name_utf8.has_value() && !pid.has_value()) {
    return std::nullopt;
  }
  if (state.has_value() && Contains(state->Items(), atoms.state_hidden)) return std::nullopt;
  WindowListEntry entry;
  entry.layer = 0;
  if (type.has_value()) {
    const std::vector<uint32_t> types = type->Items();
    if (Contains(types, atoms.type_desktop)) return std::nullopt;
    const bool normal = !types.empty() && (types[0] == atoms.type_normal ||
                                           types[0] == atoms.type_dialog);
    if (!types.empty() && !normal) entry.layer = kX11OtherLayer;
  }
  entry.name = PropertyText(name_utf8, atoms);
  if (!entry.name.has_value()) entry.name = PropertyText(name, atoms);
  entry.owner_name = ClassName(wm_class);
  if (!entry.owner_name.has_value()) entry.owner_name = ProcessName(pid);
  return entry;
}

}  // namespace

std::vector<WindowListEntry> CopyX11ClientWindows() {
  std::vector<WindowListEntry> windows;
  const Display display;
  if (!display.ok()) return windows;
  xcb_connection_t* connection = display.get();
  const Atoms atoms = LookUpAtoms(connection);
  if (atoms.client_list_stacking == XCB_ATOM_NONE) return windows;
  const std::optional<Property> list = AwaitProperty(
      connection,
      RequestProperty(connection, display.Root(), atoms.client_list_stacking, kMaxListedWindows));
  if (!list.has_value() || list->type != XCB_ATOM_WINDOW) return windows;
  // The list runs bottom to top.
  std::vector<uint32_t> ids = list->Items();
  std::reverse(ids.begin(), ids.end());
  std::vector<WindowRequests> requests;
  requests.reserve(ids.size());
  for (const uint32_t id : ids) requests.push_back(RequestWindow(connection, id, atoms));
  for (const WindowRequests& request : requests) {
    std::optional<WindowListEntry> entry = AwaitWindow(connection, request, atoms);
    if (entry.has_value()) windows.push_back(std::move(*entry));
  }
  return windows;
}

std::optional<std::string> ReadX11AccessibilityBusAddress(const std::string& display_name) {
  const Display display(display_name.c_str());
  if (!display.ok()) return std::nullopt;
  xcb_connection_t* connection = display.get();
  const char kName[] = "AT_SPI_BUS";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, sizeof(kName) - 1, kName), nullptr);
  if (atom == nullptr) return std::nullopt;
  const xcb_atom_t name = atom->atom;
  std::free(atom);
  if (name == XCB_ATOM_NONE) return std::nullopt;
  const std::optional<Property> property = AwaitProperty(
      connection, RequestProperty(connection, display.Root(), name, kMaxPropertyLongs));
  if (!property.has_value() || property->type != XCB_ATOM_STRING) return std::nullopt;
  return std::string(property->bytes.c_str());
}

}  // namespace focusprobe
