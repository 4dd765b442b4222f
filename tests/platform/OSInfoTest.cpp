#include "platform/OSInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

using ::testing::ElementsAre;

TEST(OSInfo, ReportsTheFamilyOfTheVersionQuery) {
  sim::SimSystem nt;
  EXPECT_TRUE(platform::OSInfo(nt).IsNT());

  sim::SimSystem consumer;
  consumer.SetFamily(sim::Family::Consumer);
  EXPECT_FALSE(platform::OSInfo(consumer).IsNT());

  sim::SimSystem failing;
  failing.FailCall("GetVersionExA");
  EXPECT_FALSE(platform::OSInfo(failing).IsNT());
}

TEST(OSInfo, ConsumerRestartAsksAtOnceWithoutTouchingTheToken) {
  sim::SimSystem system;
  system.SetFamily(sim::Family::Consumer);
  platform::OSInfo info(system);
  EXPECT_TRUE(info.RestartSystem());
  EXPECT_THAT(system.Calls(), ElementsAre("ExitWindowsEx 6 0"));
  EXPECT_THAT(system.ShutdownRequests(), ElementsAre(6u));
}

TEST(OSInfo, NtRestartEnablesTheShutdownPrivilegeFirst) {
  sim::SimSystem system;
  platform::OSInfo info(system);
  EXPECT_TRUE(info.RestartSystem());
  EXPECT_THAT(system.Calls(), ElementsAre("OpenProcessToken 0x28",
                                          "LookupPrivilegeValueA (local) SeShutdownPrivilege",
                                          "AdjustTokenPrivileges 0 1 19 2", "ExitWindowsEx 6 0"));
  // Windows Vista and later are asked the same way: flags 6 and no reason code.
  sim::SimSystem vista;
  vista.SetVersion(6, 0);
  EXPECT_TRUE(platform::OSInfo(vista).RestartSystem());
  EXPECT_EQ(vista.Calls().back(), "ExitWindowsEx 6 0");
}

TEST(OSInfo, NtRestartStopsWhenTheTokenCannotBeOpened) {
  sim::SimSystem system;
  system.FailCall("OpenProcessToken");
  platform::OSInfo info(system);
  EXPECT_FALSE(info.RestartSystem());
  EXPECT_THAT(system.Calls(), ElementsAre("OpenProcessToken 0x28"));
  EXPECT_TRUE(system.ShutdownRequests().empty());
}

TEST(OSInfo, NtRestartStopsWhenThePrivilegeIsNotAssigned) {
  sim::SimSystem system;
  system.SetShutdownPrivilegeHeld(false);
  platform::OSInfo info(system);
  EXPECT_FALSE(info.RestartSystem());
  const auto calls = system.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls.back(), "AdjustTokenPrivileges 0 1 19 2");
  EXPECT_TRUE(system.ShutdownRequests().empty());
}

TEST(OSInfo, ShutdownAlwaysAddsForceAndReportsRefusal) {
  sim::SimSystem system;
  system.SetFamily(sim::Family::Consumer);
  system.FailCall("ExitWindowsEx");
  platform::OSInfo info(system);
  EXPECT_FALSE(info.ShutDownSystem(0));
  EXPECT_THAT(system.Calls(), ElementsAre("ExitWindowsEx 4 0"));
}

}  // namespace
}  // namespace movrel::test
