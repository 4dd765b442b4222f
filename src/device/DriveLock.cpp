#include "device/DriveLock.h"

#include "device/AtapiDevice.h"
#include "platform/System.h"

namespace movrel::device {

bool DriveLock::HeldElsewhere(platform::System& system, const DriveEntry& entry) {
  DriveLock look;
  return look.Take(system, entry) == State::HeldElsewhere;
}

DriveLock::State DriveLock::Take(platform::System& on, const DriveEntry& entry) {
  Release();
  system = &on;
  platform::ScsiAddress address{};
  address.Length = sizeof address;
  address.PortNumber = static_cast<std::uint8_t>(entry.portNumber);
  address.PathId = static_cast<std::uint8_t>(entry.pathId);
  address.TargetId = static_cast<std::uint8_t>(entry.targetId);
  address.Lun = static_cast<std::uint8_t>(entry.lun);
  switch (system->LockDrive(address, handle)) {
    case platform::DriveLockState::Held:
      state = State::Held;
      break;
    case platform::DriveLockState::HeldElsewhere:
      state = State::HeldElsewhere;
      break;
    case platform::DriveLockState::Unavailable:
      break;
  }
  return state;
}

void DriveLock::Release() {
  if (state == State::Held) system->UnlockDrive(handle);
  handle = 0;
  state = State::Free;
}

}  // namespace movrel::device
