// A simulated machine with one optical drive, D:, whose responder answers every command at once
// from a flat buffer and allocates nothing while it does: the drive for allocation counts and
// host-time measurements, where the simulated drive's bookkeeping and trace would be in the way.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/SimSystem.h"

namespace movrel::test {

class InstantDriveSystem : public sim::SimSystem {
 public:
  explicit InstantDriveSystem(std::array<std::uint8_t, 4> flashId = {0xBF, 0xD8, 0x00, 0x05});

  // The drive answers the flash identity query with only this many bytes (128 by default).
  void SetFlashIdReplyLength(std::uint32_t length) { flashIdReplyLength = length; }

  // The drive answers READ BUFFER with good status but moves no data into the host's buffer.
  void SetSilentReads(bool silent) { silentReads = silent; }

  int Commands() const { return commands; }
  int ProgrammingCommands() const { return programmingCommands; }

 private:
  std::uint32_t Respond(const sim::CommandBytes& command, const sim::DataPhase& data);

  std::array<std::uint8_t, 4> flashId;
  std::vector<std::uint8_t> driveBuffer;
  std::uint32_t flashIdReplyLength = 128;
  bool silentReads = false;
  int commands = 0;
  int programmingCommands = 0;
};

}  // namespace movrel::test
