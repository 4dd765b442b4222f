// The drive's firmware commands: the flash identity, the data buffer, the drive-side flash program
// and the programming of flash memory.
#include <algorithm>
#include <cstring>

#include "sim/ImageIdentity.h"
#include "sim/ProgramCheck.h"
#include "sim/SimDrive.h"
#include "sim/SimDriveAnswers.h"

namespace movrel::sim {

using namespace answers;

namespace {

constexpr std::uint32_t kBufferCapacity = 1u << 24;  // offsets are 24-bit
constexpr std::uint8_t kWriteMode = 0x05;            // download microcode and save
constexpr std::uint8_t kReadMode = 0x01;
constexpr std::uint8_t kBufferId = 0x01;
constexpr std::uint8_t kKeepData = 0x00;
constexpr std::uint8_t kProgramFlash = 0x80;
constexpr std::uint8_t kProgramFlashAndBootCode = 0xA0;

}  // namespace

Answer SimDrive::ReadFlashId(const CommandBytes& command, const DataPhase& data) {
  if (command[1] != 0x11) return InvalidField();
  // An update asks for the flash identity right before it sends the drive-side program.
  imageStarted = false;
  std::array<std::uint8_t, 128> reply{};
  std::copy(config.flashId.begin(), config.flashId.end(), reply.begin());
  return Reply(reply.data(), reply.size(), data);
}

Answer SimDrive::WriteBuffer(const CommandBytes& command, const DataPhase& data, std::int64_t now) {
  if ((command[1] & 0x1F) != kWriteMode || command[2] != kBufferId) return InvalidField();
  const std::uint32_t offset = Read24(command, 3);
  const std::uint32_t length = Read24(command, 6);
  const std::uint8_t control = command[9];
  if (control == kProgramFlash || control == kProgramFlashAndBootCode) {
    return ProgramFlash(control, now);
  }
  if (control == kProgramControl) return ReceiveProgram(offset, control, length, data);
  if (control != kKeepData) return InvalidField();
  // Before any image data of an update, a write at the low program offset is the program of
  // rows 0 and 1.
  if (offset == kLowProgramOffset && !imageStarted) {
    return ReceiveProgram(offset, control, length, data);
  }
  if (std::uint64_t{offset} + length > kBufferCapacity) return InvalidField();
  const std::uint32_t received = Received(length, data);
  if (buffer.size() < offset + received) buffer.resize(offset + received);
  if (received > 0) std::memcpy(buffer.data() + offset, data.bytes, received);
  imageStarted = true;
  Answer answer;
  answer.transferred = received;
  return answer;
}

Answer SimDrive::ReceiveProgram(std::uint32_t offset, std::uint8_t control, std::uint32_t length,
                                const DataPhase& data) {
  const std::uint32_t received = Received(length, data);
  ProgramReceipt receipt;
  receipt.offset = offset;
  receipt.control = control;
  receipt.length = length;
  receipt.bytes.assign(data.bytes, data.bytes + received);
  receipt.row = CheckProgram(config.flashId, offset, control, length, receipt.bytes.data(),
                             receipt.bytes.size());
  Answer answer;
  answer.transferred = received;
  answer.note = receipt.row < 0 ? "program mismatch"
                                : "program row " + std::to_string(receipt.row) + " match";
  lastProgram = std::move(receipt);
  return answer;
}

Answer SimDrive::ProgramFlash(std::uint8_t control, std::int64_t now) {
  if (buffer.empty()) return Check(0x05, 0x2C, 0x00);  // command sequence error: no image
  flash = std::move(buffer);
  buffer.clear();
  bootCode = control == kProgramFlashAndBootCode;
  ++flashCount;
  if (const std::optional<ImageIdentity> identity = ReadImageIdentity(flash.data(), flash.size())) {
    vendor = identity->vendor;
    product = identity->product;
    revision = identity->revision;
  }
  // The drive restarts on its new firmware.
  imageStarted = false;
  StartBecomingReady(now);
  powerOnAttentions = 1;
  return Good();
}

Answer SimDrive::ReadBuffer(const CommandBytes& command, const DataPhase& data) const {
  if ((command[1] & 0x1F) != kReadMode || command[2] != kBufferId) return InvalidField();
  const std::uint32_t offset = Read24(command, 3);
  const std::uint32_t length = Read24(command, 6);
  if (std::uint64_t{offset} + length > kBufferCapacity) return InvalidField();
  std::vector<std::uint8_t> reply(length, 0);
  if (offset < buffer.size()) {
    const std::size_t kept = std::min<std::size_t>(length, buffer.size() - offset);
    std::memcpy(reply.data(), buffer.data() + offset, kept);
  }
  return Reply(reply.data(), length, data);
}

}  // namespace movrel::sim
