// What a test, or a person at the machine, can see of a simulated drive.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace movrel::sim {

// A drive-side flash program as the drive received it.
struct ProgramReceipt {
  std::uint32_t offset = 0;         // buffer offset of the WRITE BUFFER
  std::uint8_t control = 0;         // its control byte
  std::uint32_t length = 0;         // its transfer length
  std::vector<std::uint8_t> bytes;  // header and program, as received
  int row = -1;                     // the row of the drive's own table it matched; -1: mismatch
};

struct DriveState {
  std::string vendor;  // as INQUIRY reports them: 8, 16 and 4 characters, space-padded
  std::string product;
  std::string revision;
  std::array<std::uint8_t, 4> flashId{};
  bool medium = false;
  bool trayOpen = false;
  bool ejectLocked = false;
  bool vanished = false;
  std::vector<std::uint8_t> flash;  // what the last programming took into flash memory
  bool bootCode = false;            // the last programming included the boot code
  int flashCount = 0;               // how many times flash memory was programmed
  std::optional<ProgramReceipt> lastProgram;
};

}  // namespace movrel::sim
