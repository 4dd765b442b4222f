// The firmware transfer commands: READ BUFFER and WRITE BUFFER with the update's mode and buffer
// numbers, the verified image transfer, and the timed pause. (The flash identity query, which
// discovery sends to every drive, is in device/Discovery.cpp.)
#include <algorithm>
#include <cmath>
#include <cstring>

#include "device/AtapiDevice.h"
#include "flash/TransferLimits.h"
#include "platform/Application.h"
#include "platform/System.h"

// The firmware commands are operations of the device's class (device/AtapiDevice.h).
namespace movrel::device {

using flash::ImageLengthUsable;
using flash::kChunkSize;
using flash::kProgram;
using flash::kProgramWithBootCode;

namespace {

// READ BUFFER, mode 1 (vendor specific), buffer 1.
constexpr CommandBlock kReadBufferBlock{0x3C, 0x01, 0x01, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// WRITE BUFFER, mode 5 (download microcode and save), buffer 1.
constexpr CommandBlock kWriteBufferBlock{0x3B, 0x05, 0x01, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

constexpr int kTransferAttempts = 3;

constexpr bool IsProgrammingControl(std::uint8_t control) {
  return control == kProgram || control == kProgramWithBootCode;
}

// Writes the low 24 bits of `value`, most significant byte first, at `at`.
void Put24(CommandBlock& block, std::size_t at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  block[at] = static_cast<std::uint8_t>(bits >> 16);
  block[at + 1] = static_cast<std::uint8_t>(bits >> 8);
  block[at + 2] = static_cast<std::uint8_t>(bits);
}

// Fills the read-back buffer with the complement of the chunk, so that no byte a reply leaves
// unwritten can match: an ATAPI drive behind libata reports no residue, and a good READ BUFFER
// that moved nothing reads as a whole reply.
void Unmatchable(std::uint8_t* in, const std::uint8_t* out) {
  for (std::int32_t at = 0; at < kChunkSize; ++at) in[at] = static_cast<std::uint8_t>(~out[at]);
}

// One pass over every chunk: write it, read it back, compare. Stops at the first failure.
bool TransferAttempt(AtapiDevice& device, const std::uint8_t* image, std::int32_t chunkCount) {
  std::uint8_t* const out = device.OutBuffer();
  std::uint8_t* const in = device.InBuffer();
  for (std::int32_t chunk = 0; chunk < chunkCount; ++chunk) {
    const std::int32_t offset = chunk * kChunkSize;
    std::memcpy(out, image + offset, kChunkSize);
    Unmatchable(in, out);
    if (!device.WriteBuffer(offset, kChunkSize, 0x00) || device.ProgramLost()) return false;
    if (!device.ReadBuffer(offset, kChunkSize) || device.ProgramLost()) return false;
    if (std::memcmp(in, out, kChunkSize) != 0) return false;
  }
  return true;
}

}  // namespace

bool AtapiDevice::ReadBuffer(std::int32_t offset, std::int32_t length) {
  CommandBlock block = kReadBufferBlock;
  Put24(block, 3, offset);
  Put24(block, 6, length);
  return ExecuteCommand(block, DataDirection::FromDrive, static_cast<std::uint32_t>(length));
}

bool AtapiDevice::WriteBuffer(std::int32_t offset, std::int32_t length, std::uint8_t control) {
  CommandBlock block = kWriteBufferBlock;
  Put24(block, 3, offset);
  Put24(block, 6, length);
  block[9] = control;
  if (IsProgrammingControl(control)) return ExecuteCommand(block, DataDirection::NoData, 0);
  return ExecuteCommand(block, DataDirection::ToDrive, static_cast<std::uint32_t>(length));
}

bool AtapiDevice::TransferImage(const std::uint8_t* image, std::int32_t imageLength) {
  if (image == nullptr || !ImageLengthUsable(imageLength)) return false;
  const std::int32_t chunkCount = imageLength / kChunkSize;
  for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
    // A failed attempt starts again from the first chunk, once the buffers are free to use.
    if (!BuffersFree()) return false;
    if (TransferAttempt(*this, image, chunkCount)) return true;
    // Another pass cannot bring back the drive-side program of a drive that lost it.
    if (ProgramLost()) return false;
  }
  return false;
}

void AtapiDevice::Delay(double seconds) {
  // Waits on the timer in sleeps of at most kDelayStepSeconds, so that the pause keeps its length
  // (to within a step) and costs no processor time however many drives pause at once; the
  // window's thread handles its messages between the sleeps. Without a high-resolution counter
  // the timer counts milliseconds, so the wait still ends.
  waitTimer.Start();
  for (double left = seconds; left > 0.0; left = seconds - waitTimer.LapSeconds()) {
    application.ProcessMessages();
    system.Sleep(static_cast<std::uint32_t>(std::ceil(std::min(left, kDelayStepSeconds) * 1000.0)));
  }
  waitTimer.Stop();
}

}  // namespace movrel::device
