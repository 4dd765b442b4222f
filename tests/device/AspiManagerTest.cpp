// Loading, probing and releasing the ASPI manager: every message with its text and caption.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceFixture.h"

namespace movrel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A machine with the ASPI manager that GetASPI32SupportInfo reports with `status`, and without
// the entry point `missing` (when given). It keeps the style of each plain message box.
struct Machine : sim::SimSystem {
  Machine(sim::Family family, bool installed, std::uint8_t status = platform::SS_COMP,
          const char* missing = nullptr)
      : sim::SimSystem(Bay(family, installed, status)) {
    if (missing != nullptr) FailCall(missing);
  }
  static sim::BayConfig Bay(sim::Family family, bool installed, std::uint8_t status) {
    sim::BayConfig bay;
    bay.family = family;
    bay.aspi = installed;
    bay.aspiStatus = status;
    return bay;
  }
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    styles.push_back(type);
    return sim::SimSystem::MessageBoxA(text, caption, type);
  }
  std::vector<std::uint32_t> styles;
};

// How the manager is broken, and what the user is told.
struct LoadCase {
  const char* name;
  bool installed;
  std::uint8_t status;
  const char* missing;
  const char* message;  // "caption|text"
};

class LoadAspi : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadAspi, ReportsEachFailureAndLeavesTheManagerUnloaded) {
  const LoadCase& c = GetParam();
  Machine machine(sim::Family::Consumer, c.installed, c.status, c.missing);
  QuietApplication application;
  device::AtapiDevice device(machine, application, false);
  EXPECT_FALSE(device.AspiLoaded());
  EXPECT_FALSE(device.AspiPresent());
  EXPECT_THAT(machine.MessageBoxes(), ElementsAre(c.message));
  EXPECT_THAT(machine.styles, ElementsAre(0x10u));  // MessageBoxStyle::Ok | ::IconError
  EXPECT_EQ(machine.AspiLoadCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, LoadAspi,
    ::testing::Values(LoadCase{"NoLibrary", false, 0x01, nullptr,
                               "Error FS 002|LoadLibrary:\nWNASPI32.DLL not found."},
                      LoadCase{"NoSupportInfo", true, 0x01, "GetASPI32SupportInfo",
                               "Error FS 003|GetProcAddress:\nGetASPI32SupportInfo not fount."},
                      LoadCase{"NoSendCommand", true, 0x01, "SendASPI32Command",
                               "Error FS 004|GetProcAddress:\npfnSendASPI32Command not found."},
                      LoadCase{"NoAspi", true, 0xE3, nullptr,
                               "GetASPISupportInfo:|Could not find the ASPI manager."},
                      LoadCase{"IllegalMode", true, 0xE2, nullptr,
                               "GetASPISupportInfo:|ASPI for Windows does not support real mode."},
                      LoadCase{"OldManager", true, 0xE1, nullptr,
                               "GetASPISupportInfo:|Old ASPI manager."},
                      LoadCase{"OtherStatus", true, 0x04, nullptr,
                               "GetASPISupportInfo:|Error initializing ASPI."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadAspiOk, KeepsTheLibraryUntilUnloaded) {
  Machine machine(sim::Family::Consumer, true);
  QuietApplication application;
  {
    device::AtapiDevice device(machine, application, false);
    EXPECT_TRUE(device.AspiLoaded());
    EXPECT_TRUE(device.AspiPresent());
    EXPECT_THAT(machine.MessageBoxes(), IsEmpty());
    EXPECT_EQ(machine.AspiLoadCount(), 1);  // the probe released its reference, the load keeps one
    device.UnloadAspi();
    EXPECT_FALSE(device.AspiLoaded());
    EXPECT_EQ(machine.AspiLoadCount(), 0);
    EXPECT_TRUE(device.LoadAspi());
  }
  EXPECT_EQ(machine.AspiLoadCount(), 0);  // the destructor releases it
}

// The probe on NT with Tag 0 (pass-through): true only for a whole, working manager.
TEST(AspiAvailable, IsSilentReleasesTheLibraryAndChangesNothing) {
  struct Case {
    bool installed;
    std::uint8_t status;
    const char* missing;
    bool available;
  };
  for (const Case& c : {Case{true, platform::SS_COMP, nullptr, true},
                        Case{true, platform::SS_NO_ASPI, nullptr, false},
                        Case{true, platform::SS_COMP, "SendASPI32Command", false},
                        Case{false, platform::SS_COMP, nullptr, false}}) {
    Machine machine(sim::Family::NT, c.installed, c.status, c.missing);
    QuietApplication application;
    device::AtapiDevice device(machine, application, false);
    ASSERT_FALSE(device.AspiLoaded());
    EXPECT_EQ(device.AspiAvailable(), c.available);
    EXPECT_FALSE(device.AspiLoaded());
    EXPECT_THAT(machine.MessageBoxes(), IsEmpty());
    EXPECT_EQ(machine.AspiLoadCount(), 0);
  }
}

}  // namespace
}  // namespace movrel::test
