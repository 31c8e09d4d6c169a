#include "tools/ble-scan/scanner.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "tools/ble-scan/device_json.h"

namespace beaconsweep {

std::string ResolveName(const Discovery& discovery) {
  if (discovery.name) return *discovery.name;
  if (discovery.local_name) return *discovery.local_name;
  return std::string();
}

bool NamePassesPrefixes(const std::string& name, const std::vector<std::string>& prefixes) {
  if (prefixes.empty()) return true;
  return std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& prefix) {
    return name.compare(0, prefix.size(), prefix) == 0;
  });
}

namespace {

const char* StateWords(CentralState state) {
  switch (state) {
    case CentralState::kResetting: return "resetting";
    case CentralState::kUnsupported: return "unavailable";
    case CentralState::kUnauthorized: return "not authorized";
    case CentralState::kPoweredOff: return "powered off";
    case CentralState::kPoweredOn: return "powered on";
    case CentralState::kUnknown: break;
  }
  return "state unknown";
}

}  // namespace

Scanner::Scanner(ScanOptions options, std::string service_uuid, Platform* platform,
                 std::ostream* state_report)
    : options_(std::move(options)),
      service_uuid_(std::move(service_uuid)),
      platform_(platform),
      state_report_(state_report) {}

void Scanner::Start() {
  platform_->CreateCentral(this);
  std::weak_ptr<Scanner> weak = weak_from_this();
  platform_->RunAfter(options_.timeout_milliseconds, [weak] {
    if (std::shared_ptr<Scanner> scanner = weak.lock()) scanner->Finish();
  });
}

void Scanner::OnStateChange(CentralState state) {
  if (state_report_ != nullptr) ReportState(state);
  if (state != CentralState::kPoweredOn || has_started_) return;
  has_started_ = true;
  platform_->ScanForService(service_uuid_);
}

void Scanner::OnDiscovery(const Discovery& discovery) {
  ScannedDevice device{discovery.identifier, ResolveName(discovery), {service_uuid_}};
  // A device that fails the filter is not remembered: a later sighting with
  // a passing name is still reported.
  if (!NamePassesPrefixes(device.name, options_.name_prefixes)) return;
  if (!found_ids_.insert(discovery.identifier).second) return;
  std::string json;
  if (!EncodeScannedDevice(device, &json)) return;
  platform_->WriteStandardOutput(json);
  platform_->WriteStandardOutput("\n");
}

void Scanner::ReportState(CentralState state) {
  std::string line = "beaconsweep: Bluetooth ";
  line += StateWords(state);
  const std::string detail = platform_->DescribeCentralState();
  if (!detail.empty()) line += ": " + detail;
  line += '\n';
  // One write per line, so that a reader never sees half of one.
  *state_report_ << line << std::flush;
}

void Scanner::Finish() {
  if (platform_->HasCentral()) platform_->StopScan();
  platform_->Terminate(0);
}

int RunBeaconsweep(const std::vector<std::string>& args, Platform& platform, std::ostream& err) {
  ScanOptions options = ParseScanArguments(args);
  if (!options.service_text) {
    err << "beaconsweep: --service <uuid> is required\n";
    return kUsageExitStatus;
  }
  std::string service_uuid;
  if (!platform.MakeServiceUuid(*options.service_text, &service_uuid)) {
    err << "beaconsweep: --service needs a Bluetooth UUID: 4 or 8 hex digits, or "
           "8-4-4-4-12 hex digits with hyphens\n";
    return kUsageExitStatus;
  }
  // Held for the whole run; on a real system the process ends inside the
  // main loop, with the scanner still alive.
  std::ostream* state_report = options.verbose ? &err : nullptr;
  auto scanner = std::make_shared<Scanner>(std::move(options), std::move(service_uuid), &platform,
                                           state_report);
  scanner->Start();
  return platform.RunMainLoop();
}

}  // namespace beaconsweep
