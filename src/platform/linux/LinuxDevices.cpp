// The machine's optical drives: the roots that name them, their devices, and the control
// requests on a device (its SCSI address and the pass-through). The drive /dev/srN is the root
// whose letter is N places after D.
#include <fcntl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <set>

#include "platform/PassThrough.h"
#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/linux/OpticalDrives.h"
#include "platform/linux/SgIo.h"

namespace movrel::platform {

namespace {

constexpr char kDeviceNamePrefix[] = "\\\\.\\";
constexpr char kRunAsRoot[] = "run as root (for example with sudo or pkexec)";

// The number of a drive letter followed by a colon, as in "E:" or "e:\".
std::optional<unsigned> LetterNumber(const char* name) {
  if (name[0] == '\0' || name[1] != ':') return std::nullopt;
  return optical::LetterNumber(name[0]);
}

}  // namespace

struct LinuxSystem::Device {
  Device(LinuxKernel& kernel, int descriptor, std::string path, bool exclusive)
      : kernel(kernel), descriptor(descriptor), path(std::move(path)), exclusive(exclusive) {}
  ~Device() { kernel.Close(descriptor); }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  LinuxKernel& kernel;
  const int descriptor;
  const std::string path;
  const bool exclusive;  // opened with O_EXCL: the volume lock
};

void LinuxSystem::Notice(std::set<std::string>& told, const std::string& device,
                         const std::string& text) {
  std::lock_guard<std::mutex> hold(lock);
  if (!told.insert(device).second) return;
  notices << program_invocation_short_name << ": " << text << std::endl;
}

// --- The drive list -------------------------------------------------------------------------

std::uint32_t LinuxSystem::GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) {
  std::set<unsigned> numbers;
  for (const std::string& path : kernel->OpticalDevices()) {
    if (const auto number = optical::NodeNumber(path)) numbers.insert(*number);
  }
  std::string list;
  for (const unsigned number : numbers) {
    list.push_back(optical::LetterOf(number));
    list.append(":\\").push_back('\0');
  }
  const auto needed = static_cast<std::uint32_t>(list.size() + 1);  // and the closing empty string
  if (buffer == nullptr || bufferLength < needed) return needed;
  std::memcpy(buffer, list.data(), list.size());
  buffer[list.size()] = '\0';
  return needed - 1;
}

std::uint32_t LinuxSystem::GetDriveTypeA(const char* rootPathName) {
  if (rootPathName == nullptr || std::strlen(rootPathName) != 3 || rootPathName[2] != '\\') {
    return DriveType::NoRootDir;
  }
  const auto number = LetterNumber(rootPathName);
  if (!number) return DriveType::NoRootDir;
  for (const std::string& path : kernel->OpticalDevices()) {
    if (optical::NodeNumber(path) == number) return DriveType::CdRom;
  }
  return DriveType::NoRootDir;
}

bool LinuxSystem::GetDriveAddress(const char* rootPathName, ScsiAddress& address) {
  const auto number =
      rootPathName != nullptr && std::strlen(rootPathName) == 3 && rootPathName[2] == '\\'
          ? LetterNumber(rootPathName)
          : std::nullopt;
  const auto read = number ? optical::ReadAddress(*kernel, *number) : std::nullopt;
  if (!read) return lasterror::Fail(ErrorCode::FileNotFound);
  address = ScsiAddress{};
  address.Length = sizeof address;
  address.PortNumber = (*read)[0];
  address.PathId = (*read)[1];
  address.TargetId = (*read)[2];
  address.Lun = (*read)[3];
  return true;
}

// --- Devices --------------------------------------------------------------------------------

// Opened without waiting for a medium, so that an empty drive opens too.
Handle LinuxSystem::CreateFileA(const char* fileName) {
  const std::size_t prefix = sizeof kDeviceNamePrefix - 1;
  const bool deviceName = fileName != nullptr && std::strlen(fileName) == prefix + 2 &&
                          std::strncmp(fileName, kDeviceNamePrefix, prefix) == 0;
  const auto number = deviceName ? LetterNumber(fileName + prefix) : std::nullopt;
  if (!number) {
    lasterror::Set(ErrorCode::FileNotFound);
    return InvalidHandleValue;
  }
  const std::string path = optical::NodeOf(*number);
  const int descriptor = kernel->Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    if (descriptor == -EACCES || descriptor == -EPERM) {
      Notice(toldCannotOpen, path,
             "cannot open " + path + ": permission denied; " + std::string(kRunAsRoot));
    }
    lasterror::Set(lasterror::FromErrno(-descriptor));
    return InvalidHandleValue;
  }
  auto device = std::make_shared<Device>(*kernel, descriptor, path, false);
  std::lock_guard<std::mutex> hold(lock);
  const Handle handle = NewHandle();
  devices[handle] = std::move(device);
  return handle;
}

std::shared_ptr<LinuxSystem::Device> LinuxSystem::FindDevice(Handle handle) {
  std::lock_guard<std::mutex> hold(lock);
  const auto found = devices.find(handle);
  return found == devices.end() ? nullptr : found->second;
}

// The device stays open while its call runs, even when another thread closes its handle.
bool LinuxSystem::DeviceIoControl(Handle handle, std::uint32_t ioControlCode, void* inBuffer,
                                  std::uint32_t inBufferSize, void* outBuffer,
                                  std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  const std::shared_ptr<Device> device = FindDevice(handle);
  if (!device) return lasterror::Fail(ErrorCode::InvalidHandle);
  switch (ioControlCode) {
    case ioctl::ScsiGetAddress:
      return QueryAddress(*device, outBuffer, outBufferSize, bytesReturned);
    case ioctl::ScsiPassThroughDirect:
      return PassThrough(*device, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
    case ioctl::FsctlLockVolume:
      return LockVolume(handle, *device);
    case ioctl::FsctlUnlockVolume:
      return device->exclusive || lasterror::Fail(ErrorCode::NotLocked);
    default:  // the storage descriptor query and exclusive access among them
      return lasterror::Fail(ErrorCode::InvalidFunction);
  }
}

// The handle's device is opened again, now with O_EXCL, and the descriptor it had is closed once
// no call runs on it any more. The new open comes first, so that the drive is never without an
// opener (its last close would let the kernel unlock the door it keeps locked for a mounted disc).
bool LinuxSystem::LockVolume(Handle handle, const Device& device) {
  if (device.exclusive) return true;
  const int descriptor = kernel->Open(device.path, O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL);
  if (descriptor == -EBUSY && kernel->Mounted(device.path)) {
    return lasterror::Fail(ErrorCode::DriveLocked);
  }
  if (descriptor < 0) return lasterror::Fail(lasterror::FromErrno(-descriptor));
  auto exclusive = std::make_shared<Device>(*kernel, descriptor, device.path, true);
  std::lock_guard<std::mutex> hold(lock);
  const auto found = devices.find(handle);
  if (found == devices.end()) return lasterror::Fail(ErrorCode::InvalidHandle);  // closed meanwhile
  found->second = std::move(exclusive);
  return true;
}

// The address as lsscsi shows it, [host:channel:id:lun]: port, path, target and lun.
int LinuxSystem::AddressOf(int descriptor, ScsiAddress& address) {
  std::uint32_t idLun = 0;
  int host = 0;
  int error = kernel->GetIdLun(descriptor, idLun);
  if (error == 0) error = kernel->GetBusNumber(descriptor, host);
  if (error != 0) return error;
  address = ScsiAddress{};
  address.Length = sizeof address;
  address.PortNumber = static_cast<std::uint8_t>(host);
  address.PathId = static_cast<std::uint8_t>(idLun >> 16);
  address.TargetId = static_cast<std::uint8_t>(idLun);
  address.Lun = static_cast<std::uint8_t>(idLun >> 8);
  return 0;
}

bool LinuxSystem::QueryAddress(Device& device, void* outBuffer, std::uint32_t outBufferSize,
                               std::uint32_t* bytesReturned) {
  if (outBuffer == nullptr || outBufferSize < sizeof(ScsiAddress)) {
    return lasterror::Fail(ErrorCode::InsufficientBuffer);
  }
  ScsiAddress address{};
  if (const int error = AddressOf(device.descriptor, address); error != 0) {
    return lasterror::Fail(lasterror::FromErrno(error));
  }
  std::memcpy(outBuffer, &address, sizeof address);
  if (bytesReturned) *bytesReturned = sizeof address;
  return true;
}

bool LinuxSystem::PassThrough(Device& device, void* inBuffer, std::uint32_t inBufferSize,
                              void* outBuffer, std::uint32_t outBufferSize,
                              std::uint32_t* bytesReturned) {
  ScsiExchange exchange;
  if (outBuffer == nullptr || !ReadPassThrough(inBuffer, inBufferSize, outBufferSize, exchange)) {
    return lasterror::Fail(ErrorCode::InvalidParameter);
  }
  const SgIoResult result = SendSgIo(*kernel, device.descriptor, exchange, outBuffer);
  if (result.kernelError == EPERM) {
    char command[3];
    std::snprintf(command, sizeof command, "%02X", exchange.cdb[0]);
    Notice(toldRawIoRefused, device.path,
           device.path + " refused command " + command + ": it needs CAP_SYS_RAWIO; " + kRunAsRoot);
  }
  if (result.lastError != 0) return lasterror::Fail(result.lastError);
  if (bytesReturned) *bytesReturned = result.returned;
  return true;
}

}  // namespace movrel::platform
