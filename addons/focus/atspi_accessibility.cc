#include "addons/focus/atspi_accessibility.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "addons/focus/focus_probe.h"
#include "addons/focus/text_conversion.h"
#include "addons/focus/x11_window_list.h"

namespace focusprobe {
namespace {

// ---- Finding the accessibility bus without libatspi ------------------------
//
// libatspi ends the whole process (g_error) when it is used without an
// accessibility bus, and once its start-up has failed it never tries again.
// So the bus is looked up here first, by libatspi's own rules in libatspi's
// order: AT_SPI_BUS_ADDRESS; else, on X11 but not Wayland, the root window's
// AT_SPI_BUS; else org.a11y.Bus on the session bus. The lookup uses private
// connections with time limits, starts no service (libdbus would start a
// session bus daemon, and the session bus would start the accessibility bus,
// inside the host) and never lets a lost connection end the process.

constexpr int kBusCheckTimeoutMs = 500;
constexpr char kA11yBusName[] = "org.a11y.Bus";
constexpr char kA11yBusPath[] = "/org/a11y/bus";

struct ConnectionCloser {
  void operator()(DBusConnection* connection) const {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
using PrivateConnection = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// Sends a method call and waits for the reply within the time limit; null
// on any error. The destination is never started for it.
Message Call(DBusConnection* connection, Message call) {
  if (call == nullptr) return nullptr;
  dbus_message_set_auto_start(call.get(), FALSE);
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(connection, call.get(),
                                                          kBusCheckTimeoutMs, &error));
  dbus_error_free(&error);
  return reply;
}

Message NewBusCall(const char* method) {
  return Message(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                              DBUS_INTERFACE_DBUS, method));
}

// A private connection to `address` that has said Hello; null when nothing
// answers there in time. Its loss can never end the process.
PrivateConnection ConnectPrivate(const std::string& address) {
  DBusError error;
  dbus_error_init(&error);
  PrivateConnection connection(dbus_connection_open_private(address.c_str(), &error));
  dbus_error_free(&error);
  if (connection == nullptr) return nullptr;
  dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
  // dbus_bus_register would wait 25 s for a daemon that accepts and never
  // answers.
  if (Call(connection.get(), NewBusCall("Hello")) == nullptr) return nullptr;
  return connection;
}

// The session bus address libdbus would use, except that it never falls back
// to autolaunching one.
std::optional<std::string> SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) return std::string(address);
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (runtime_dir == nullptr || *runtime_dir == '\0') return std::nullopt;
  const std::string path = std::string(runtime_dir) + "/bus";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != getuid()) {
    return std::nullopt;
  }
  char* escaped = dbus_address_escape_value(path.c_str());
  if (escaped == nullptr) return std::nullopt;
  std::string address = std::string("unix:path=") + escaped;
  dbus_free(escaped);
  return address;
}

bool NameHasOwner(DBusConnection* session, const char* name) {
  Message call = NewBusCall("NameHasOwner");
  if (call == nullptr ||
      !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
    return false;
  }
  const Message reply = Call(session, std::move(call));
  dbus_bool_t owned = FALSE;
  return reply != nullptr &&
         dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_BOOLEAN, &owned,
                               DBUS_TYPE_INVALID) &&
         owned;
}

std::optional<std::string> GetA11yBusAddress(DBusConnection* session) {
  Message call(
      dbus_message_new_method_call(kA11yBusName, kA11yBusPath, "org.a11y.Bus", "GetAddress"));
  const Message reply = Call(session, std::move(call));
  const char* address = nullptr;
  if (reply == nullptr || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &address,
                                                 DBUS_TYPE_INVALID)) {
    return std::nullopt;
  }
  return std::string(address);
}

// org.a11y.Status.IsEnabled; nullopt when it cannot be read.
std::optional<bool> ReadA11yEnabled(DBusConnection* session) {
  Message call(dbus_message_new_method_call(kA11yBusName, kA11yBusPath,
                                            DBUS_INTERFACE_PROPERTIES, "Get"));
  const char* interface = "org.a11y.Status";
  const char* property = "IsEnabled";
  if (call == nullptr ||
      !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                &property, DBUS_TYPE_INVALID)) {
    return std::nullopt;
  }
  const Message reply = Call(session, std::move(call));
  DBusMessageIter iter;
  if (reply == nullptr || !dbus_message_iter_init(reply.get(), &iter) ||
      dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
    return std::nullopt;
  }
  DBusMessageIter variant;
  dbus_message_iter_recurse(&iter, &variant);
  if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_BOOLEAN) return std::nullopt;
  dbus_bool_t enabled = FALSE;
  dbus_message_iter_get_basic(&variant, &enabled);
  return enabled != FALSE;
}

// The display whose root window libatspi reads the bus address from:
// AT_SPI_DISPLAY, else DISPLAY without its screen number.
std::optional<std::string> AtspiDisplayName() {
  if (const char* name = std::getenv("AT_SPI_DISPLAY")) return std::string(name);
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return std::nullopt;
  std::string name(display);
  const std::size_t colon = name.rfind(':');
  const std::size_t dot = name.rfind('.');
  if (colon != std::string::npos && dot != std::string::npos && dot > colon) name.erase(dot);
  return name;
}

struct BusStatus {
  bool reachable = false;
  bool enabled = false;
};

BusStatus CheckAccessibilityBus() {
  std::optional<std::string> address;
  if (const char* from_env = std::getenv("AT_SPI_BUS_ADDRESS"); from_env && *from_env) {
    address = from_env;
  } else if (std::getenv("DISPLAY") != nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    if (const std::optional<std::string> display = AtspiDisplayName()) {
      address = ReadX11AccessibilityBusAddress(*display);
    }
  }
  // The session bus says whether accessibility is on, and is where libatspi
  // asks for the address when nothing above gave one.
  std::optional<bool> enabled;
  const std::optional<std::string> session_address = SessionBusAddress();
  if (PrivateConnection session = session_address ? ConnectPrivate(*session_address) : nullptr;
      session != nullptr && NameHasOwner(session.get(), kA11yBusName)) {
    enabled = ReadA11yEnabled(session.get());
    if (!address.has_value()) address = GetA11yBusAddress(session.get());
  }
  BusStatus status;
  status.reachable = address.has_value() && ConnectPrivate(*address) != nullptr;
  status.enabled = status.reachable && enabled.value_or(true);
  return status;
}

// libatspi's start-up state in this process. A failed start leaves libatspi
// unusable for the life of the process (it would end the process at the next
// call), so after one libatspi is never called again.
enum class LibatspiState { kNotStarted, kStarted, kBroken };
LibatspiState libatspi_state = LibatspiState::kNotStarted;

// Starts libatspi once the bus is known to be there.
bool StartAtspi() {
  if (libatspi_state == LibatspiState::kNotStarted) {
    const int result = atspi_init();
    const bool started = result == 0 || result == 1;
    libatspi_state = started ? LibatspiState::kStarted : LibatspiState::kBroken;
  }
  return libatspi_state == LibatspiState::kStarted;
}

// ---- One probe's calls into libatspi ----------------------------------------

using Clock = std::chrono::steady_clock;

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

// A reference of one's own to an object someone else holds.
GRef<AtspiAccessible> Share(AtspiAccessible* object) {
  return GRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(object)));
}

// How one call went.
enum class CallResult {
  kOk,
  kFailed,     // the application answered with an error, or the object is gone
  kNoAnswer,   // timed out, or not asked: the application is hung or time is up
};

// What all elements of one probe share: its deadline and the applications
// that stopped answering.
class ProbeSession {
 public:
  ProbeSession() : deadline_(Clock::now() + std::chrono::milliseconds(kAtspiProbeBudgetMs)) {}

  // Runs `call(GError**) -> bool` against `object`'s application with
  // libatspi's timeout cut to what is left of the probe.
  template <typename CallFn>
  CallResult Run(AtspiAccessible* object, CallFn&& call) {
    const std::string application = ApplicationOf(object);
    if (hung_.count(application) != 0) return CallResult::kNoAnswer;
    const Clock::time_point start = Clock::now();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - start).count();
    if (left <= 0) return CallResult::kNoAnswer;
    const int timeout = static_cast<int>(std::min<long long>(kAtspiCallTimeoutMs, left));
    // No extra grace for applications that started recently: libatspi would
    // otherwise wait up to 15 s for them.
    atspi_set_timeout(timeout, 0);
    GError* error = nullptr;
    const bool ok = call(&error) && error == nullptr;
    if (error != nullptr) g_error_free(error);
    // libatspi does not always say that a call timed out (some calls have no
    // error argument), but the clock does.
    if (Clock::now() - start >= std::chrono::milliseconds(timeout)) {
      hung_.insert(application);
      return CallResult::kNoAnswer;
    }
    return ok ? CallResult::kOk : CallResult::kFailed;
  }

 private:
  static std::string ApplicationOf(AtspiAccessible* object) {
    const AtspiApplication* app = object->parent.app;
    return app != nullptr && app->bus_name != nullptr ? app->bus_name : std::string();
  }

  Clock::time_point deadline_;
  std::set<std::string> hung_;
};

using SessionRef = std::shared_ptr<ProbeSession>;

AttributeResult Failure(int error) {
  AttributeResult result;
  result.error = error;
  return result;
}

AttributeResult Answer(AttributeValue value) {
  AttributeResult result;
  result.value = std::move(value);
  return result;
}

// The error code a query reports for a call that did not succeed.
int ErrorFor(CallResult result) {
  return result == CallResult::kNoAnswer ? kErrorCannotComplete : kErrorFailure;
}

Utf16Text TakeText(gchar* utf8) {
  if (utf8 == nullptr) return Utf16Text();
  Utf16Text text = TextFromUtf8(utf8);
  g_free(utf8);
  return text;
}

// The probe's kind of an AT-SPI role. GTK reports an entry as role "text"
// with the single-line state, so text objects are told apart by their states.
std::string MacRole(AtspiRole role, AtspiStateSet* states) {
  switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
      return "AXTextField";
    case ATSPI_ROLE_TEXT:
      return states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE)
                 ? "AXTextField"
                 : "AXTextArea";
    case ATSPI_ROLE_DOCUMENT_TEXT:
      return "AXTextArea";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
      return "AXStaticText";
    case ATSPI_ROLE_COMBO_BOX:
      return "AXComboBox";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_WINDOW:
      return "AXWindow";
    case ATSPI_ROLE_APPLICATION:
      return "AXApplication";
    default:
      return "AXUnknown";
  }
}

bool IsTopLevelRole(AtspiRole role) { return MacRole(role, nullptr) == "AXWindow"; }

// An attribute value referring to `object`, as an element of the probe.
AttributeValue ElementOf(const SessionRef& session, GRef<AtspiAccessible> object,
                         GRef<AtspiAccessible> active_window = nullptr);

// Plain calls shared by the elements and the searches, each through the
// probe's session.
class Calls {
 public:
  explicit Calls(SessionRef session) : session_(std::move(session)) {}

  CallResult ChildCount(AtspiAccessible* object, int* count) const {
    return session_->Run(object, [&](GError** error) {
      *count = atspi_accessible_get_child_count(object, error);
      return *count >= 0;
    });
  }

  CallResult Child(AtspiAccessible* object, int index, GRef<AtspiAccessible>* child) const {
    return session_->Run(object, [&](GError** error) {
      child->reset(atspi_accessible_get_child_at_index(object, index, error));
      return *child != nullptr;
    });
  }

  // A failed query gives the defunct state.
  CallResult States(AtspiAccessible* object, GRef<AtspiStateSet>* states) const {
    return session_->Run(object, [&](GError**) {
      states->reset(atspi_accessible_get_state_set(object));
      return *states != nullptr && !atspi_state_set_contains(states->get(), ATSPI_STATE_DEFUNCT);
    });
  }

  bool HasState(AtspiAccessible* object, AtspiStateType state) const {
    GRef<AtspiStateSet> states;
    return States(object, &states) == CallResult::kOk &&
           atspi_state_set_contains(states.get(), state);
  }

  CallResult Role(AtspiAccessible* object, AtspiRole* role) const {
    return session_->Run(object, [&](GError** error) {
      *role = atspi_accessible_get_role(object, error);
      return true;
    });
  }

  // The object as one of its interfaces; null when it lacks it (or does not
  // say). `get` is one of libatspi's atspi_accessible_get_*_iface.
  template <typename Iface>
  CallResult Interface(AtspiAccessible* object, Iface* (*get)(AtspiAccessible*),
                       GRef<Iface>* iface) const {
    return session_->Run(object, [&](GError**) {
      iface->reset(get(object));
      return true;
    });
  }

  const SessionRef& session() const { return session_; }

 private:
  SessionRef session_;
};

// The focused element below `window`, found by the application itself when
// it offers the collection interface, else by a walk as bounded as the text
// probe's.
class FocusSearch {
 public:
  explicit FocusSearch(const Calls& calls) : calls_(calls) {}

  GRef<AtspiAccessible> Find(AtspiAccessible* window) {
    bool answered = false;
    GRef<AtspiAccessible> found = AskCollection(window, &answered);
    if (answered) return found;
    return Walk(window, 0);
  }

 private:
  GRef<AtspiAccessible> AskCollection(AtspiAccessible* window, bool* answered) {
    GRef<AtspiCollection> collection;
    if (calls_.Interface(window, atspi_accessible_get_collection_iface, &collection) !=
            CallResult::kOk ||
        collection == nullptr) {
      return nullptr;
    }
    GRef<AtspiStateSet> focused(atspi_state_set_new(nullptr));
    atspi_state_set_add(focused.get(), ATSPI_STATE_FOCUSED);
    GRef<AtspiMatchRule> rule(atspi_match_rule_new(
        focused.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
        ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, FALSE));
    GArray* matches = nullptr;
    const CallResult result = calls_.session()->Run(window, [&](GError** error) {
      matches = atspi_collection_get_matches(collection.get(), rule.get(),
                                             ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error);
      return matches != nullptr;
    });
    GRef<AtspiAccessible> found;
    if (matches != nullptr) {
      for (guint i = 0; i < matches->len; ++i) {
        AtspiAccessible* match = g_array_index(matches, AtspiAccessible*, i);
        if (found == nullptr) {
          found.reset(match);
        } else if (match != nullptr) {
          g_object_unref(match);
        }
      }
      g_array_free(matches, TRUE);
    }
    // A hung application gets no second chance through the walk.
    *answered = result != CallResult::kFailed;
    return found;
  }

  GRef<AtspiAccessible> Walk(AtspiAccessible* object, int depth) {
    if (visited_ >= kMaxVisitedElements || depth > kMaxElementDepth) return nullptr;
    ++visited_;
    if (calls_.HasState(object, ATSPI_STATE_FOCUSED)) return Share(object);
    int count = 0;
    if (calls_.ChildCount(object, &count) != CallResult::kOk) return nullptr;
    for (int i = 0; i < std::min(count, kMaxVisitedElements); ++i) {
      GRef<AtspiAccessible> child;
      if (calls_.Child(object, i, &child) == CallResult::kNoAnswer) return nullptr;
      if (child == nullptr) continue;
      if (GRef<AtspiAccessible> found = Walk(child.get(), depth + 1)) return found;
    }
    return nullptr;
  }

  const Calls& calls_;
  int visited_ = 0;
};

// The frame or dialog that has the active state, and its application.
struct ActiveWindow {
  GRef<AtspiAccessible> application;
  GRef<AtspiAccessible> window;
};

// The application's top-level window (frame, dialog, ...) that has the active
// state; null when none has.
GRef<AtspiAccessible> ActiveWindowOf(const Calls& calls, AtspiAccessible* application) {
  int windows = 0;
  if (calls.ChildCount(application, &windows) != CallResult::kOk) return nullptr;
  for (int w = 0; w < std::min(windows, kMaxVisitedElements); ++w) {
    GRef<AtspiAccessible> window;
    if (calls.Child(application, w, &window) != CallResult::kOk || window == nullptr) continue;
    if (!calls.HasState(window.get(), ATSPI_STATE_ACTIVE)) continue;
    AtspiRole role = ATSPI_ROLE_INVALID;
    if (calls.Role(window.get(), &role) != CallResult::kOk || !IsTopLevelRole(role)) continue;
    return window;
  }
  return nullptr;
}

ActiveWindow FindActiveWindow(const Calls& calls) {
  ActiveWindow active;
  GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
  int applications = 0;
  if (desktop == nullptr || calls.ChildCount(desktop.get(), &applications) != CallResult::kOk) {
    return active;
  }
  for (int a = 0; a < std::min(applications, kMaxVisitedElements); ++a) {
    GRef<AtspiAccessible> application;
    if (calls.Child(desktop.get(), a, &application) != CallResult::kOk || application == nullptr) {
      continue;
    }
    GRef<AtspiAccessible> window = ActiveWindowOf(calls, application.get());
    if (window == nullptr) continue;
    active.application = std::move(application);
    active.window = std::move(window);
    return active;
  }
  return active;
}

// Every query of a process without a reachable accessibility bus.
class UnreachableElement : public Element {
 public:
  AttributeResult CopyAttribute(const std::string& /*attribute*/) const override {
    return Failure(kErrorApiDisabled);
  }
};

class SystemWideElement : public Element {
 public:
  explicit SystemWideElement(SessionRef session) : calls_(std::move(session)) {}

  AttributeResult CopyAttribute(const std::string& attribute) const override {
    if (attribute == "AXFocusedApplication") {
      const ActiveWindow& active = Active();
      if (active.application == nullptr) return Failure(kErrorNoValue);
      return Answer(ElementOf(calls_.session(), Share(active.application.get()),
                              Share(active.window.get())));
    }
    if (attribute == "AXFocusedUIElement") {
      const ActiveWindow& active = Active();
      if (active.window == nullptr) return Failure(kErrorNoValue);
      GRef<AtspiAccessible> focused = FocusSearch(calls_).Find(active.window.get());
      if (focused == nullptr) return Failure(kErrorNoValue);
      return Answer(ElementOf(calls_.session(), std::move(focused)));
    }
    return Failure(kErrorAttributeUnsupported);
  }

 private:
  // Looked for once per probe.
  const ActiveWindow& Active() const {
    if (!searched_) {
      active_ = FindActiveWindow(calls_);
      searched_ = true;
    }
    return active_;
  }

  Calls calls_;
  mutable bool searched_ = false;
  mutable ActiveWindow active_;
};

// One accessible object. An application found through its active window
// remembers that window as its focused one.
class AtspiElement : public Element {
 public:
  AtspiElement(SessionRef session, GRef<AtspiAccessible> object,
               GRef<AtspiAccessible> active_window)
      : calls_(std::move(session)),
        object_(std::move(object)),
        active_window_(std::move(active_window)) {}

  AttributeResult CopyAttribute(const std::string& attribute) const override {
    if (attribute == "AXRole") return RoleAttribute();
    if (attribute == "AXValue") return ValueAttribute();
    if (attribute == "AXTitle") return TitleAttribute();
    if (attribute == "AXPosition") return PositionAttribute();
    if (attribute == "AXChildren") return ChildrenAttribute();
    if (attribute == "AXEditable") return EditableAttribute();
    if (attribute == "AXFocusedWindow") return FocusedWindowAttribute();
    return Failure(kErrorAttributeUnsupported);
  }

 private:
  AtspiAccessible* object() const { return object_.get(); }

  // The role, asked once per element.
  CallResult Role(AtspiRole* role) const {
    if (!role_result_.has_value()) role_result_ = calls_.Role(object(), &role_);
    *role = role_;
    return *role_result_;
  }

  AttributeResult RoleAttribute() const {
    AtspiRole role = ATSPI_ROLE_INVALID;
    if (const CallResult result = Role(&role); result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    GRef<AtspiStateSet> states;
    if (role == ATSPI_ROLE_TEXT) calls_.States(object(), &states);
    return Answer(AttributeValue::String(WholeText(Utf16(MacRole(role, states.get())))));
  }

  static std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
  }

  AttributeResult TitleAttribute() const {
    gchar* name = nullptr;
    const CallResult result = calls_.session()->Run(object(), [&](GError** error) {
      name = atspi_accessible_get_name(object(), error);
      return name != nullptr;
    });
    Utf16Text text = TakeText(name);
    if (result != CallResult::kOk) return Failure(ErrorFor(result));
    return Answer(AttributeValue::String(std::move(text)));
  }

  // The text of the Text interface. Only its first characters are fetched:
  // enough to cut it, whatever the length of a document. Characters past
  // them count one UTF-16 unit each in the length, which is exact unless
  // the unfetched part holds characters beyond the Basic Multilingual Plane.
  AttributeResult ValueAttribute() const {
    AtspiRole role = ATSPI_ROLE_INVALID;
    if (const CallResult result = Role(&role); result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    // A password is never read, whatever the toolkit would hand out.
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return Failure(kErrorNoValue);
    GRef<AtspiText> text;
    if (const CallResult result =
            calls_.Interface(object(), atspi_accessible_get_text_iface, &text);
        result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    if (text == nullptr) return Failure(kErrorAttributeUnsupported);
    int count = 0;
    CallResult result = calls_.session()->Run(object(), [&](GError** error) {
      count = atspi_text_get_character_count(text.get(), error);
      return count >= 0;
    });
    if (result != CallResult::kOk) return Failure(ErrorFor(result));
    const int fetched = std::min<int>(count, kMaxStringUnits + 1);
    gchar* head = nullptr;
    if (fetched > 0) {
      result = calls_.session()->Run(object(), [&](GError** error) {
        head = atspi_text_get_text(text.get(), 0, fetched, error);
        return head != nullptr;
      });
    }
    Utf16Text value = TakeText(head);
    if (result != CallResult::kOk) return Failure(ErrorFor(result));
    value.length += count - fetched;
    return Answer(AttributeValue::String(std::move(value)));
  }

  AttributeResult PositionAttribute() const {
    GRef<AtspiComponent> component;
    if (const CallResult result =
            calls_.Interface(object(), atspi_accessible_get_component_iface, &component);
        result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    if (component == nullptr) return Failure(kErrorAttributeUnsupported);
    AtspiPoint* point = nullptr;
    const CallResult result = calls_.session()->Run(object(), [&](GError** error) {
      point = atspi_component_get_position(component.get(), ATSPI_COORD_TYPE_SCREEN, error);
      return point != nullptr;
    });
    const Point position = point != nullptr ? Point{static_cast<double>(point->x),
                                                    static_cast<double>(point->y)}
                                            : Point{};
    g_free(point);
    if (result != CallResult::kOk) return Failure(ErrorFor(result));
    return Answer(AttributeValue::PointValue(position));
  }

  // Children that vanish while they are fetched are left out; an application
  // that stops answering fails the whole list (the probe counts it as a
  // failed child fetch). No element has more children worth fetching than
  // one probe visits.
  AttributeResult ChildrenAttribute() const {
    int count = 0;
    if (const CallResult result = calls_.ChildCount(object(), &count); result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    std::vector<AttributeValue> children;
    for (int i = 0; i < std::min(count, kMaxVisitedElements); ++i) {
      GRef<AtspiAccessible> child;
      if (calls_.Child(object(), i, &child) == CallResult::kNoAnswer) {
        return Failure(kErrorCannotComplete);
      }
      if (child == nullptr) continue;
      children.push_back(ElementOf(calls_.session(), std::move(child)));
    }
    return Answer(AttributeValue::Array(std::move(children)));
  }

  AttributeResult EditableAttribute() const {
    GRef<AtspiStateSet> states;
    if (const CallResult result = calls_.States(object(), &states); result != CallResult::kOk) {
      return Failure(ErrorFor(result));
    }
    return Answer(
        AttributeValue::Boolean(atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE)));
  }

  // An application's active frame or dialog.
  AttributeResult FocusedWindowAttribute() const {
    GRef<AtspiAccessible> window =
        active_window_ != nullptr ? Share(active_window_.get()) : nullptr;
    if (window == nullptr) {
      AtspiRole role = ATSPI_ROLE_INVALID;
      if (const CallResult result = Role(&role); result != CallResult::kOk) {
        return Failure(ErrorFor(result));
      }
      if (role != ATSPI_ROLE_APPLICATION) return Failure(kErrorAttributeUnsupported);
      window = ActiveWindowOf(calls_, object());
    }
    if (window == nullptr) return Failure(kErrorNoValue);
    return Answer(ElementOf(calls_.session(), std::move(window)));
  }

  Calls calls_;
  GRef<AtspiAccessible> object_;
  GRef<AtspiAccessible> active_window_;
  mutable std::optional<CallResult> role_result_;
  mutable AtspiRole role_ = ATSPI_ROLE_INVALID;
};

AttributeValue ElementOf(const SessionRef& session, GRef<AtspiAccessible> object,
                         GRef<AtspiAccessible> active_window) {
  return AttributeValue::ElementValue(
      std::make_shared<AtspiElement>(session, std::move(object), std::move(active_window)));
}

}  // namespace

bool AtspiPlatform::IsProcessTrusted() const {
  const BusStatus status = CheckAccessibilityBus();
  return status.reachable && status.enabled && libatspi_state != LibatspiState::kBroken;
}

ElementRef AtspiPlatform::CreateSystemWide() const {
  if (!CheckAccessibilityBus().reachable || !StartAtspi()) {
    return std::make_shared<UnreachableElement>();
  }
  return std::make_shared<SystemWideElement>(std::make_shared<ProbeSession>());
}

std::vector<WindowListEntry> AtspiPlatform::CopyOnScreenWindows() const {
  return CopyX11ClientWindows();
}

const Platform& SystemPlatform() {
  static const AtspiPlatform platform;
  return platform;
}

}  // namespace focusprobe
