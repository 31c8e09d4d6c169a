// The system platform where no Bluetooth central manager exists. It behaves
// like a Mac whose Bluetooth is unavailable: the central reports that it is
// unsupported, no scan ever starts, and the program ends quietly at its
// deadline.
#include <memory>
#include <string>

#include "tools/ble-scan/loop_platform.h"
#include "tools/ble-scan/scan_options.h"

namespace beaconsweep {

namespace {

class NoCentralPlatform : public LoopPlatform {
 public:
  NoCentralPlatform() : LoopPlatform(EventLoop::Clock::kMonotonic) {}

  bool MakeServiceUuid(const std::string& text, std::string* uuid_string) override {
    return CanonicalBluetoothUuid(text, uuid_string);
  }

  void CreateCentral(CentralDelegate* delegate) override {
    has_central_ = true;
    RunAfter(0, [delegate] { delegate->OnStateChange(CentralState::kUnsupported); });
  }

  bool HasCentral() const override { return has_central_; }
  void ScanForService(const std::string&) override {}
  void StopScan() override {}

 private:
  bool has_central_ = false;
};

}  // namespace

std::unique_ptr<Platform> MakeSystemPlatform() { return std::make_unique<NoCentralPlatform>(); }

}  // namespace beaconsweep
