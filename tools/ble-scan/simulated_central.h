// A central manager played from a script, for tests: state changes and
// discoveries at fixed times after start-up. Discoveries reach the delegate
// only while a scan runs, as with a real radio. The test program replays a
// script in real time on the real standard output; unit tests run it on a
// simulated clock and read back what was written, scanned and ended.
#ifndef BEACONSWEEP_SIMULATED_CENTRAL_H_
#define BEACONSWEEP_SIMULATED_CENTRAL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/ble-scan/loop_platform.h"
#include "tools/ble-scan/platform.h"

namespace beaconsweep {

struct ScriptEvent {
  enum class Kind { kState, kDiscovery };
  int64_t at_ms = 0;  // after start-up
  Kind kind = Kind::kState;
  CentralState state = CentralState::kUnknown;
  Discovery discovery;
};

// Reads a script, one event a line; blank lines and lines starting with '#'
// are skipped:
//   <ms> state <0..5>
//   <ms> discover <identifier> [name=<text>] [local=<text>]
// Fields are separated by spaces; in identifiers and texts "\\" stands for a
// backslash and "\xHH" for any byte (so "\x20" for a space). A missing
// name= or local= means the peripheral has no name or the advertisement no
// local name.
bool ParseCentralScript(const std::string& text, std::vector<ScriptEvent>* events,
                        std::string* error);

class SimulatedPlatform : public LoopPlatform {
 public:
  // kCapture keeps writes and the exit status in the object; kProcess writes
  // to the real standard output and really exits.
  enum class Output { kCapture, kProcess };

  struct ScanStart {
    int64_t at_ms;
    std::string service_uuid;
  };
  struct Write {
    int64_t at_ms;
    std::string bytes;
  };

  SimulatedPlatform(std::vector<ScriptEvent> script, EventLoop::Clock clock, Output output);

  bool MakeServiceUuid(const std::string& text, std::string* uuid_string) override;
  void CreateCentral(CentralDelegate* delegate) override;
  bool HasCentral() const override { return delegate_ != nullptr; }
  void ScanForService(const std::string& uuid_string) override;
  void StopScan() override;
  void WriteStandardOutput(const std::string& bytes) override;
  void Terminate(int status) override;

  int64_t NowMs() { return loop().NowMs(); }
  // Every write, in order, as separate chunks (kCapture only).
  const std::vector<Write>& writes() const { return writes_; }
  std::string output() const;
  const std::vector<ScanStart>& scan_starts() const { return scan_starts_; }
  int stop_count() const { return stop_count_; }
  bool scanning() const { return scanning_; }
  // Set once Terminate has been called (kCapture only).
  std::optional<int> exit_status() const { return exit_status_; }
  std::optional<int64_t> exit_at_ms() const { return exit_at_ms_; }

 private:
  void Deliver(const ScriptEvent& event);

  std::vector<ScriptEvent> script_;
  Output output_;
  CentralDelegate* delegate_ = nullptr;
  bool scanning_ = false;
  std::vector<Write> writes_;
  std::vector<ScanStart> scan_starts_;
  int stop_count_ = 0;
  std::optional<int> exit_status_;
  std::optional<int64_t> exit_at_ms_;
};

}  // namespace beaconsweep

#endif  // BEACONSWEEP_SIMULATED_CENTRAL_H_
