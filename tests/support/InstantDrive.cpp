#include "InstantDrive.h"

#include <algorithm>
#include <cstring>

namespace movrel::test {

namespace {

constexpr platform::Handle kDriveHandle = 0x7D0;
constexpr char kRoots[] = "D:\\\0";  // one root, then the empty string that ends the list
// The buffer reaches every 24-bit offset with a full 64 KiB transfer behind it.
constexpr std::size_t kDriveBufferSize = (1u << 24) + 65536;

std::uint32_t Read24(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 16 | std::uint32_t{bytes[1]} << 8 | bytes[2];
}

}  // namespace

InstantDriveSystem::InstantDriveSystem(std::array<std::uint8_t, 4> flashId)
    : flashId(flashId), driveBuffer(kDriveBufferSize) {}

std::uint32_t InstantDriveSystem::GetLogicalDriveStringsA(std::uint32_t bufferLength,
                                                          char* buffer) {
  if (buffer == nullptr || bufferLength < sizeof kRoots) return sizeof kRoots;
  std::memcpy(buffer, kRoots, sizeof kRoots);
  return sizeof kRoots - 1;
}

std::uint32_t InstantDriveSystem::GetDriveTypeA(const char* rootPathName) {
  return std::strcmp(rootPathName, "D:\\") == 0 ? platform::DriveType::CdRom
                                                : platform::DriveType::NoRootDir;
}

platform::Handle InstantDriveSystem::CreateFileA(const char* fileName) {
  return std::strcmp(fileName, "\\\\.\\D:") == 0 ? kDriveHandle : platform::InvalidHandleValue;
}

bool InstantDriveSystem::CloseHandle(platform::Handle handle) {
  return handle == kDriveHandle || SimSystem::CloseHandle(handle);
}

bool InstantDriveSystem::DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode,
                                         void* inBuffer, std::uint32_t, void*, std::uint32_t,
                                         std::uint32_t* bytesReturned) {
  if (bytesReturned != nullptr) *bytesReturned = 0;
  if (device != kDriveHandle) return false;
  if (ioControlCode == platform::ioctl::ScsiGetAddress) {
    auto* address = static_cast<platform::ScsiAddress*>(inBuffer);
    *address = platform::ScsiAddress{sizeof(platform::ScsiAddress), 1, 0, 0, 0};
    return true;
  }
  if (ioControlCode != platform::ioctl::ScsiPassThroughDirect) return false;
  Answer(*static_cast<platform::ScsiPassThroughDirect*>(inBuffer));
  return true;
}

void InstantDriveSystem::Answer(platform::ScsiPassThroughDirect& request) {
  ++commands;
  auto* data = static_cast<std::uint8_t*>(request.DataBuffer);
  const std::uint32_t length = request.DataTransferLength;
  const std::uint8_t* cdb = request.Cdb;
  switch (cdb[0]) {
    case 0x12:  // INQUIRY
      std::memset(data, 0, length);
      std::memcpy(data + 8, "Dornavex", 8);
      std::memcpy(data + 16, "DVDRW KTR-207M  ", 16);
      std::memcpy(data + 32, "RV05", 4);
      break;
    case 0xDF:  // flash identity
      std::memset(data, 0, std::min(length, flashIdReplyLength));
      std::copy(flashId.begin(), flashId.end(), data);
      break;
    case 0x3B:  // WRITE BUFFER
      if (cdb[9] == 0x80 || cdb[9] == 0xA0) {
        ++programmingCommands;
      } else {
        std::memcpy(driveBuffer.data() + Read24(cdb + 3), data, length);
      }
      break;
    case 0x3C:  // READ BUFFER
      if (!silentReads) std::memcpy(data, driveBuffer.data() + Read24(cdb + 3), length);
      break;
    default:  // TEST UNIT READY, START STOP UNIT, ...: good at once
      if (data != nullptr && request.DataIn == platform::ScsiDataDirection::In) {
        std::memset(data, 0, length);
      }
      break;
  }
}

}  // namespace movrel::test
