#include "InstantDrive.h"

#include <algorithm>
#include <cstring>

namespace movrel::test {

namespace {

// The buffer reaches every 24-bit offset with a full 64 KiB transfer behind it.
constexpr std::size_t kDriveBufferSize = (1u << 24) + 65536;

std::uint32_t Read24(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 16 | std::uint32_t{bytes[1]} << 8 | bytes[2];
}

// D:\ with a disc, every command of which the responder answers.
sim::BayConfig OneDrive(sim::Responder responder) {
  sim::BayConfig bay;
  bay.drives.emplace_back();
  bay.drives[0].medium = true;
  bay.drives[0].responder = std::move(responder);
  return bay;
}

}  // namespace

InstantDriveSystem::InstantDriveSystem(std::array<std::uint8_t, 4> flashId)
    : sim::SimSystem(OneDrive([this](const sim::CommandBytes& command, const sim::DataPhase& data,
                                     sim::Answer& answer) {
        answer.transferred = Respond(command, data);
        return true;
      })),
      flashId(flashId),
      driveBuffer(kDriveBufferSize) {}

// Good status at once, whatever the command; the data bytes that moved.
std::uint32_t InstantDriveSystem::Respond(const sim::CommandBytes& command,
                                          const sim::DataPhase& data) {
  ++commands;
  std::uint8_t* bytes = data.bytes;
  const std::uint32_t length = data.length;
  switch (command[0]) {
    case 0x12:  // INQUIRY
      std::memset(bytes, 0, length);
      std::memcpy(bytes + 8, "Dornavex", 8);
      std::memcpy(bytes + 16, "DVDRW KTR-207M  ", 16);
      std::memcpy(bytes + 32, "RV05", 4);
      break;
    case 0xDF:  // flash identity
      std::memset(bytes, 0, std::min(length, flashIdReplyLength));
      std::copy(flashId.begin(), flashId.end(), bytes);
      return std::min(length, flashIdReplyLength);
    case 0x3B:  // WRITE BUFFER
      if (command[9] == 0x80 || command[9] == 0xA0) {
        ++programmingCommands;
      } else {
        std::memcpy(driveBuffer.data() + Read24(&command[3]), bytes, length);
      }
      break;
    case 0x3C:  // READ BUFFER
      if (silentReads) return 0;
      std::memcpy(bytes, driveBuffer.data() + Read24(&command[3]), length);
      break;
    default:  // TEST UNIT READY, START STOP UNIT, ...: good at once
      if (bytes != nullptr && data.direction == sim::Transfer::In) std::memset(bytes, 0, length);
      break;
  }
  return length;
}

}  // namespace movrel::test
