#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "main/sim/SimPerson.h"
#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

using app::TMovrelMain;
using package::layout::Option;
using ::testing::ElementsAre;

constexpr char kLocked[] =
    "Disc detected in drive. Unable to eject the disc , maybe locked by other program\n\n"
    "Please remove the disc manually.";

// One drive, CHKDISC on, a person at the machine who does what the message boxes ask; returns
// the messages and the status texts of the run.
struct CheckedRun {
  std::vector<std::string> messages;
  std::vector<std::string> statuses;
  bool flashed;
  int trayCommands;  // START STOP UNIT commands after start-up
  std::vector<std::string> trace;
};

enum class Person { AtTheMachine, Absent };

CheckedRun RunWithDiscCheck(const sim::DriveConfig& drive, const char* bankSize = nullptr,
                            char chkDisc = '1', Person at = Person::AtTheMachine) {
  sim::BayConfig bay;
  bay.drives = {drive};
  sim::SimSystem system(bay);
  main::SimPerson person(system, {drive.name});
  ScriptedApplication application;
  application.personPresent = at == Person::AtTheMachine;
  application.onMessage = [&](const std::string& text) {
    if (at == Person::AtTheMachine) person.Read(text);
    if (application.shown.size() > 20) throw std::runtime_error("the check does not end");
  };
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::ChkDisc, chkDisc);
  if (bankSize != nullptr) {
    std::copy(bankSize, bankSize + 10,
              package.block.begin() + package::layout::BankSizeDigitsOffset(0));
  }

  CheckedRun run;
  TMovrelMain* shown = nullptr;
  TMovrelMain form(system, application, package.View(), [&] {
    if (shown == nullptr) return;
    const std::string& text = shown->lblMsg.Text();
    if (run.statuses.empty() || run.statuses.back() != text) run.statuses.push_back(text);
  });
  shown = &form;
  const auto commandsBefore = system.Trace().size();
  form.cmdUpdateClick(&form.cmdUpdate);
  WaitForTheRun(form, application);
  for (const auto& message : application.shown) {
    const bool yesNo = message.buttons == platform::MessageButtons::YesNo;
    run.messages.push_back(message.text + (yesNo ? " [Yes/No]" : ""));
  }
  run.flashed = system.Drive(drive.name).flashCount == 1;
  const auto trace = system.Trace();
  run.trace.assign(trace.begin() + static_cast<std::ptrdiff_t>(commandsBefore), trace.end());
  run.trayCommands = static_cast<int>(std::count_if(
      trace.begin() + static_cast<std::ptrdiff_t>(commandsBefore), trace.end(),
      [](const std::string& line) { return line.find(" 1B ") != std::string::npos; }));
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
  const auto run = RunWithDiscCheck(Drive('D', {0, 0, 0, 0}));
  EXPECT_THAT(run.messages, ElementsAre("Firmware has been updated successfully !"));
  EXPECT_THAT(UntilTheRun(run.statuses), ElementsAre("Check Disc & Tray Status..."));
  EXPECT_TRUE(run.flashed);
}

TEST(DiscCheck, OnlyChkDiscOneChecks) {
  auto drive = Drive('D', {0, 0, 0, 0});
  drive.medium = true;
  const auto run = RunWithDiscCheck(drive, nullptr, '2');
  EXPECT_THAT(run.messages, ElementsAre("Firmware has been updated successfully !"));
  EXPECT_THAT(run.statuses, ::testing::Not(::testing::Contains("Check Disc & Tray Status...")));
}

TEST(DiscCheck, DiscThatEjectsIsTakenOutBeforeTheFlash) {
  auto drive = Drive('D', {0, 0, 0, 0});
  drive.medium = true;
  const auto run = RunWithDiscCheck(drive);
  EXPECT_THAT(run.messages,
              ElementsAre("Please remove the disc.", "Firmware has been updated successfully !"));
  EXPECT_THAT(UntilTheRun(run.statuses), ElementsAre("Check Disc & Tray Status...", "Tray Out ...",
                                                     "Tray In ...", "Waiting Drive Ready ..."));
  EXPECT_TRUE(run.flashed);
}

// A desktop's device manager locks the door while a disc is in, and the lock outlives it: the
// check unlocks the door before it ejects, as the eject button would.
TEST(DiscCheck, DoorLockedByAnotherProgramIsUnlockedBeforeTheEject) {
  auto drive = Drive('D', {0, 0, 0, 0});
  drive.medium = true;
  drive.ejectLocked = true;
  const auto run = RunWithDiscCheck(drive);
  EXPECT_THAT(run.messages,
              ElementsAre("Please remove the disc.", "Firmware has been updated successfully !"));
  const auto allow = std::find_if(run.trace.begin(), run.trace.end(), [](const std::string& line) {
    return line.find(" 1E 00 00 00 00 00 ") != std::string::npos;
  });
  ASSERT_NE(allow, run.trace.end());
  ASSERT_NE(allow + 1, run.trace.end());
  EXPECT_THAT(*(allow + 1), ::testing::HasSubstr(" 1B 00 00 00 02 00 "));
  EXPECT_TRUE(run.flashed);
}

TEST(DiscCheck, TrayThatDoesNotLoadMustBePushedIn) {
  auto drive = Drive('D', {0, 0, 0, 0});
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

namespace {

constexpr char kFailed[] = "Unable to flash firmware. Please contact with your vendor !";

// Discovery sends each drive one TEST UNIT READY before the check sends its own.
constexpr int kStartUpReadinessTests = 1;

sim::Fault VanishAt(std::uint8_t command, int occurrence) {
  sim::Fault fault;
  fault.command = command;
  fault.occurrence = occurrence;
  fault.kind = sim::FaultKind::Vanish;
  return fault;
}

// A drive that stops answering ends the check; its worker then fails before programming.
TEST(DiscCheck, DriveThatStopsAnsweringEndsTheCheckAndFailsTheRun) {
  struct Case {
    const char* name;
    bool medium;
    sim::Fault fault;
  };
  for (const Case& c :
       {Case{"eject", true, VanishAt(0x1B, 1)}, Case{"load", false, VanishAt(0x1B, 1)},
        Case{"event status", false, VanishAt(0x4A, 1)},
        Case{"flash identity at start-up", true, VanishAt(0xDF, 1)},
        Case{"first readiness test", false, VanishAt(0x00, kStartUpReadinessTests + 1)},
        Case{"second readiness test", true, VanishAt(0x00, kStartUpReadinessTests + 2)}}) {
    SCOPED_TRACE(c.name);
    auto drive = Drive('D', {0, 0, 0, 0});
    drive.medium = c.medium;
    drive.trayOpen = !c.medium && c.fault.command == 0x1B;
    drive.faults = {c.fault};
    const auto run = RunWithDiscCheck(drive);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_EQ(run.messages.back(), kFailed);
    EXPECT_FALSE(run.flashed);
  }
}

// A box that asks for the disc or the tray and finds nobody to answer (a terminal whose input has
// ended) would repeat for ever: the drive's run fails instead, before any transfer command.
TEST(DiscCheck, ABoxThatNobodyAnswersFailsTheDriveInsteadOfRepeating) {
  sim::Fault jammed;  // the drive itself refuses to eject
  jammed.command = 0x1B;
  jammed.kind = sim::FaultKind::Sense;
  jammed.sense = {0x05, 0x53, 0x02};
  struct Case {
    const char* name;
    bool medium, trayOpen, trayMotor;
    std::vector<sim::Fault> faults;
    const char* box;
  };
  for (const Case& c :
       {Case{"disc that ejects", true, false, true, {}, "Please remove the disc."},
        Case{"jammed door", true, false, true, {jammed}, kLocked},
        Case{"tray without motor", false, true, false, {}, "Please push the tray in."}}) {
    SCOPED_TRACE(c.name);
    auto drive = Drive('D', {0, 0, 0, 0});
    drive.medium = c.medium;
    drive.trayOpen = c.trayOpen;
    drive.trayMotor = c.trayMotor;
    drive.faults = c.faults;
    const auto run = RunWithDiscCheck(drive, nullptr, '1', Person::Absent);
    EXPECT_THAT(run.messages, ElementsAre(c.box, kFailed));
    EXPECT_FALSE(run.flashed);
    EXPECT_THAT(run.trace, ::testing::Not(::testing::Contains(::testing::HasSubstr(" 3B "))));
  }
}

TEST(DiscCheck, UnusableBankIsRefusedWithoutMovingTheTray) {
  auto drive = Drive('D', {0, 0, 0, 0});
  drive.medium = true;
  const auto run = RunWithDiscCheck(drive, "-000016384");
  EXPECT_THAT(run.messages, ElementsAre(kFailed));
  EXPECT_EQ(run.trayCommands, 0);
  EXPECT_FALSE(run.flashed);
}

}  // namespace
}  // namespace movrel::test
