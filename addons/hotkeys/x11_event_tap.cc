// The X11 event tap, for X11 desktops and the XWayland windows of Wayland
// ones. It listens to XInput 2.2 raw key events on the root window, swallows
// through passive key grabs in synchronous keyboard mode, and reads the
// physical key state with XQueryKeymap.
//
// Keys are translated into the macOS virtual key codes and modifier flags the
// rest of the add-on speaks: an X key is known by the symbol it types without
// modifiers in the first keyboard group, and takes the code of the Mac key
// that types the same ("a", Return, the arrows, F1 ...). Keys no Mac keyboard
// has are numbered from kUnmappedBase on, by X keycode, so that they never
// take a Mac key's name.
//
// Three connections per object, so that no Xlib connection is shared between
// threads: the listener (raw events) and the grabber (grabs and the frozen
// keyboard) belong to the watcher thread, the key state's connection to
// whoever holds its lock. The grabber is separate because XInput sends raw
// events to the other clients only: while the grabber holds the keyboard, the
// listener still hears every key.
#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "addons/hotkeys/event_tap.h"
#include "addons/hotkeys/key_names.h"
#include "addons/hotkeys/log.h"

namespace chordwatch {

namespace {

constexpr int kUnmappedBase = 1000;  // + X keycode; Mac codes stay below 128
constexpr int kKeycodeCount = 256;   // X keycodes are one byte
// XF86XK_Fn, whose definition in XF86keysym.h relies on a helper macro that
// the header undefines at its end.
constexpr KeySym kFnKeysym = 0x100811D0;
using KeyBits = std::bitset<kKeycodeCount>;

// ---------------------------------------------------------------------------
// Connections and their errors

// What the error handlers learn about one of our connections.
struct ConnectionRecord {
  bool lost = false;
  std::vector<unsigned long> refused_grabs;  // serials of XGrabKey requests
};

std::mutex& RegistryMutex() {
  static std::mutex& mutex = *new std::mutex;
  return mutex;
}

// Our connections. Never destroyed: a handler may run while the process
// exits.
std::unordered_map<Display*, std::shared_ptr<ConnectionRecord>>& Registry() {
  static auto& registry =
      *new std::unordered_map<Display*, std::shared_ptr<ConnectionRecord>>;
  return registry;
}

XErrorHandler previous_error_handler = nullptr;
XIOErrorHandler previous_io_error_handler = nullptr;

std::shared_ptr<ConnectionRecord> RecordOf(Display* display) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(display);
  return it == Registry().end() ? nullptr : it->second;
}

// Xlib's own handlers end the process. Errors on our connections are logged
// (a refused grab is noted for the tap) and the host goes on; those of other
// connections in the process go where they went before.
int HandleXError(Display* display, XErrorEvent* error) {
  std::shared_ptr<ConnectionRecord> record = RecordOf(display);
  if (!record) {
    return previous_error_handler ? previous_error_handler(display, error) : 0;
  }
  if (error->error_code == BadAccess && error->request_code == X_GrabKey) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    record->refused_grabs.push_back(error->serial);
    return 0;
  }
  Log("X error " + std::to_string(error->error_code) + " (request " +
      std::to_string(error->request_code) + "." +
      std::to_string(error->minor_code) + ")");
  return 0;
}

int HandleXIOError(Display* display) {
  std::shared_ptr<ConnectionRecord> record = RecordOf(display);
  if (!record) {
    return previous_io_error_handler ? previous_io_error_handler(display) : 0;
  }
  std::lock_guard<std::mutex> lock(RegistryMutex());
  record->lost = true;
  return 0;
}

// Called when the I/O error handler returns; returning here too keeps the
// process alive, and Xlib calls on the dead connection then fail quietly.
void StayAlive(Display*, void*) {}

class XConnection {
 public:
  XConnection() = default;
  ~XConnection() { Close(); }
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  // Connects to $DISPLAY; false when that fails.
  bool Open() {
    static std::once_flag handlers_installed;
    std::call_once(handlers_installed, [] {
      XInitThreads();
      previous_error_handler = XSetErrorHandler(HandleXError);
      previous_io_error_handler = XSetIOErrorHandler(HandleXIOError);
    });
    Close();
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return false;
    XSetIOErrorExitHandler(display_, StayAlive, nullptr);
    record_ = std::make_shared<ConnectionRecord>();
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry()[display_] = record_;
    return true;
  }

  void Close() {
    if (display_ == nullptr) return;
    XCloseDisplay(display_);
    {
      // Another thread may have opened a connection at the same address by
      // now; its entry stays.
      std::lock_guard<std::mutex> lock(RegistryMutex());
      auto it = Registry().find(display_);
      if (it != Registry().end() && it->second == record_) Registry().erase(it);
    }
    display_ = nullptr;
    record_.reset();
  }

  Display* get() const { return display_; }
  bool usable() const { return display_ != nullptr && !lost(); }

  bool lost() const {
    if (!record_) return false;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return record_->lost;
  }

  std::vector<unsigned long> TakeRefusedGrabs() {
    std::vector<unsigned long> refused;
    if (!record_) return refused;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    refused.swap(record_->refused_grabs);
    return refused;
  }

 private:
  Display* display_ = nullptr;
  std::shared_ptr<ConnectionRecord> record_;
};

// ---------------------------------------------------------------------------
// Key translation

// The Mac virtual key code of the key that types each symbol.
const std::unordered_map<KeySym, int>& MacKeycodesBySymbol() {
  static const auto& codes = *new std::unordered_map<KeySym, int>{
      {XK_a, 0}, {XK_s, 1}, {XK_d, 2}, {XK_f, 3}, {XK_h, 4}, {XK_g, 5},
      {XK_z, 6}, {XK_x, 7}, {XK_c, 8}, {XK_v, 9}, {XK_b, 11}, {XK_q, 12},
      {XK_w, 13}, {XK_e, 14}, {XK_r, 15}, {XK_y, 16}, {XK_t, 17},
      {XK_o, 31}, {XK_u, 32}, {XK_i, 34}, {XK_p, 35}, {XK_l, 37},
      {XK_j, 38}, {XK_k, 40}, {XK_n, 45}, {XK_m, 46},
      {XK_1, 18}, {XK_2, 19}, {XK_3, 20}, {XK_4, 21}, {XK_5, 23},
      {XK_6, 22}, {XK_7, 26}, {XK_8, 28}, {XK_9, 25}, {XK_0, 29},
      {XK_equal, 24}, {XK_minus, 27}, {XK_bracketright, 30},
      {XK_bracketleft, 33}, {XK_apostrophe, 39}, {XK_semicolon, 41},
      {XK_backslash, 42}, {XK_comma, 43}, {XK_slash, 44}, {XK_period, 47},
      {XK_grave, 50},
      {XK_Return, 36}, {XK_Tab, 48}, {XK_space, 49}, {XK_BackSpace, 51},
      {XK_Escape, 53}, {XK_Delete, 117}, {XK_Insert, 114}, {XK_Help, 114},
      {XK_Home, 115}, {XK_Prior, 116}, {XK_End, 119}, {XK_Next, 121},
      {XK_Left, 123}, {XK_Right, 124}, {XK_Down, 125}, {XK_Up, 126},
      {XK_Caps_Lock, 57},
      {XK_F1, 122}, {XK_F2, 120}, {XK_F3, 99}, {XK_F4, 118}, {XK_F5, 96},
      {XK_F6, 97}, {XK_F7, 98}, {XK_F8, 100}, {XK_F9, 101}, {XK_F10, 109},
      {XK_F11, 103}, {XK_F12, 111}, {XK_F13, 105}, {XK_F14, 107},
      {XK_F15, 113}, {XK_F16, 106}, {XK_F17, 64}, {XK_F18, 79},
      {XK_F19, 80}, {XK_F20, 90},
      // The keypad keys are the same keys with Num Lock on or off.
      {XK_KP_0, 82}, {XK_KP_Insert, 82}, {XK_KP_1, 83}, {XK_KP_End, 83},
      {XK_KP_2, 84}, {XK_KP_Down, 84}, {XK_KP_3, 85}, {XK_KP_Next, 85},
      {XK_KP_4, 86}, {XK_KP_Left, 86}, {XK_KP_5, 87}, {XK_KP_Begin, 87},
      {XK_KP_6, 88}, {XK_KP_Right, 88}, {XK_KP_7, 89}, {XK_KP_Home, 89},
      {XK_KP_8, 91}, {XK_KP_Up, 91}, {XK_KP_9, 92}, {XK_KP_Prior, 92},
      {XK_KP_Decimal, 65}, {XK_KP_Delete, 65}, {XK_KP_Multiply, 67},
      {XK_KP_Add, 69}, {XK_KP_Divide, 75}, {XK_KP_Enter, 76},
      {XK_KP_Subtract, 78}, {XK_KP_Equal, 81}, {XK_Num_Lock, 71},
      {XF86XK_AudioRaiseVolume, 72}, {XF86XK_AudioLowerVolume, 73},
      {XF86XK_AudioMute, 74},
      // Alt is the PC's Option key, Super (the Windows key) its Command key;
      // AltGr sits where the right Option key does and does its job.
      {XK_Shift_L, 56}, {XK_Shift_R, 60}, {XK_Control_L, 59},
      {XK_Control_R, 62}, {XK_Alt_L, 58}, {XK_Meta_L, 58}, {XK_Alt_R, 61},
      {XK_Meta_R, 61}, {XK_ISO_Level3_Shift, 61}, {XK_Super_L, 55},
      {XK_Super_R, 54}, {kFnKeysym, kFnKeycode},
  };
  return codes;
}

// The keys down on the server, by X keycode.
KeyBits QueryKeymap(Display* display) {
  char keys[32] = {};
  XQueryKeymap(display, keys);
  KeyBits down;
  for (int keycode = 0; keycode < kKeycodeCount; ++keycode) {
    down[keycode] = (keys[keycode / 8] >> (keycode % 8)) & 1;
  }
  return down;
}

// The modifier flag bit that a key name tests, or 0.
uint64_t FlagBitOf(const std::string& name) {
  for (int bit = 0; bit < 64; ++bit) {
    if (MacFlagIncludesModifier(uint64_t{1} << bit, name)) {
      return uint64_t{1} << bit;
    }
  }
  return 0;
}

// The keyboard of one connection in the add-on's terms.
class KeyTranslation {
 public:
  // Reads the keyboard and modifier mappings; call again on MappingNotify.
  void Load(Display* display) {
    *this = KeyTranslation();
    int first = 0, last = 0;
    XDisplayKeycodes(display, &first, &last);
    int per_keycode = 0;
    KeySym* symbols = XGetKeyboardMapping(
        display, static_cast<KeyCode>(first), last - first + 1, &per_keycode);
    for (int keycode = 0; keycode < kKeycodeCount; ++keycode) {
      KeySym base = NoSymbol, shifted = NoSymbol;
      if (symbols != nullptr && keycode >= first && keycode <= last) {
        const KeySym* row = symbols + (keycode - first) * per_keycode;
        if (per_keycode > 0) base = row[0];
        if (per_keycode > 1) shifted = row[1];
      }
      SetKey(keycode, base, shifted);
    }
    if (symbols != nullptr) XFree(symbols);
    LoadModifierMasks(display);
  }

  int MacKeycode(int keycode) const { return mac_codes_[Index(keycode)]; }
  const std::string& Name(int keycode) const { return names_[Index(keycode)]; }

  // The sided modifiers and Fn come as flag changes, as on macOS.
  bool IsFlagsKey(int keycode) const {
    return flag_bits_[Index(keycode)] != 0;
  }

  // The macOS flag word of the keys that are down.
  uint64_t FlagsOf(const KeyBits& down) const {
    uint64_t flags = 0;
    for (int keycode = 0; keycode < kKeycodeCount; ++keycode) {
      if (down[keycode]) flags |= flag_bits_[keycode];
    }
    return flags;
  }

  // X keycodes that a name stands for; a generic modifier ("Ctrl") stands for
  // both of its sides.
  std::vector<int> KeycodesNamed(const std::string& name) const {
    const bool generic = MacIsModifierName(name) &&
                         !MacIsSidedModifierName(name);
    std::vector<int> keycodes;
    for (int keycode = 0; keycode < kKeycodeCount; ++keycode) {
      if (names_[keycode] == name ||
          (generic && MacFlagIncludesModifier(flag_bits_[keycode], name))) {
        keycodes.push_back(keycode);
      }
    }
    return keycodes;
  }

  // The X modifier masks that the keys of a name set; 0 for keys outside the
  // modifier map.
  std::set<unsigned> MasksOf(const std::string& name) const {
    std::set<unsigned> masks;
    for (int keycode : KeycodesNamed(name)) masks.insert(masks_[keycode]);
    return masks;
  }

  // Caps Lock and Num Lock change the modifier state without being part of
  // any combination: a grab has to hold for each of their states.
  std::set<unsigned> LockVariants() const {
    return {0, LockMask, num_lock_mask_, LockMask | num_lock_mask_};
  }

 private:
  static int Index(int keycode) {
    return keycode >= 0 && keycode < kKeycodeCount ? keycode : 0;
  }

  void SetKey(int keycode, KeySym base, KeySym shifted) {
    const auto& codes = MacKeycodesBySymbol();
    auto found = codes.find(base);
    // A key whose plain symbol no Mac key types may still type a known one
    // with Shift (the digits of a French keyboard).
    if (found == codes.end() && base != NoSymbol) found = codes.find(shifted);
    mac_codes_[keycode] =
        found != codes.end() ? found->second : kUnmappedBase + keycode;
    names_[keycode] = MacKeycodeToName(mac_codes_[keycode]);
    flag_bits_[keycode] = MacIsModifierName(names_[keycode])
                              ? FlagBitOf(names_[keycode])
                              : 0;
  }

  void LoadModifierMasks(Display* display) {
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) return;
    const KeyCode num_lock = XKeysymToKeycode(display, XK_Num_Lock);
    for (int modifier = 0; modifier < 8; ++modifier) {
      for (int i = 0; i < map->max_keypermod; ++i) {
        const KeyCode keycode =
            map->modifiermap[modifier * map->max_keypermod + i];
        if (keycode == 0) continue;
        masks_[keycode] |= 1u << modifier;
        if (keycode == num_lock) num_lock_mask_ = 1u << modifier;
      }
    }
    XFreeModifiermap(map);
  }

  int mac_codes_[kKeycodeCount] = {};
  std::string names_[kKeycodeCount];
  uint64_t flag_bits_[kKeycodeCount] = {};
  unsigned masks_[kKeycodeCount] = {};
  unsigned num_lock_mask_ = 0;
};

// ---------------------------------------------------------------------------
// Grabs

struct Grab {
  int keycode;
  unsigned modifiers;
  bool operator<(const Grab& other) const {
    return keycode != other.keycode ? keycode < other.keycode
                                    : modifiers < other.modifiers;
  }
};

std::set<unsigned> CombineMasks(const std::set<unsigned>& left,
                                const std::set<unsigned>& right) {
  std::set<unsigned> combined;
  for (unsigned a : left) {
    for (unsigned b : right) combined.insert(a | b);
  }
  return combined;
}

// The grabs that let the tap swallow a combination: its other keys, pressed
// while its modifiers are held; for a combination of modifiers alone, each
// of them pressed while the others are held. A grab holds for exactly its
// modifiers (and any Lock state), as X hotkeys do. A combination naming a key
// this keyboard lacks can never be held and grabs nothing.
std::vector<Grab> GrabsFor(const KeySet& keys, const KeyTranslation& layout) {
  std::vector<std::string> modifiers, others;
  for (const std::string& name : keys) {
    if (layout.KeycodesNamed(name).empty()) return {};
    (MacIsModifierName(name) ? modifiers : others).push_back(name);
  }
  const std::vector<std::string>& targets = others.empty() ? modifiers : others;
  std::vector<Grab> grabs;
  for (const std::string& target : targets) {
    std::set<unsigned> masks = layout.LockVariants();
    for (const std::string& modifier : modifiers) {
      if (modifier != target) masks = CombineMasks(masks, layout.MasksOf(modifier));
    }
    for (int keycode : layout.KeycodesNamed(target)) {
      for (unsigned mask : masks) grabs.push_back({keycode, mask});
    }
  }
  return grabs;
}

bool SameCombos(const std::vector<ParsedCombo>& a,
                const std::vector<ParsedCombo>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].combo != b[i].combo) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Physical key state

class X11KeyState : public KeyStateSource {
 public:
  bool IsKeyDown(int mac_keycode) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    KeyBits down;
    if (!QueryLocked(&down)) return false;
    for (int keycode = 0; keycode < kKeycodeCount; ++keycode) {
      if (down[keycode] && layout_.MacKeycode(keycode) == mac_keycode) {
        return true;
      }
    }
    return false;
  }

  uint64_t ModifierFlags() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    KeyBits down;
    return QueryLocked(&down) ? layout_.FlagsOf(down) : 0;
  }

 private:
  // Connects on first use (and again after losing the server), so that the
  // state can be read without a running watcher.
  bool QueryLocked(KeyBits* down) const {
    if (!connection_.usable()) {
      if (!connection_.Open()) return false;
      layout_.Load(connection_.get());
    }
    Display* display = connection_.get();
    *down = QueryKeymap(display);
    if (connection_.lost()) return false;
    bool remapped = false;
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      remapped = remapped || event.type == MappingNotify;
    }
    if (remapped) layout_.Load(display);
    return true;
  }

  mutable std::mutex mutex_;
  mutable XConnection connection_;
  mutable KeyTranslation layout_;
};

// ---------------------------------------------------------------------------
// The tap

class X11EventTap : public EventTap {
 public:
  ~X11EventTap() override { Close(); }

  bool Open(bool exclusive, KeyEventHandler handler) override;
  void Run() override;
  void Close() override;
  void Wake() override;
  void SetExclusiveCombos(std::vector<ParsedCombo> combos) override;
  const KeyStateSource& KeyState() const override { return key_state_; }
  std::string StartedMessage() const override {
    return "X11 keyboard watcher started";
  }
  std::string RefusedMessage() const override { return refusal_; }

 private:
  // How the handler answered one raw event; the grabber's copy of the same
  // key event (same keycode, direction and server time) is answered alike.
  struct Decision {
    int keycode;
    bool press;
    Time time;
    bool swallow;
  };

  bool Refuse(const std::string& why);
  bool SelectRawKeyEvents();
  void SignalLocked();
  void DrainWakePipe();
  void HandleListenerEvents();
  void HandleRawKey(const XIRawEvent& raw);
  void HandleGrabberEvents();
  void AnswerFrozenKey(const XKeyEvent& key);
  bool FindDecision(const XKeyEvent& key, bool* swallow);
  void UpdateGrabsIfChanged();
  void UpdateGrabs(const std::vector<ParsedCombo>& combos);

  X11KeyState key_state_;
  std::string refusal_;

  // The watcher thread's, between Open and Close.
  KeyEventHandler handler_;
  bool exclusive_ = false;
  XConnection listener_;
  XConnection grabber_;  // exclusive taps only
  int xi_opcode_ = 0;
  KeyTranslation layout_;
  KeyBits down_;
  std::deque<Decision> decisions_;
  std::map<int, bool> last_press_swallowed_;
  bool grab_active_ = false;  // a grab has the keyboard, set off by
  int activating_key_ = 0;    // this key
  std::map<Grab, std::string> grabs_;     // held, with their combination
  std::set<std::string> refused_combos_;  // another client holds them
  bool grabs_stale_ = false;              // the keyboard mapping changed

  // Shared with Wake and SetExclusiveCombos on other threads.
  std::mutex mutex_;
  std::condition_variable grabs_updated_;
  bool open_ = false;
  bool woken_ = false;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::vector<ParsedCombo> combos_;
  uint64_t combos_version_ = 0;
  uint64_t applied_version_ = 0;
};

bool X11EventTap::Refuse(const std::string& why) {
  refusal_ = why;
  Close();
  return false;
}

bool X11EventTap::Open(bool exclusive, KeyEventHandler handler) {
  handler_ = std::move(handler);
  exclusive_ = exclusive;
  if (!listener_.Open() || (exclusive && !grabber_.Open())) {
    return Refuse("Failed to open X display (is DISPLAY set?)");
  }
  if (!SelectRawKeyEvents()) {
    return Refuse("The X display lacks XInput 2.2; no global key events");
  }
  layout_.Load(listener_.get());
  // Modifiers already held count from the start.
  down_ = QueryKeymap(listener_.get());
  if (exclusive) {
    // Held keys repeat as presses only, without the releases in between.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(grabber_.get(), True, &supported);
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    return Refuse("Failed to create the X11 watcher's wake-up pipe");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  wake_read_ = fds[0];
  wake_write_ = fds[1];
  open_ = true;
  woken_ = false;
  grabs_stale_ = true;  // Run grabs what the bindings want
  return true;
}

bool X11EventTap::SelectRawKeyEvents() {
  Display* display = listener_.get();
  int event = 0, error = 0;
  if (!XQueryExtension(display, "XInputExtension", &xi_opcode_, &event,
                       &error)) {
    return false;
  }
  // Raw events reach every client only from version 2.2 on; with 2.0 they
  // stop while another client holds a grab.
  int major = 2, minor = 2;
  if (XIQueryVersion(display, &major, &minor) != Success ||
      major * 100 + minor < 202) {
    return false;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask;
  mask.deviceid = XIAllMasterDevices;
  mask.mask_len = sizeof bits;
  mask.mask = bits;
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  XSync(display, False);
  return listener_.usable();
}

void X11EventTap::Run() {
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (woken_) return;
    }
    DrainWakePipe();
    HandleListenerEvents();
    if (exclusive_) {
      HandleGrabberEvents();
      UpdateGrabsIfChanged();
      HandleGrabberEvents();  // read while the grabs were synced
    }
    if (!listener_.usable() || (exclusive_ && !grabber_.usable())) {
      Log("Lost the connection to the X display; stop and start again to "
          "listen");
      return;
    }
    // Answering a frozen key may have read listener events (a new keyboard
    // mapping among them) that poll will not report again.
    if ((exclusive_ && grabs_stale_) ||
        XEventsQueued(listener_.get(), QueuedAlready) > 0) {
      continue;
    }
    pollfd fds[3] = {{wake_read_, POLLIN, 0},
                     {ConnectionNumber(listener_.get()), POLLIN, 0},
                     {exclusive_ ? ConnectionNumber(grabber_.get()) : -1,
                      POLLIN, 0}};
    poll(fds, 3, -1);
  }
}

void X11EventTap::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    if (wake_read_ >= 0) close(wake_read_);
    if (wake_write_ >= 0) close(wake_write_);
    wake_read_ = wake_write_ = -1;
  }
  grabs_updated_.notify_all();
  if (grabber_.usable()) {
    // Thaw the keyboard and give every key back before this returns, so
    // that the next key after stop reaches the applications.
    Display* display = grabber_.get();
    XAllowEvents(display, AsyncKeyboard, CurrentTime);
    XUngrabKeyboard(display, CurrentTime);
    XUngrabKey(display, AnyKey, AnyModifier, DefaultRootWindow(display));
    XSync(display, False);
  }
  grabber_.Close();
  listener_.Close();
  grabs_.clear();
  refused_combos_.clear();
  grab_active_ = false;
  decisions_.clear();
  last_press_swallowed_.clear();
}

void X11EventTap::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return;
  woken_ = true;
  SignalLocked();
}

void X11EventTap::SetExclusiveCombos(std::vector<ParsedCombo> combos) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (SameCombos(combos, combos_)) return;
  combos_ = std::move(combos);
  const uint64_t version = ++combos_version_;
  if (!open_ || !exclusive_) return;
  SignalLocked();
  // Keys typed right after a registration must already find the grab. The
  // watcher answers within a round trip; the limit only guards a stuck one.
  grabs_updated_.wait_for(lock, std::chrono::seconds(2), [&] {
    return !open_ || applied_version_ >= version;
  });
}

void X11EventTap::SignalLocked() {
  const char byte = 1;
  if (wake_write_ >= 0 && write(wake_write_, &byte, 1) < 0) {
    // Full: the watcher has wake-ups pending already.
  }
}

void X11EventTap::DrainWakePipe() {
  char buffer[64];
  while (read(wake_read_, buffer, sizeof buffer) > 0) {
  }
}

void X11EventTap::HandleListenerEvents() {
  Display* display = listener_.get();
  while (listener_.usable() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      layout_.Load(display);
      grabs_stale_ = true;
      continue;
    }
    if (event.type != GenericEvent || event.xcookie.extension != xi_opcode_ ||
        !XGetEventData(display, &event.xcookie)) {
      continue;
    }
    if (event.xcookie.evtype == XI_RawKeyPress ||
        event.xcookie.evtype == XI_RawKeyRelease) {
      HandleRawKey(*static_cast<const XIRawEvent*>(event.xcookie.data));
    }
    XFreeEventData(display, &event.xcookie);
  }
}

void X11EventTap::HandleRawKey(const XIRawEvent& raw) {
  const int keycode = raw.detail;
  if (keycode < 0 || keycode >= kKeycodeCount) return;
  const bool press = raw.evtype == XI_RawKeyPress;
  down_[keycode] = press;

  KeyEvent event;
  event.keycode = layout_.MacKeycode(keycode);
  event.flags = layout_.FlagsOf(down_);
  if (layout_.IsFlagsKey(keycode)) {
    event.type = KeyEventType::kFlagsChanged;
  } else {
    event.type = press ? KeyEventType::kKeyDown : KeyEventType::kKeyUp;
  }
  event.time = SystemClockSeconds();
  const bool swallow = handler_(event) && exclusive_;
  if (!exclusive_) return;

  decisions_.push_back({keycode, press, raw.time, swallow});
  // Only keys that meet a grab are asked about; the others age out.
  if (decisions_.size() > 64) decisions_.pop_front();
  if (press) last_press_swallowed_[keycode] = swallow;
}

void X11EventTap::HandleGrabberEvents() {
  Display* display = grabber_.get();
  while (grabber_.usable() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    // Every key event here comes from a grab and has frozen the keyboard.
    if (event.type == KeyPress || event.type == KeyRelease) {
      AnswerFrozenKey(event.xkey);
    }
  }
}

void X11EventTap::AnswerFrozenKey(const XKeyEvent& key) {
  const int keycode = static_cast<int>(key.keycode);
  if (key.type == KeyPress && !grab_active_) {
    grab_active_ = true;  // this press set a passive grab off
    activating_key_ = keycode;
  } else if (key.type == KeyRelease && grab_active_ &&
             keycode == activating_key_) {
    // Releasing that key ends the grab, and the server thaws the keyboard by
    // itself: an answer now would go to whatever freezes it next.
    grab_active_ = false;
    return;
  }
  bool swallow = false;
  // The raw event of this key went out to the listener first, but the two
  // connections are read one after the other: it may still be on its way.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
  while (!FindDecision(key, &swallow)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // Without an answer the key goes on to the application: a keyboard left
    // frozen would be far worse than a key not swallowed.
    if (left.count() <= 0 || !listener_.usable()) break;
    pollfd fd = {ConnectionNumber(listener_.get()), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
    HandleListenerEvents();
  }
  // Swallowed: thaw, keep the grab, and freeze again at the next key, so
  // that each key of the hold is decided alone. Otherwise the key goes to
  // the focused window as if never grabbed (this ends the grab).
  // The event's own time keeps the answer from reaching a later grab.
  XAllowEvents(grabber_.get(), swallow ? SyncKeyboard : ReplayKeyboard,
               key.time);
  if (!swallow) grab_active_ = false;
  XFlush(grabber_.get());
}

bool X11EventTap::FindDecision(const XKeyEvent& key, bool* swallow) {
  const bool press = key.type == KeyPress;
  for (auto it = decisions_.begin(); it != decisions_.end(); ++it) {
    if (it->keycode == static_cast<int>(key.keycode) && it->press == press &&
        it->time == key.time) {
      *swallow = it->swallow;
      decisions_.erase(it);
      return true;
    }
  }
  // Auto-repeat makes presses of a key that is down, without raw events:
  // they go where the key's own press went.
  const int keycode = static_cast<int>(key.keycode);
  auto last = last_press_swallowed_.find(keycode);
  if (press && keycode < kKeycodeCount && down_[keycode] &&
      last != last_press_swallowed_.end()) {
    *swallow = last->second;
    return true;
  }
  return false;
}

void X11EventTap::UpdateGrabsIfChanged() {
  std::vector<ParsedCombo> combos;
  uint64_t version = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!grabs_stale_ && applied_version_ == combos_version_) return;
    combos = combos_;
    version = combos_version_;
  }
  grabs_stale_ = false;
  UpdateGrabs(combos);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    applied_version_ = version;
  }
  grabs_updated_.notify_all();
}

void X11EventTap::UpdateGrabs(const std::vector<ParsedCombo>& combos) {
  Display* display = grabber_.get();
  const Window root = DefaultRootWindow(display);
  std::set<std::string> wanted_combos;
  std::map<Grab, std::string> wanted;
  for (const ParsedCombo& combo : combos) {
    wanted_combos.insert(combo.combo);
    if (refused_combos_.count(combo.combo) != 0) continue;
    for (const Grab& grab : GrabsFor(combo.keys, layout_)) {
      wanted.emplace(grab, combo.combo);
    }
  }
  // A combination another client held may be tried again once it has been
  // unregistered and registered anew.
  for (auto it = refused_combos_.begin(); it != refused_combos_.end();) {
    it = wanted_combos.count(*it) != 0 ? std::next(it)
                                       : refused_combos_.erase(it);
  }

  for (const auto& held : grabs_) {
    if (wanted.count(held.first) == 0) {
      XUngrabKey(display, held.first.keycode, held.first.modifiers, root);
    }
  }
  std::map<unsigned long, std::string> requests;  // serial -> combination
  for (const auto& entry : wanted) {
    if (grabs_.count(entry.first) != 0) continue;
    requests[NextRequest(display)] = entry.second;
    XGrabKey(display, entry.first.keycode, entry.first.modifiers, root, False,
             GrabModeAsync, GrabModeSync);
  }
  // BadAccess, when another client holds a grab, comes back asynchronously.
  XSync(display, False);
  grabs_ = std::move(wanted);

  std::set<std::string> refused;
  for (unsigned long serial : grabber_.TakeRefusedGrabs()) {
    auto request = requests.find(serial);
    if (request != requests.end()) refused.insert(request->second);
  }
  // A combination is grabbed whole or not at all.
  for (auto it = grabs_.begin(); it != grabs_.end();) {
    if (refused.count(it->second) == 0) {
      ++it;
      continue;
    }
    XUngrabKey(display, it->first.keycode, it->first.modifiers, root);
    it = grabs_.erase(it);
  }
  XFlush(display);
  for (const std::string& combo : refused) {
    refused_combos_.insert(combo);
    Log("Cannot grab " + combo +
        ": another X client holds it; the binding only listens");
  }
}

}  // namespace

std::unique_ptr<EventTap> CreatePlatformEventTap() {
  return std::make_unique<X11EventTap>();
}

}  // namespace chordwatch
