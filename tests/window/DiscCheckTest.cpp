#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "app/simhost/SimPerson.h"
#include "sim/SimSystem.h"

namespace {

using app::TMovrelMain;
using app::layout::Option;
using ::testing::ElementsAre;
using window_test::Drive;
using window_test::MakePackage;
using window_test::ScriptedApplication;
using window_test::StandardRequest;

constexpr char kLocked[] =
    "Disc detected in drive. Unable to eject the disc , maybe locked by other program\n\n"
    "Please remove the disc manually.";

// One drive, CHKDISC on, a person at the machine who does what the message boxes ask; returns
// the messages and the status texts of the run.
struct CheckedRun {
  std::vector<std::string> messages;
  std::vector<std::string> statuses;
  bool flashed;
};

CheckedRun RunWithDiscCheck(const sim::DriveConfig& drive) {
  sim::BayConfig bay;
  bay.drives = {drive};
  sim::SimSystem system(bay);
  app::SimPerson person(system, {drive.name});
  ScriptedApplication application;
  application.onMessage = [&](const std::string& text) { person.Read(text); };
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::ChkDisc, '1');

  CheckedRun run;
  TMovrelMain* shown = nullptr;
  TMovrelMain form(system, application, package.View(), [&] {
    if (shown == nullptr) return;
    const std::string& text = shown->lblMsg.Text();
    if (run.statuses.empty() || run.statuses.back() != text) run.statuses.push_back(text);
  });
  shown = &form;
  form.cmdUpdateClick(&form.cmdUpdate);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (form.RunInProgress() && std::chrono::steady_clock::now() < deadline) {
    if (application.RunPosted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (const auto& message : application.shown) run.messages.push_back(message.text);
  run.flashed = system.Drive(drive.name).flashCount == 1;
  return run;
}

std::vector<std::string> UntilTheRun(const std::vector<std::string>& statuses) {
  std::vector<std::string> before;
  for (const auto& status : statuses) {
    if (status.starts_with("Programming") || status == "Inquiry ...") break;
    before.push_back(status);
  }
  return before;
}

TEST(DiscCheck, EmptyClosedTrayStartsTheWorkerAtOnce) {
  const auto run = RunWithDiscCheck(Drive("D", "D", 0));
  EXPECT_THAT(run.messages, ElementsAre("Firmware has been updated successfully !"));
  EXPECT_THAT(UntilTheRun(run.statuses), ElementsAre("Check Disc & Tray Status..."));
  EXPECT_TRUE(run.flashed);
}

TEST(DiscCheck, DiscThatEjectsIsTakenOutBeforeTheFlash) {
  auto drive = Drive("D", "D", 0);
  drive.medium = true;
  const auto run = RunWithDiscCheck(drive);
  EXPECT_THAT(run.messages,
              ElementsAre("Please remove the disc.", "Firmware has been updated successfully !"));
  EXPECT_THAT(UntilTheRun(run.statuses), ElementsAre("Check Disc & Tray Status...", "Tray Out ...",
                                                     "Tray In ...", "Waiting Drive Ready ..."));
  EXPECT_TRUE(run.flashed);
}

TEST(DiscCheck, DiscLockedByAnotherProgramIsReportedUntilItLetsGo) {
  auto drive = Drive("D", "D", 0);
  drive.medium = true;
  drive.ejectLocked = true;
  const auto run = RunWithDiscCheck(drive);
  EXPECT_THAT(run.messages, ElementsAre(kLocked, "Please remove the disc.",
                                        "Firmware has been updated successfully !"));
  EXPECT_TRUE(run.flashed);
}

TEST(DiscCheck, TrayThatDoesNotLoadMustBePushedIn) {
  auto drive = Drive("D", "D", 0);
  drive.trayOpen = true;
  drive.trayMotor = false;
  const auto run = RunWithDiscCheck(drive);
  EXPECT_THAT(run.messages,
              ElementsAre("Please push the tray in.", "Firmware has been updated successfully !"));
  EXPECT_THAT(UntilTheRun(run.statuses),
              ElementsAre("Check Disc & Tray Status...", "Tray In ...", "Waiting Drive Ready ..."));
  EXPECT_TRUE(run.flashed);
}

}  // namespace
