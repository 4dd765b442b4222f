// The current target: the state table of SelectDrive and CloseDrive, identification of the
// current drive, and CopyTargetTo.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceFixture.h"

namespace movrel::test {
namespace {

using device::AtapiDevice;

// The current target's state in one line: index, address, whether a device is open.
struct TargetState {
  std::int16_t index, port, path, target, lun;
  bool open;
  bool operator==(const TargetState&) const = default;
};

TargetState StateOf(const AtapiDevice& device) {
  return {device.CurrentIndex(), device.PortNumber(),
          device.PathId(),       device.TargetId(),
          device.Lun(),          device.DeviceHandle() != platform::InvalidHandleValue};
}

constexpr TargetState kNone{127, -1, -1, -1, -1, false};
constexpr TargetState kFailed{-1, -1, -1, -1, -1, false};
constexpr TargetState kPassThrough{0, 1, 0, 2, 3, true};
constexpr TargetState kAspi{0, 1, 0, 2, 3, false};

TEST(SelectDrive, StateTable) {
  ScriptedMachine machine;
  QuietApplication application;
  machine.answers = {Answer{}, InquiryReply("Dornavex", "DVDRW KTR-207M  ", "RV05")};
  AtapiDevice device(machine, application);
  EXPECT_EQ(StateOf(device), kNone);  // after discovery
  EXPECT_EQ(machine.OpenDevices(), 0u);

  EXPECT_TRUE(device.SelectDrive(0));
  EXPECT_EQ(StateOf(device), kPassThrough);
  EXPECT_STREQ(device.Vendor(), "Dornavex");
  EXPECT_STREQ(device.Revision(), "RV05");

  const platform::Handle handle = device.DeviceHandle();
  EXPECT_TRUE(device.SelectDrive(0));  // already current: nothing is reopened
  EXPECT_EQ(device.DeviceHandle(), handle);
  EXPECT_EQ(machine.OpenDevices(), 1u);

  for (std::int16_t index : {1, 15, 16, -1, 127, -32768}) {
    EXPECT_FALSE(device.SelectDrive(index)) << index;
    EXPECT_EQ(StateOf(device), kPassThrough) << index;
  }

  device.CloseDrive();
  EXPECT_EQ(StateOf(device), kNone);
  EXPECT_EQ(machine.OpenDevices(), 0u);
  EXPECT_STREQ(device.Vendor(), "Dornavex");  // the texts stay
  device.CloseDrive();
  EXPECT_EQ(StateOf(device), kNone);
}

TEST(SelectDrive, FailedOpenLeavesNoTarget) {
  ScriptedMachine machine;
  QuietApplication application;
  AtapiDevice device(machine, application);
  machine.FailCall("CreateFileA");
  EXPECT_FALSE(device.SelectDrive(0));
  EXPECT_EQ(StateOf(device), kFailed);
  // "Failed" is not a slot: neither selecting it nor identifying it does anything.
  EXPECT_FALSE(device.SelectDrive(-1));
  machine.sent.clear();
  EXPECT_FALSE(device.IdentifyCurrent());
  EXPECT_TRUE(machine.sent.empty());
  device.CloseDrive();
  EXPECT_EQ(StateOf(device), kNone);
  EXPECT_FALSE(device.IdentifyCurrent());
}

TEST(SelectDrive, AspiAndConsumerFamilyOpenNoHandle) {
  SelectedDevice aspi(Path::Aspi);
  EXPECT_EQ(StateOf(*aspi.device), kAspi);
  EXPECT_TRUE(aspi.device->UseAspi());

  ScriptedMachine consumer(sim::Family::Consumer, true);
  QuietApplication application;
  AtapiDevice device(consumer, application);
  EXPECT_TRUE(device.SelectDrive(0));
  EXPECT_EQ(StateOf(device), kAspi);
  EXPECT_EQ(consumer.OpenDevices(), 0u);
}

// As much of the drive as the system gives, and never a reason to stop: the volume lock, tried
// for ten seconds while the volume is in use, then from Windows Vista on the exclusive access;
// both given back when the drive is closed. None of it is a command to the drive.
TEST(TakeExclusiveAccess, TakesWhatTheSystemGivesAndGivesItBackOnClose) {
  struct Row {
    const char* name;
    std::uint32_t major;
    const char* elsewhere;  // what another program holds: "volume", "both", or a missing call
    bool volume;            // what the device holds then
    bool exclusive;
    int attempts;
  };
  const Row rows[] = {
      {"XP", 5, "", true, false, 1},
      {"XP, volume in use", 5, "volume", false, false, 20},
      {"Vista", 6, "", true, true, 1},
      {"Vista, volume in use", 6, "volume", false, true, 20},
      {"Vista, neither", 6, "both", false, false, 20},
      {"no volume locks", 6, "FSCTL_LOCK_VOLUME", false, true, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::BayConfig bay;
    bay.drives.emplace_back();
    bay.drives[0].medium = true;  // a disc whose file system is mounted
    sim::SimSystem machine(bay);
    machine.SetVersion(row.major, 0);
    const std::string elsewhere = row.elsewhere;
    if (elsewhere == "volume" || elsewhere == "both") machine.OpenVolumeElsewhere("D");
    if (elsewhere == "both") machine.HoldExclusiveAccessElsewhere("D");
    if (elsewhere == "FSCTL_LOCK_VOLUME") machine.FailCall(row.elsewhere);
    QuietApplication application;
    AtapiDevice device(machine, application);
    ASSERT_TRUE(device.SelectDrive(0));
    machine.ClearTrace();
    const std::int64_t start = machine.GetClock().NowNanoseconds();

    device.TakeExclusiveAccess();
    EXPECT_EQ(machine.GetClock().NowNanoseconds() - start,
              std::int64_t{row.attempts - 1} * 500'000'000);
    std::vector<std::string> expected(row.attempts, "- lock volume D refused");
    if (row.volume) expected.back() = "- lock volume D";
    if (row.major >= 6) {
      expected.push_back(row.exclusive ? "- exclusive access D" : "- exclusive access D refused");
    }
    EXPECT_EQ(machine.Trace(), expected);
    EXPECT_EQ(device.VolumeLocked(), row.volume);
    EXPECT_EQ(device.ExclusiveAccessHeld(), row.exclusive);

    machine.ClearTrace();
    device.CloseDrive();
    expected.clear();
    if (row.exclusive) expected.push_back("- end exclusive access D");
    if (row.volume) expected.push_back("- unlock volume D");
    EXPECT_EQ(machine.Trace(), expected);
    EXPECT_FALSE(device.VolumeLocked() || device.ExclusiveAccessHeld());
  }

  SelectedDevice aspi(Path::Aspi);  // no device handle: nothing to take
  aspi.machine.SetVersion(6, 0);
  aspi.machine.ClearTrace();
  aspi.device->TakeExclusiveAccess();
  EXPECT_TRUE(aspi.machine.Trace().empty());
}

TEST(IdentifyCurrent, RetriesWithoutPauseAndRefreshesTheEntry) {
  SelectedDevice bay(Path::PassThrough);
  const Answer zeros = InquiryReply("", "", "XXXX");
  bay.machine.answers = {Failed(), zeros, InquiryReply("ABC", "Drive 2", "1.0 ")};
  const double start = bay.Seconds();
  EXPECT_TRUE(bay.device->IdentifyCurrent());
  EXPECT_LT(bay.Seconds() - start, 0.01);
  EXPECT_EQ(bay.machine.Count(0x12), 3);

  const device::DriveEntry& entry = *bay.device->EntryAt(0);
  EXPECT_EQ(std::memcmp(entry.vendor, "ABC\0\0\0\0\0", 9), 0);
  EXPECT_EQ(std::memcmp(entry.product, "Drive 2\0\0\0\0\0\0\0\0\0", 17), 0);
  EXPECT_EQ(std::memcmp(entry.revision, "1.0 ", 5), 0);
  EXPECT_EQ(std::memcmp(entry.identity, "ABC\0\0\0\0\0Drive 2\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32),
            0);
}

TEST(IdentifyCurrent, KeepsTrailingSpacesAsTheDriveSendsThem) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {InquiryReply("ABC     ", "DVD-RW  X       ", "1.00")};
  EXPECT_TRUE(bay.device->IdentifyCurrent());
  EXPECT_STREQ(bay.device->EntryAt(0)->vendor, "ABC     ");
  EXPECT_STREQ(bay.device->EntryAt(0)->product, "DVD-RW  X       ");
  EXPECT_STREQ(bay.device->EntryAt(0)->identity, "ABC     DVD-RW  X       ");
}

TEST(IdentifyCurrent, TenFailuresLeaveTheEntryAlone) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {InquiryReply("Old", "Drive", "0001")};
  ASSERT_TRUE(bay.device->IdentifyCurrent());
  bay.machine.sent.clear();
  bay.machine.responder = [](const sim::CommandBytes&) { return InquiryReply("", "", "9999"); };
  EXPECT_FALSE(bay.device->IdentifyCurrent());
  EXPECT_EQ(bay.machine.Count(0x12), 10);
  EXPECT_STREQ(bay.device->EntryAt(0)->vendor, "Old");
  EXPECT_STREQ(bay.device->EntryAt(0)->revision, "0001");
}

TEST(CopyTargetTo, GivesTheCopyTheStateButNoHandle) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->SetCommandTimeout(60);
  bay.device->SetThrowOnFailure();
  AtapiDevice copy(bay.machine, bay.application, false);
  ASSERT_TRUE(copy.BuffersAllocated());
  bay.device->CopyTargetTo(&copy);

  EXPECT_EQ(StateOf(copy), (TargetState{127, 1, 0, 2, 3, false}));
  EXPECT_EQ(copy.CommandTimeout(), 60u);
  EXPECT_TRUE(copy.ThrowOnFailure());
  EXPECT_EQ(copy.DriveCount(), 1);
  ASSERT_NE(copy.EntryAt(0), nullptr);
  EXPECT_EQ(std::memcmp(copy.EntryAt(0), bay.device->EntryAt(0), sizeof(device::DriveEntry)), 0);
  EXPECT_NE(copy.InBuffer(), bay.device->InBuffer());

  // Its own selection opens its own handle; the original keeps its own.
  const platform::Handle original = bay.device->DeviceHandle();
  EXPECT_TRUE(copy.SelectDrive(0));
  EXPECT_EQ(bay.machine.OpenDevices(), 2u);
  EXPECT_NE(copy.DeviceHandle(), original);
  EXPECT_EQ(bay.device->DeviceHandle(), original);

  // A receiver's open handle is closed, not lost; copying to itself or to nothing does nothing.
  bay.device->CopyTargetTo(&copy);
  EXPECT_EQ(bay.machine.OpenDevices(), 1u);
  bay.device->CopyTargetTo(bay.device.get());
  bay.device->CopyTargetTo(nullptr);
  EXPECT_EQ(StateOf(*bay.device), kPassThrough);
}

}  // namespace
}  // namespace movrel::test
