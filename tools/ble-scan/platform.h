// What the scanner needs from the platform: the Bluetooth central manager
// (state changes, one scan for one service, discoveries, stop), the main
// queue (one-shot timers, the run loop), standard output and process exit.
// Every callback arrives on the main queue; nothing here is thread-safe and
// nothing needs to be.
#ifndef BEACONSWEEP_PLATFORM_H_
#define BEACONSWEEP_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace beaconsweep {

// The central manager's state values; only powered-on lets a scan start.
enum class CentralState : int {
  kUnknown = 0,
  kResetting = 1,
  kUnsupported = 2,
  kUnauthorized = 3,
  kPoweredOff = 4,
  kPoweredOn = 5,
};

// One discovery callback: the peripheral's identifier (UUID text), its name
// when it has one, and the advertisement's local name when that entry is
// present and is a string. Signal strength is not passed on.
struct Discovery {
  std::string identifier;
  std::optional<std::string> name;
  std::optional<std::string> local_name;
};

// Receives the central manager's callbacks.
class CentralDelegate {
 public:
  virtual ~CentralDelegate() = default;
  virtual void OnStateChange(CentralState state) = 0;
  virtual void OnDiscovery(const Discovery& discovery) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Turns "--service" text into the platform's UUID object; fills the text
  // form of that object (what it prints as). False when the platform would
  // not accept the text.
  virtual bool MakeServiceUuid(const std::string& text, std::string* uuid_string) = 0;

  // Creates the central manager on the main queue with `delegate` (which
  // outlives it) receiving its callbacks.
  virtual void CreateCentral(CentralDelegate* delegate) = 0;
  virtual bool HasCentral() const = 0;

  // What lies behind the state last passed to the delegate, in a few words
  // for people (the adapter in use, or why Bluetooth is unavailable); empty
  // where the state itself is all the platform knows.
  virtual std::string DescribeCentralState() const { return std::string(); }

  // Scans for peripherals advertising the one service (a text filled by
  // MakeServiceUuid), without duplicate reports.
  virtual void ScanForService(const std::string& uuid_string) = 0;
  virtual void StopScan() = 0;

  // Runs `callback` once on the main queue after `delay_ms` milliseconds.
  virtual void RunAfter(int64_t delay_ms, std::function<void()> callback) = 0;

  // Runs the main run loop. On a real system it never returns: the process
  // ends inside Terminate. A simulated platform returns the status given to
  // Terminate.
  virtual int RunMainLoop() = 0;

  // Writes bytes to standard output at once, unbuffered.
  virtual void WriteStandardOutput(const std::string& bytes) = 0;

  // Ends the process with `status`.
  virtual void Terminate(int status) = 0;
};

// The platform this program was built for: CoreBluetooth on macOS, BlueZ on
// Linux; elsewhere a system without a central manager, which behaves like a
// Mac whose Bluetooth is unavailable.
std::unique_ptr<Platform> MakeSystemPlatform();

}  // namespace beaconsweep

#endif  // BEACONSWEEP_PLATFORM_H_
