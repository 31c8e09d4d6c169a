#include "addons/focus/focus_probe.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "addons/focus/text_conversion.h"

namespace focusprobe {
namespace {

using Kind = AttributeValue::Kind;

// The element an attribute refers to; null when the query failed or gave
// something other than an element. `error` receives the query's error code.
ElementRef CopyElementAttribute(const Element& element, const std::string& attribute,
                                int* error) {
  AttributeResult result = element.CopyAttribute(attribute);
  if (error != nullptr) *error = result.error;
  if (result.error != kErrorSuccess || result.value.kind != Kind::kElement) return nullptr;
  return std::move(result.value.element);
}

// Leaves `point` untouched unless the attribute holds a position.
bool CopyPointAttribute(const Element& element, const std::string& attribute, Point* point) {
  const AttributeResult result = element.CopyAttribute(attribute);
  if (result.error != kErrorSuccess || result.value.kind != Kind::kPoint) return false;
  *point = result.value.point;
  return true;
}

bool IsTextRole(const std::string& role) {
  return role == "AXTextArea" || role == "AXTextField" || role == "AXStaticText";
}

// Roles that always take typed text; other elements say so through
// "AXEditable".
bool IsInputRole(const std::string& role) {
  return role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox" ||
         role == "AXSearchField";
}

bool AcceptsTextInput(const Element& focused) {
  if (IsInputRole(CopyStringAttribute(&focused, "AXRole"))) return true;
  const AttributeResult editable = focused.CopyAttribute("AXEditable");
  return editable.error == kErrorSuccess && editable.value.kind == Kind::kBoolean &&
         editable.value.boolean;
}

bool ReadingOrderLess(const TextCandidate& a, const TextCandidate& b) {
  if (a.y != b.y) return a.y < b.y;
  if (a.x != b.x) return a.x < b.x;
  if (a.depth != b.depth) return a.depth < b.depth;
  // std::string compares as unsigned bytes, a prefix first.
  return a.value < b.value;
}

// Fills whichever of the application name and window title is still empty
// from the frontmost normal windows that have an owner.
void CompleteFromWindowList(const std::vector<WindowListEntry>& windows, WindowInfo* info) {
  for (const WindowListEntry& window : windows) {
    if (!info->appName.empty() && !info->windowTitle.empty()) return;
    if (window.layer.has_value() && *window.layer != 0) continue;
    if (!window.owner_name.has_value()) continue;
    std::string owner = PlatformTextToUtf8(*window.owner_name);
    if (owner.empty()) continue;
    if (info->appName.empty()) info->appName = std::move(owner);
    if (info->windowTitle.empty() && window.name.has_value()) {
      info->windowTitle = PlatformTextToUtf8(*window.name);
    }
  }
}

}  // namespace

std::string StringValue(const AttributeResult& result) {
  if (result.error != kErrorSuccess || result.value.kind != Kind::kString) return std::string();
  return PlatformTextToUtf8(result.value.text);
}

std::string CopyStringAttribute(const Element* element, const std::string& attribute) {
  if (element == nullptr || attribute.empty()) return std::string();
  return StringValue(element->CopyAttribute(attribute));
}

void CollectTextCandidates(const Element& element, const Point& window_origin, int depth,
                           int* visited, int* child_errors, std::vector<TextCandidate>* out) {
  if (*visited >= kMaxVisitedElements || depth > kMaxElementDepth) return;
  ++*visited;

  std::string role = CopyStringAttribute(&element, "AXRole");
  if (IsTextRole(role)) {
    std::string value = CopyStringAttribute(&element, "AXValue");
    if (value.empty()) value = CopyStringAttribute(&element, "AXTitle");
    if (!value.empty()) {
      TextCandidate candidate;
      Point position;
      if (CopyPointAttribute(element, "AXPosition", &position)) {
        candidate.rawX = position.x;
        candidate.rawY = position.y;
        candidate.x = position.x - window_origin.x;
        candidate.y = position.y - window_origin.y;
      }
      candidate.value = std::move(value);
      candidate.role = std::move(role);
      candidate.depth = depth;
      out->push_back(std::move(candidate));
    }
  }

  const AttributeResult children = element.CopyAttribute("AXChildren");
  if (children.error == kErrorSuccess && children.value.kind == Kind::kArray) {
    for (const AttributeValue& child : children.value.items) {
      if (child.kind != Kind::kElement || child.element == nullptr) continue;
      CollectTextCandidates(*child.element, window_origin, depth + 1, visited, child_errors, out);
    }
    return;
  }
  // "No value" just means a leaf; any other failure, or success without a
  // value, is a tree the platform could not hand over.
  const bool failed = children.error != kErrorSuccess && children.error != kErrorNoValue;
  const bool empty = children.error == kErrorSuccess && children.value.kind == Kind::kNone;
  if (failed || empty) ++*child_errors;
}

void OrderAndDeduplicate(std::vector<TextCandidate>* candidates) {
  // Stable, so that candidates equal in every key keep the tree's order.
  std::stable_sort(candidates->begin(), candidates->end(), ReadingOrderLess);
  std::unordered_set<std::string> seen;
  std::vector<TextCandidate> kept;
  kept.reserve(candidates->size());
  for (TextCandidate& candidate : *candidates) {
    if (!seen.insert(candidate.value).second) continue;
    kept.push_back(std::move(candidate));
  }
  *candidates = std::move(kept);
}

std::vector<TextCandidate> ProbeFocusedWindowText(const Platform& platform,
                                                  TextProbeDebug* debug) {
  if (debug != nullptr) {
    *debug = TextProbeDebug();
    debug->accessibilityTrusted = platform.IsProcessTrusted();
  }
  const ElementRef system_wide = platform.CreateSystemWide();
  if (system_wide == nullptr) return {};

  int error = kErrorSuccess;
  ElementRef window;
  const ElementRef app = CopyElementAttribute(*system_wide, "AXFocusedApplication", &error);
  if (app != nullptr) window = CopyElementAttribute(*app, "AXFocusedWindow", &error);
  if (debug != nullptr) {
    debug->focusedWindowError = error;
    debug->focusedWindowFound = window != nullptr;
  }
  if (window == nullptr) return {};

  Point origin;
  CopyPointAttribute(*window, "AXPosition", &origin);
  int visited = 0;
  int child_errors = 0;
  std::vector<TextCandidate> candidates;
  CollectTextCandidates(*window, origin, 0, &visited, &child_errors, &candidates);
  OrderAndDeduplicate(&candidates);
  if (debug != nullptr) {
    debug->visitedCount = visited;
    debug->childFetchErrorCount = child_errors;
    debug->candidateCount = static_cast<int>(candidates.size());
  }
  return candidates;
}

WindowInfo ProbeActiveApp(const Platform& platform) {
  WindowInfo info;
  if (const ElementRef system_wide = platform.CreateSystemWide()) {
    const ElementRef app = CopyElementAttribute(*system_wide, "AXFocusedApplication", nullptr);
    const ElementRef focused = CopyElementAttribute(*system_wide, "AXFocusedUIElement", nullptr);
    if (focused != nullptr) info.canInput = AcceptsTextInput(*focused);
    if (app != nullptr) {
      info.appName = CopyStringAttribute(app.get(), "AXTitle");
      const ElementRef window = CopyElementAttribute(*app, "AXFocusedWindow", nullptr);
      info.windowTitle = CopyStringAttribute(window.get(), "AXTitle");
    }
  }
  // Every platform element is released by now; the window list fills in what
  // the accessibility interface did not give.
  if (info.appName.empty() || info.windowTitle.empty()) {
    CompleteFromWindowList(platform.CopyOnScreenWindows(), &info);
  }
  return info;
}

}  // namespace focusprobe
