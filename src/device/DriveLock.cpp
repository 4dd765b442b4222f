#include "device/DriveLock.h"

#include <cstdio>

#include "device/AtapiDevice.h"
#include "platform/OSInfo.h"
#include "platform/System.h"

namespace movrel {

namespace {
// Windows 2000 and later: the namespace that every session shares.
constexpr std::uint32_t kFirstGlobalNamespace = 5;
}  // namespace

std::string DriveLock::Name(const platform::OSInfo& os, const DriveEntry& entry) {
  const bool global = os.IsNT() && os.MajorVersion() >= kFirstGlobalNamespace;
  char name[48];
  std::snprintf(name, sizeof name, "%sMovrel-%d-%d-%d-%d", global ? "Global\\" : "",
                entry.portNumber, entry.pathId, entry.targetId, entry.lun);
  return name;
}

bool DriveLock::HeldElsewhere(platform::System& system, const platform::OSInfo& os,
                              const DriveEntry& entry) {
  DriveLock look;
  return look.Take(system, os, entry) == State::HeldElsewhere;
}

DriveLock::State DriveLock::Take(platform::System& on, const platform::OSInfo& os,
                                 const DriveEntry& entry) {
  Release();
  system = &on;
  handle = system->CreateMutexA(Name(os, entry).c_str());
  if (handle == 0) return state;
  switch (system->WaitForSingleObject(handle, kWaitMilliseconds)) {
    case platform::WaitResult::Object0:
    case platform::WaitResult::Abandoned:
      state = State::Held;
      break;
    case platform::WaitResult::Timeout:
      state = State::HeldElsewhere;
      break;
    default:
      break;
  }
  return state;
}

void DriveLock::Release() {
  if (handle == 0) return;
  if (state == State::Held) system->ReleaseMutex(handle);
  system->CloseHandle(handle);
  handle = 0;
  state = State::Free;
}

}  // namespace movrel
