// Loading, probing and releasing the ASPI manager: every message with its text and caption.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "FakeMachine.h"

namespace devtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A device on the consumer family: it loads the manager as it is set up by `prepare`.
struct LoadCase {
  const char* name;
  std::function<void(FakeMachine&)> prepare;
  const char* message;  // "caption|text"
};

class LoadAspi : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadAspi, ReportsEachFailureAndLeavesTheManagerUnloaded) {
  const LoadCase& c = GetParam();
  FakeMachine machine(sim::Family::Consumer, true);
  c.prepare(machine);
  QuietApplication application;
  movrel::AtapiDevice device(machine, application, false);
  EXPECT_FALSE(device.AspiLoaded());
  EXPECT_FALSE(device.AspiPresent());
  EXPECT_THAT(machine.MessageBoxes(), ElementsAre(c.message));
  EXPECT_THAT(machine.messageStyles,
              ElementsAre(0x10u));  // MessageBoxStyle::Ok | MessageBoxStyle::IconError
  EXPECT_EQ(machine.libraryReleases, machine.libraryLoads);
}

LoadCase Status(const char* name, std::uint8_t status, const char* message) {
  return {name, [status](FakeMachine& m) { m.supportStatus = status; }, message};
}

INSTANTIATE_TEST_SUITE_P(
    Messages, LoadAspi,
    ::testing::Values(LoadCase{"NoLibrary", [](FakeMachine& m) { m.aspiInstalled = false; },
                               "Error FS 002|LoadLibrary:\nWNASPI32.DLL not found."},
                      LoadCase{"NoSupportInfo", [](FakeMachine& m) { m.hasSupportInfo = false; },
                               "Error FS 003|GetProcAddress:\nGetASPI32SupportInfo not fount."},
                      LoadCase{"NoSendCommand", [](FakeMachine& m) { m.hasSendCommand = false; },
                               "Error FS 004|GetProcAddress:\npfnSendASPI32Command not found."},
                      Status("NoAspi", 0xE3,
                             "GetASPISupportInfo:|Could not find the ASPI manager."),
                      Status("IllegalMode", 0xE2,
                             "GetASPISupportInfo:|ASPI for Windows does not support real mode."),
                      Status("OldManager", 0xE1, "GetASPISupportInfo:|Old ASPI manager."),
                      Status("OtherStatus", 0x04, "GetASPISupportInfo:|Error initializing ASPI.")),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadAspiOk, KeepsTheLibraryUntilUnloaded) {
  FakeMachine machine(sim::Family::Consumer, true);
  QuietApplication application;
  {
    movrel::AtapiDevice device(machine, application, false);
    EXPECT_TRUE(device.AspiLoaded());
    EXPECT_TRUE(device.AspiPresent());
    EXPECT_THAT(machine.MessageBoxes(), IsEmpty());
    EXPECT_EQ(machine.libraryLoads, 2);  // the probe, then the load
    EXPECT_EQ(machine.libraryReleases, 1);
    device.UnloadAspi();
    EXPECT_FALSE(device.AspiLoaded());
    EXPECT_EQ(machine.libraryReleases, 2);
    EXPECT_TRUE(device.LoadAspi());
  }
  EXPECT_EQ(machine.libraryReleases, machine.libraryLoads);  // the destructor releases it
}

TEST(AspiAvailable, IsSilentReleasesTheLibraryAndChangesNothing) {
  FakeMachine machine(sim::Family::NT, true);
  QuietApplication application;
  movrel::AtapiDevice device(machine, application, false);  // Tag 0: pass-through
  ASSERT_FALSE(device.AspiLoaded());
  EXPECT_TRUE(device.AspiAvailable());
  machine.supportStatus = platform::SS_NO_ASPI;
  EXPECT_FALSE(device.AspiAvailable());
  machine.supportStatus = platform::SS_COMP;
  machine.hasSendCommand = false;
  EXPECT_FALSE(device.AspiAvailable());
  EXPECT_FALSE(device.AspiLoaded());
  EXPECT_THAT(machine.MessageBoxes(), IsEmpty());
  EXPECT_EQ(machine.libraryReleases, machine.libraryLoads);
}

}  // namespace
}  // namespace devtest
