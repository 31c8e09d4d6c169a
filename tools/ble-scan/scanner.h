// The scanner: waits for the central manager to power on, starts one scan
// for one service, prints each newly found device whose name passes the
// prefix filter as one JSON line, and ends the process at a deadline counted
// from start-up.
#ifndef BEACONSWEEP_SCANNER_H_
#define BEACONSWEEP_SCANNER_H_

#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "tools/ble-scan/platform.h"
#include "tools/ble-scan/scan_options.h"

namespace beaconsweep {

// Exit status when "--service" is missing or is not a UUID.
inline constexpr int kUsageExitStatus = 2;

// The peripheral's name if it has one, else the advertised local name, else "".
std::string ResolveName(const Discovery& discovery);

// True when there are no prefixes or `name` begins with at least one of them
// (exact, case-sensitive; an empty prefix matches every name).
bool NamePassesPrefixes(const std::string& name, const std::vector<std::string>& prefixes);

class Scanner : public CentralDelegate, public std::enable_shared_from_this<Scanner> {
 public:
  // `service_uuid` is the platform's text of the service to scan for;
  // `platform` outlives the scanner. With a `state_report` stream, every
  // state change of the central is written there as one line.
  Scanner(ScanOptions options, std::string service_uuid, Platform* platform,
          std::ostream* state_report = nullptr);

  // Creates the central manager and schedules the deadline. The deadline
  // callback holds only a weak reference: it does nothing once the scanner
  // is gone. Call on a scanner owned by a shared_ptr.
  void Start();

  void OnStateChange(CentralState state) override;
  void OnDiscovery(const Discovery& discovery) override;

  // Stops scanning if there is a central manager, then ends the process
  // with status 0.
  void Finish();

  bool has_started() const { return has_started_; }

 private:
  void ReportState(CentralState state);

  ScanOptions options_;
  std::string service_uuid_;
  Platform* platform_;
  std::ostream* state_report_;
  bool has_started_ = false;
  std::unordered_set<std::string> found_ids_;  // reported once per process
};

// The whole program over `platform`, given the arguments without the program
// name. A missing or invalid "--service" gets one line on `err` and
// kUsageExitStatus before anything is created; otherwise the scanner runs
// until the platform's main loop ends, reporting states on `err` only with
// "--verbose".
int RunBeaconsweep(const std::vector<std::string>& args, Platform& platform, std::ostream& err);

}  // namespace beaconsweep

#endif  // BEACONSWEEP_SCANNER_H_
