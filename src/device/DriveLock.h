// A drive's named lock, by which flashers on one machine keep out of each other's way: one per
// drive, named after its address, "Movrel-<port>-<path>-<target>-<lun>", in the namespace that
// every session shares where the system has one. Looking at it, taking it and letting go of it
// send the drive nothing. Only another flasher's hold keeps a drive from an update; the update
// does without a lock that the system cannot give (the call refused, no device at that address).
#pragma once

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace platform {
class OSInfo;
class System;
}  // namespace platform

namespace movrel {

struct DriveEntry;

class DriveLock {
 public:
  // A look, not a wait: a lock held elsewhere is another flasher's.
  static constexpr std::uint32_t kWaitMilliseconds = 0;

  enum class State { Free, Held, HeldElsewhere };

  DriveLock() = default;
  ~DriveLock() { Release(); }
  DriveLock(const DriveLock&) = delete;
  DriveLock& operator=(const DriveLock&) = delete;

  static std::string Name(const platform::OSInfo& os, const DriveEntry& entry);
  // Whether another flasher holds the drive's lock: the lock is taken and let go of at once.
  static bool HeldElsewhere(platform::System& system, const platform::OSInfo& os,
                            const DriveEntry& entry);

  // Takes the drive's lock for the calling thread, which lets go of it (Release) when it is done.
  // A lock that a flasher left behind when it ended is taken too.
  State Take(platform::System& system, const platform::OSInfo& os, const DriveEntry& entry);
  void Release();

 private:
  platform::System* system = nullptr;
  platform::Handle handle = 0;
  State state = State::Free;
};

}  // namespace movrel
