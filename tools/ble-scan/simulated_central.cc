#include "tools/ble-scan/simulated_central.h"

#include <sstream>
#include <utility>

#include "tools/ble-scan/scan_options.h"

namespace beaconsweep {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& field, std::string* out) {
  out->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      *out += field[i];
      continue;
    }
    if (i + 1 < field.size() && field[i + 1] == '\\') {
      *out += '\\';
      ++i;
      continue;
    }
    if (i + 3 >= field.size() || field[i + 1] != 'x') return false;
    const int hi = HexValue(field[i + 2]);
    const int lo = HexValue(field[i + 3]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
    i += 3;
  }
  return true;
}

bool ParseEventLine(const std::string& line, ScriptEvent* event, std::string* error) {
  std::istringstream fields(line);
  std::string at, kind;
  fields >> at >> kind;
  std::optional<int64_t> at_ms = ParseDecimalInteger(at);
  if (!at_ms || *at_ms < 0) return Fail(error, "bad time");
  event->at_ms = *at_ms;
  if (kind == "state") {
    std::string value;
    fields >> value;
    std::optional<int64_t> state = ParseDecimalInteger(value);
    if (!state || *state < 0 || *state > 5) return Fail(error, "bad state");
    event->kind = ScriptEvent::Kind::kState;
    event->state = static_cast<CentralState>(*state);
    std::string extra;
    return fields >> extra ? Fail(error, "trailing fields") : true;
  }
  if (kind != "discover") return Fail(error, "unknown event \"" + kind + "\"");
  event->kind = ScriptEvent::Kind::kDiscovery;
  std::string field;
  if (!(fields >> field) || !Unescape(field, &event->discovery.identifier)) {
    return Fail(error, "bad identifier");
  }
  while (fields >> field) {
    const size_t eq = field.find('=');
    const std::string key = field.substr(0, eq);
    std::string value;
    if (eq == std::string::npos || !Unescape(field.substr(eq + 1), &value)) {
      return Fail(error, "bad field \"" + field + "\"");
    }
    if (key == "name") {
      event->discovery.name = value;
    } else if (key == "local") {
      event->discovery.local_name = value;
    } else {
      return Fail(error, "unknown field \"" + key + "\"");
    }
  }
  return true;
}

}  // namespace

bool ParseCentralScript(const std::string& text, std::vector<ScriptEvent>* events,
                        std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  events->clear();
  while (std::getline(lines, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
    ScriptEvent event;
    std::string why;
    if (!ParseEventLine(line, &event, &why)) {
      return Fail(error, "script line " + std::to_string(number) + ": " + why);
    }
    events->push_back(std::move(event));
  }
  return true;
}

SimulatedPlatform::SimulatedPlatform(std::vector<ScriptEvent> script, EventLoop::Clock clock,
                                     Output output)
    : LoopPlatform(clock), script_(std::move(script)), output_(output) {}

bool SimulatedPlatform::MakeServiceUuid(const std::string& text, std::string* uuid_string) {
  return CanonicalBluetoothUuid(text, uuid_string);
}

void SimulatedPlatform::CreateCentral(CentralDelegate* delegate) {
  delegate_ = delegate;
  const int64_t now = NowMs();
  for (const ScriptEvent& event : script_) {
    RunAfter(event.at_ms - now, [this, event] { Deliver(event); });
  }
}

void SimulatedPlatform::Deliver(const ScriptEvent& event) {
  if (event.kind == ScriptEvent::Kind::kState) {
    delegate_->OnStateChange(event.state);
  } else if (scanning_) {
    delegate_->OnDiscovery(event.discovery);
  }
}

void SimulatedPlatform::ScanForService(const std::string& uuid_string) {
  scanning_ = true;
  scan_starts_.push_back({NowMs(), uuid_string});
}

void SimulatedPlatform::StopScan() {
  scanning_ = false;
  ++stop_count_;
}

void SimulatedPlatform::WriteStandardOutput(const std::string& bytes) {
  if (output_ == Output::kProcess) {
    LoopPlatform::WriteStandardOutput(bytes);
    return;
  }
  writes_.push_back({NowMs(), bytes});
}

void SimulatedPlatform::Terminate(int status) {
  if (output_ == Output::kProcess) {
    LoopPlatform::Terminate(status);
    return;
  }
  exit_status_ = status;
  exit_at_ms_ = NowMs();
  set_exit_status(status);
  loop().Quit();
}

std::string SimulatedPlatform::output() const {
  std::string all;
  for (const Write& write : writes_) all += write.bytes;
  return all;
}

}  // namespace beaconsweep
