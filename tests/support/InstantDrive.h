// A machine with one optical drive, D:, reached through the pass-through, that answers every
// command at once and allocates nothing while it does: the drive for allocation counts and for
// host-time measurements, where the full simulated drive's bookkeeping would be in the way.
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

  // The drive answers READ BUFFER with good status but puts no data into the host's buffer.
  void SetSilentReads(bool silent) { silentReads = silent; }

  int Commands() const { return commands; }
  int ProgrammingCommands() const { return programmingCommands; }
  const std::uint8_t* DriveBuffer() const { return driveBuffer.data(); }

  std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* rootPathName) override;
  platform::Handle CreateFileA(const char* fileName) override;
  bool DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(platform::Handle handle) override;

 private:
  void Answer(platform::ScsiPassThroughDirect& request);

  std::array<std::uint8_t, 4> flashId;
  std::vector<std::uint8_t> driveBuffer;
  std::uint32_t flashIdReplyLength = 128;
  bool silentReads = false;
  int commands = 0;
  int programmingCommands = 0;
};

}  // namespace movrel::test
