// The holds on a drive, as Windows keeps them: the named locks by which flashers keep out of each
// other's way, and the volume lock that the file system grants only to the one handle open on a
// volume.
#include <cstdio>
#include <stdexcept>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace sim {

using namespace platform;

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr char kGlobalPrefix[] = "Global\\";

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
    std::lock_guard<std::mutex> hold(lock);
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
  std::lock_guard<std::mutex> hold(lock);
  ++namedLocks[name].handles;
  const Handle handle = NewHandle();
  lockHandles[handle] = name;
  return handle;
}

std::uint32_t SimSystem::WaitForLock(const std::string& name, std::uint32_t milliseconds) {
  std::uint32_t result = WaitResult::Timeout;
  {
    std::lock_guard<std::mutex> hold(lock);
    NamedLock& named = namedLocks[name];
    const std::thread::id me = std::this_thread::get_id();
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
    std::lock_guard<std::mutex> hold(lock);
    const auto handle = lockHandles.find(mutex);
    if (handle == lockHandles.end()) {
      lastError = ErrorCode::InvalidHandle;
      return false;
    }
    NamedLock& named = namedLocks[handle->second];
    if (named.owner != std::this_thread::get_id()) {
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
  std::lock_guard<std::mutex> hold(lock);
  NamedLock& named = namedLocks[lockName];
  named.elsewhere = locked;
  named.abandoned = false;
  if (!locked && named.handles == 0) namedLocks.erase(lockName);
}

void SimSystem::AbandonLockElsewhere(const std::string& name) {
  const std::string lockName = LockName(DriveNamed(name));
  std::lock_guard<std::mutex> hold(lock);
  NamedLock& named = namedLocks[lockName];
  named.elsewhere = true;
  named.abandoned = true;
}

void SimSystem::OpenVolumeElsewhere(const std::string& name) {
  const std::size_t drive = DriveNamed(name);
  std::lock_guard<std::mutex> hold(lock);
  volumesOpenElsewhere.insert(drive);
}

// Granted only to the one handle open on the volume; a machine without volume locks (FailCall
// "FSCTL_LOCK_VOLUME") does not know the request.
bool SimSystem::LockVolume(Handle device, std::size_t drive) {
  const bool known = !CallFails("FSCTL_LOCK_VOLUME");
  bool granted = false;
  {
    std::lock_guard<std::mutex> hold(lock);
    bool alone = volumesOpenElsewhere.count(drive) == 0 && volumeLocks.count(drive) == 0;
    for (const auto& [handle, opened] : devices) {
      if (opened == drive && handle != device) alone = false;
    }
    granted = known && alone;
    if (granted) volumeLocks[drive] = device;
    if (!granted) lastError = known ? ErrorCode::AccessDenied : ErrorCode::InvalidFunction;
  }
  bay->Note("- lock volume " + bay->Config(drive).name + (granted ? "" : " refused"));
  return granted;
}

bool SimSystem::UnlockVolume(Handle device, std::size_t drive) {
  {
    std::lock_guard<std::mutex> hold(lock);
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

std::vector<std::string> SimSystem::ReleaseDevice(Handle device) {
  std::vector<std::string> released;
  std::lock_guard<std::mutex> hold(lock);
  const auto opened = devices.find(device);
  if (opened == devices.end()) return released;
  const std::size_t drive = opened->second;
  const std::string& name = bay->Config(drive).name;
  if (const auto held = volumeLocks.find(drive);
      held != volumeLocks.end() && held->second == device) {
    volumeLocks.erase(held);
    released.push_back("- unlock volume " + name);
  }
  return released;
}

}  // namespace sim
