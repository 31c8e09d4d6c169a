#include "addons/focus/focus_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "addons/focus/sim_accessibility.h"

namespace focusprobe {
namespace {

using ElementPtr = std::shared_ptr<SimElement>;

std::vector<std::string> Values(const std::vector<TextCandidate>& candidates) {
  std::vector<std::string> values;
  for (const TextCandidate& candidate : candidates) values.push_back(candidate.value);
  return values;
}

bool WasRead(const SimElement& element, const std::string& attribute) {
  const auto& reads = element.reads();
  return std::find(reads.begin(), reads.end(), attribute) != reads.end();
}

WindowListEntry Window(std::optional<int> layer, const char* owner, const char* name) {
  WindowListEntry entry;
  entry.layer = layer;
  if (owner != nullptr) entry.owner_name = TextFromUtf8(owner);
  if (name != nullptr) entry.name = TextFromUtf8(name);
  return entry;
}

// A focused application whose focused window sits at (100, 50) on screen.
class FocusProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    platform_.system_wide = std::make_shared<SimElement>();
    app_ = std::make_shared<SimElement>();
    window_ = std::make_shared<SimElement>();
    platform_.system_wide->Set("AXFocusedApplication", AttributeValue::ElementValue(app_));
    app_->Set("AXFocusedWindow", AttributeValue::ElementValue(window_));
    window_->SetString("AXRole", "AXWindow").SetPoint("AXPosition", 100, 50);
  }

  // A text element at the given screen position.
  static ElementPtr AddText(SimElement& parent, const char* role, const char* value, double x,
                            double y) {
    ElementPtr child = parent.AddChild();
    child->SetString("AXRole", role).SetString("AXValue", value).SetPoint("AXPosition", x, y);
    return child;
  }

  std::vector<TextCandidate> Probe() { return ProbeFocusedWindowText(platform_, &debug_); }

  SimPlatform platform_;
  ElementPtr app_;
  ElementPtr window_;
  TextProbeDebug debug_;
};

TEST_F(FocusProbeTest, CandidatesComeInReadingOrder) {
  // Tree order is deliberately unlike reading order.
  AddText(*window_, "AXStaticText", "\xC3\xA9", 160, 110);  // "é" sorts after ASCII bytes
  AddText(*window_, "AXTextField", "b", 110, 70);
  AddText(*window_, "AXStaticText", "zz", 160, 110);
  ElementPtr group = window_->AddChild();
  group->SetString("AXRole", "AXGroup");
  AddText(*group, "AXStaticText", "deep", 130, 90);
  AddText(*window_, "AXTextArea", "a", 105, 70);
  AddText(*window_, "AXStaticText", "shallow", 130, 90);
  AddText(*window_, "AXStaticText", "z", 160, 110);
  AddText(*window_, "AXStaticText", "top", 150, 60);

  const std::vector<TextCandidate> candidates = Probe();
  EXPECT_EQ(Values(candidates),
            (std::vector<std::string>{"top", "a", "b", "shallow", "deep", "z", "zz", "\xC3\xA9"}));
  const TextCandidate& top = candidates[0];
  EXPECT_EQ(top.role, "AXStaticText");
  EXPECT_DOUBLE_EQ(top.rawX, 150);
  EXPECT_DOUBLE_EQ(top.rawY, 60);
  EXPECT_DOUBLE_EQ(top.x, 50);
  EXPECT_DOUBLE_EQ(top.y, 10);
  EXPECT_EQ(top.depth, 1);
  EXPECT_EQ(candidates[4].depth, 2);
  EXPECT_EQ(debug_.candidateCount, 8);
  EXPECT_EQ(debug_.visitedCount, 10);
}

TEST_F(FocusProbeTest, OrderUsesWindowRelativePositions) {
  // Without a position an element counts as (0, 0) relative to the window,
  // which is below and right of an element left of and above the window.
  ElementPtr unplaced = window_->AddChild();
  unplaced->SetString("AXRole", "AXStaticText").SetString("AXValue", "unplaced");
  AddText(*window_, "AXStaticText", "outside", 90, 40);
  AddText(*window_, "AXStaticText", "inside", 101, 51);
  EXPECT_EQ(Values(Probe()), (std::vector<std::string>{"outside", "unplaced", "inside"}));
}

TEST_F(FocusProbeTest, RepeatedTextKeepsOnlyTheFirstInReadingOrder) {
  AddText(*window_, "AXStaticText", "Save", 300, 400);
  AddText(*window_, "AXTextField", "Name", 120, 80);
  AddText(*window_, "AXTextField", "Save", 120, 60);
  AddText(*window_, "AXStaticText", "Name", 110, 300);

  const std::vector<TextCandidate> candidates = Probe();
  ASSERT_EQ(Values(candidates), (std::vector<std::string>{"Save", "Name"}));
  EXPECT_EQ(candidates[0].role, "AXTextField");
  EXPECT_DOUBLE_EQ(candidates[0].y, 10);
  EXPECT_EQ(candidates[1].role, "AXTextField");
  EXPECT_EQ(debug_.candidateCount, 2);
}

TEST_F(FocusProbeTest, RepeatsAtTheSamePlaceKeepTheFirstInTreeOrder) {
  AddText(*window_, "AXTextField", "Search", 120, 60);
  for (int i = 0; i < 40; ++i) AddText(*window_, "AXStaticText", "Search", 120, 60);
  for (int i = 0; i < 40; ++i) AddText(*window_, "AXStaticText", "other", 120, 50 + i);
  const std::vector<TextCandidate> candidates = Probe();
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[1].value, "Search");
  EXPECT_EQ(candidates[1].role, "AXTextField");
}

TEST_F(FocusProbeTest, EmptyValueFallsBackToTitle) {
  ElementPtr ok = AddText(*window_, "AXStaticText", "", 110, 60);
  ok->SetString("AXTitle", "OK");
  ElementPtr neither = window_->AddChild();
  neither->SetString("AXRole", "AXStaticText").SetString("AXValue", "");
  ElementPtr number = AddText(*window_, "AXTextField", "", 110, 70);
  number->Set("AXValue", AttributeValue::Other()).SetString("AXTitle", "Amount");
  ElementPtr missing = window_->AddChild();
  missing->SetString("AXRole", "AXTextArea").SetError("AXValue", kErrorCannotComplete);
  missing->SetString("AXTitle", "Notes").SetPoint("AXPosition", 110, 80);

  EXPECT_EQ(Values(Probe()), (std::vector<std::string>{"OK", "Amount", "Notes"}));
}

TEST_F(FocusProbeTest, OnlyTextRolesGiveCandidatesButAllAreSearched) {
  ElementPtr button = AddText(*window_, "AXButton", "Press", 110, 60);
  button->SetString("AXTitle", "Press");
  AddText(*window_, "AXComboBox", "Choice", 110, 70);
  AddText(*button, "AXStaticText", "label", 110, 80);
  EXPECT_EQ(Values(Probe()), (std::vector<std::string>{"label"}));
}

TEST_F(FocusProbeTest, MissingPositionGivesZeroCoordinates) {
  ElementPtr none = window_->AddChild();
  none->SetString("AXRole", "AXTextField").SetString("AXValue", "no position");
  ElementPtr size = window_->AddChild();
  size->SetString("AXRole", "AXTextField").SetString("AXValue", "a size");
  size->Set("AXPosition", AttributeValue::Other());
  ElementPtr failed = window_->AddChild();
  failed->SetString("AXRole", "AXTextField").SetString("AXValue", "failed");
  failed->SetError("AXPosition", kErrorCannotComplete);

  const std::vector<TextCandidate> candidates = Probe();
  ASSERT_EQ(candidates.size(), 3u);
  for (const TextCandidate& candidate : candidates) {
    EXPECT_EQ(candidate.rawX, 0) << candidate.value;
    EXPECT_EQ(candidate.rawY, 0) << candidate.value;
    EXPECT_EQ(candidate.x, 0) << candidate.value;
    EXPECT_EQ(candidate.y, 0) << candidate.value;
  }
}

TEST_F(FocusProbeTest, WindowWithoutPositionMeasuresFromScreenOrigin) {
  window_->SetError("AXPosition", kErrorNoValue);
  AddText(*window_, "AXStaticText", "here", 30, 40);
  const std::vector<TextCandidate> candidates = Probe();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_DOUBLE_EQ(candidates[0].x, 30);
  EXPECT_DOUBLE_EQ(candidates[0].y, 40);
}

TEST_F(FocusProbeTest, VisitsStopAfter1501Elements) {
  for (int i = 0; i < 2000; ++i) {
    AddText(*window_, "AXStaticText", ("t" + std::to_string(i)).c_str(), 100, 50 + i);
  }
  const std::vector<TextCandidate> candidates = Probe();
  EXPECT_EQ(debug_.visitedCount, 1501);
  ASSERT_EQ(candidates.size(), 1500u);  // the window itself is the first visit
  EXPECT_EQ(candidates.back().value, "t1499");
  EXPECT_EQ(debug_.candidateCount, 1500);
}

TEST_F(FocusProbeTest, TheLastAllowedVisitStillHappens) {
  // The window, 1499 elements and "last" make 1501 visits.
  for (int i = 0; i < 1499; ++i) AddText(*window_, "AXStaticText", "same", 100, 50);
  AddText(*window_, "AXStaticText", "last", 100, 40);
  ElementPtr beyond = AddText(*window_, "AXStaticText", "beyond", 100, 30);
  EXPECT_EQ(Values(Probe()), (std::vector<std::string>{"last", "same"}));
  EXPECT_EQ(debug_.visitedCount, 1501);
  EXPECT_TRUE(beyond->reads().empty());
}

TEST_F(FocusProbeTest, ElementsBelowDepth24AreNeverVisited) {
  std::vector<ElementPtr> chain = {window_};
  for (int depth = 1; depth <= 30; ++depth) {
    chain.push_back(AddText(*chain.back(), "AXStaticText", ("d" + std::to_string(depth)).c_str(),
                            100, 50 + depth));
  }
  const std::vector<TextCandidate> candidates = Probe();
  ASSERT_EQ(candidates.size(), 24u);
  EXPECT_EQ(candidates.back().value, "d24");
  EXPECT_EQ(candidates.back().depth, 24);
  EXPECT_EQ(debug_.visitedCount, 25);
  EXPECT_TRUE(WasRead(*chain[24], "AXChildren"));
  EXPECT_TRUE(chain[25]->reads().empty());
}

TEST_F(FocusProbeTest, ChildFetchFailuresAreCountedButNoValueIsALeaf) {
  AddText(*window_, "AXStaticText", "leaf", 110, 60);  // children: no value
  AddText(*window_, "AXStaticText", "unsupported", 110, 70)
      ->SetError("AXChildren", kErrorAttributeUnsupported);
  AddText(*window_, "AXStaticText", "empty", 110, 80)->Set("AXChildren", AttributeValue());
  AddText(*window_, "AXStaticText", "not a list", 110, 90)
      ->SetString("AXChildren", "children?");
  ElementPtr mixed = AddText(*window_, "AXStaticText", "mixed", 110, 100);
  mixed->Set("AXChildren", AttributeValue::Array({AttributeValue::Other(),
                                                   AttributeValue::Boolean(true)}));

  EXPECT_EQ(Values(Probe()).size(), 5u);
  EXPECT_EQ(debug_.childFetchErrorCount, 2);
  EXPECT_EQ(debug_.visitedCount, 6);
}

TEST_F(FocusProbeTest, OverlongTextIsCutAndWarned) {
  AddText(*window_, "AXTextArea", std::string(600, 'w').c_str(), 110, 60);
  testing::internal::CaptureStderr();
  const std::vector<TextCandidate> candidates = Probe();
  const std::string warnings = testing::internal::GetCapturedStderr();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].value, std::string(512, 'w') + "...");
  EXPECT_EQ(warnings, "[FocusProbe][AXWarn] Truncated AX string from 600 to 512 UTF-16 chars\n");
}

TEST_F(FocusProbeTest, DebugRecordsHowTheWindowWasLookedFor) {
  AddText(*window_, "AXStaticText", "x", 110, 60);
  platform_.trusted = false;
  debug_.candidateCount = 99;  // stale counters from an earlier probe
  debug_.childFetchErrorCount = 7;
  Probe();
  EXPECT_FALSE(debug_.accessibilityTrusted);
  EXPECT_EQ(debug_.focusedWindowError, 0);
  EXPECT_TRUE(debug_.focusedWindowFound);
  EXPECT_EQ(debug_.candidateCount, 1);
  EXPECT_EQ(debug_.childFetchErrorCount, 0);

  app_->SetError("AXFocusedWindow", kErrorNoValue);
  EXPECT_TRUE(Probe().empty());
  EXPECT_EQ(debug_.focusedWindowError, kErrorNoValue);
  EXPECT_FALSE(debug_.focusedWindowFound);
  EXPECT_EQ(debug_.visitedCount, 0);
  EXPECT_EQ(debug_.candidateCount, 0);

  // The application's own query failed: the window is never asked for.
  platform_.system_wide->SetError("AXFocusedApplication", kErrorCannotComplete);
  EXPECT_TRUE(Probe().empty());
  EXPECT_EQ(debug_.focusedWindowError, kErrorCannotComplete);

  // A focused "window" that is not an element is no window.
  platform_.system_wide->Set("AXFocusedApplication", AttributeValue::ElementValue(app_));
  app_->SetString("AXFocusedWindow", "a window");
  EXPECT_TRUE(Probe().empty());
  EXPECT_EQ(debug_.focusedWindowError, 0);
  EXPECT_FALSE(debug_.focusedWindowFound);

  platform_.system_wide = nullptr;
  platform_.trusted = true;
  EXPECT_TRUE(Probe().empty());
  EXPECT_TRUE(debug_.accessibilityTrusted);
  EXPECT_FALSE(debug_.focusedWindowFound);
}

TEST_F(FocusProbeTest, WithoutPermissionNothingIsFound) {
  const std::unique_ptr<SimPlatform> denied = MissingPermissionPlatform();
  TextProbeDebug debug;
  EXPECT_TRUE(ProbeFocusedWindowText(*denied, &debug).empty());
  EXPECT_FALSE(debug.accessibilityTrusted);
  EXPECT_EQ(debug.focusedWindowError, kErrorApiDisabled);
  EXPECT_FALSE(debug.focusedWindowFound);
  EXPECT_EQ(debug.visitedCount, 0);
  EXPECT_TRUE(ProbeActiveApp(*denied).appName.empty());
}

TEST_F(FocusProbeTest, ActiveAppComesFromTheAccessibilityTitles) {
  app_->SetString("AXTitle", "Notes");
  window_->SetString("AXTitle", "Groceries");
  platform_.windows = {Window(0, "Finder", "Desktop")};
  const WindowInfo info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "Notes");
  EXPECT_EQ(info.windowTitle, "Groceries");
  EXPECT_FALSE(info.canInput);
}

TEST_F(FocusProbeTest, CanInputByRoleWithoutAskingEditable) {
  for (const char* role : {"AXTextField", "AXTextArea", "AXComboBox", "AXSearchField"}) {
    auto focused = std::make_shared<SimElement>();
    focused->SetString("AXRole", role).Set("AXEditable", AttributeValue::Boolean(false));
    platform_.system_wide->Set("AXFocusedUIElement", AttributeValue::ElementValue(focused));
    EXPECT_TRUE(ProbeActiveApp(platform_).canInput) << role;
    EXPECT_FALSE(WasRead(*focused, "AXEditable")) << role;
  }
}

TEST_F(FocusProbeTest, CanInputOtherwiseFollowsEditable) {
  auto focused = std::make_shared<SimElement>();
  focused->SetString("AXRole", "AXWebArea");
  platform_.system_wide->Set("AXFocusedUIElement", AttributeValue::ElementValue(focused));
  EXPECT_FALSE(ProbeActiveApp(platform_).canInput);
  focused->Set("AXEditable", AttributeValue::Boolean(true));
  EXPECT_TRUE(ProbeActiveApp(platform_).canInput);
  focused->Set("AXEditable", AttributeValue::Boolean(false));
  EXPECT_FALSE(ProbeActiveApp(platform_).canInput);
  focused->SetString("AXEditable", "true");
  EXPECT_FALSE(ProbeActiveApp(platform_).canInput);
  // A role that merely contains an input role's name does not count.
  focused->SetString("AXRole", "AXTextFieldish").SetError("AXEditable", kErrorNoValue);
  EXPECT_FALSE(ProbeActiveApp(platform_).canInput);
}

TEST_F(FocusProbeTest, WindowListFillsMissingNameAndTitle) {
  platform_.windows = {Window(25, "Menu Bar", "Clock"), Window(0, "", "Nameless owner"),
                       Window(0, nullptr, "No owner"), Window(0, "Mail", "Inbox"),
                       Window(0, "Finder", "Desktop")};
  WindowInfo info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "Mail");
  EXPECT_EQ(info.windowTitle, "Inbox");

  // A window without a layer counts as a normal window.
  platform_.windows = {Window(std::nullopt, "Safari", "Start Page")};
  info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "Safari");
  EXPECT_EQ(info.windowTitle, "Start Page");
}

TEST_F(FocusProbeTest, WindowListOnlyFillsWhatIsStillEmpty) {
  app_->SetString("AXTitle", "Notes");
  // The first usable window has no name; the title comes from a later window
  // even though its owner is another application.
  platform_.windows = {Window(0, "Finder", nullptr), Window(0, "Mail", "Inbox"),
                       Window(0, "Safari", "Start Page")};
  WindowInfo info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "Notes");
  EXPECT_EQ(info.windowTitle, "Inbox");

  app_->SetError("AXTitle", kErrorNoValue);
  window_->SetString("AXTitle", "Groceries");
  info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "Finder");
  EXPECT_EQ(info.windowTitle, "Groceries");
}

TEST_F(FocusProbeTest, NoApplicationAndNoUsableWindowLeavesNameEmpty) {
  platform_.system_wide = nullptr;
  platform_.windows = {Window(3, "Dock", "Dock"), Window(0, "", "Untitled")};
  const WindowInfo info = ProbeActiveApp(platform_);
  EXPECT_EQ(info.appName, "");
  EXPECT_EQ(info.windowTitle, "");
  EXPECT_FALSE(info.canInput);
}

}  // namespace
}  // namespace focusprobe
