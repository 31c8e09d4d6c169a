#include "addons/hotkeys/chord_tracker.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace chordwatch {
namespace {

// Key codes and flag bits of the keys these tests press.
constexpr int kA = 0;
constexpr int kK = 40;
constexpr int kJ = 38;
constexpr int kSpace = 49;
constexpr int kLeftCmd = 55;
constexpr int kLeftShift = 56;
constexpr int kLeftCtrl = 59;
constexpr int kRightShift = 60;
constexpr int kCapsLock = 57;
constexpr int kLeftArrow = 123;
constexpr uint64_t kShift = 0x20000;
constexpr uint64_t kCtrl = 0x40000;
constexpr uint64_t kCmd = 0x100000;
constexpr uint64_t kFnFlag = 0x800000;

// The physical keyboard as the HID state would report it.
class PhysicalKeys : public KeyStateSource {
 public:
  bool IsKeyDown(int keycode) const override {
    return down.count(keycode) != 0;
  }
  uint64_t ModifierFlags() const override { return flags; }

  std::set<int> down;
  uint64_t flags = 0;
};

class ChordTrackerTest : public ::testing::Test {
 protected:
  void Build(const TrackerOptions& options) {
    tracker_ = std::make_unique<ChordTracker>(
        options, [this](const std::string& line) { log_.push_back(line); });
  }
  void BuildExclusive() {
    TrackerOptions options;
    options.exclusive_mode = true;
    Build(options);
  }
  void SetUp() override { Build(TrackerOptions()); }

  std::string Add(const std::string& text, const std::string& name = "",
                  bool exclusive = false) {
    ParsedCombo parsed;
    EXPECT_TRUE(ParseCombo(text, &parsed));
    return tracker_->Register(parsed, name, exclusive);
  }

  // Feeds one event and returns whether it was swallowed; events_ holds what
  // script code would hear about it.
  bool Feed(KeyEventType type, int keycode, uint64_t flags, double time) {
    events_.clear();
    KeyEvent event;
    event.type = type;
    event.keycode = keycode;
    event.flags = flags;
    event.time = time;
    return tracker_->HandleKeyEvent(event, keys_, &events_);
  }
  bool Down(int keycode, uint64_t flags, double time = 0) {
    return Feed(KeyEventType::kKeyDown, keycode, flags, time);
  }
  bool Up(int keycode, uint64_t flags, double time = 0) {
    return Feed(KeyEventType::kKeyUp, keycode, flags, time);
  }
  bool Flags(int keycode, uint64_t flags, double time = 0) {
    return Feed(KeyEventType::kFlagsChanged, keycode, flags, time);
  }

  // "type:detail" per event: the key for raw events, the binding otherwise.
  std::vector<std::string> Summary() const {
    std::vector<std::string> summary;
    for (const EventPayload& event : events_) {
      summary.push_back(event.type + ":" +
                        (event.raw_key.empty() ? event.binding_id
                                               : event.raw_key));
    }
    return summary;
  }

  std::unique_ptr<ChordTracker> tracker_;
  PhysicalKeys keys_;
  std::vector<EventPayload> events_;
  std::vector<std::string> log_;
};

using Events = std::vector<std::string>;

TEST_F(ChordTrackerTest, ShortTapPressesButSendsNoRelease) {
  const std::string id = Add("ctrl+space", "talk");
  EXPECT_FALSE(Flags(kLeftCtrl, kCtrl, 10.0));
  EXPECT_EQ(Summary(), Events({"raw_press:LeftCtrl"}));

  EXPECT_FALSE(Down(kSpace, kCtrl, 10.5));
  ASSERT_EQ(Summary(), Events({"raw_press:Space", "press:" + id}));
  const EventPayload& raw = events_[0];
  EXPECT_EQ(raw.binding_id, "");
  EXPECT_EQ(raw.combo, "");
  EXPECT_EQ(raw.name, "");
  EXPECT_FALSE(raw.exclusive);
  EXPECT_DOUBLE_EQ(raw.timestamp, 10.5);
  EXPECT_FALSE(raw.has_duration);
  const EventPayload& press = events_[1];
  EXPECT_EQ(press.combo, "Ctrl+Space");
  EXPECT_EQ(press.name, "talk");
  EXPECT_EQ(press.raw_key, "");
  EXPECT_DOUBLE_EQ(press.timestamp, 10.5);
  EXPECT_FALSE(press.has_duration);

  EXPECT_FALSE(Up(kSpace, kCtrl, 10.55));
  EXPECT_EQ(Summary(), Events({"raw_release:Space"}));
  EXPECT_TRUE(log_.empty());  // debug is off
}

TEST_F(ChordTrackerTest, LongHoldSendsReleaseWithItsDuration) {
  const std::string id = Add("ctrl+space");
  Flags(kLeftCtrl, kCtrl, 20.0);
  Down(kSpace, kCtrl, 20.0);
  Up(kSpace, kCtrl, 20.3);
  ASSERT_EQ(Summary(), Events({"raw_release:Space", "release:" + id}));
  const EventPayload& release = events_[1];
  EXPECT_TRUE(release.has_duration);
  EXPECT_NEAR(release.duration_s, 0.3, 1e-9);
  EXPECT_DOUBLE_EQ(release.timestamp, 20.3);
  EXPECT_EQ(release.combo, "Ctrl+Space");

  // The binding can be pressed again, once.
  Down(kSpace, kCtrl, 21.0);
  EXPECT_EQ(Summary(), Events({"raw_press:Space", "press:" + id}));
}

TEST_F(ChordTrackerTest, ThresholdIsInclusiveAndZeroOrNegativeReportsAll) {
  struct Case {
    double threshold_s;
    double held_s;
    bool released;
  };
  // Binary fractions, so that "held exactly the threshold" is exact.
  for (const Case& c : {Case{0.125, 0.125, true}, Case{0.125, 0.12, false},
                        Case{0.0, 0.0, true}, Case{-0.5, 0.0, true},
                        Case{2.0, 1.5, false}, Case{2.0, 2.5, true}}) {
    TrackerOptions options;
    options.min_press_duration_s = c.threshold_s;
    Build(options);
    const std::string id = Add("a");
    Down(kA, 0, 100.0);
    Up(kA, 0, 100.0 + c.held_s);
    const Events expected =
        c.released ? Events({"raw_release:a", "release:" + id})
                   : Events({"raw_release:a"});
    EXPECT_EQ(Summary(), expected)
        << "threshold " << c.threshold_s << " held " << c.held_s;
  }
}

TEST_F(ChordTrackerTest, DebugLogsExplainEachRelease) {
  TrackerOptions options;
  options.debug = true;
  Build(options);
  Add("a");
  Down(kA, 0, 1.0);
  Up(kA, 0, 1.25);
  Down(kA, 0, 2.0);
  Up(kA, 0, 2.05);
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_[0],
            "Release sent for binding_1 (duration: 250.000000ms >= "
            "threshold: 100.000000ms)");
  EXPECT_EQ(log_[1].substr(0, 48),
            "Release ignored for binding_1 (duration: 50.0000");
  EXPECT_NE(log_[1].find("ms < threshold: 100.000000ms)"), std::string::npos);
}

TEST_F(ChordTrackerTest, AutoRepeatSendsRawPressesButOnePress) {
  const std::string id = Add("ctrl+k");
  Flags(kLeftCtrl, kCtrl, 1.0);
  Down(kK, kCtrl, 1.1);
  EXPECT_EQ(Summary(), Events({"raw_press:k", "press:" + id}));
  for (int i = 0; i < 5; ++i) {
    Down(kK, kCtrl, 1.2 + i * 0.03);
    EXPECT_EQ(Summary(), Events({"raw_press:k"}));
  }
  // Extra keys while held change nothing for the binding either.
  Down(kJ, kCtrl, 1.4);
  EXPECT_EQ(Summary(), Events({"raw_press:j"}));
  Up(kK, kCtrl, 1.5);
  EXPECT_EQ(Summary(), Events({"raw_release:k", "release:" + id}));
}

TEST_F(ChordTrackerTest, BindingAddedWhileHeldPressesAtTheNextEvent) {
  Flags(kLeftCtrl, kCtrl, 1.0);
  Down(kA, kCtrl, 1.1);
  const std::string id = Add("ctrl+a");
  EXPECT_EQ(tracker_->BindingState("binding_99", keys_), "unregistered");
  // Any event, even of another key, brings the binding up to date.
  Down(kJ, kCtrl, 1.2);
  EXPECT_EQ(Summary(), Events({"raw_press:j", "press:" + id}));
}

TEST_F(ChordTrackerTest, FnFlagCountsOnlyWhenFnIsPhysicallyDown) {
  const std::string fn_only = Add("fn");
  // Arrow keys carry the Fn flag although Fn is up.
  Down(kLeftArrow, kFnFlag, 1.0);
  EXPECT_EQ(Summary(), Events({"raw_press:key_123"}));
  Up(kLeftArrow, kFnFlag, 1.1);
  EXPECT_EQ(Summary(), Events({"raw_release:key_123"}));

  keys_.down.insert(kFnKeycode);
  Down(kLeftArrow, kFnFlag, 2.0);
  EXPECT_EQ(Summary(), Events({"raw_press:key_123", "press:" + fn_only}));
}

TEST_F(ChordTrackerTest, FnOwnEventsKeepTheFlagWhateverThePhysicalState) {
  const std::string id = Add("fn+space");
  Flags(kFnKeycode, kFnFlag, 1.0);  // physical Fn reads up
  EXPECT_EQ(Summary(), Events({"raw_press:Fn"}));
  // Another key's event drops the flag again, as Fn reads up.
  Down(kSpace, kFnFlag, 1.1);
  EXPECT_EQ(Summary(), Events({"raw_press:Space"}));
  // A key event of Fn itself is not filtered.
  Down(kFnKeycode, kFnFlag, 1.2);
  EXPECT_EQ(Summary(), Events({"raw_press:Fn", "press:" + id}));
  Flags(kFnKeycode, 0, 1.5);
  EXPECT_EQ(Summary(), Events({"raw_release:Fn", "release:" + id}));
}

TEST_F(ChordTrackerTest, SidedModifierEventsAlternateWhileTheBitIsSet) {
  const std::string left = Add("leftshift+a");
  const std::string right = Add("rightshift+a");
  keys_.down.insert(kA);

  Flags(kLeftShift, kShift, 1.0);
  EXPECT_EQ(Summary(), Events({"raw_press:LeftShift"}));
  Flags(kRightShift, kShift, 1.1);
  EXPECT_EQ(Summary(), Events({"raw_press:RightShift"}));
  Down(kA, kShift, 1.2);
  EXPECT_EQ(Summary().size(), 3u);  // raw and both presses

  // LeftShift goes up while RightShift holds the bit: the raw event says
  // "press", but the sided key leaves the pressed set.
  Flags(kLeftShift, kShift, 1.5);
  EXPECT_EQ(Summary(), Events({"raw_press:LeftShift", "release:" + left}));
  Flags(kRightShift, 0, 1.6);
  EXPECT_EQ(Summary(), Events({"raw_release:RightShift", "release:" + right}));

  // An up event of a sided key that is not pressed does not insert it.
  Flags(kLeftShift, 0, 1.7);
  EXPECT_EQ(Summary(), Events({"raw_release:LeftShift"}));
  Down(kA, 0, 1.8);
  EXPECT_EQ(Summary(), Events({"raw_press:a"}));
}

TEST_F(ChordTrackerTest, FlagsChangedOfKeysWithoutModifierNameSendNoRaw) {
  const std::string id = Add("shift+a");
  Down(kA, 0, 1.0);
  Flags(kCapsLock, kShift, 1.1);  // carries Shift: the generic name counts
  EXPECT_EQ(Summary(), Events({"press:" + id}));
}

TEST_F(ChordTrackerTest, ExclusiveBindingSwallowsItsKeyDownAndKeyUp) {
  BuildExclusive();
  const std::string id = Add("cmd+k", "", true);

  EXPECT_FALSE(Flags(kLeftCmd, kCmd, 1.0));
  EXPECT_TRUE(Down(kK, kCmd, 1.1));
  EXPECT_TRUE(events_.back().exclusive);
  EXPECT_TRUE(Down(kK, kCmd, 1.15));  // auto-repeat
  EXPECT_TRUE(Down(kJ, kCmd, 1.16));  // anything typed while held
  EXPECT_TRUE(Up(kJ, kCmd, 1.17));
  EXPECT_TRUE(Up(kK, kCmd, 1.3));
  EXPECT_EQ(Summary(), Events({"raw_release:k", "release:" + id}));
  EXPECT_FALSE(Flags(kLeftCmd, 0, 1.4));
  EXPECT_FALSE(Down(kK, 0, 1.5));
  EXPECT_FALSE(Up(kK, 0, 1.6));
}

TEST_F(ChordTrackerTest, KeyUpSeesTheModifiersItCarries) {
  BuildExclusive();
  Add("cmd+k", "", true);
  // Cmd was already down when watching began: only the key events carry it.
  EXPECT_TRUE(Down(kK, kCmd, 1.0));
  EXPECT_TRUE(Up(kK, kCmd, 1.2));
  // Cmd let go first: the k key-up no longer belongs to the chord.
  EXPECT_TRUE(Down(kK, kCmd, 2.0));
  EXPECT_FALSE(Flags(kLeftCmd, 0, 2.1));
  EXPECT_FALSE(Up(kK, 0, 2.2));
}

TEST_F(ChordTrackerTest, NonExclusiveBindingsSwallowNothing) {
  BuildExclusive();
  Add("cmd+k");
  EXPECT_FALSE(Flags(kLeftCmd, kCmd, 1.0));
  EXPECT_FALSE(Down(kK, kCmd, 1.1));
  EXPECT_EQ(Summary().back(), "press:binding_1");
  EXPECT_FALSE(events_.back().exclusive);
  EXPECT_FALSE(Up(kK, kCmd, 1.3));
}

TEST_F(ChordTrackerTest, OutsideExclusiveModeNoBindingIsExclusive) {
  const std::string id = Add("cmd+k", "dictate", true);
  EXPECT_FALSE(Flags(kLeftCmd, kCmd, 1.0));
  EXPECT_FALSE(Down(kK, kCmd, 1.1));
  ASSERT_EQ(Summary(), Events({"raw_press:k", "press:" + id}));
  EXPECT_FALSE(events_[1].exclusive);
  EXPECT_EQ(events_[1].name, "dictate");
  EXPECT_FALSE(Up(kK, kCmd, 1.3));
}

TEST_F(ChordTrackerTest, ForgettingThePressedStateSendsNoRelease) {
  const std::string id = Add("ctrl+space");
  Flags(kLeftCtrl, kCtrl, 1.0);
  Down(kSpace, kCtrl, 1.1);
  tracker_->ForgetPressedState();
  Up(kSpace, kCtrl, 2.0);
  EXPECT_EQ(Summary(), Events({"raw_release:Space"}));
  // Bindings survive and can be pressed anew.
  Down(kSpace, kCtrl, 3.0);
  EXPECT_EQ(Summary(), Events({"raw_press:Space", "press:" + id}));
  Up(kSpace, kCtrl, 3.5);
  ASSERT_EQ(Summary(), Events({"raw_release:Space", "release:" + id}));
  EXPECT_NEAR(events_[1].duration_s, 0.5, 1e-9);
}

TEST_F(ChordTrackerTest, IdsAreNeverReused) {
  EXPECT_EQ(Add("a"), "binding_1");
  EXPECT_EQ(Add("a"), "binding_2");  // same combo, independent binding
  tracker_->Clear();
  EXPECT_EQ(Add("b"), "binding_3");
  tracker_->Unregister("binding_3");
  tracker_->Unregister("binding_3");  // unknown now: ignored
  tracker_->Unregister("nonsense");
  EXPECT_EQ(Add("b"), "binding_4");
  EXPECT_EQ(tracker_->BindingState("binding_3", keys_), "unregistered");
}

TEST_F(ChordTrackerTest, UnregisterAndClearDropHeldBindingsSilently) {
  const std::string first = Add("a");
  const std::string second = Add("a");
  Down(kA, 0, 1.0);
  EXPECT_EQ(Summary().size(), 3u);
  tracker_->Unregister(first);
  Up(kA, 0, 2.0);
  EXPECT_EQ(Summary(), Events({"raw_release:a", "release:" + second}));

  Down(kA, 0, 3.0);
  tracker_->Clear();
  Up(kA, 0, 4.0);
  EXPECT_EQ(Summary(), Events({"raw_release:a"}));
  // Clear keeps the pressed keys: a new binding of a held key presses at the
  // next event.
  Down(kA, 0, 5.0);
  const std::string third = Add("a+ctrl");
  Flags(kLeftCtrl, kCtrl, 5.1);
  EXPECT_EQ(Summary(), Events({"raw_press:LeftCtrl", "press:" + third}));
}

TEST_F(ChordTrackerTest, BindingStateReadsThePhysicalKeyboard) {
  const std::string id = Add("ctrl+shift+a");
  EXPECT_EQ(tracker_->BindingState(id, keys_), "released");
  keys_.flags = kCtrl | kShift;
  EXPECT_EQ(tracker_->BindingState(id, keys_), "released");
  keys_.down.insert(kA);
  EXPECT_EQ(tracker_->BindingState(id, keys_), "pressed");

  // Only the pressed keys changed: the binding becomes pressed at the next
  // event, which sends its press.
  Down(kJ, kCtrl | kShift, 1.0);
  EXPECT_EQ(Summary(), Events({"raw_press:j", "press:" + id}));

  // Keys that are physically up leave the pressed set.
  keys_.down.clear();
  EXPECT_EQ(tracker_->BindingState(id, keys_), "released");
  Down(kJ, kCtrl | kShift, 1.5);
  EXPECT_EQ(Summary(), Events({"raw_press:j", "release:" + id}));
}

TEST_F(ChordTrackerTest, BindingStateAsksTheRightSourcePerKey) {
  const std::string fn = Add("fn+space");
  keys_.down.insert(kSpace);
  keys_.flags = kFnFlag;  // the Fn flag alone does not count
  EXPECT_EQ(tracker_->BindingState(fn, keys_), "released");
  keys_.down.insert(kFnKeycode);
  keys_.flags = 0;
  EXPECT_EQ(tracker_->BindingState(fn, keys_), "pressed");

  // Sided modifiers are read from their generic flag bit, not a key code.
  const std::string sided = Add("leftctrl+a");
  keys_.down = {kA, kLeftCtrl};
  EXPECT_EQ(tracker_->BindingState(sided, keys_), "released");
  keys_.flags = kCtrl;
  keys_.down = {kA};
  EXPECT_EQ(tracker_->BindingState(sided, keys_), "pressed");

  // A name without a key code keeps whatever the events said about it.
  const std::string unnamed = Add("key_115+a");
  EXPECT_EQ(tracker_->BindingState(unnamed, keys_), "released");
  Down(115, 0, 1.0);
  keys_.down = {kA};
  EXPECT_EQ(tracker_->BindingState(unnamed, keys_), "pressed");
}

TEST_F(ChordTrackerTest, UnknownTokensNeverMatch) {
  Add("KEY_115");
  Add("home");
  Down(115, 0, 1.0);  // the Home key
  EXPECT_EQ(Summary(), Events({"raw_press:key_115"}));
}

}  // namespace
}  // namespace chordwatch
