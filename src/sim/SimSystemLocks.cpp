// The holds on a drive, as Windows keeps them: the named locks by which flashers keep out of each
// other's way, the volume lock that the file system grants only to the one handle open on a
// volume, and the CD-ROM class driver's exclusive access.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace sim {

using namespace platform;

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorBadCommand = 22;  // a file system is mounted
constexpr char kGlobalPrefix[] = "Global\\";
// The hold another program has: no handle of the program's is 0.
constexpr Handle kOtherProcess = 0;

}  // namespace

std::size_t SimSystem::DriveNamed(const std::string& name) const {
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    if (bay->Config(drive).name == name) return drive;
  }
  throw std::invalid_argument("no simulated drive named " + name);
}

std::string SimSystem::LockName(std::size_t drive) const {
  const auto& address = bay->Config(drive).address;
  bool global = false;
  {
    platform::Hold hold(lock);
    global = family == Family::NT && versionMajor >= 5;
  }
  char name[64];
  std::snprintf(name, sizeof name, "%sMovrel-%d-%d-%d-%d", global ? kGlobalPrefix : "", address[0],
                address[1], address[2], address[3]);
  return name;
}

std::optional<std::size_t> SimSystem::DriveOfLock(const std::string& name) const {
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    if (LockName(drive) == name) return drive;
  }
  return std::nullopt;
}

Handle SimSystem::CreateMutexA(const char* name) {
  if (name == nullptr || CallFails("CreateMutexA")) {
    Failed(kErrorInvalidParameter);
    return 0;
  }
  platform::Hold hold(lock);
  ++namedLocks[name].handles;
  const Handle handle = NewHandle();
  lockHandles[handle] = name;
  return handle;
}

std::uint32_t SimSystem::WaitForLock(const std::string& name, std::uint32_t milliseconds) {
  std::uint32_t result = WaitResult::Timeout;
  {
    platform::Hold hold(lock);
    NamedLock& named = namedLocks[name];
    const platform::ThreadId me = platform::CurrentThreadId();
    if (named.elsewhere && named.abandoned) {
      named = NamedLock{named.handles, me, 1};
      result = WaitResult::Abandoned;
    } else if (!named.elsewhere && (!named.owner || *named.owner == me)) {
      named.owner = me;
      ++named.count;
      result = WaitResult::Object0;
    }
  }
  if (result == WaitResult::Timeout) clock.Sleep(milliseconds);
  if (const auto drive = DriveOfLock(name)) {
    const char* outcome = result == WaitResult::Object0     ? ""
                          : result == WaitResult::Abandoned ? " abandoned"
                                                            : " held elsewhere";
    bay->Note("- lock " + bay->Config(*drive).name + outcome);
  }
  return result;
}

bool SimSystem::ReleaseMutex(Handle mutex) {
  std::string name;
  {
    platform::Hold hold(lock);
    const auto handle = lockHandles.find(mutex);
    if (handle == lockHandles.end()) {
      lastError = ErrorCode::InvalidHandle;
      return false;
    }
    NamedLock& named = namedLocks[handle->second];
    if (named.owner != platform::CurrentThreadId()) {
      lastError = ErrorCode::NotOwner;
      return false;
    }
    if (--named.count != 0) return true;
    named.owner.reset();
    name = handle->second;
  }
  if (const auto drive = DriveOfLock(name)) bay->Note("- unlock " + bay->Config(*drive).name);
  return true;
}

void SimSystem::LockElsewhere(const std::string& name, bool locked) {
  const std::string lockName = LockName(DriveNamed(name));
  platform::Hold hold(lock);
  NamedLock& named = namedLocks[lockName];
  named.elsewhere = locked;
  named.abandoned = false;
  if (!locked && named.handles == 0) namedLocks.erase(lockName);
}

void SimSystem::AbandonLockElsewhere(const std::string& name) {
  const std::string lockName = LockName(DriveNamed(name));
  platform::Hold hold(lock);
  NamedLock& named = namedLocks[lockName];
  named.elsewhere = true;
  named.abandoned = true;
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
    return Failed(kErrorInvalidParameter);
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
    return Failed(kErrorInvalidParameter);
  }
  std::uint32_t refusal = 0;
  if ((request.Access.Flags & ExclusiveAccess::LockIgnoreVolume) == 0 && Drive(name).medium) {
    refusal = kErrorBadCommand;
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

}  // namespace sim
