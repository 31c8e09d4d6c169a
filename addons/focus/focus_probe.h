// focusprobe's probes over an accessibility interface: which application and
// window are in front, and which texts the focused window shows, in reading
// order. Nothing here knows which platform supplies the tree.
#ifndef ADDONS_FOCUS_FOCUS_PROBE_H_
#define ADDONS_FOCUS_FOCUS_PROBE_H_

#include <string>
#include <vector>

#include "addons/focus/accessibility.h"

namespace focusprobe {

// At most this many elements are visited by one text probe.
inline constexpr int kMaxVisitedElements = 1501;
// Elements deeper than this below the focused window are never visited.
inline constexpr int kMaxElementDepth = 24;

// The frontmost application and window. Field names are those of the script
// objects built from these records.
struct WindowInfo {
  std::string appName;
  std::string windowTitle;
  bool canInput = false;
};

// One text element of the focused window.
struct TextCandidate {
  std::string value;  // never empty
  std::string role;   // "AXTextField", "AXTextArea" or "AXStaticText"
  double rawX = 0;    // screen position, 0 when unavailable
  double rawY = 0;
  double x = 0;       // position relative to the window, 0 when unavailable
  double y = 0;
  int depth = 0;      // the focused window is depth 0
};

// Counters of one text probe.
struct TextProbeDebug {
  bool accessibilityTrusted = false;
  int focusedWindowError = 0;
  bool focusedWindowFound = false;
  int visitedCount = 0;
  int childFetchErrorCount = 0;
  int candidateCount = 0;
};

// The string a query gave, converted and cut like every platform string; ""
// when the query failed or gave another kind of value.
std::string StringValue(const AttributeResult& result);

// The attribute's value when it is a string (converted and cut like every
// platform string); "" when the element is null, the query fails or the value
// has another kind.
std::string CopyStringAttribute(const Element* element, const std::string& attribute);

// Depth-first walk in the platform's child order, appending one candidate per
// text element with a non-empty value or title. `visited` and `child_errors`
// are running counters shared by the whole walk.
void CollectTextCandidates(const Element& element, const Point& window_origin, int depth,
                           int* visited, int* child_errors, std::vector<TextCandidate>* out);

// Sorts into reading order (y, then x, then depth, then value bytes) and keeps
// only the first candidate of each value.
void OrderAndDeduplicate(std::vector<TextCandidate>* candidates);

// The texts of the focused window of the focused application, in reading
// order. Fills `debug` when it is not null.
std::vector<TextCandidate> ProbeFocusedWindowText(const Platform& platform,
                                                  TextProbeDebug* debug);

// The frontmost application and window from the accessibility interface,
// completed from the on-screen window list, and whether the focused element
// takes text input.
WindowInfo ProbeActiveApp(const Platform& platform);

}  // namespace focusprobe

#endif  // ADDONS_FOCUS_FOCUS_PROBE_H_
