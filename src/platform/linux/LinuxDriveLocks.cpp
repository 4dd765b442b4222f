// The drives' named locks: flock(2) on the device node of the drive whose SCSI address the name
// gives, a descriptor of its own for each lock. Only that node is opened: an open sends the drive
// the kernel's media checks, which must not reach another drive in the middle of its update.
#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"

namespace platform {

namespace {

constexpr char kGlobalPrefix[] = "Global\\";
// How often a wait looks again at a lock held elsewhere, and how long at most the device manager's
// hold is waited out.
constexpr std::uint32_t kLockPollMilliseconds = 50;
constexpr std::uint32_t kDeviceManagerMilliseconds = 5000;

// The address that "Movrel-<port>-<path>-<target>-<lun>" names, with or without "Global\".
std::optional<ScsiAddress> NamedAddress(const char* name) {
  if (name == nullptr) return std::nullopt;
  if (std::strncmp(name, kGlobalPrefix, sizeof kGlobalPrefix - 1) == 0) {
    name += sizeof kGlobalPrefix - 1;
  }
  unsigned port = 0, path = 0, target = 0, lun = 0;
  int end = 0;
  if (std::sscanf(name, "Movrel-%3u-%3u-%3u-%3u%n", &port, &path, &target, &lun, &end) != 4 ||
      name[end] != '\0' || port > 255 || path > 255 || target > 255 || lun > 255) {
    return std::nullopt;
  }
  ScsiAddress address{};
  address.Length = sizeof address;
  address.PortNumber = static_cast<std::uint8_t>(port);
  address.PathId = static_cast<std::uint8_t>(path);
  address.TargetId = static_cast<std::uint8_t>(target);
  address.Lun = static_cast<std::uint8_t>(lun);
  return address;
}

bool SameAddress(const ScsiAddress& a, const ScsiAddress& b) {
  return a.PortNumber == b.PortNumber && a.PathId == b.PathId && a.TargetId == b.TargetId &&
         a.Lun == b.Lun;
}

}  // namespace

struct LinuxSystem::NodeLock {
  NodeLock(LinuxKernel& kernel, int descriptor) : kernel(kernel), descriptor(descriptor) {}
  ~NodeLock() { kernel.Close(descriptor); }  // and with it the lock
  NodeLock(const NodeLock&) = delete;
  NodeLock& operator=(const NodeLock&) = delete;

  LinuxKernel& kernel;
  const int descriptor;
  std::mutex holding;
  bool held = false;
};

// The node is opened read-only: the device manager re-reads a drive whose node was open for
// writing when it is closed.
Handle LinuxSystem::CreateMutexA(const char* name) {
  const std::optional<ScsiAddress> wanted = NamedAddress(name);
  if (!wanted) {
    lasterror::Set(lasterror::kInvalidParameter);
    return 0;
  }
  const std::string path =
      kernel->NodeAt(wanted->PortNumber, wanted->PathId, wanted->TargetId, wanted->Lun);
  const int descriptor =
      path.empty() ? -ENOENT : kernel->Open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    lasterror::Set(lasterror::FromErrno(-descriptor));
    return 0;
  }
  // The node may have gone to another drive since sysfs named it.
  ScsiAddress address{};
  if (AddressOf(descriptor, address) != 0 || !SameAddress(address, *wanted)) {
    kernel->Close(descriptor);
    lasterror::Set(lasterror::kFileNotFound);
    return 0;
  }
  auto nodeLock = std::make_shared<NodeLock>(*kernel, descriptor);
  std::lock_guard<std::mutex> hold(lock);
  const Handle handle = NewHandle();
  nodeLocks[handle] = std::move(nodeLock);
  return handle;
}

std::shared_ptr<LinuxSystem::NodeLock> LinuxSystem::FindLock(Handle handle) {
  std::lock_guard<std::mutex> hold(lock);
  const auto found = nodeLocks.find(handle);
  return found == nodeLocks.end() ? nullptr : found->second;
}

// Looks again while the node's lock is held elsewhere, until the time is up; and while it is only
// shared (the device manager processing an event of the drive, never another flasher) for up to
// kDeviceManagerMilliseconds whatever the time.
std::uint32_t LinuxSystem::WaitForLock(NodeLock& nodeLock, std::uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(milliseconds);
  const Clock::time_point managerDeadline =
      std::max(deadline, start + std::chrono::milliseconds(kDeviceManagerMilliseconds));
  std::lock_guard<std::mutex> hold(nodeLock.holding);
  for (;;) {
    const int error = kernel->Flock(nodeLock.descriptor, LOCK_EX | LOCK_NB);
    if (error == 0) {
      nodeLock.held = true;
      return WaitResult::Object0;
    }
    if (error != EWOULDBLOCK) {
      lasterror::Set(lasterror::FromErrno(error));
      return WaitResult::Failed;
    }
    // A shared lock is had only while nobody holds the lock exclusively.
    const bool shared = kernel->Flock(nodeLock.descriptor, LOCK_SH | LOCK_NB) == 0;
    if (shared) kernel->Flock(nodeLock.descriptor, LOCK_UN);
    if (Clock::now() >= (shared ? managerDeadline : deadline)) return WaitResult::Timeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMilliseconds));
  }
}

bool LinuxSystem::ReleaseMutex(Handle handle) {
  const std::shared_ptr<NodeLock> nodeLock = FindLock(handle);
  if (!nodeLock) return lasterror::Fail(lasterror::kInvalidHandle);
  std::lock_guard<std::mutex> hold(nodeLock->holding);
  if (!nodeLock->held) return lasterror::Fail(ErrorCode::NotOwner);
  kernel->Flock(nodeLock->descriptor, LOCK_UN);
  nodeLock->held = false;
  return true;
}

}  // namespace platform
