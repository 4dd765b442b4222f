// What the program relies on from every backend of the operating-system seam, run over each
// backend this build has. A backend here provides a machine with an optical drive at address
// 0-0-0-0 whose tray is closed and empty, no ASPI manager, and a root letter that names nothing.
// Where the seam's contract says that backends differ, the backend says which way it goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/JoinableThread.h"
#include "platform/System.h"
#include "sim/SimSystem.h"

#ifdef MOVREL_LINUX_BACKEND
#include <iostream>

#include "FakeKernel.h"
#include "ServedHelper.h"
#include "platform/linux/LinuxSystem.h"
#endif
#ifdef _WIN32
#include <windows.h>
//
#include "platform/win32/Win32System.h"
#endif

namespace movrel::test {

namespace {

using namespace platform;

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void OnAnotherThread(Body body) {
  platform::JoinableThread other;
  other.Start(body);
  other.Join();
}

// What a volume lock is on a backend: Windows grants it to the one handle open on the volume and
// then lets no other open succeed; Linux reopens the device with O_EXCL, which other opens do not
// hinder and which hinders no other open, only another exclusive one.
enum class VolumeLock { OnlyHandle, ExclusiveOpen };

struct SimBackend {
  // Windows 7, as Wine says it is.
  static std::unique_ptr<System> Machine() {
    sim::BayConfig bay;
    bay.drives.emplace_back();  // D:\, ready, no medium
    auto machine = std::make_unique<sim::SimSystem>(bay);
    machine->SetVersion(6, 1);
    return machine;
  }
  static constexpr char kOpticalRoot[] = "D:\\";
  static constexpr char kOpticalDevice[] = "\\\\.\\D:";
  static constexpr char kMissingRoot[] = "Q:\\";
  static constexpr char kMissingDevice[] = "\\\\.\\Q:";
  static constexpr std::uint32_t kTickGranularity = 0;
  static constexpr VolumeLock kVolumeLock = VolumeLock::OnlyHandle;
  static bool ExclusiveAccessKnown(System&) { return true; }
  static bool Emulated() { return false; }
};

#ifdef MOVREL_LINUX_BACKEND
// The Linux backend on a kernel with one optical device, /dev/sr0, whose files are real: its locks
// are the kernel's own.
struct LinuxBackend {
  static std::unique_ptr<System> Machine() {
    auto kernel = std::make_unique<FakeKernel>();
    kernel->drives.push_back({"/dev/sr0"});
    return std::make_unique<LinuxSystem>(std::move(kernel), std::cerr);
  }
  static constexpr char kOpticalRoot[] = "D:\\";
  static constexpr char kOpticalDevice[] = "\\\\.\\D:";
  static constexpr char kMissingRoot[] = "Q:\\";
  static constexpr char kMissingDevice[] = "\\\\.\\Q:";
  static constexpr std::uint32_t kTickGranularity = 0;
  static constexpr VolumeLock kVolumeLock = VolumeLock::ExclusiveOpen;
  static bool ExclusiveAccessKnown(System&) { return false; }
  static bool Emulated() { return false; }
};

// The Linux backend of a flasher run by the person: its drives, /dev/sr0 at 0:0:0:0 and /dev/sr1
// at 0:0:1:0, served by the drive helper.
struct HelperBackend : LinuxBackend {
  static std::unique_ptr<System> Machine() {
    auto served = std::make_shared<ServedHelper>();
    served->kernel.drives.push_back({"/dev/sr0"});
    served->kernel.drives.push_back({"/dev/sr1", 0, 1});
    served->kernel.drives.back().rdev = 1;
    return std::make_unique<LinuxSystem>(
        ServedHelper::Connect(served, std::make_unique<FakeKernel>()), std::cerr);
  }
};
using Backends = ::testing::Types<SimBackend, LinuxBackend, HelperBackend>;
#elif defined(_WIN32)
// The Windows backend on the machine the suite runs on, which must have an optical drive D: and
// no drive Q: (tests/wine sets such a machine up under Wine).
struct Win32Backend {
  static std::unique_ptr<System> Machine() { return std::make_unique<Win32System>(); }
  static constexpr char kOpticalRoot[] = "D:\\";
  static constexpr char kOpticalDevice[] = "\\\\.\\D:";
  static constexpr char kMissingRoot[] = "Q:\\";
  static constexpr char kMissingDevice[] = "\\\\.\\Q:";
  // The tick count moves in steps of the system's clock interrupt, 10 to 16 ms.
  static constexpr std::uint32_t kTickGranularity = 16;
  static constexpr VolumeLock kVolumeLock = VolumeLock::OnlyHandle;
  static bool ExclusiveAccessKnown(System& system) {
    OsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    return system.GetVersionExA(info) && info.dwPlatformId == VerPlatform::Win32NT &&
           info.dwMajorVersion >= 6;
  }
  // Under Wine a drive backed by a folder has no SCSI address, a volume lock is granted to every
  // handle, the CD-ROM class driver's exclusive access does not exist and the event log keeps
  // nothing: those cases need a real Windows.
  static bool Emulated() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }
};
using Backends = ::testing::Types<SimBackend, Win32Backend>;
#else
using Backends = ::testing::Types<SimBackend>;
#endif

template <class Backend>
class SystemConformance : public ::testing::Test {
 protected:
  std::unique_ptr<System> machine = Backend::Machine();
  System& system = *machine;
};

TYPED_TEST_SUITE(SystemConformance, Backends);

TYPED_TEST(SystemConformance, VersionNamesOneOfTheTwoFamilies) {
  OsVersionInfo info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(this->system.GetVersionExA(info));
  EXPECT_TRUE(info.dwPlatformId == VerPlatform::Win32NT ||
              info.dwPlatformId == VerPlatform::Win32Windows);
}

TYPED_TEST(SystemConformance, PrivilegeStepsAnswerAsTheRestartExpects) {
  Handle token = 0;
  ASSERT_TRUE(
      this->system.OpenProcessToken(TokenAccess::AdjustPrivileges | TokenAccess::Query, token));
  Luid luid{};
  EXPECT_FALSE(this->system.LookupPrivilegeValueA(nullptr, "NoSuchPrivilege", luid));
  EXPECT_NE(this->system.GetLastError(), ErrorCode::Success);
  ASSERT_TRUE(this->system.LookupPrivilegeValueA(nullptr, Privilege::ShutdownName, luid));
  platform::TokenPrivileges privileges{1, {{luid, Privilege::Enabled}}};
  ASSERT_TRUE(this->system.AdjustTokenPrivileges(token, false, privileges));
  const std::uint32_t held = this->system.GetLastError();
  EXPECT_TRUE(held == ErrorCode::Success || held == ErrorCode::NotAllAssigned) << held;
  EXPECT_TRUE(this->system.CloseHandle(token));
  EXPECT_FALSE(this->system.CloseHandle(token));
  EXPECT_FALSE(this->system.AdjustTokenPrivileges(token, false, privileges));
}

// The threads meet through an atomic alone: starting or joining a thread may itself set the last
// error on a real system.
TYPED_TEST(SystemConformance, LastErrorBelongsToTheCallingThread) {
  std::atomic<int> phase{0};
  std::uint32_t fresh = 1, afterFailure = 0;
  platform::JoinableThread other;
  other.Start([&] {
    fresh = this->system.GetLastError();
    while (phase.load() != 1) std::this_thread::yield();
    std::uint32_t returned = 0;
    this->system.DeviceIoControl(InvalidHandleValue, ioctl::ScsiGetAddress, nullptr, 0, nullptr, 0,
                                 &returned);
    afterFailure = this->system.GetLastError();
    phase.store(2);
  });
  EXPECT_EQ(this->system.CreateFileA(TypeParam::kMissingDevice), InvalidHandleValue);
  const std::uint32_t mine = this->system.GetLastError();
  phase.store(1);
  while (phase.load() != 2) std::this_thread::yield();
  const std::uint32_t mineAfter = this->system.GetLastError();
  other.Join();
  EXPECT_NE(mine, ErrorCode::Success);
  EXPECT_EQ(fresh, ErrorCode::Success);
  EXPECT_NE(afterFailure, ErrorCode::Success);
  EXPECT_NE(afterFailure, mine);
  EXPECT_EQ(mineAfter, mine);
}

TYPED_TEST(SystemConformance, TimeNeverGoesBackAndSleepAdvancesIt) {
  std::int64_t frequency = 0, before = 0, after = 0;
  ASSERT_TRUE(this->system.QueryPerformanceFrequency(frequency));
  EXPECT_GT(frequency, 0);
  ASSERT_TRUE(this->system.QueryPerformanceCounter(before));
  const std::uint64_t ticksBefore = this->system.GetTickCount64();
  this->system.Sleep(50);
  const std::uint64_t ticks = this->system.GetTickCount64() - ticksBefore;
  ASSERT_TRUE(this->system.QueryPerformanceCounter(after));
  EXPECT_GE(after - before, frequency * 50 / 1000);
  EXPECT_GE(ticks, 50u - TypeParam::kTickGranularity);
  // And not more than the counter measured around them, give or take a step of the tick count
  // and the millisecond it rounds to: the counter and its frequency agree (the pause before
  // programming and the waits of 60 and 120 seconds are measured with them), and ticks are
  // milliseconds. A loaded machine may sleep longer, but not five seconds for fifty milliseconds.
  EXPECT_LE(ticks, (after - before) * 1000 / frequency + TypeParam::kTickGranularity + 1);
  EXPECT_LT(after - before, frequency * 5);
}

TYPED_TEST(SystemConformance, DriveRootsListTheOpticalDriveAndATooSmallBufferIsLeftAlone) {
  const std::uint32_t needed = this->system.GetLogicalDriveStringsA(0, nullptr);
  ASSERT_GT(needed, 4u);
  std::vector<char> small(needed - 1, 'x');
  EXPECT_EQ(this->system.GetLogicalDriveStringsA(needed - 1, small.data()), needed);
  EXPECT_EQ(std::string(small.begin(), small.end()), std::string(needed - 1, 'x'));

  std::vector<char> list(needed, 'x');
  ASSERT_EQ(this->system.GetLogicalDriveStringsA(needed, list.data()), needed - 1);
  EXPECT_EQ(list[needed - 1], '\0');
  EXPECT_EQ(list[needed - 2], '\0');
  std::vector<std::string> roots;
  for (const char* root = list.data(); *root != '\0'; root += std::strlen(root) + 1) {
    roots.emplace_back(root);
  }
  EXPECT_NE(std::find(roots.begin(), roots.end(), TypeParam::kOpticalRoot), roots.end());
  EXPECT_EQ(this->system.GetDriveTypeA(TypeParam::kOpticalRoot), DriveType::CdRom);
  EXPECT_EQ(this->system.GetDriveTypeA(TypeParam::kMissingRoot), DriveType::NoRootDir);
}

TYPED_TEST(SystemConformance, HeapGivesZeroedMemory) {
  const Handle heap = this->system.GetProcessHeap();
  ASSERT_NE(heap, 0);
  auto* memory =
      static_cast<unsigned char*>(this->system.HeapAlloc(heap, HeapFlags::ZeroFill, 65536));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(std::count(memory, memory + 65536, 0), 65536);
  EXPECT_TRUE(this->system.HeapFree(heap, 0, memory));
}

TYPED_TEST(SystemConformance, DevicesOpenByNameAndAnswerForTheirAddressUntilClosed) {
  if (TypeParam::Emulated()) GTEST_SKIP() << "no SCSI address on an emulated machine";
  EXPECT_EQ(this->system.CreateFileA(TypeParam::kMissingDevice), InvalidHandleValue);
  EXPECT_NE(this->system.GetLastError(), ErrorCode::Success);
  const Handle device = this->system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_NE(device, InvalidHandleValue);
  ScsiAddress address{};
  std::uint32_t returned = 0;
  EXPECT_TRUE(this->system.DeviceIoControl(device, ioctl::ScsiGetAddress, nullptr, 0, &address,
                                           sizeof address, &returned));
  EXPECT_EQ(address.Length, sizeof address);
  EXPECT_TRUE(this->system.CloseHandle(device));
  EXPECT_FALSE(this->system.DeviceIoControl(device, ioctl::ScsiGetAddress, nullptr, 0, &address,
                                            sizeof address, &returned));
  EXPECT_NE(this->system.GetLastError(), ErrorCode::Success);
}

TYPED_TEST(SystemConformance, WithoutAnAspiManagerItsLibraryDoesNotLoad) {
  EXPECT_EQ(this->system.LoadLibraryA("WNASPI32"), 0);
}

TYPED_TEST(SystemConformance, EventsTimeOutUntilSignalledAndOnlyOpenOnesAreWaitedOn) {
  const Handle unsignalled = this->system.CreateEventA(true, false);
  const Handle signalled = this->system.CreateEventA(true, true);
  ASSERT_NE(unsignalled, 0);
  ASSERT_NE(signalled, 0);
  EXPECT_EQ(this->system.WaitForSingleObject(unsignalled, 10), WaitResult::Timeout);
  EXPECT_EQ(this->system.WaitForSingleObject(signalled, 10), WaitResult::Object0);
  EXPECT_TRUE(this->system.CloseHandle(unsignalled));
  EXPECT_TRUE(this->system.CloseHandle(signalled));
  EXPECT_EQ(this->system.WaitForSingleObject(signalled, 0), WaitResult::Failed);

  // A manual-reset event stays signalled through its waits; an auto-reset one lets one wait
  // through and is unsignalled again.
  const Handle manual = this->system.CreateEventA(true, true);
  const Handle automatic = this->system.CreateEventA(false, true);
  for (int wait = 0; wait < 2; ++wait) {
    EXPECT_EQ(this->system.WaitForSingleObject(manual, 0), WaitResult::Object0) << wait;
  }
  EXPECT_EQ(this->system.WaitForSingleObject(automatic, 0), WaitResult::Object0);
  EXPECT_EQ(this->system.WaitForSingleObject(automatic, 0), WaitResult::Timeout);
  EXPECT_TRUE(this->system.CloseHandle(manual));
  EXPECT_TRUE(this->system.CloseHandle(automatic));
}

// A volume lock on Windows is the one handle's open on the volume: refused while another is open,
// and while held no other open succeeds.
TYPED_TEST(SystemConformance, AVolumeLockIsGrantedOnlyToTheOneHandleOpenOnIt) {
  if (TypeParam::kVolumeLock != VolumeLock::OnlyHandle) GTEST_SKIP() << "an exclusive open";
  System& system = this->system;
  std::uint32_t returned = 0;
  const auto control = [&](Handle device, std::uint32_t code) {
    return system.DeviceIoControl(device, code, nullptr, 0, nullptr, 0, &returned);
  };
  const Handle holder = system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_NE(holder, InvalidHandleValue);
  if (TypeParam::Emulated()) GTEST_SKIP() << "an emulated machine grants every volume lock";
  const Handle other = system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_NE(other, InvalidHandleValue);
  EXPECT_FALSE(control(holder, ioctl::FsctlLockVolume));
  EXPECT_EQ(system.GetLastError(), ErrorCode::AccessDenied);
  EXPECT_TRUE(system.CloseHandle(other));
  ASSERT_TRUE(control(holder, ioctl::FsctlLockVolume));
  EXPECT_EQ(system.CreateFileA(TypeParam::kOpticalDevice), InvalidHandleValue);
  EXPECT_EQ(system.GetLastError(), ErrorCode::AccessDenied);

  EXPECT_TRUE(control(holder, ioctl::FsctlUnlockVolume));
  EXPECT_FALSE(control(holder, ioctl::FsctlUnlockVolume));
  const Handle between = system.CreateFileA(TypeParam::kOpticalDevice);
  EXPECT_NE(between, InvalidHandleValue);
  EXPECT_TRUE(system.CloseHandle(between));

  ASSERT_TRUE(control(holder, ioctl::FsctlLockVolume));
  EXPECT_TRUE(system.CloseHandle(holder));  // the lock ends with its handle
  const Handle after = system.CreateFileA(TypeParam::kOpticalDevice);
  EXPECT_NE(after, InvalidHandleValue);
  EXPECT_TRUE(system.CloseHandle(after));
}

// A volume lock on Linux is an exclusive open: granted beside other opens, one holder at a time,
// and held until its handle closes.
TYPED_TEST(SystemConformance, AVolumeLockIsAnExclusiveOpenHeldUntilItsHandleCloses) {
  if (TypeParam::kVolumeLock != VolumeLock::ExclusiveOpen) GTEST_SKIP() << "the only handle";
  System& system = this->system;
  std::uint32_t returned = 0;
  const auto control = [&](Handle device, std::uint32_t code) {
    return system.DeviceIoControl(device, code, nullptr, 0, nullptr, 0, &returned);
  };
  const Handle holder = system.CreateFileA(TypeParam::kOpticalDevice);
  const Handle other = system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_NE(holder, InvalidHandleValue);
  ASSERT_NE(other, InvalidHandleValue);
  EXPECT_FALSE(control(holder, ioctl::FsctlUnlockVolume));
  EXPECT_EQ(system.GetLastError(), ErrorCode::NotLocked);
  ASSERT_TRUE(control(holder, ioctl::FsctlLockVolume));
  const Handle opened = system.CreateFileA(TypeParam::kOpticalDevice);
  EXPECT_NE(opened, InvalidHandleValue);
  EXPECT_TRUE(system.CloseHandle(opened));
  EXPECT_FALSE(control(other, ioctl::FsctlLockVolume));
  EXPECT_EQ(system.GetLastError(), ErrorCode::Busy);
  EXPECT_TRUE(control(holder, ioctl::FsctlUnlockVolume));
  EXPECT_FALSE(control(other, ioctl::FsctlLockVolume));  // until the holder's close
  EXPECT_TRUE(system.CloseHandle(holder));
  EXPECT_TRUE(control(other, ioctl::FsctlLockVolume));
  EXPECT_TRUE(system.CloseHandle(other));
}

// The CD-ROM class driver's exclusive access: one handle at a time, where the system knows it.
TYPED_TEST(SystemConformance, ExclusiveAccessServesOneHandleUntilItLetsGo) {
  System& system = this->system;
  std::uint32_t returned = 0;
  CdromExclusiveLock lock{{ExclusiveAccess::LockDevice, ExclusiveAccess::LockIgnoreVolume}, "Test"};
  CdromExclusiveAccess unlock{ExclusiveAccess::UnlockDevice, 0};
  const auto request = [&](Handle device, auto& input) {
    return system.DeviceIoControl(device, ioctl::CdromExclusiveAccess, &input, sizeof input,
                                  nullptr, 0, &returned);
  };
  const Handle holder = system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_NE(holder, InvalidHandleValue);
  if (!TypeParam::ExclusiveAccessKnown(system)) {
    EXPECT_FALSE(request(holder, lock));
    EXPECT_TRUE(system.CloseHandle(holder));
    return;
  }
  if (TypeParam::Emulated()) GTEST_SKIP() << "no CD-ROM class driver on an emulated machine";
  const Handle other = system.CreateFileA(TypeParam::kOpticalDevice);
  ASSERT_TRUE(request(holder, lock));
  EXPECT_FALSE(request(other, lock));
  EXPECT_EQ(system.GetLastError(), ErrorCode::AccessDenied);
  EXPECT_FALSE(request(other, unlock));
  EXPECT_TRUE(request(holder, unlock));
  ASSERT_TRUE(request(other, lock));
  EXPECT_TRUE(system.CloseHandle(other));  // exclusive access ends with its handle
  EXPECT_TRUE(request(holder, lock));
  EXPECT_TRUE(system.CloseHandle(holder));
}

// A drive's lock keeps every other holder out, another handle of this process as another
// process, until it is let go of; each address has its own.
TYPED_TEST(SystemConformance, ADriveLockKeepsOtherHoldersOutUntilLetGo) {
  System& system = this->system;
  ScsiAddress address{sizeof(ScsiAddress), 0, 0, 0, 0};
  ScsiAddress next{sizeof(ScsiAddress), 0, 0, 1, 0};
  Handle mine = 0, other = 0, nextLock = 0;
  ASSERT_EQ(system.LockDrive(address, mine), DriveLockState::Held);
  EXPECT_EQ(system.LockDrive(address, other), DriveLockState::HeldElsewhere);
  DriveLockState otherThread = DriveLockState::Held;
  OnAnotherThread([&] { otherThread = system.LockDrive(address, other); });
  EXPECT_EQ(otherThread, DriveLockState::HeldElsewhere);
  ASSERT_EQ(system.LockDrive(next, nextLock), DriveLockState::Held);
  EXPECT_TRUE(system.UnlockDrive(nextLock));

  EXPECT_TRUE(system.UnlockDrive(mine));
  EXPECT_FALSE(system.UnlockDrive(mine));
  EXPECT_EQ(system.GetLastError(), ErrorCode::InvalidHandle);
  OnAnotherThread([&] {
    otherThread = system.LockDrive(address, other);
    if (otherThread == DriveLockState::Held) system.UnlockDrive(other);
  });
  EXPECT_EQ(otherThread, DriveLockState::Held);
}

TYPED_TEST(SystemConformance, TheSystemIsKeptAwakeUntilLetGo) {
  EXPECT_TRUE(this->system.HoldSystemAwake("conformance"));
  EXPECT_TRUE(this->system.HoldSystemAwake("conformance"));  // held already
  EXPECT_TRUE(this->system.ReleaseSystemAwake());
  // Let go of, there is no hold until the next run keeps the system awake again.
  EXPECT_FALSE(this->system.ReleaseSystemAwake());
  EXPECT_TRUE(this->system.HoldSystemAwake("conformance"));
  EXPECT_TRUE(this->system.ReleaseSystemAwake());
}

TYPED_TEST(SystemConformance, UpdateRecordsGoToTheSystemsLog) {
  if (TypeParam::Emulated()) GTEST_SKIP() << "no event log on an emulated machine";
  UpdateRecordFields records[2];
  records[0] = {'D', "V", "P", "1.00", "1.01", 0, "", true, false, 0, 0};
  records[1] = {'\0', "V", "P", "1.00", "", 1, "", false, true, 3, 0x0C};
  EXPECT_TRUE(this->system.RecordUpdates(records, 2));
  EXPECT_TRUE(this->system.RecordUpdates(records, 0));
}

// The window's thread and the workers use the seam at once, each on its own device handle.
TYPED_TEST(SystemConformance, ThreadsUseTheirOwnDevicesAtOnce) {
  std::atomic<int> failures{0};
  platform::JoinableThread threads[4];
  for (auto& thread : threads) {
    thread.Start([&] {
      for (int i = 0; i < 25; ++i) {
        const Handle device = this->system.CreateFileA(TypeParam::kOpticalDevice);
        ScsiAddress address{};
        std::uint32_t returned = 0;
        const bool answered = this->system.DeviceIoControl(device, ioctl::ScsiGetAddress, nullptr,
                                                           0, &address, sizeof address, &returned);
        if (device == InvalidHandleValue || (!answered && !TypeParam::Emulated()) ||
            !this->system.CloseHandle(device)) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.Join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace movrel::test
