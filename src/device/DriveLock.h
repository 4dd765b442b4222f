// A drive's lock, by which flashers on one machine keep out of each other's way: one per drive,
// after its address (System::LockDrive). Looking at it, taking it and letting go of it send the
// drive nothing. Only another flasher's hold keeps a drive from an update; the update does without
// a lock that the system cannot give.
#pragma once

#include "platform/WinTypes.h"

namespace movrel::platform {
class System;
}  // namespace movrel::platform

namespace movrel::device {

struct DriveEntry;

class DriveLock {
 public:
  enum class State { Free, Held, HeldElsewhere };

  DriveLock() = default;
  ~DriveLock() { Release(); }
  DriveLock(const DriveLock&) = delete;
  DriveLock& operator=(const DriveLock&) = delete;

  // Whether another flasher holds the drive's lock: the lock is taken and let go of at once.
  static bool HeldElsewhere(platform::System& system, const DriveEntry& entry);

  // Takes the drive's lock for the calling thread, which lets go of it (Release) when it is done.
  // A lock that a flasher left behind when it ended is taken too.
  State Take(platform::System& system, const DriveEntry& entry);
  void Release();

 private:
  platform::System* system = nullptr;
  platform::Handle handle = 0;
  State state = State::Free;
};

}  // namespace movrel::device
