// Cost of one keyboard event in the binding state machine: what the tap
// callback spends on the system's keyboard path before it lets the event go.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "addons/hotkeys/chord_tracker.h"

namespace chordwatch {
namespace {

class IdleKeyboard : public KeyStateSource {
 public:
  bool IsKeyDown(int) const override { return false; }
  uint64_t ModifierFlags() const override { return 0; }
};

KeyEvent Event(KeyEventType type, int keycode, uint64_t flags) {
  KeyEvent event;
  event.type = type;
  event.keycode = keycode;
  event.flags = flags;
  return event;
}

// One chord per iteration: Ctrl down, a down, a up, Ctrl up, with
// state.range(0) bindings registered (one of them Ctrl+a).
void BM_ChordCycle(benchmark::State& state) {
  ChordTracker tracker(TrackerOptions(), [](const std::string&) {});
  const std::vector<std::string> keys = {"a", "s", "d", "f", "g", "h", "j",
                                         "k", "l", "q", "w", "e", "r"};
  for (int64_t i = 0; i < state.range(0); ++i) {
    ParsedCombo combo;
    ParseCombo("ctrl+shift+" + keys[static_cast<size_t>(i) % keys.size()] +
                   "+F" + std::to_string(i % 12 + 1),
               &combo);
    tracker.Register(combo, "", false);
  }
  ParsedCombo target;
  ParseCombo("ctrl+a", &target);
  tracker.Register(target, "", false);

  const IdleKeyboard keyboard;
  const std::vector<KeyEvent> cycle = {
      Event(KeyEventType::kFlagsChanged, 59, 0x40000),
      Event(KeyEventType::kKeyDown, 0, 0x40000),
      Event(KeyEventType::kKeyUp, 0, 0x40000),
      Event(KeyEventType::kFlagsChanged, 59, 0),
  };
  std::vector<EventPayload> events;
  double now = 0;
  for (auto _ : state) {
    for (KeyEvent event : cycle) {
      now += 0.5;
      event.time = now;
      events.clear();
      benchmark::DoNotOptimize(tracker.HandleKeyEvent(event, keyboard, &events));
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(cycle.size()));
}
BENCHMARK(BM_ChordCycle)->Arg(1)->Arg(10)->Arg(100);

}  // namespace
}  // namespace chordwatch

BENCHMARK_MAIN();
