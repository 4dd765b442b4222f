// The drives' locks as files: flock(2) on a file named after the drive's address, in a directory
// that only root may write. The flasher's drive lock and the drive helper's open both take it.
#pragma once

#include <string>

#include "platform/WinTypes.h"

namespace movrel::platform {

class LinuxKernel;

inline constexpr char kDriveLockDirectory[] = "/run/movrel";

// /run/movrel/<host>:<channel>:<id>:<lun>.
std::string DriveLockPath(const ScsiAddress& address);

// Takes the drive's lock, without waiting: 0 with `descriptor` the open lock file that holds it
// until it is closed, or the kernel's error number (EWOULDBLOCK: another open of the file holds
// it; ELOOP: the lock file is a symbolic link; EACCES: the directory is not root's alone).
int LockDriveFile(LinuxKernel& kernel, const ScsiAddress& address, int& descriptor);

}  // namespace movrel::platform
