// The drives' locks: flock(2) on a file named after the drive's address, in a directory that only
// root may write. No device is opened: an open sends the drive the kernel's media checks, and may
// wait behind another flasher's command.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/DriveLockFile.h"
#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"

namespace movrel::platform {

namespace {

constexpr unsigned kLockDirectoryMode = 0755;

// The directory is made by the first flasher; one that is there already is taken only when root
// owns it and nobody else may write it. A symbolic link is not (its mode is 0777, symlink(7)), and
// a file in its place holds no lock file (ENOTDIR).
int LockDirectoryError(LinuxKernel& kernel) {
  const int made = kernel.MakeDirectory(kDriveLockDirectory, kLockDirectoryMode);
  if (made != 0 && made != EEXIST) return made;
  unsigned owner = 0, mode = 0;
  if (const int error = kernel.Status(kDriveLockDirectory, owner, mode); error != 0) return error;
  if (owner != 0 || (mode & (S_IWGRP | S_IWOTH)) != 0) return EACCES;
  return 0;
}

}  // namespace

std::string DriveLockPath(const ScsiAddress& address) {
  return std::string(kDriveLockDirectory) + "/" + std::to_string(address.PortNumber) + ":" +
         std::to_string(address.PathId) + ":" + std::to_string(address.TargetId) + ":" +
         std::to_string(address.Lun);
}

int LockDriveFile(LinuxKernel& kernel, const ScsiAddress& address, int& descriptor) {
  if (const int error = LockDirectoryError(kernel); error != 0) return error;
  const int opened =
      kernel.Open(DriveLockPath(address), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC);
  if (opened < 0) return -opened;
  if (const int error = kernel.Flock(opened, LOCK_EX | LOCK_NB); error != 0) {
    kernel.Close(opened);
    return error;
  }
  descriptor = opened;
  return 0;
}

int LinuxKernel::LockDrive(const ScsiAddress& address, int& descriptor) {
  return LockDriveFile(*this, address, descriptor);
}

struct LinuxSystem::DriveLock {
  DriveLock(LinuxKernel& kernel, int descriptor) : kernel(kernel), descriptor(descriptor) {}
  ~DriveLock() { kernel.Close(descriptor); }  // and with it the lock
  DriveLock(const DriveLock&) = delete;
  DriveLock& operator=(const DriveLock&) = delete;

  LinuxKernel& kernel;
  const int descriptor;
};

DriveLockState LinuxSystem::LockDrive(const ScsiAddress& address, Handle& handle) {
  int descriptor = -1;
  const int error = kernel->LockDrive(address, descriptor);
  if (error == EWOULDBLOCK) return DriveLockState::HeldElsewhere;
  if (error != 0) {
    const std::string path = DriveLockPath(address);
    Notice(toldNoLock, kDriveLockDirectory,
           "cannot lock " + path + " (" + std::strerror(error) +
               "): other flashers are not kept from the drive; " + kDriveLockDirectory +
               " must be a directory of root's that only root may write");
    lasterror::Set(error == ELOOP ? ErrorCode::AccessDenied : lasterror::FromErrno(error));
    return DriveLockState::Unavailable;
  }
  auto lock = std::make_shared<DriveLock>(*kernel, descriptor);
  std::lock_guard<std::mutex> hold(this->lock);
  handle = NewHandle();
  driveLocks[handle] = std::move(lock);
  return DriveLockState::Held;
}

bool LinuxSystem::UnlockDrive(Handle handle) {
  std::shared_ptr<DriveLock> lock;  // closed outside the lock
  std::lock_guard<std::mutex> hold(this->lock);
  const auto found = driveLocks.find(handle);
  if (found == driveLocks.end()) return lasterror::Fail(ErrorCode::InvalidHandle);
  lock = std::move(found->second);
  driveLocks.erase(found);
  return true;
}

}  // namespace movrel::platform
