// Two flashers on one drive, each a process of its own on the Linux backend, whose kernels share
// real files: the drive's lock is locked for real.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "FakeKernel.h"
#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "platform/linux/LinuxSystem.h"

namespace movrel::test {

namespace {

using device::AtapiDevice;
using platform::LinuxSystem;

std::unique_ptr<FakeKernel> KernelWithDrive(const std::string& files) {
  auto kernel = std::make_unique<FakeKernel>(files);
  kernel->drives.push_back({"/dev/sr0"});
  return kernel;
}

// The first flasher: its run holds the drive's lock until the parent says it is done. Tells the
// parent 'L' once it holds the lock.
[[noreturn]] void HoldDrive(const std::string& files, int ready, int done) {
  std::ostringstream quiet;
  LinuxSystem system(KernelWithDrive(files), quiet);
  platform::Handle lock = 0;
  const bool locked =
      system.LockDrive(platform::ScsiAddress{sizeof(platform::ScsiAddress), 0, 0, 0, 0}, lock) ==
      platform::DriveLockState::Held;
  const char told = locked ? 'L' : 'X';
  char go = 0;
  const bool talked = ::write(ready, &told, 1) == 1 && ::read(done, &go, 1) == 1;
  std::_Exit(talked ? 0 : 1);  // the lock ends with the process
}

TEST(DriveLockProcesses, DiscoveryInAnotherProcessLeavesTheLockedDriveAloneUntilItIsLetGo) {
  const FakeKernel files;  // the machine's real files, which both flashers share
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) HoldDrive(files.Real(""), ready[1], done[0]);
  char told = 0;
  ASSERT_EQ(::read(ready[0], &told, 1), 1);
  EXPECT_EQ(told, 'L');

  auto owned = KernelWithDrive(files.Real(""));
  FakeKernel& kernel = *owned;
  std::ostringstream notices;
  LinuxSystem system(std::move(owned), notices);
  QuietApplication application;
  {
    AtapiDevice second(system, application);
    EXPECT_EQ(second.DriveCount(), 0);
    ASSERT_EQ(second.BusyDriveCount(), 1);
    EXPECT_STREQ(second.BusyDriveAt(0).driveRoot, "D:\\");
  }
  EXPECT_EQ(kernel.SgIoCount(), 0);
  EXPECT_THAT(kernel.Opened(), ::testing::Not(::testing::Contains("/dev/sr0")));

  ASSERT_EQ(::write(done[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(AtapiDevice(system, application).DriveCount(), 1);
  EXPECT_GT(kernel.SgIoCount(), 0);
}

}  // namespace
}  // namespace movrel::test
