// The flash procedure for one drive: prepare the drive, give it its drive-side flash program,
// transfer and verify the image, and tell the drive to program its flash memory.
#include "device/AtapiDevice.h"
#include "flash/TransferLimits.h"

// The flash procedure is an operation of the device's class (device/AtapiDevice.h).
namespace movrel::device {

using flash::ImageLengthUsable;
using flash::kProgram;
using flash::kProgramWithBootCode;

namespace {
constexpr std::int32_t kReadyLimitSeconds = 60;
constexpr double kPauseBeforeProgramming = 1.0;
// How long a drive whose commands fail at once (no answer, but no wait either) is asked again
// after programming.
constexpr std::int32_t kAnswerLimitSeconds = 60;
}  // namespace

bool AtapiDevice::FlashFirmware(const std::uint8_t* image, std::int32_t imageLength,
                                std::uint8_t bootCode) {
  // An image that cannot be sent whole, or a device without its buffers, is refused before the
  // drive is touched.
  if (image == nullptr || !ImageLengthUsable(imageLength) || !BuffersAllocated()) return false;

  // Until the programming command every command takes milliseconds, and a drive that stops
  // answering is let go of before anything is programmed.
  SetCommandTimeout(kBoundedCommandTimeout);

  // Preparation: each step is tried once and its failure ignored.
  ClearThrowOnFailure();
  WaitUnitReady(kReadyLimitSeconds);
  ClearThrowOnFailure();
  StopUnit();
  ClearThrowOnFailure();
  SendFlashProgram();

  // From here on every command runs in strict mode, and the mode stays on afterwards. A drive
  // that may have lost its drive-side program since it took it is not told to program its flash:
  // it keeps its old firmware.
  SetThrowOnFailure();
  if (!TransferImage(image, imageLength) || ProgramLost()) return false;
  Delay(kPauseBeforeProgramming);
  // The drive programs its flash during the last command, which must not be cut short; the
  // device keeps the long time-out for whatever follows.
  SetCommandTimeout(kProgrammingCommandTimeout);
  const bool programmed = WriteBuffer(0, 0, bootCode != 0 ? kProgramWithBootCode : kProgram);
  // A drive may go on writing its flash after it answered. Until it answers again, nothing but
  // this device's long waits may reach it: an open of its node makes the kernel send it TEST UNIT
  // READY with the kernel's own 30 s, and a reset when that runs out. So the device keeps the
  // drive open and watches it here, and identifies it before anything closes it. A refused
  // programming command leaves its sense data for the record.
  if (!programmed) return false;
  WaitUntilAnswering(kAnswerLimitSeconds);
  IdentifyCurrent();
  return true;
}

}  // namespace movrel::device
