// The status and tray operations against the simulated drive, checked as whole command sequences
// in its trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceFixture.h"

namespace movrel::test {
namespace {

using ::testing::ElementsAre;

constexpr char kTestUnitReady[] = "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 ";
constexpr char kMediaEvent[] = "D 4A 01 00 00 10 00 00 00 08 00 00 00 in 8 ";

// One drive D:\ with a disc, selected on a device without discovery.
struct OneDrive {
  explicit OneDrive(sim::DriveConfig drive = {}, sim::Family family = sim::Family::NT)
      : machine(Bay(drive, family)), device(machine, application, false) {
    machine.ClearTrace();
  }
  static sim::BayConfig Bay(sim::DriveConfig drive, sim::Family family) {
    sim::BayConfig bay;
    bay.family = family;
    bay.aspi = family == sim::Family::Consumer;
    drive.medium = true;
    bay.drives = {drive};
    return bay;
  }
  sim::SimSystem machine;
  QuietApplication application;
  device::AtapiDevice device;
};

// A device that discovered the one drive and selected it; the trace starts afterwards.
struct SelectedOne {
  explicit SelectedOne(sim::DriveConfig drive = {}, sim::Family family = sim::Family::NT)
      : machine(OneDrive::Bay(drive, family)), device(machine, application) {
    device.SelectDrive(0);
    machine.ClearTrace();
  }
  sim::SimSystem machine;
  QuietApplication application;
  device::AtapiDevice device;
};

TEST(TraySequence, EjectSeeOpenLoadWaitAndFindTheDisc) {
  sim::DriveConfig drive;
  drive.notReadySeconds = 0.5;
  SelectedOne one(drive);
  EXPECT_TRUE(one.device.EjectTray());
  EXPECT_TRUE(one.device.TrayOpen());
  EXPECT_TRUE(one.device.LoadTray());
  EXPECT_FALSE(one.device.TrayOpen());
  EXPECT_TRUE(one.device.WaitUnitReady(120));
  EXPECT_FALSE(one.device.MediumAbsent());
  EXPECT_TRUE(one.device.StopUnit());
  const std::string notReady = std::string(kTestUnitReady) + "sense 02/04/01";
  EXPECT_THAT(
      one.machine.Trace(),
      ElementsAre(
          "D 1B 00 00 00 02 00 00 00 00 00 00 00 none 0 good", std::string(kMediaEvent) + "good",
          "D 1B 00 00 00 03 00 00 00 00 00 00 00 none 0 good", std::string(kMediaEvent) + "good",
          std::string(kTestUnitReady) + "sense 06/28/00", notReady,
          std::string(kTestUnitReady) + "good", std::string(kTestUnitReady) + "good",
          std::string(kTestUnitReady) + "good", std::string(kTestUnitReady) + "good",
          "D 1B 00 00 00 00 00 00 00 00 00 00 00 none 0 good"));
}

TEST(TraySequence, DriveWithoutEventStatusCountsAsClosed) {
  sim::DriveConfig drive;
  drive.eventStatus = false;
  drive.trayOpen = true;
  SelectedOne one(drive);
  EXPECT_FALSE(one.device.TrayOpen());
  EXPECT_TRUE(one.device.SenseKeyIs(5));
  EXPECT_THAT(one.machine.Trace(), ElementsAre(std::string(kMediaEvent) + "sense 05/20/00"));
}

TEST(TraySequence, EmptyDriveIsReportedAfterTwoCommands) {
  SelectedOne one;
  one.machine.TakeDiscOut("D");
  one.machine.ClearTrace();
  EXPECT_TRUE(one.device.MediumAbsent());
  const std::string noMedium = std::string(kTestUnitReady) + "sense 02/3A/00";
  EXPECT_THAT(one.machine.Trace(), ElementsAre(noMedium, noMedium));
}

TEST(NoTargetSequence, CommandsFailWithoutReachingAnyDrive) {
  OneDrive one;
  EXPECT_TRUE(one.device.WaitUnitReady(30));
  EXPECT_FALSE(one.device.MediumAbsent());
  EXPECT_FALSE(one.device.TrayOpen());
  EXPECT_EQ(one.device.LastResult(), 0);
  EXPECT_TRUE(one.machine.Trace().empty());
}

// A late answer fails on both paths and is not retried: the pass-through answers only after the
// request's time-out, and the ASPI request is aborted so that the manager holds nothing.
TEST(TimeOut, LateAnswerFailsOnBothPaths) {
  for (sim::Family family : {sim::Family::NT, sim::Family::Consumer}) {
    SelectedOne one({}, family);
    one.machine.AddFault("D", sim::Fault{0x00, std::nullopt, 1, sim::FaultKind::Timeout, {}});
    one.device.SetCommandTimeout(10);
    one.device.SetThrowOnFailure();
    const std::int64_t start = one.machine.GetClock().NowNanoseconds();
    EXPECT_FALSE(one.device.TestUnitReady());
    EXPECT_GT(one.machine.GetClock().NowNanoseconds() - start, 10'000'000'000);
    EXPECT_EQ(one.device.LastResult(), 0);
    EXPECT_TRUE(one.device.LastTimedOut());
    EXPECT_EQ(one.machine.AspiPendingRequests(), 0u);
    EXPECT_TRUE(one.device.TestUnitReady());
    EXPECT_THAT(one.machine.Trace(), ElementsAre(std::string(kTestUnitReady) + "timeout",
                                                 std::string(kTestUnitReady) + "good"));
  }
}

}  // namespace
}  // namespace movrel::test
