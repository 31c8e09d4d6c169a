// The scanner driven by a scripted central manager on a simulated clock.
#include "tools/ble-scan/scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/ble-scan/simulated_central.h"

namespace beaconsweep {
namespace {

using Args = std::vector<std::string>;
using Script = std::vector<ScriptEvent>;

constexpr char kIdA[] = "11111111-AAAA-4AAA-8AAA-AAAAAAAAAAAA";
constexpr char kIdB[] = "22222222-BBBB-4BBB-8BBB-BBBBBBBBBBBB";
constexpr char kIdC[] = "33333333-CCCC-4CCC-8CCC-CCCCCCCCCCCC";
constexpr char kIdD[] = "44444444-DDDD-4DDD-8DDD-DDDDDDDDDDDD";
constexpr char kIdE[] = "55555555-EEEE-4EEE-8EEE-EEEEEEEEEEEE";

ScriptEvent State(int64_t at_ms, CentralState state) {
  ScriptEvent event;
  event.at_ms = at_ms;
  event.kind = ScriptEvent::Kind::kState;
  event.state = state;
  return event;
}

ScriptEvent PowerOn(int64_t at_ms) { return State(at_ms, CentralState::kPoweredOn); }

ScriptEvent Seen(int64_t at_ms, std::string id, std::optional<std::string> name = std::nullopt,
                 std::optional<std::string> local_name = std::nullopt) {
  ScriptEvent event;
  event.at_ms = at_ms;
  event.kind = ScriptEvent::Kind::kDiscovery;
  event.discovery = {std::move(id), std::move(name), std::move(local_name)};
  return event;
}

// The expected device line, written out by hand (no escaping needed).
std::string Line(const std::string& id, const std::string& name,
                 const std::string& service = "180D") {
  return "{\"id\":\"" + id + "\",\"name\":\"" + name + "\",\"serviceUuids\":[\"" + service +
         "\"]}\n";
}

struct ScanRun {
  std::unique_ptr<SimulatedPlatform> platform;
  int status = -1;
  std::string err;
};

ScanRun RunScanner(const Args& args, Script script) {
  ScanRun run;
  run.platform = std::make_unique<SimulatedPlatform>(
      std::move(script), EventLoop::Clock::kSimulated, SimulatedPlatform::Output::kCapture);
  std::ostringstream err;
  run.status = RunBeaconsweep(args, *run.platform, err);
  run.err = err.str();
  return run;
}

Args WithService(Args extra) {
  Args args = {"--service", "180D"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(ScannerTest, ReportsEachDeviceAsOneLineAndEndsAtTheDeadline) {
  const ScanRun run = RunScanner(WithService({"--timeout-ms", "500"}),
                             {PowerOn(10), Seen(20, kIdA, "Polar H10"), Seen(30, kIdB)});
  EXPECT_EQ(run.platform->output(), Line(kIdA, "Polar H10") + Line(kIdB, ""));
  // The JSON object and its newline are two separate writes, at the sighting.
  const auto& writes = run.platform->writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0].at_ms, 20);
  EXPECT_EQ(writes[1].bytes, "\n");
  EXPECT_EQ(writes[3].bytes, "\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.platform->exit_status(), 0);
  EXPECT_EQ(run.platform->exit_at_ms(), 500);
  EXPECT_EQ(run.platform->stop_count(), 1);
  EXPECT_FALSE(run.platform->scanning());
  EXPECT_EQ(run.err, "");
}

TEST(ScannerTest, NameComesFromPeripheralThenAdvertisementThenEmpty) {
  const ScanRun run = RunScanner(WithService({}), {PowerOn(0),
                                               Seen(1, kIdA, "Peripheral", "Advertised"),
                                               Seen(2, kIdB, std::nullopt, "Advertised"),
                                               Seen(3, kIdC, "", "Advertised"),
                                               Seen(4, kIdD)});
  EXPECT_EQ(run.platform->output(), Line(kIdA, "Peripheral") + Line(kIdB, "Advertised") +
                                        Line(kIdC, "") + Line(kIdD, ""));
}

TEST(ScannerTest, PrefixFilter) {
  const Script script = {PowerOn(0),
                         Seen(1, kIdA, "Polar H10"),
                         Seen(2, kIdB, "polar lowercase"),
                         Seen(3, kIdC, std::nullopt, "Bike Sensor"),
                         Seen(4, kIdD),
                         Seen(5, kIdE, "My Polar")};
  struct Case {
    Args prefixes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, Line(kIdA, "Polar H10") + Line(kIdB, "polar lowercase") + Line(kIdC, "Bike Sensor") +
               Line(kIdD, "") + Line(kIdE, "My Polar")},
      {{"--name-prefix", "Polar"}, Line(kIdA, "Polar H10")},
      {{"--name-prefix", "Polar H10 "}, ""},  // longer than the name
      {{"--name-prefix", "B", "--name-prefix", "Pol"},
       Line(kIdA, "Polar H10") + Line(kIdC, "Bike Sensor")},
      {{"--name-prefix", "Z", "--name-prefix", ""},
       Line(kIdA, "Polar H10") + Line(kIdB, "polar lowercase") + Line(kIdC, "Bike Sensor") +
           Line(kIdD, "") + Line(kIdE, "My Polar")},
  };
  for (const Case& c : cases) {
    const ScanRun run = RunScanner(WithService(c.prefixes), script);
    EXPECT_EQ(run.platform->output(), c.expected)
        << (c.prefixes.empty() ? "no prefix" : c.prefixes[1]);
  }
}

TEST(ScannerTest, DeviceSeenAgainIsPrintedOnce) {
  const ScanRun run = RunScanner(WithService({}), {PowerOn(0), Seen(5, kIdA, "First"),
                                               Seen(6, kIdB, "Other"), Seen(7, kIdA, "Renamed"),
                                               Seen(800, kIdA, "First")});
  EXPECT_EQ(run.platform->output(), Line(kIdA, "First") + Line(kIdB, "Other"));
}

TEST(ScannerTest, DeviceFilteredOutIsPrintedWhenItLaterMatches) {
  const ScanRun run = RunScanner(
      WithService({"--name-prefix", "Polar"}),
      {PowerOn(0), Seen(100, kIdA), Seen(200, kIdA, std::nullopt, "Garmin"),
       Seen(300, kIdA, std::nullopt, "Polar Verity"), Seen(400, kIdA, "Polar Verity")});
  EXPECT_EQ(run.platform->output(), Line(kIdA, "Polar Verity"));
  ASSERT_FALSE(run.platform->writes().empty());
  EXPECT_EQ(run.platform->writes()[0].at_ms, 300);
}

TEST(ScannerTest, DeviceThatCannotBeEncodedIsSkippedButRemembered) {
  const ScanRun run = RunScanner(WithService({}), {PowerOn(0), Seen(1, kIdA, "bad\xFF"),
                                               Seen(2, kIdA, "good"), Seen(3, kIdB, "next")});
  EXPECT_EQ(run.platform->output(), Line(kIdB, "next"));
  EXPECT_EQ(run.err, "");
}

TEST(ScannerTest, ScansOnceForTheServiceOnlyWhenPoweredOn) {
  const ScanRun run = RunScanner(
      {"--service", "0000fe2c-0000-1000-8000-00805f9b34fb", "--timeout-ms", "1000"},
      {State(0, CentralState::kUnknown), State(50, CentralState::kPoweredOff), Seen(60, kIdA, "Early"),
       PowerOn(100), Seen(110, kIdB, "On"), State(200, CentralState::kPoweredOff),
       State(250, CentralState::kResetting), PowerOn(300), PowerOn(400)});
  const auto& starts = run.platform->scan_starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].at_ms, 100);
  EXPECT_EQ(starts[0].service_uuid, "FE2C");
  // Before the scan there is nothing to discover; the line carries the
  // scan's own service text.
  EXPECT_EQ(run.platform->output(), Line(kIdB, "On", "FE2C"));
}

TEST(ScannerTest, UnavailableBluetoothMeansNoOutputAndExitZeroAtTheDeadline) {
  for (CentralState state : {CentralState::kUnsupported, CentralState::kUnauthorized,
                             CentralState::kPoweredOff, CentralState::kUnknown}) {
    const ScanRun run = RunScanner(WithService({"--timeout-ms", "300"}),
                               {State(0, state), Seen(10, kIdA, "Never"), State(20, state)});
    EXPECT_TRUE(run.platform->scan_starts().empty());
    EXPECT_EQ(run.platform->output(), "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.platform->exit_at_ms(), 300);
    EXPECT_EQ(run.err, "");
  }
}

TEST(ScannerTest, VerboseWritesOneLineForEachStateMet) {
  const ScanRun run =
      RunScanner(WithService({"--timeout-ms", "300", "--verbose"}),
                 {State(0, CentralState::kUnsupported), State(5, CentralState::kPoweredOff),
                  PowerOn(10), Seen(20, kIdA, "x")});
  EXPECT_EQ(run.err,
            "beaconsweep: Bluetooth unavailable\nbeaconsweep: Bluetooth powered off\n"
            "beaconsweep: Bluetooth powered on\n");
  EXPECT_EQ(run.platform->output(), Line(kIdA, "x"));
  EXPECT_EQ(run.status, 0);
}

TEST(ScannerTest, DeadlineCountsFromStartUpNotFromScanStart) {
  const ScanRun run = RunScanner(WithService({"--timeout-ms", "1000"}),
                             {PowerOn(700), Seen(900, kIdA, "In time"), Seen(1200, kIdB, "Late")});
  EXPECT_EQ(run.platform->exit_at_ms(), 1000);
  EXPECT_EQ(run.platform->output(), Line(kIdA, "In time"));
}

TEST(ScannerTest, TimeoutValuesTakeEffect) {
  struct Case {
    Args timeout;
    int64_t exit_at_ms;
  };
  const std::vector<Case> cases = {{{"--timeout-ms", "0"}, 1},
                                   {{"--timeout-ms", "-40"}, 1},
                                   {{"--timeout-ms", "abc"}, 2000},
                                   {{"--timeout-ms", "250", "--timeout-ms", "x"}, 250},
                                   {{}, 2000}};
  for (const Case& c : cases) {
    const ScanRun run = RunScanner(WithService(c.timeout), {PowerOn(0)});
    EXPECT_EQ(run.platform->exit_at_ms(), c.exit_at_ms);
  }
  // The largest timeout lies far beyond every event; it must not wrap round
  // into an early end.
  const ScanRun run = RunScanner(WithService({"--timeout-ms", "9223372036854775807"}),
                             {PowerOn(0), Seen(5000, kIdA, "Late but fine")});
  EXPECT_GT(*run.platform->exit_at_ms(), int64_t{1} << 40);
  EXPECT_EQ(run.platform->output(), Line(kIdA, "Late but fine"));
}

TEST(ScannerTest, MissingOrInvalidServiceEndsAtOnceWithStatusTwo) {
  for (const Args& args : std::vector<Args>{{},
                                            {"--timeout-ms", "100", "--service"},
                                            {"--service", "heart-rate"},
                                            {"--service", "180D", "--service", "0x180D"}}) {
    const ScanRun run = RunScanner(args, {PowerOn(0), Seen(1, kIdA, "x")});
    EXPECT_EQ(run.status, kUsageExitStatus);
    EXPECT_FALSE(run.platform->HasCentral());
    EXPECT_TRUE(run.platform->writes().empty());
    EXPECT_FALSE(run.platform->exit_status().has_value());  // nothing ran
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line
    EXPECT_EQ(run.err.rfind("beaconsweep: --service", 0), 0u) << run.err;
  }
}

TEST(ScannerTest, DeadlineDoesNothingOnceTheScannerIsGone) {
  SimulatedPlatform platform({}, EventLoop::Clock::kSimulated,
                             SimulatedPlatform::Output::kCapture);
  ScanOptions options;
  options.timeout_milliseconds = 100;
  auto scanner = std::make_shared<Scanner>(options, "180D", &platform);
  scanner->Start();
  scanner.reset();
  platform.RunMainLoop();
  EXPECT_FALSE(platform.exit_status().has_value());
  EXPECT_EQ(platform.stop_count(), 0);
}

TEST(ScannerTest, FinishWithoutCentralOnlyExits) {
  SimulatedPlatform platform({}, EventLoop::Clock::kSimulated,
                             SimulatedPlatform::Output::kCapture);
  Scanner scanner(ScanOptions(), "180D", &platform);
  scanner.Finish();
  EXPECT_EQ(platform.stop_count(), 0);
  EXPECT_EQ(platform.exit_status(), 0);
}

}  // namespace
}  // namespace beaconsweep
