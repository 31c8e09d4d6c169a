#include "addons/hotkeys/keyboard_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "addons/hotkeys/simulated_keyboard.h"

namespace chordwatch {
namespace {

// Polls until done() holds; false after a generous deadline.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

KeyEvent MakeEvent(KeyEventType type, int keycode, uint64_t flags = 0,
                   double time = 1.0) {
  KeyEvent event;
  event.type = type;
  event.keycode = keycode;
  event.flags = flags;
  event.time = time;
  return event;
}

class KeyboardWatcherTest : public ::testing::Test {
 protected:
  std::unique_ptr<KeyboardWatcher> MakeWatcher() {
    return std::make_unique<KeyboardWatcher>(
        std::make_unique<SimulatedEventTap>(&keyboard_),
        [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(log_mutex_);
          log_.push_back(line);
        });
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return log_;
  }

  SimulatedKeyboard keyboard_;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
};

TEST_F(KeyboardWatcherTest, DeliversEventsOnTheWatcherThread) {
  auto watcher = MakeWatcher();
  std::vector<KeyEvent> seen;
  std::thread::id handler_thread;
  ASSERT_TRUE(watcher->Start(false, [&](const KeyEvent& event) {
    seen.push_back(event);
    handler_thread = std::this_thread::get_id();
    return false;
  }));
  ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));

  EXPECT_FALSE(
      keyboard_.Post(MakeEvent(KeyEventType::kFlagsChanged, 59, 0x40000, 7.5)));
  ASSERT_EQ(seen.size(), 1u);  // Post waits for the handler
  EXPECT_EQ(seen[0].type, KeyEventType::kFlagsChanged);
  EXPECT_EQ(seen[0].keycode, 59);
  EXPECT_EQ(seen[0].flags, 0x40000u);
  EXPECT_DOUBLE_EQ(seen[0].time, 7.5);
  EXPECT_NE(handler_thread, std::this_thread::get_id());

  EXPECT_TRUE(watcher->Stop());
  EXPECT_FALSE(watcher->IsRunning());
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Starting native chordwatch",
                       "macOS event tap started (exclusive=off)"}));
}

TEST_F(KeyboardWatcherTest, OnlyAnExclusiveTapSwallows) {
  for (bool exclusive : {false, true}) {
    auto watcher = MakeWatcher();
    ASSERT_TRUE(watcher->Start(exclusive, [](const KeyEvent&) { return true; }));
    ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));
    EXPECT_EQ(keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 40)), exclusive);
    EXPECT_EQ(keyboard_.Post(MakeEvent(KeyEventType::kKeyUp, 40)), exclusive);
  }
  EXPECT_EQ(Log().back(), "macOS event tap started (exclusive=on)");
}

TEST_F(KeyboardWatcherTest, SecondStartWhileRunningDoesNothing) {
  auto watcher = MakeWatcher();
  int first = 0;
  int second = 0;
  ASSERT_TRUE(watcher->Start(false, [&](const KeyEvent&) { return !!++first; }));
  EXPECT_FALSE(watcher->Start(true, [&](const KeyEvent&) { return !!++second; }));
  ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));
  EXPECT_FALSE(keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 1)));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(Log().front(), "Starting native chordwatch");
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(KeyboardWatcherTest, StopRightAfterStartNeverHangs) {
  auto watcher = MakeWatcher();
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(watcher->Start(false, [](const KeyEvent&) { return false; }));
    if (i % 3 == 1) std::this_thread::yield();
    if (i % 3 == 2) {
      ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));
    }
    ASSERT_TRUE(watcher->Stop());
    EXPECT_EQ(keyboard_.OpenTapCount(), 0u);
  }
  EXPECT_FALSE(watcher->Stop());
}

TEST_F(KeyboardWatcherTest, NoHandlerCallAfterStopReturns) {
  auto watcher = MakeWatcher();
  std::atomic<int> calls{0};
  std::atomic<bool> posting{true};
  std::thread poster([&] {
    while (posting) keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 2));
  });
  for (int round = 0; round < 30; ++round) {
    ASSERT_TRUE(watcher->Start(false, [&](const KeyEvent&) {
      ++calls;
      return false;
    }));
    const int before = calls.load();
    ASSERT_TRUE(WaitFor([&] { return calls.load() > before; }));
    ASSERT_TRUE(watcher->Stop());
    const int after_stop = calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(calls.load(), after_stop) << "round " << round;
  }
  posting = false;
  poster.join();
}

TEST_F(KeyboardWatcherTest, RefusedTapEndsTheWatcherWhichIsJoinedOnRestart) {
  auto watcher = MakeWatcher();
  keyboard_.SetRefuseTaps(true);
  int calls = 0;
  const auto count = [&](const KeyEvent&) { return !!++calls; };
  ASSERT_TRUE(watcher->Start(false, count));
  ASSERT_TRUE(WaitFor([&] { return !watcher->IsRunning(); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Starting native chordwatch",
                       "Failed to create macOS event tap (check "
                       "Accessibility permission)"}));
  EXPECT_FALSE(watcher->Stop());
  EXPECT_FALSE(keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 3)));
  EXPECT_EQ(calls, 0);

  // The ended thread is still joinable; replacing it unjoined would abort.
  keyboard_.SetRefuseTaps(false);
  ASSERT_TRUE(watcher->Start(false, count));
  ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));
  keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 3));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(watcher->Stop());
}

TEST_F(KeyboardWatcherTest, DestroyingAfterARefusedTapJoinsTheEndedThread) {
  keyboard_.SetRefuseTaps(true);
  for (int i = 0; i < 20; ++i) {
    auto watcher = MakeWatcher();
    ASSERT_TRUE(watcher->Start(false, [](const KeyEvent&) { return false; }));
    if (i % 2 == 0) {
      ASSERT_TRUE(WaitFor([&] { return !watcher->IsRunning(); }));
    }
  }
  // Destroying a running watcher stops it as well.
  keyboard_.SetRefuseTaps(false);
  auto watcher = MakeWatcher();
  ASSERT_TRUE(watcher->Start(false, [](const KeyEvent&) { return false; }));
  ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 1; }));
  watcher.reset();
  EXPECT_EQ(keyboard_.OpenTapCount(), 0u);
}

TEST_F(KeyboardWatcherTest, EveryOpenTapSeesTheEvent) {
  auto first = MakeWatcher();
  auto second = MakeWatcher();
  int first_calls = 0;
  int second_calls = 0;
  first->Start(false, [&](const KeyEvent&) { return !!++first_calls; });
  second->Start(true, [&](const KeyEvent&) { return !!++second_calls; });
  ASSERT_TRUE(WaitFor([&] { return keyboard_.OpenTapCount() == 2; }));
  EXPECT_TRUE(keyboard_.Post(MakeEvent(KeyEventType::kKeyDown, 4)));
  EXPECT_EQ(first_calls, 1);
  EXPECT_EQ(second_calls, 1);
}

}  // namespace
}  // namespace chordwatch
