// The drive-side flash programs: finding the program for the drive's flash part and variant,
// copying it out of the program area, and sending it with its header.
#include <cstring>

#include "device/AtapiDevice.h"
#include "flash/FlashProgramTables.h"

namespace movrel::flash {

using device::AtapiDevice;

std::size_t FlashProgramOffset(int row) {
  std::size_t offset = 0;
  for (int i = 1; i <= row; ++i) {
    if (FlashProgramGroups[i] != FlashProgramGroups[i - 1]) {
      offset += static_cast<std::size_t>(AtapiDevice::FlashProgramSize(i - 1));
    }
  }
  return offset;
}

}  // namespace movrel::flash

// Finding, copying and sending a flash program are operations of the device's class
// (device/AtapiDevice.h).
namespace movrel::device {

using flash::FlashProgramArea;
using flash::FlashProgramOffset;
using flash::FlashProgramTable;
using flash::kFlashProgramRows;

namespace {

constexpr std::size_t kIdentityLength = 4;
constexpr std::size_t kClearedLength = 32768;

// How a row's program goes to the drive. Rows 0 and 1 go into the drive's buffer at 0x80000 as
// plain data, the four identity bytes in front; the others go to the drive's loader (control
// 0x7F) at offset 0, the identity and the size in front. The loader of rows 2 to 4 counts the
// header in the transfer length, so the program's last six bytes (zeros) stay behind.
struct SendingForm {
  std::size_t headerLength;
  std::int32_t bufferOffset;
  std::uint8_t control;
  bool headerCounted;
};

constexpr SendingForm kBufferedForm{4, 0x80000, 0x00, true};
constexpr SendingForm kShortLoaderForm{6, 0, 0x7F, false};
constexpr SendingForm kLoaderForm{6, 0, 0x7F, true};

const SendingForm& FormOf(int row) {
  if (row <= 1) return kBufferedForm;
  if (row <= 4) return kShortLoaderForm;
  return kLoaderForm;
}

}  // namespace

int AtapiDevice::FindFlashProgram(const std::uint8_t identity[4]) {
  for (int row = 0; row < kFlashProgramRows; ++row) {
    if (std::memcmp(FlashProgramTable[row], identity, kIdentityLength) == 0) return row;
  }
  return -1;
}

int AtapiDevice::FlashProgramSize(int row) {
  return FlashProgramTable[row][4] << 8 | FlashProgramTable[row][5];
}

std::uint8_t* AtapiDevice::CopyFlashProgram(int row) {
  std::memcpy(outBuffer, FlashProgramArea + FlashProgramOffset(row),
              static_cast<std::size_t>(FlashProgramSize(row)));
  return outBuffer;
}

std::uint8_t* AtapiDevice::LoadFlashProgram(const std::uint8_t identity[4]) {
  const int row = FindFlashProgram(identity);
  if (row < 0) return nullptr;
  return CopyFlashProgram(row);
}

bool AtapiDevice::SendFlashProgram() {
  programLoaded = programLost = false;
  if (!BuffersFree()) return false;
  std::memset(outBuffer, 0, kClearedLength);
  if (!ReadFlashId()) return false;

  std::uint8_t identity[kIdentityLength];
  std::memcpy(identity, inBuffer, kIdentityLength);
  if (LoadFlashProgram(identity) == nullptr) return false;
  const int row = FindFlashProgram(identity);
  const SendingForm& form = FormOf(row);
  int size = FlashProgramSize(row);

  // Move the program behind the header, then put the header in front of it. The bytes after
  // the program are still the zeros of the clearing above.
  std::memmove(outBuffer + form.headerLength, outBuffer, static_cast<std::size_t>(size));
  std::memcpy(outBuffer, FlashProgramTable[row], form.headerLength);

  size += size & 1;  // an odd program goes with one more (zero) byte
  const auto headerLength = static_cast<std::int32_t>(form.headerLength);
  const std::int32_t length = form.headerCounted ? size + headerLength : size;
  const std::uint32_t timeout = CommandTimeout();
  if (form.control == kLoaderForm.control) SetCommandTimeout(kHandOverCommandTimeout);
  programLoaded = WriteBuffer(form.bufferOffset, length, form.control);
  SetCommandTimeout(timeout);
  return programLoaded;
}

}  // namespace movrel::device
