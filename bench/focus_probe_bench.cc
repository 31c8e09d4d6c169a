// Cost of one focused-window text probe over simulated trees of growing size:
// the number of attribute queries (on macOS each one is a round trip to the
// target application, which dominates) and the time spent here. The visit
// limit should keep both nearly flat once a tree exceeds 1501 elements.
//
//   build/bench/focus_probe_bench [repetitions]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "addons/focus/focus_probe.h"
#include "addons/focus/sim_accessibility.h"

namespace {

using focusprobe::AttributeResult;
using focusprobe::AttributeValue;
using focusprobe::ElementRef;
using focusprobe::SimElement;

// Counts the attribute queries made through it and through every element it
// hands out.
class CountingElement : public focusprobe::Element {
 public:
  CountingElement(ElementRef inner, long* queries) : inner_(std::move(inner)), queries_(queries) {}

  AttributeResult CopyAttribute(const std::string& attribute) const override {
    ++*queries_;
    AttributeResult result = inner_->CopyAttribute(attribute);
    Wrap(&result.value);
    return result;
  }

 private:
  void Wrap(AttributeValue* value) const {
    if (value->kind == AttributeValue::Kind::kElement) {
      value->element = std::make_shared<CountingElement>(value->element, queries_);
    }
    for (AttributeValue& item : value->items) Wrap(&item);
  }

  ElementRef inner_;
  long* queries_;
};

struct CountingPlatform : public focusprobe::SimPlatform {
  ElementRef CreateSystemWide() const override {
    return std::make_shared<CountingElement>(system_wide, &queries);
  }
  mutable long queries = 0;
};

// A window holding `groups` groups of `per_group` text elements, each text
// element holding one static text: 1 + groups * (1 + 2 * per_group) elements.
void BuildWideTree(int groups, int per_group, CountingPlatform* platform_out) {
  CountingPlatform& platform = *platform_out;
  platform.system_wide = std::make_shared<SimElement>();
  auto app = std::make_shared<SimElement>();
  auto window = std::make_shared<SimElement>();
  platform.system_wide->Set("AXFocusedApplication", AttributeValue::ElementValue(app));
  app->Set("AXFocusedWindow", AttributeValue::ElementValue(window));
  window->SetString("AXRole", "AXWindow").SetPoint("AXPosition", 100, 50);
  for (int g = 0; g < groups; ++g) {
    auto group = window->AddChild();
    group->SetString("AXRole", "AXGroup");
    for (int i = 0; i < per_group; ++i) {
      auto field = group->AddChild();
      field->SetString("AXRole", "AXTextField")
          .SetString("AXValue", "field " + std::to_string(g) + "." + std::to_string(i))
          .SetPoint("AXPosition", 100 + i, 50 + g);
      field->AddChild()->SetString("AXRole", "AXStaticText").SetString("AXTitle", "label");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 50;
  std::printf("%10s %10s %10s %14s %14s\n", "elements", "visited", "texts", "queries/probe",
              "us/probe");
  for (const int groups : {5, 15, 50, 500, 5000}) {
    const int per_group = 10;
    CountingPlatform platform;
    BuildWideTree(groups, per_group, &platform);
    focusprobe::TextProbeDebug debug;
    focusprobe::ProbeFocusedWindowText(platform, &debug);
    const long queries = platform.queries;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < repetitions; ++r) focusprobe::ProbeFocusedWindowText(platform, &debug);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const double micros =
        std::chrono::duration<double, std::micro>(elapsed).count() / repetitions;
    std::printf("%10d %10d %10d %14ld %14.1f\n", 1 + groups * (1 + 2 * per_group),
                debug.visitedCount, debug.candidateCount, queries, micros);
  }
  return 0;
}
