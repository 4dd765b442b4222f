// A simulated machine with one or more drives for the flash tests: the window's application, a
// device that has discovered the drives and selected the first, and the drive's trace as the
// drive saw it after discovery.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "Bays.h"
#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "sim/SimSystem.h"

namespace movrel::test {

// The trace line of one command: the drive, the 12 command bytes, in/out/none, the transfer
// length and the outcome.
std::string TraceLine(const std::string& drive, const device::CommandBlock& command,
                      const std::string& direction, std::uint32_t length,
                      const std::string& outcome = "good");

// The trace lines whose command bytes begin with `operationCode` (notes left out).
std::vector<std::string> CommandsWithCode(const std::vector<std::string>& trace,
                                          std::uint8_t operationCode);

// The operation code of a command line, or -1 for a note.
int OperationCode(const std::string& line);

class FlashMachine {
 public:
  explicit FlashMachine(const sim::BayConfig& bay);

  sim::SimSystem system;
  test::QuietApplication application;
  device::AtapiDevice device;
};

}  // namespace movrel::test
