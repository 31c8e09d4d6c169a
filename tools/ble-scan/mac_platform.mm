// The macOS platform: CoreBluetooth's central manager delivering on the main
// dispatch queue, timers on that queue, the main run loop, and standard
// output. Built with ARC, on macOS only.
#import <CoreBluetooth/CoreBluetooth.h>
#import <Foundation/Foundation.h>

#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/ble-scan/platform.h"
#include "tools/ble-scan/scan_options.h"
#include "tools/ble-scan/standard_output.h"

namespace {

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    *out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out += static_cast<char>(0xC0 | (code_point >> 6));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out += static_cast<char>(0xE0 | (code_point >> 12));
    *out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code_point >> 18));
    *out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// The UTF-8 bytes of a string, code unit by code unit. A lone surrogate is
// kept in its three-byte form, which the JSON encoder refuses: such a name
// makes its device line fail to encode instead of being silently altered.
std::string Utf8Bytes(NSString* text) {
  std::string out;
  if (text == nil) return out;
  const NSUInteger length = text.length;
  std::vector<unichar> units(length);
  [text getCharacters:units.data() range:NSMakeRange(0, length)];
  for (NSUInteger i = 0; i < length; ++i) {
    uint32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(unit, &out);
  }
  return out;
}

NSString* ToNSString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

}  // namespace

// Forwards the central manager's delegate callbacks to the C++ delegate.
@interface BeaconsweepCentralBridge : NSObject <CBCentralManagerDelegate>
- (instancetype)initWithDelegate:(beaconsweep::CentralDelegate*)delegate;
@end

@implementation BeaconsweepCentralBridge {
  beaconsweep::CentralDelegate* _delegate;
}

- (instancetype)initWithDelegate:(beaconsweep::CentralDelegate*)delegate {
  if ((self = [super init])) _delegate = delegate;
  return self;
}

- (void)centralManagerDidUpdateState:(CBCentralManager*)central {
  _delegate->OnStateChange(static_cast<beaconsweep::CentralState>(static_cast<int>(central.state)));
}

- (void)centralManager:(CBCentralManager*)central
    didDiscoverPeripheral:(CBPeripheral*)peripheral
        advertisementData:(NSDictionary<NSString*, id>*)advertisementData
                     RSSI:(NSNumber*)RSSI {
  (void)central;
  (void)RSSI;  // signal strength plays no part in what is reported
  beaconsweep::Discovery discovery;
  discovery.identifier = Utf8Bytes(peripheral.identifier.UUIDString);
  NSString* name = peripheral.name;
  if (name != nil) discovery.name = Utf8Bytes(name);
  id local_name = advertisementData[CBAdvertisementDataLocalNameKey];
  if ([local_name isKindOfClass:[NSString class]]) {
    discovery.local_name = Utf8Bytes(static_cast<NSString*>(local_name));
  }
  _delegate->OnDiscovery(discovery);
}

@end

namespace beaconsweep {

static_assert(static_cast<NSInteger>(CentralState::kUnknown) == CBManagerStateUnknown,
              "central states are passed through unchanged");
static_assert(static_cast<NSInteger>(CentralState::kResetting) == CBManagerStateResetting,
              "central states are passed through unchanged");
static_assert(static_cast<NSInteger>(CentralState::kUnsupported) == CBManagerStateUnsupported,
              "central states are passed through unchanged");
static_assert(static_cast<NSInteger>(CentralState::kUnauthorized) == CBManagerStateUnauthorized,
              "central states are passed through unchanged");
static_assert(static_cast<NSInteger>(CentralState::kPoweredOff) == CBManagerStatePoweredOff,
              "central states are passed through unchanged");
static_assert(static_cast<NSInteger>(CentralState::kPoweredOn) == CBManagerStatePoweredOn,
              "central states are passed through unchanged");

namespace {

class MacPlatform : public Platform {
 public:
  // A reader of standard output that goes away must not end the scan with
  // SIGPIPE: the lines are dropped and the program still stops scanning at
  // its deadline.
  MacPlatform() { signal(SIGPIPE, SIG_IGN); }

  bool MakeServiceUuid(const std::string& text, std::string* uuid_string) override {
    // CBUUID raises an exception on text it cannot read, so only text of a
    // form it accepts reaches it; its own text form is what gets printed.
    if (!CanonicalBluetoothUuid(text, nullptr)) return false;
    @autoreleasepool {
      CBUUID* uuid = [CBUUID UUIDWithString:ToNSString(text)];
      *uuid_string = Utf8Bytes(uuid.UUIDString);
    }
    return true;
  }

  void CreateCentral(CentralDelegate* delegate) override {
    @autoreleasepool {
      // The manager keeps its delegate weakly; the bridge is owned here.
      bridge_ = [[BeaconsweepCentralBridge alloc] initWithDelegate:delegate];
      central_ = [[CBCentralManager alloc] initWithDelegate:bridge_
                                                      queue:dispatch_get_main_queue()];
    }
  }

  bool HasCentral() const override { return central_ != nil; }

  void ScanForService(const std::string& uuid_string) override {
    @autoreleasepool {
      // A UUID's own text form always reads back as the same UUID.
      CBUUID* service = [CBUUID UUIDWithString:ToNSString(uuid_string)];
      [central_ scanForPeripheralsWithServices:@[ service ]
                                       options:@{CBCentralManagerScanOptionAllowDuplicatesKey : @NO}];
    }
  }

  void StopScan() override { [central_ stopScan]; }

  void RunAfter(int64_t delay_ms, std::function<void()> callback) override {
    const int64_t max_ms = std::numeric_limits<int64_t>::max() / static_cast<int64_t>(NSEC_PER_MSEC);
    const int64_t ms = delay_ms < 0 ? 0 : (delay_ms > max_ms ? max_ms : delay_ms);
    std::function<void()> run = std::move(callback);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, ms * static_cast<int64_t>(NSEC_PER_MSEC)),
                   dispatch_get_main_queue(), ^{
                     run();
                   });
  }

  int RunMainLoop() override {
    NSRunLoop* loop = [NSRunLoop mainRunLoop];
    // A port keeps the loop from returning at once when it has no other
    // source; main-queue work is served by the loop either way.
    [loop addPort:[NSMachPort port] forMode:NSDefaultRunLoopMode];
    for (;;) {
      @autoreleasepool {
        [loop runMode:NSDefaultRunLoopMode beforeDate:[NSDate distantFuture]];
      }
    }
  }

  // NSFileHandle's writeData: raises an exception on a closed pipe before
  // macOS 10.15; the plain descriptor just fails.
  void WriteStandardOutput(const std::string& bytes) override { WriteAllToStandardOutput(bytes); }

  void Terminate(int status) override { std::exit(status); }

 private:
  BeaconsweepCentralBridge* bridge_ = nil;
  CBCentralManager* central_ = nil;
};

}  // namespace

std::unique_ptr<Platform> MakeSystemPlatform() { return std::make_unique<MacPlatform>(); }

}  // namespace beaconsweep
