// The current target: selecting and closing a drive, identifying it with INQUIRY, and handing the
// state to another device for an update run.
#include <cstring>

#include "device/AtapiDevice.h"
#include "device/DeviceName.h"
#include "platform/System.h"

namespace movrel::device {

namespace {
constexpr std::uint8_t kIdentityReplyLength = 96;
constexpr int kVendorAt = 8;
constexpr int kProductAt = 16;
constexpr int kRevisionAt = 32;
constexpr int kVendorLength = 8;
constexpr int kProductLength = 16;
constexpr int kRevisionLength = 4;
// Windows Vista: the CD-ROM class driver's exclusive access.
constexpr std::uint32_t kFirstExclusiveAccess = 6;
// How the exclusive access names its holder.
constexpr char kCallerName[] = "Movrel firmware update";
}  // namespace

bool AtapiDevice::SelectDrive(std::int16_t index) {
  // Only a slot of the table can be selected; "none" and "failed" are not slots.
  if (index < 0 || index >= kMaxDrives) return false;
  if (index == currentIndex) return true;
  if (!IsEntryValid(index)) return false;
  if (deviceHandle != platform::InvalidHandleValue) CloseDrive();

  const DriveEntry& entry = drives[index];
  useAspi = entry.viaAspi != 0;
  currentIndex = index;
  portNumber = entry.portNumber;
  targetId = entry.targetId;
  lun = entry.lun;
  pathId = entry.pathId;
  std::memcpy(vendor, entry.vendor, sizeof vendor);
  std::memcpy(product, entry.product, sizeof product);
  std::memcpy(revision, entry.revision, sizeof revision);

  if (osInfo.IsNT() && !useAspi) {
    deviceHandle = system.CreateFileA(DeviceNameOf(entry.driveRoot).data());
    if (deviceHandle == platform::InvalidHandleValue) {
      currentIndex = -1;
      SetAddress(platform::InvalidHandleValue, -1, -1, -1, -1);
      return false;
    }
  }
  return true;
}

// How many times a refusal of the volume lock is tried again: while other handles are open on the
// volume (Windows), which their programs close in their own time; while another program holds the
// drive exclusively (Linux), which the device manager does for a moment on a media event. A
// mounted disc, and any other refusal, stays.
int AtapiDevice::VolumeLockRetries(std::uint32_t refusal) {
  if (refusal == platform::ErrorCode::AccessDenied) return kVolumeLockAttempts - 1;
  if (refusal == platform::ErrorCode::Busy) return kDriveHeldAttempts - 1;
  return 0;
}

bool AtapiDevice::TakeExclusiveAccess() {
  // Once per opening: the disc check may have taken it before the update.
  if (exclusiveAccessTried) return !driveInUse;
  exclusiveAccessTried = true;
  driveInUse = driveMounted = false;
  if (deviceHandle == platform::InvalidHandleValue) return true;
  std::uint32_t returned = 0;
  for (int attempt = 0;; ++attempt) {
    volumeLocked = system.DeviceIoControl(deviceHandle, platform::ioctl::FsctlLockVolume, nullptr,
                                          0, nullptr, 0, &returned);
    if (volumeLocked) break;
    const std::uint32_t refusal = system.GetLastError();
    if (attempt >= VolumeLockRetries(refusal)) {
      driveMounted = refusal == platform::ErrorCode::DriveLocked;
      driveInUse = driveMounted || refusal == platform::ErrorCode::Busy;
      break;
    }
    system.Sleep(kVolumeLockPauseMilliseconds);
  }
  if (driveInUse) return false;
  if (!osInfo.IsNT() || osInfo.MajorVersion() < kFirstExclusiveAccess) return true;
  platform::CdromExclusiveLock request{};
  request.Access.RequestType = platform::ExclusiveAccess::LockDevice;
  // A mounted file system stays; its requests are kept from the drive like any other handle's.
  request.Access.Flags = platform::ExclusiveAccess::LockIgnoreVolume;
  std::memcpy(request.CallerName, kCallerName, sizeof kCallerName);
  exclusiveAccess = system.DeviceIoControl(deviceHandle, platform::ioctl::CdromExclusiveAccess,
                                           &request, sizeof request, nullptr, 0, &returned);
  return true;
}

void AtapiDevice::CloseDrive() {
  std::uint32_t returned = 0;
  if (exclusiveAccess) {
    platform::CdromExclusiveAccess request{platform::ExclusiveAccess::UnlockDevice, 0};
    system.DeviceIoControl(deviceHandle, platform::ioctl::CdromExclusiveAccess, &request,
                           sizeof request, nullptr, 0, &returned);
    exclusiveAccess = false;
  }
  if (volumeLocked) {
    system.DeviceIoControl(deviceHandle, platform::ioctl::FsctlUnlockVolume, nullptr, 0, nullptr, 0,
                           &returned);
    volumeLocked = false;
  }
  if (deviceHandle != platform::InvalidHandleValue) system.CloseHandle(deviceHandle);
  exclusiveAccessTried = false;
  SetAddress(platform::InvalidHandleValue, -1, -1, -1, -1);
  currentIndex = kNoTarget;
}

bool AtapiDevice::InquireIdentity() {
  std::memset(revision, 0, sizeof revision);
  std::memset(vendor, 0, sizeof vendor);
  std::memset(product, 0, sizeof product);
  if (!Inquiry(0, 0, 0, kIdentityReplyLength, 0)) return false;
  std::memcpy(vendor, inBuffer + kVendorAt, kVendorLength);
  std::memcpy(product, inBuffer + kProductAt, kProductLength);
  std::memcpy(revision, inBuffer + kRevisionAt, kRevisionLength);
  for (int at = kVendorAt; at < kProductAt + kProductLength; ++at) {
    if (inBuffer[at] != 0) return true;
  }
  return false;
}

bool AtapiDevice::IdentifyCurrent() {
  if (currentIndex < 0 || currentIndex >= kMaxDrives) return false;
  if (!InquireIdentityRepeatedly()) return false;
  StoreIdentity(drives[currentIndex]);
  return true;
}

void AtapiDevice::StoreIdentity(DriveEntry& entry) const {
  std::memset(entry.identity, 0, sizeof entry.identity);
  std::memcpy(entry.revision, revision, sizeof entry.revision);
  std::memcpy(entry.vendor, vendor, sizeof entry.vendor);
  std::memcpy(entry.product, product, sizeof entry.product);
  std::memcpy(entry.identity, vendor, kVendorLength);
  std::memcpy(entry.identity + kVendorLength, product, kProductLength);
}

void AtapiDevice::CopyTargetTo(AtapiDevice* other) const {
  if (other == nullptr || other == this) return;
  // The other object's own handle is closed, not lost.
  other->CloseDrive();
  other->commandTimeout = commandTimeout;
  other->portNumber = portNumber;
  other->targetId = targetId;
  other->lun = lun;
  other->pathId = pathId;
  other->useAspi = useAspi;
  other->aspiPresent = aspiPresent;
  other->driveCount = driveCount;
  other->throwOnFailure = throwOnFailure;
  std::memcpy(other->vendor, vendor, sizeof vendor);
  std::memcpy(other->product, product, sizeof product);
  std::memcpy(other->revision, revision, sizeof revision);
  std::memcpy(other->drives, drives, sizeof drives);
  other->deviceHandle = platform::InvalidHandleValue;
  other->currentIndex = kNoTarget;
}

}  // namespace movrel::device
