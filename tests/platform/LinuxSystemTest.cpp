// The Linux backend over a made-up kernel: the roots and devices of /dev/srN, the SCSI address,
// the pass-through as SG_IO and its outcome, the notices, the restart, the inhibitor and the
// journal.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstddef>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FakeKernel.h"
#include "platform/PassThrough.h"
#include "platform/linux/LinuxSystem.h"

namespace movrel::test {

using platform::DriveLockState;
namespace DriveType = platform::DriveType;
namespace ErrorCode = platform::ErrorCode;
namespace ExitFlags = platform::ExitFlags;
using platform::Handle;
using platform::InvalidHandleValue;
using platform::LinuxSystem;
using platform::Luid;
using platform::PassThroughRequest;
namespace Privilege = platform::Privilege;
using platform::ScsiAddress;
namespace ScsiDataDirection = platform::ScsiDataDirection;
using platform::ScsiPassThroughDirect;
using platform::System;
namespace TokenAccess = platform::TokenAccess;
using platform::UpdateRecordFields;
namespace WaitResult = platform::WaitResult;
namespace ioctl = platform::ioctl;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint32_t kSize = sizeof(PassThroughRequest);
constexpr std::uint32_t kSenseAt = offsetof(PassThroughRequest, senseArea);

class LinuxSystemTest : public ::testing::Test {
 protected:
  std::unique_ptr<FakeKernel> owned = std::make_unique<FakeKernel>();
  FakeKernel& kernel = *owned;
  std::ostringstream notices;
  std::unique_ptr<LinuxSystem> system;

  // The machine, once the kernel is as the test wants it.
  LinuxSystem& Machine() {
    if (!system) system = std::make_unique<LinuxSystem>(std::move(owned), notices);
    return *system;
  }

  // A well-formed request of the program: a 12-byte command, 24 bytes of sense area.
  static PassThroughRequest Request(std::uint8_t direction, void* data, std::uint32_t length,
                                    std::uint32_t timeout = 108000) {
    PassThroughRequest request{};
    request.sptd.Length = sizeof(ScsiPassThroughDirect);
    request.sptd.CdbLength = 12;
    request.sptd.SenseInfoLength = 24;
    request.sptd.DataIn = direction;
    request.sptd.DataTransferLength = length;
    request.sptd.TimeOutValue = timeout;
    request.sptd.DataBuffer = data;
    request.sptd.SenseInfoOffset = kSenseAt;
    request.sptd.Cdb[0] = 0x3B;
    request.sptd.Cdb[11] = 0x80;
    return request;
  }

  bool Send(Handle device, PassThroughRequest& request, std::uint32_t* returned = nullptr) {
    return Machine().DeviceIoControl(device, ioctl::ScsiPassThroughDirect, &request, kSize,
                                     &request, kSize, returned);
  }

  Handle OpenD() {
    kernel.drives.push_back({"/dev/sr0"});
    return Machine().CreateFileA("\\\\.\\D:");
  }
};

TEST_F(LinuxSystemTest, RootsAreTheDevicesByNumberFromD) {
  kernel.drives = {{"/dev/sr1"}, {"/dev/sr0"}, {"/dev/sr3"}, {"/dev/sr23"}, {"/dev/srx"}};
  char list[16];
  ASSERT_EQ(Machine().GetLogicalDriveStringsA(sizeof list, list), 12u);
  EXPECT_EQ(std::string(list, 13), std::string("D:\\\0E:\\\0G:\\\0\0", 13));

  for (const char* root : {"D:\\", "e:\\", "G:\\"}) {
    EXPECT_EQ(system->GetDriveTypeA(root), DriveType::CdRom) << root;
  }
  for (const char* root : {"F:\\", "C:\\", "Z:\\", "D:", "D:\\x", ""}) {
    EXPECT_EQ(system->GetDriveTypeA(root), DriveType::NoRootDir) << root;
  }

  const Handle device = system->CreateFileA("\\\\.\\G:");
  ASSERT_NE(device, InvalidHandleValue);
  EXPECT_EQ(system->CreateFileA("\\\\.\\C:"), InvalidHandleValue);  // no device is tried
  EXPECT_THAT(kernel.Opened(), ElementsAre("/dev/sr3"));
  EXPECT_EQ(kernel.LastOpenFlags() & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK);
  EXPECT_TRUE(system->CloseHandle(device));
  EXPECT_EQ(kernel.OpenDescriptors(), 0);
}

TEST_F(LinuxSystemTest, NoDrivesGiveAnEmptyList) {
  char list[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(Machine().GetLogicalDriveStringsA(0, nullptr), 1u);
  EXPECT_EQ(system->GetLogicalDriveStringsA(sizeof list, list), 0u);
  EXPECT_EQ(list[0], '\0');
}

TEST_F(LinuxSystemTest, AddressIsTheKernelsHostChannelIdLun) {
  kernel.drives = {{"/dev/sr0", 0, 5 | 1 << 8 | 2 << 16 | 7u << 24, 9}, {"/dev/sr1"}};
  kernel.drives[1].addressError = ENOTTY;
  const Handle device = Machine().CreateFileA("\\\\.\\D:");
  ScsiAddress address{};
  std::uint32_t returned = 0;
  ASSERT_TRUE(system->DeviceIoControl(device, ioctl::ScsiGetAddress, nullptr, 0, &address,
                                      sizeof address, &returned));
  EXPECT_EQ(returned, sizeof address);
  EXPECT_EQ(address.Length, sizeof address);
  EXPECT_EQ(address.PortNumber, 9);
  EXPECT_EQ(address.PathId, 2);
  EXPECT_EQ(address.TargetId, 5);
  EXPECT_EQ(address.Lun, 1);

  const Handle refusing = system->CreateFileA("\\\\.\\E:");
  EXPECT_FALSE(system->DeviceIoControl(refusing, ioctl::ScsiGetAddress, nullptr, 0, &address,
                                       sizeof address, &returned));
  EXPECT_NE(system->GetLastError(), ErrorCode::Success);
}

// A drive's address comes from sysfs and its lock is flock on a file after the address in a
// directory the first flasher makes: no device is opened for either.
TEST_F(LinuxSystemTest, DriveLocksAreFilesAfterTheSysfsAddressAndOpenNoDevice) {
  kernel.drives = {{"/dev/sr0", 0, 0, 0}, {"/dev/sr1", 0, 3 | 1u << 16, 2}};
  kernel.drives[0].addressError = ENOTTY;
  ScsiAddress address{};
  EXPECT_FALSE(Machine().GetDriveAddress("D:\\", address));
  EXPECT_EQ(system->GetLastError(), ErrorCode::FileNotFound);
  ASSERT_TRUE(system->GetDriveAddress("E:\\", address));
  EXPECT_EQ(address.PortNumber, 2);
  EXPECT_EQ(address.PathId, 1);
  EXPECT_EQ(address.TargetId, 3);
  EXPECT_EQ(address.Lun, 0);

  Handle mine = 0, second = 0;
  ASSERT_EQ(system->LockDrive(address, mine), DriveLockState::Held);
  EXPECT_EQ(kernel.LastOpenFlags() & (O_NOFOLLOW | O_CLOEXEC), O_NOFOLLOW | O_CLOEXEC);
  struct stat directory {};
  ASSERT_EQ(::stat(kernel.Real("/run/movrel").c_str(), &directory), 0);
  EXPECT_EQ(directory.st_mode & ~0755u, unsigned{S_IFDIR});  // 0755 less the umask
  const int otherProcess = ::open(kernel.Real("/run/movrel/2:1:3:0").c_str(), O_RDONLY);
  EXPECT_EQ(::flock(otherProcess, LOCK_EX | LOCK_NB), -1);
  EXPECT_TRUE(system->UnlockDrive(mine));
  ASSERT_EQ(::flock(otherProcess, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(system->LockDrive(address, second), DriveLockState::HeldElsewhere);
  ::close(otherProcess);
  ASSERT_EQ(system->LockDrive(address, second), DriveLockState::Held);
  EXPECT_TRUE(system->UnlockDrive(second));
  for (const std::string& path : kernel.Opened())
    EXPECT_EQ(path.rfind("/dev/", 0), std::string::npos);
  EXPECT_EQ(kernel.OpenDescriptors(), 0);
  EXPECT_EQ(notices.str(), "");
}

// A lock directory that others may write, or a lock file that is a link, gives no lock: the
// update goes on without one, and the person is told once.
TEST_F(LinuxSystemTest, ALockDirectoryOthersMayWriteGivesNoLock) {
  struct Row {
    const char* name;
    std::function<void(FakeKernel&)> prepare;
  };
  const auto directory = [](FakeKernel& kernel, mode_t mode) {
    ::mkdir(kernel.Real("/run/movrel").c_str(), 0755);
    ::chmod(kernel.Real("/run/movrel").c_str(), mode);
  };
  const Row rows[] = {
      {"another user's",
       [&](FakeKernel& k) { directory(k, 0755), k.owners["/run/movrel"] = 1000; }},
      {"group-writable", [&](FakeKernel& k) { directory(k, 0775); }},
      {"world-writable", [&](FakeKernel& k) { directory(k, 01777); }},
      {"a link to a directory",
       [&](FakeKernel& k) {
         directory(k, 0755);
         ::rename(k.Real("/run/movrel").c_str(), k.Real("/run/elsewhere").c_str());
         ::symlink("elsewhere", k.Real("/run/movrel").c_str());
       }},
      {"a lock file that is a link",
       [&](FakeKernel& k) {
         directory(k, 0755);
         ::close(::open(k.Real("/run/held").c_str(), O_CREAT | O_RDWR, 0600));
         ::symlink("../held", k.Real("/run/movrel/0:0:0:0").c_str());
       }},
  };
  for (const Row& row : rows) {
    auto owned = std::make_unique<FakeKernel>();
    row.prepare(*owned);
    std::ostringstream told;
    LinuxSystem machine(std::move(owned), told);
    ScsiAddress address{};
    Handle lock = 0;
    EXPECT_EQ(machine.LockDrive(address, lock), DriveLockState::Unavailable) << row.name;
    EXPECT_EQ(machine.GetLastError(), ErrorCode::AccessDenied) << row.name;
    EXPECT_EQ(machine.LockDrive(address, lock), DriveLockState::Unavailable) << row.name;
    EXPECT_THAT(told.str(), HasSubstr("cannot lock /run/movrel/0:0:0:0")) << row.name;
    EXPECT_EQ(told.str().find('\n'), told.str().size() - 1) << row.name;  // once
  }
}

// How one request goes to SG_IO: the data phase and the time-out.
struct Translation {
  const char* name;
  std::uint8_t direction;
  bool buffer;
  std::uint32_t length;
  std::uint32_t timeoutSeconds;
  int sgDirection;
  unsigned sgTimeout;
};

TEST_F(LinuxSystemTest, RequestsBecomeSgIoWithTheirDataPhaseAndTimeOut) {
  const Translation rows[] = {
      {"in", ScsiDataDirection::In, true, 96, 108000, SG_DXFER_FROM_DEV, 108000000},
      {"out", ScsiDataDirection::Out, true, 16384, 30, SG_DXFER_TO_DEV, 30000},
      {"no data", ScsiDataDirection::Unspecified, false, 0, 1, SG_DXFER_NONE, 1000},
      {"in without a buffer", ScsiDataDirection::In, false, 0, 1, SG_DXFER_NONE, 1000},
      {"out without a buffer", ScsiDataDirection::Out, false, 0, 1, SG_DXFER_NONE, 1000},
      {"unspecified with a buffer", ScsiDataDirection::Unspecified, true, 8, 1, SG_DXFER_NONE,
       1000},
      {"no time-out", ScsiDataDirection::In, true, 96, 0, SG_DXFER_FROM_DEV, 1},
      {"longest kept", ScsiDataDirection::In, true, 96, 2147483, SG_DXFER_FROM_DEV, 2147483000},
      {"past the longest", ScsiDataDirection::In, true, 96, 2147484, SG_DXFER_FROM_DEV, 0x7FFFFFFF},
      {"largest", ScsiDataDirection::In, true, 96, 0xFFFFFFFF, SG_DXFER_FROM_DEV, 0x7FFFFFFF},
  };
  const Handle device = OpenD();
  std::uint8_t data[16384];
  for (const Translation& row : rows) {
    SCOPED_TRACE(row.name);
    PassThroughRequest request =
        Request(row.direction, row.buffer ? data : nullptr, row.length, row.timeoutSeconds);
    ASSERT_TRUE(Send(device, request));
    const FakeKernel::Sent sent = kernel.LastSent();
    EXPECT_EQ(sent.interfaceId, 'S');
    EXPECT_EQ(sent.direction, row.sgDirection);
    const bool moves = row.sgDirection != SG_DXFER_NONE;
    EXPECT_EQ(sent.dataLength, moves ? row.length : 0u);
    EXPECT_EQ(sent.data, moves ? data : nullptr);
    EXPECT_EQ(sent.timeout, row.sgTimeout);
    EXPECT_EQ(sent.commandLength, 12u);
    EXPECT_EQ(sent.command[0], 0x3B);
    EXPECT_EQ(sent.command[11], 0x80);
    EXPECT_EQ(sent.maxSense, 32u);
  }
}

// What the caller gets from each outcome of SG_IO, for a request of 96 bytes from the drive.
struct Outcome {
  const char* name;
  FakeKernel::Answer answer;
  bool answered;
  std::uint8_t status = 0;
  std::vector<std::uint8_t> area = {};  // the sense area's first bytes afterwards; the rest 0
  std::uint32_t transferred = 96;       // DataTransferLength afterwards
};

TEST_F(LinuxSystemTest, SgIoOutcomesComeBackAsThePassThroughReportsThem) {
  std::vector<std::uint8_t> sense(32);  // fixed format, then bytes that tell where they went
  for (std::size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<std::uint8_t>(0x70 + i);
  const auto first = [&sense](std::size_t count) {
    return std::vector<std::uint8_t>(sense.begin(), sense.begin() + static_cast<long>(count));
  };
  const std::vector<std::uint8_t> descriptor{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
  std::vector<std::uint8_t> converted(18, 0);
  converted[0] = 0x70;
  converted[2] = 0x05;
  converted[7] = 10;
  converted[12] = 0x20;
  const Outcome rows[] = {
      {"good", {}, true},
      {"check condition", {0, 0x02, 0, 0x08, sense}, true, 0x02, first(24), 96},
      {"check condition, sense not flagged", {0, 0x02, 0, 0, sense}, true, 0x02, first(24), 96},
      {"check condition, short sense", {0, 0x02, 0, 0x08, first(18)}, true, 0x02, first(18), 96},
      {"check condition, descriptor sense",
       {0, 0x02, 0, 0x08, descriptor, 96},
       true,
       0x02,
       converted,
       0},
      {"check condition, vendor-specific sense",
       {0, 0x02, 0, 0x08, {0x7F, 0x05, 0x20, 0x00}},
       false},
      {"check condition without sense", {0, 0x02, 0, 0x08, {}}, false},
      {"good, a short reply", {0, 0, 0, 0, {}, 40}, true, 0, {}, 56},
      {"good, an empty reply", {0, 0, 0, 0, {}, 96}, true, 0, {}, 0},
      {"good, a residue beyond the request", {0, 0, 0, 0, {}, 1000}, true, 0, {}, 0},
      {"good, a negative residue", {0, 0, 0, 0, {}, -4}, true, 0, {}, 96},
      {"busy", {0, 0x08, 0, 0, {}}, false},
      {"no connection", {0, 0, 0x01, 0, {}}, false},
      {"host time-out", {0, 0, 0x03, 0, {}}, false},
      {"host error with sense", {0, 0x02, 0x07, 0x08, sense}, false},
      {"driver time-out", {0, 0, 0, 0x06, {}}, false},
      {"driver error with sense", {0, 0x02, 0, 0x0C, sense}, false},
      {"ioctl failed", {EIO, 0, 0, 0, {}}, false},
      {"refused by the command filter", {EPERM, 0, 0, 0, {}}, false},
  };
  const Handle device = OpenD();
  std::uint8_t data[96];
  for (const Outcome& row : rows) {
    SCOPED_TRACE(row.name);
    kernel.answer = row.answer;
    PassThroughRequest request = Request(ScsiDataDirection::In, data, sizeof data);
    std::uint32_t returned = 99;
    ASSERT_EQ(Send(device, request, &returned), row.answered);
    if (!row.answered) {
      EXPECT_NE(Machine().GetLastError(), ErrorCode::Success);
      EXPECT_EQ(returned, 0u);
      continue;
    }
    EXPECT_EQ(returned, sizeof(ScsiPassThroughDirect));
    EXPECT_EQ(request.sptd.ScsiStatus, row.status);
    EXPECT_EQ(request.sptd.DataTransferLength, row.transferred);
    const std::vector<std::uint8_t> area(request.senseArea, request.senseArea + 32);
    std::vector<std::uint8_t> expected(32, 0);
    std::copy(row.area.begin(), row.area.end(), expected.begin());
    EXPECT_EQ(area, expected);
  }
}

// The volume lock is the device opened again with O_EXCL: the block layer refuses it for a
// mounted disc and for a second exclusive opener, and the handle's commands go to the new open.
TEST_F(LinuxSystemTest, TheVolumeLockIsAnExclusiveOpenThatAMountedDiscRefuses) {
  for (const bool mounted : {false, true}) {
    SCOPED_TRACE(mounted ? "mounted" : "not mounted");
    kernel.drives = {{"/dev/sr0"}};
    kernel.drives[0].mounted = mounted;
    const Handle device = Machine().CreateFileA("\\\\.\\D:");
    const Handle other = Machine().CreateFileA("\\\\.\\D:");  // the window's own stays open
    std::uint32_t returned = 0;
    EXPECT_FALSE(Machine().DeviceIoControl(device, ioctl::FsctlUnlockVolume, nullptr, 0, nullptr, 0,
                                           &returned));
    EXPECT_EQ(Machine().GetLastError(), ErrorCode::NotLocked);
    const int before = kernel.OpenDescriptors();
    ASSERT_EQ(Machine().DeviceIoControl(device, ioctl::FsctlLockVolume, nullptr, 0, nullptr, 0,
                                        &returned),
              !mounted);
    EXPECT_EQ(kernel.LastOpenFlags(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL);
    EXPECT_EQ(kernel.OpenDescriptors(), before);  // the earlier descriptor was closed
    if (mounted) {
      EXPECT_EQ(Machine().GetLastError(), ErrorCode::DriveLocked);
    } else {
      PassThroughRequest request = Request(ScsiDataDirection::In, nullptr, 0);
      ASSERT_TRUE(Send(device, request));
      const int exclusive = kernel.LastSent().descriptor;
      ASSERT_TRUE(Send(other, request));
      EXPECT_NE(kernel.LastSent().descriptor, exclusive);
      EXPECT_TRUE(Machine().DeviceIoControl(device, ioctl::FsctlLockVolume, nullptr, 0, nullptr, 0,
                                            &returned));  // held already
      EXPECT_FALSE(Machine().DeviceIoControl(other, ioctl::FsctlLockVolume, nullptr, 0, nullptr, 0,
                                             &returned));  // one exclusive opener at a time
      EXPECT_EQ(Machine().GetLastError(), ErrorCode::Busy);
      EXPECT_TRUE(Machine().DeviceIoControl(device, ioctl::FsctlUnlockVolume, nullptr, 0, nullptr,
                                            0, &returned));
    }
    EXPECT_TRUE(Machine().CloseHandle(device));
    EXPECT_TRUE(Machine().CloseHandle(other));
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
  }
}

TEST_F(LinuxSystemTest, MalformedRequestsAndClosedDevicesNeverReachTheKernel) {
  const Handle device = OpenD();
  PassThroughRequest request = Request(ScsiDataDirection::In, nullptr, 96);
  EXPECT_FALSE(Send(device, request));
  EXPECT_TRUE(system->CloseHandle(device));
  request = Request(ScsiDataDirection::Unspecified, nullptr, 0);
  EXPECT_FALSE(Send(device, request));
  EXPECT_EQ(kernel.LastSent().interfaceId, 0);
}

TEST_F(LinuxSystemTest, ProblemsAreToldOncePerDeviceAndReasonNamingIt) {
  kernel.drives = {{"/dev/sr0", EACCES}, {"/dev/sr1", EPERM}, {"/dev/sr2"}, {"/dev/sr3"}};
  kernel.inhibitError = ENOENT;  // no login manager
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(Machine().HoldSystemAwake("update"));
  }
  for (int i = 0; i < 2; ++i) {
    for (const char* name : {"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\Q:"}) {
      EXPECT_EQ(Machine().CreateFileA(name), InvalidHandleValue);
    }
  }
  kernel.answer.error = EPERM;
  const Handle device = system->CreateFileA("\\\\.\\F:");
  std::uint8_t data[16];
  for (int i = 0; i < 2; ++i) {
    PassThroughRequest request = Request(ScsiDataDirection::Out, data, sizeof data);
    EXPECT_FALSE(Send(device, request));
  }
  kernel.answer.error = EIO;
  const Handle failing = system->CreateFileA("\\\\.\\G:");
  PassThroughRequest request = Request(ScsiDataDirection::Out, data, sizeof data);
  EXPECT_FALSE(Send(failing, request));

  std::vector<std::string> lines;
  std::istringstream told(notices.str());
  for (std::string line; std::getline(told, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << notices.str();
  EXPECT_THAT(lines[0], HasSubstr("no login manager: the system is not kept from sleeping"));
  EXPECT_THAT(lines[1], HasSubstr("/dev/sr0: permission denied; run as root"));
  EXPECT_THAT(lines[2], HasSubstr("/dev/sr1: permission denied; run as root"));
  EXPECT_THAT(lines[3], HasSubstr("/dev/sr2 refused command 3B: it needs CAP_SYS_RAWIO; run as"));
}

TEST_F(LinuxSystemTest, KeptAwakeByOneBlockingInhibitorOfTheLoginManagerUntilLetGo) {
  EXPECT_TRUE(Machine().HoldSystemAwake("Drive firmware update in progress"));
  EXPECT_TRUE(system->HoldSystemAwake("Drive firmware update in progress"));
  EXPECT_THAT(kernel.Inhibitions(),
              ElementsAre("shutdown:sleep:idle:handle-power-key:handle-suspend-key Movrel Drive "
                          "firmware update in progress block"));
  EXPECT_EQ(kernel.OpenDescriptors(), 1);
  EXPECT_TRUE(system->ReleaseSystemAwake());
  EXPECT_EQ(kernel.OpenDescriptors(), 0);
  EXPECT_EQ(notices.str(), "");
}

// Without the lock the update goes on; the notice says why there is none.
TEST_F(LinuxSystemTest, AnInhibitorRefusedByPolkitIsToldApartFromNoLoginManager) {
  for (const auto& [error, told] :
       {std::pair{EACCES,
                  "the login manager refused the inhibitor lock (not authorised): the "
                  "system is not kept from sleeping"},
        std::pair{ENOENT, "no login manager: the system is not kept from sleeping"}}) {
    auto owned = std::make_unique<FakeKernel>();
    owned->inhibitError = error;
    std::ostringstream said;
    LinuxSystem machine(std::move(owned), said);
    EXPECT_FALSE(machine.HoldSystemAwake("update"));
    EXPECT_THAT(said.str(), HasSubstr(told));
  }
}

// The power supply class as the kernel lays it out, one directory of one-line attributes per
// supply; only an outside supply online tells the adapter, and a peripheral's battery never counts.
TEST_F(LinuxSystemTest, PowerSourceIsReadFromThePowerSupplyClass) {
  using Supplies =
      std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;
  const Supplies batteryLow = {
      {"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "5"}}},
      {"AC", {{"type", "Mains"}, {"online", "0"}}}};
  Supplies plugged = batteryLow;
  plugged[1].second[1].second = "1";
  const Supplies usbC = {batteryLow[0],
                         batteryLow[1],
                         {"ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "2"}}}};
  const Supplies mouse = {
      {"hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}}}};
  const Supplies full = {{"BAT1", {{"type", "Battery"}, {"status", "Full"}}}};
  const Supplies none = {};
  for (const auto& [supplies, expected] :
       {std::pair{batteryLow, System::PowerSource::Battery},
        std::pair{plugged, System::PowerSource::Mains}, std::pair{usbC, System::PowerSource::Mains},
        std::pair{mouse, System::PowerSource::Unknown},
        std::pair{full, System::PowerSource::Unknown},
        std::pair{none, System::PowerSource::Unknown}}) {
    char tree[] = "/tmp/movrel-power-XXXXXX";
    ASSERT_NE(::mkdtemp(tree), nullptr);
    for (const auto& [name, attributes] : supplies) {
      std::filesystem::create_directory(std::filesystem::path(tree) / name);
      for (const auto& [attribute, value] : attributes) {
        std::ofstream(std::filesystem::path(tree) / name / attribute) << value << "\n";
      }
    }
    auto owned = std::make_unique<FakeKernel>();
    owned->powerSupplyClass = tree;
    LinuxSystem machine(std::move(owned), notices);
    EXPECT_EQ(machine.GetPowerSource(), expected) << supplies.size() << " supplies";
    std::filesystem::remove_all(tree);
  }
  EXPECT_EQ(Machine().GetPowerSource(), System::PowerSource::Unknown);  // no class at all
}

// Each update record: the journal's fields, and where there is no journal, no source.
TEST_F(LinuxSystemTest, UpdateRecordsGoToTheJournalWithTheirFields) {
  const UpdateRecordFields record{'E',
                                  "VEN\x1b"
                                  "DOR",
                                  "PRODUCT",
                                  "1.0\xE9",
                                  "1.00",
                                  2,
                                  "ab12",
                                  false,
                                  true,
                                  3,
                                  0x0C};
  ASSERT_TRUE(Machine().RecordUpdates(&record, 1));
  ASSERT_EQ(kernel.JournalRecords().size(), 1u);
  EXPECT_THAT(kernel.JournalRecords()[0],
              ElementsAre("MESSAGE=Drive firmware update of /dev/sr1 (VEN?DOR PRODUCT) from 1.0? "
                          "to 1.00: failure",
                          ::testing::StartsWith("MESSAGE_ID="), "PRIORITY=3",
                          "SYSLOG_IDENTIFIER=Movrel", "MOVREL_DEVICE=/dev/sr1",
                          "MOVREL_VENDOR=VEN\x1b"
                          "DOR",
                          "MOVREL_PRODUCT=PRODUCT", "MOVREL_REVISION_BEFORE=1.0\xE9",
                          "MOVREL_REVISION_AFTER=1.00", "MOVREL_BANK=2", "MOVREL_IMAGE_SHA256=ab12",
                          "MOVREL_RESULT=failure", "MOVREL_SENSE=03/0C"));
  kernel.journalPresent = false;
  EXPECT_FALSE(system->RecordUpdates(&record, 1));
  EXPECT_EQ(kernel.JournalRecords().size(), 1u);
}

// The restart's privilege step and the reboot it asks the system manager for.
struct Restart {
  const char* name;
  bool mayReboot;
  bool systemd;
  std::deque<int> statuses;
  std::uint32_t privilege;
  bool accepted;
  std::vector<std::string> ran;
};

// Programs by absolute path only: a PATH that root inherits never chooses what runs.
TEST_F(LinuxSystemTest, RestartIsAnOrderlyRebootForAProcessThatMayReboot) {
  const Restart rows[] = {
      {"systemd", true, true, {0}, ErrorCode::Success, true, {"/usr/bin/systemctl reboot"}},
      {"/usr not merged",
       true,
       true,
       {127, 0},
       ErrorCode::Success,
       true,
       {"/usr/bin/systemctl reboot", "/bin/systemctl reboot"}},
      {"rescue system", true, false, {0}, ErrorCode::Success, true, {"/usr/sbin/reboot"}},
      {"no reboot command",
       true,
       false,
       {127, 127},
       ErrorCode::Success,
       false,
       {"/usr/sbin/reboot", "/sbin/reboot"}},
      {"refused", true, true, {1}, ErrorCode::Success, false, {"/usr/bin/systemctl reboot"}},
      {"not allowed", false, true, {}, ErrorCode::NotAllAssigned, false, {}},
  };
  for (const Restart& row : rows) {
    SCOPED_TRACE(row.name);
    auto owned = std::make_unique<FakeKernel>();
    FakeKernel& kernel = *owned;
    kernel.mayReboot = row.mayReboot;
    kernel.systemdBooted = row.systemd;
    kernel.runStatuses = row.statuses;
    LinuxSystem machine(std::move(owned), notices);
    Handle token = 0;
    Luid luid{};
    ASSERT_TRUE(machine.OpenProcessToken(TokenAccess::AdjustPrivileges, token));
    ASSERT_TRUE(machine.LookupPrivilegeValueA(nullptr, Privilege::ShutdownName, luid));
    ASSERT_TRUE(machine.AdjustTokenPrivileges(token, false, {1, {{luid, Privilege::Enabled}}}));
    EXPECT_EQ(machine.GetLastError(), row.privilege);
    EXPECT_EQ(machine.ExitWindowsEx(ExitFlags::Reboot | ExitFlags::Force, 0), row.accepted);
    EXPECT_EQ(kernel.Ran(), row.ran);
  }
  // Firmware is sent only by a process that may send raw commands (CAP_SYS_RAWIO).
  EXPECT_TRUE(Machine().MayUpdateFirmware());
  kernel.maySendRawCommands = false;
  EXPECT_FALSE(Machine().MayUpdateFirmware());
}

TEST_F(LinuxSystemTest, SetEventWakesAWaitAndAnAutoResetEventRearms) {
  const Handle event = Machine().CreateEventA(false, false);
  std::uint32_t woken = 0;
  std::thread waiter([&] { woken = system->WaitForSingleObject(event, 60000); });
  EXPECT_TRUE(system->SetEvent(event));
  waiter.join();
  EXPECT_EQ(woken, WaitResult::Object0);
  EXPECT_EQ(system->WaitForSingleObject(event, 0), WaitResult::Timeout);
  EXPECT_TRUE(system->CloseHandle(event));
  EXPECT_FALSE(system->SetEvent(event));
}

}  // namespace
}  // namespace movrel::test
