// The holds on a drive, as Windows keeps them: the drive locks by which flashers keep out of each
// other's way, the volume lock that the file system grants only to the one handle open on a
// volume, and the CD-ROM class driver's exclusive access.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

using namespace platform;

namespace {

// The hold another program has: no handle of the program's is 0.
constexpr Handle kOtherProcess = 0;

}  // namespace

std::size_t SimSystem::DriveNamed(const std::string& name) const {
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    if (bay->Config(drive).name == name) return drive;
  }
  throw std::invalid_argument("no simulated drive named " + name);
}

namespace {

std::uint32_t Key(int port, int path, int target, int lun) {
  return static_cast<std::uint32_t>(port & 0xFF) << 24 |
         static_cast<std::uint32_t>(path & 0xFF) << 16 |
         static_cast<std::uint32_t>(target & 0xFF) << 8 | static_cast<std::uint32_t>(lun & 0xFF);
}

}  // namespace

std::uint32_t SimSystem::AddressKey(std::size_t drive) const {
  const auto& address = bay->Config(drive).address;
  return Key(address[0], address[1], address[2], address[3]);
}

std::optional<std::size_t> SimSystem::DriveAt(std::uint32_t address) const {
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    if (AddressKey(drive) == address) return drive;
  }
  return std::nullopt;
}

DriveLockState SimSystem::LockDrive(const ScsiAddress& address, Handle& handle) {
  if (CallFails("LockDrive")) {
    Failed(platform::ErrorCode::InvalidParameter);
    return DriveLockState::Unavailable;
  }
  const std::uint32_t key = Key(address.PortNumber, address.PathId, address.TargetId, address.Lun);
  DriveLockState result = DriveLockState::HeldElsewhere;
  bool abandoned = false;
  {
    platform::Hold hold(lock);
    DriveHold& held = driveLocks[key];
    if (held.elsewhere && held.abandoned) {
      held = DriveHold{};
      abandoned = true;
    }
    if (!held.elsewhere && held.holder == 0) {
      handle = held.holder = NewHandle();
      driveLockHandles[handle] = key;
      result = DriveLockState::Held;
    }
  }
  if (const auto drive = DriveAt(key)) {
    const char* outcome = result == DriveLockState::HeldElsewhere ? " held elsewhere"
                          : abandoned                             ? " abandoned"
                                                                  : "";
    bay->Note("- lock " + bay->Config(*drive).name + outcome);
  }
  return result;
}

bool SimSystem::UnlockDrive(Handle handle) {
  std::uint32_t key = 0;
  {
    platform::Hold hold(lock);
    const auto held = driveLockHandles.find(handle);
    if (held == driveLockHandles.end()) {
      lastError = ErrorCode::InvalidHandle;
      return false;
    }
    key = held->second;
    driveLockHandles.erase(held);
    driveLocks[key].holder = 0;
  }
  if (const auto drive = DriveAt(key)) bay->Note("- unlock " + bay->Config(*drive).name);
  return true;
}

bool SimSystem::GetDriveAddress(const char*, ScsiAddress&) {
  return Failed(ErrorCode::InvalidFunction);
}

void SimSystem::LockElsewhere(const std::string& name, bool locked) {
  const std::uint32_t key = AddressKey(DriveNamed(name));
  platform::Hold hold(lock);
  DriveHold& held = driveLocks[key];
  held.elsewhere = locked;
  held.abandoned = false;
}

void SimSystem::AbandonLockElsewhere(const std::string& name) {
  const std::uint32_t key = AddressKey(DriveNamed(name));
  platform::Hold hold(lock);
  DriveHold& held = driveLocks[key];
  held.elsewhere = true;
  held.abandoned = true;
}

void SimSystem::OpenVolumeElsewhere(const std::string& name) {
  const std::size_t drive = DriveNamed(name);
  platform::Hold hold(lock);
  volumesOpenElsewhere.insert(drive);
}

void SimSystem::MountVolume(const std::string& name) {
  const std::size_t drive = DriveNamed(name);
  platform::Hold hold(lock);
  volumesMounted.insert(drive);
}

void SimSystem::HoldDriveElsewhere(const std::string& name, double seconds) {
  const std::size_t drive = DriveNamed(name);
  const auto until = clock.NowNanoseconds() + static_cast<std::int64_t>(seconds * 1e9);
  platform::Hold hold(lock);
  drivesHeldUntil[drive] = until;
}

void SimSystem::HoldExclusiveAccessElsewhere(const std::string& name) {
  const std::size_t drive = DriveNamed(name);
  platform::Hold hold(lock);
  exclusive[drive] = kOtherProcess;
}

// Granted only to the one handle open on the volume, and never while the volume is mounted the
// way Linux keeps it (MountVolume); a machine without volume locks (FailCall "FSCTL_LOCK_VOLUME")
// does not know the request.
bool SimSystem::LockVolume(Handle device, std::size_t drive) {
  const bool known = !CallFails("FSCTL_LOCK_VOLUME");
  const std::int64_t now = clock.NowNanoseconds();
  bool granted = false;
  {
    platform::Hold hold(lock);
    bool alone = volumesOpenElsewhere.count(drive) == 0 && volumeLocks.count(drive) == 0;
    for (const auto& [handle, opened] : devices) {
      if (opened == drive && handle != device) alone = false;
    }
    const bool mounted = volumesMounted.count(drive) != 0;
    const auto heldUntil = drivesHeldUntil.find(drive);
    const bool held = heldUntil != drivesHeldUntil.end() && now < heldUntil->second;
    granted = known && alone && !mounted && !held;
    if (granted) volumeLocks[drive] = device;
    if (!granted) {
      lastError = !known    ? ErrorCode::InvalidFunction
                  : mounted ? ErrorCode::DriveLocked
                  : held    ? ErrorCode::Busy
                            : ErrorCode::AccessDenied;
    }
  }
  bay->Note("- lock volume " + bay->Config(drive).name + (granted ? "" : " refused"));
  return granted;
}

bool SimSystem::UnlockVolume(Handle device, std::size_t drive) {
  {
    platform::Hold hold(lock);
    const auto held = volumeLocks.find(drive);
    if (held == volumeLocks.end() || held->second != device) {
      lastError = ErrorCode::NotLocked;
      return false;
    }
    volumeLocks.erase(held);
  }
  bay->Note("- unlock volume " + bay->Config(drive).name);
  return true;
}

// Known from NT 6 on (an earlier system refuses it as unknown). Without LockIgnoreVolume a drive
// holding a disc (a mounted file system) is refused.
bool SimSystem::ExclusiveAccess(Handle device, std::size_t drive, const void* inBuffer,
                                std::uint32_t inBufferSize) {
  const std::string& name = bay->Config(drive).name;
  bool known = false;
  {
    platform::Hold hold(lock);
    known = family == Family::NT && versionMajor >= 6;
  }
  if (!known) {
    bay->Note("- exclusive access " + name + " refused");
    return Failed(ErrorCode::InvalidFunction);
  }
  CdromExclusiveLock request{};
  if (inBuffer == nullptr || inBufferSize < sizeof(CdromExclusiveAccess)) {
    return Failed(platform::ErrorCode::InvalidParameter);
  }
  std::memcpy(&request, inBuffer, std::min<std::size_t>(inBufferSize, sizeof request));
  if (request.Access.RequestType == ExclusiveAccess::UnlockDevice) {
    {
      platform::Hold hold(lock);
      const auto held = exclusive.find(drive);
      if (held == exclusive.end() || held->second != device) {
        lastError = ErrorCode::InvalidFunction;
        return false;
      }
      exclusive.erase(held);
    }
    bay->Note("- end exclusive access " + name);
    return true;
  }
  if (request.Access.RequestType != ExclusiveAccess::LockDevice ||
      inBufferSize < sizeof(CdromExclusiveLock) ||
      std::memchr(request.CallerName, '\0', sizeof request.CallerName) == nullptr) {
    return Failed(platform::ErrorCode::InvalidParameter);
  }
  std::uint32_t refusal = 0;
  if ((request.Access.Flags & ExclusiveAccess::LockIgnoreVolume) == 0 && Drive(name).medium) {
    refusal = platform::ErrorCode::BadCommand;
  }
  {
    platform::Hold hold(lock);
    if (refusal == 0 && exclusive.count(drive) != 0) refusal = ErrorCode::AccessDenied;
    if (refusal == 0) exclusive[drive] = device;
    if (refusal != 0) lastError = refusal;
  }
  bay->Note("- exclusive access " + name + (refusal == 0 ? "" : " refused"));
  return refusal == 0;
}

std::vector<std::string> SimSystem::ReleaseDevice(Handle device) {
  std::vector<std::string> released;
  platform::Hold hold(lock);
  const auto opened = devices.find(device);
  if (opened == devices.end()) return released;
  const std::size_t drive = opened->second;
  const std::string& name = bay->Config(drive).name;
  if (const auto held = exclusive.find(drive); held != exclusive.end() && held->second == device) {
    exclusive.erase(held);
    released.push_back("- end exclusive access " + name);
  }
  if (const auto held = volumeLocks.find(drive);
      held != volumeLocks.end() && held->second == device) {
    volumeLocks.erase(held);
    released.push_back("- unlock volume " + name);
  }
  return released;
}

}  // namespace movrel::sim
