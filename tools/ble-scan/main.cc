// Process entry of beaconsweep.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/ble-scan/platform.h"
#include "tools/ble-scan/scanner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::unique_ptr<beaconsweep::Platform> platform = beaconsweep::MakeSystemPlatform();
  return beaconsweep::RunBeaconsweep(args, *platform, std::cerr);
}
