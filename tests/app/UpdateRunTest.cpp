#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "device/AtapiDevice.h"
#include "package/ImageHash.h"
#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

using app::Ending;
using app::TMovrelMain;
using package::layout::Option;
using platform::MessageAnswer;

// Waits for the run and checks that it ended.
void RunUntilIdle(TMovrelMain& form, ScriptedApplication& application) {
  WaitForTheRun(form, application);
  ASSERT_FALSE(form.RunInProgress()) << "the run did not end";
}

std::vector<std::string> Texts(const ScriptedApplication& application) {
  std::vector<std::string> texts;
  for (const auto& shown : application.shown) {
    const bool yesNo = shown.buttons == platform::MessageButtons::YesNo;
    texts.push_back(shown.title + ": " + shown.text + (yesNo ? " [Yes/No]" : ""));
  }
  return texts;
}

sim::Fault FailingProgramming() {
  sim::Fault fault;
  fault.command = 0x3B;
  fault.control = 0x80;
  fault.kind = sim::FaultKind::Fail;
  return fault;
}

constexpr char kFailed[] = "Error: Unable to flash firmware. Please contact with your vendor !";
constexpr char kSucceeded[] = "Information: Firmware has been updated successfully !";

class UpdateRun : public ::testing::Test {
 protected:
  sim::BayConfig bay;
  ScriptedApplication application;
  UpdateRun() { bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {1, 0, 0, 0})}; }
};

TEST_F(UpdateRun, ManualRunShowsTheNewRevisionAndStaysOpen) {
  sim::SimSystem system(bay);
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  form.cboDrives.SetItemIndex(1);
  form.cboDrivesChange(&form.cboDrives);
  system.ClearTrace();

  form.cmdUpdateClick(&form.cmdUpdate);
  EXPECT_TRUE(form.RunInProgress());
  EXPECT_TRUE(form.tmr.Enabled());
  EXPECT_FALSE(form.cmdUpdate.Enabled());
  EXPECT_FALSE(form.cmdClose.Enabled());
  EXPECT_EQ(form.lblMsg.FontColor(), app::clMaroon);
  EXPECT_EQ(form.pbar.Max(), 330);

  // Choosing another allowed drive during the run must not offer a second run.
  form.cboDrives.SetItemIndex(0);
  form.cboDrivesChange(&form.cboDrives);
  EXPECT_FALSE(form.cmdUpdate.Enabled());
  form.cboDrives.SetItemIndex(1);
  form.cboDrivesChange(&form.cboDrives);

  RunUntilIdle(form, application);
  EXPECT_THAT(Texts(application),
              ::testing::ElementsAre("Information: Firmware has been updated successfully !"));
  EXPECT_FALSE(application.Terminated());
  EXPECT_EQ(form.GetEnding(), Ending::Running);
  EXPECT_FALSE(form.tmr.Enabled());
  EXPECT_TRUE(form.cmdUpdate.Enabled());
  EXPECT_TRUE(form.cmdClose.Enabled());
  EXPECT_EQ(form.cboDrives.Items()[1], " 1-0-0-0 E:DornavexDVDRW KTR-207M   RV0D");
  EXPECT_EQ(form.cboDrives.Items()[0], " 0-0-0-0 D:DornavexDVDRW KTR-207M   RV05");
  EXPECT_EQ(form.cboDrives.ItemIndex(), 1);
  EXPECT_EQ(form.lblOldFW.Text(), "RV0D");
  EXPECT_EQ(form.lblMsg.Text(), "");
  EXPECT_EQ(form.lblMsg.FontColor(), app::clNavy);
  EXPECT_EQ(form.lblPercent.Text(), "0 %");
  EXPECT_EQ(form.pbar.Position(), 0);
  EXPECT_TRUE(system.ShutdownRequests().empty());

  // The drive's lock, and inside it the system kept awake, from before the run's first command
  // until after its last; the volume lock of the run's device (the window's own device closed)
  // around the update's commands. No command to D, which was chosen during the run.
  const std::vector<std::string> trace = system.Trace();
  ASSERT_GT(trace.size(), 6u);
  EXPECT_THAT(std::vector(trace.begin(), trace.begin() + 3),
              ::testing::ElementsAre("- lock E", "- hold awake", "- lock volume E"));
  EXPECT_THAT(trace[3], ::testing::StartsWith("E 00 "));
  const auto unlockedVolume = std::find(trace.begin(), trace.end(), "- unlock volume E");
  const auto programmed =
      std::find(trace.begin(), trace.end(), "E 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 good");
  ASSERT_NE(unlockedVolume, trace.end());
  // The drive answers and is identified on the run's own device before that device lets go of it.
  ASSERT_EQ(programmed + 3, unlockedVolume);
  EXPECT_THAT(
      std::vector(programmed + 1, unlockedVolume),
      ::testing::ElementsAre(::testing::StartsWith("E 00 "), ::testing::StartsWith("E 12 ")));
  EXPECT_THAT(*(unlockedVolume + 1), ::testing::StartsWith("E 12 "));  // identified again
  EXPECT_THAT(std::vector(trace.end() - 2, trace.end()),
              ::testing::ElementsAre("- unlock E", "- release awake"));
  EXPECT_THAT(trace, ::testing::Contains(::testing::StartsWith("- lock")).Times(2));
  EXPECT_THAT(trace, ::testing::Not(::testing::Contains(::testing::StartsWith("D "))));
  const auto& records = system.EventRecords();
  ASSERT_EQ(records.size(), 1u);
  const std::string& record = records[0];
  const std::string head = "E:|Dornavex|DVDRW KTR-207M  |RV05|RV0D|0|";
  const std::string tail = "|success|";
  const std::size_t atHead = record.find(head);
  ASSERT_EQ(record.rfind("Movrel \\\\.\\E:|", 0), 0u) << record;
  ASSERT_NE(atHead, std::string::npos) << record;
  const std::string digest = record.substr(atHead + head.size(), 64);
  EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << record;
  EXPECT_EQ(record.substr(atHead + head.size() + 64), tail) << record;
}

// A drive updated from bank 2: its record names that bank and carries that bank's image digest.
TEST_F(UpdateRun, RecordCarriesTheDigestOfTheBankSent) {
  bay.drives = {Drive('D', {0, 0, 0, 0}, "Dornavex", "DVDRW KTR-207M", "RV0E")};
  sim::SimSystem system(bay);
  auto request = StandardRequest();
  request.banks[1].imagePath = "bank2.bin";
  request.banks[1].newRevision = "RV0F";
  request.banks[1].constraints = {{"RV0E", "RV0E", "Dornavex", "DVDRW KTR-207M"}};
  const auto package = MakePackage(request);
  const auto sha256 = [](const std::vector<unsigned char>& image) {
    return package::Sha256Hex(image.data(), image.size());
  };
  const std::string bank2 = sha256(SimImage("RV0F", 524288));
  ASSERT_NE(bank2, sha256(SimImage("RV0D", 524288)));

  TMovrelMain form(system, application, package.View());
  form.cmdUpdateClick(&form.cmdUpdate);
  RunUntilIdle(form, application);
  EXPECT_THAT(system.EventRecords(),
              ::testing::ElementsAre(::testing::EndsWith(
                  "D:|Dornavex|DVDRW KTR-207M  |RV0E|RV0F|1|" + bank2 + "|success|")));
}

// Every command to the drive waits a bounded time until the programming command; that command
// and the identification after it wait long, while the drive may be writing its flash memory.
TEST_F(UpdateRun, WaitsAreBoundedUntilTheProgrammingCommand) {
  std::vector<std::string> waits;  // "<operation code>[/<control>] <seconds>" per command to E
  bay.drives[1].responder = [&waits](const sim::CommandBytes& command, const sim::DataPhase& data,
                                     sim::Answer&) {
    char code[8];
    std::snprintf(code, sizeof code, command[0] == 0x3B ? "3B/%02X" : "%02X",
                  command[0] == 0x3B ? command[9] : command[0]);
    waits.push_back(code + (" " + std::to_string(data.timeoutSeconds)));
    return false;
  };
  sim::SimSystem system(bay);
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  form.cboDrives.SetItemIndex(1);
  form.cboDrivesChange(&form.cboDrives);
  form.cmdUpdateClick(&form.cmdUpdate);
  RunUntilIdle(form, application);

  const auto programming = std::find(waits.begin(), waits.end(), "3B/80 108000");
  ASSERT_NE(programming, waits.end());
  std::vector<std::string> before(waits.begin(), programming);
  EXPECT_THAT(before, ::testing::Contains("DF 30").Times(2));  // discovery's and the update's
  EXPECT_THAT(before, ::testing::Contains("3C 30").Times(64));
  EXPECT_THAT(before, ::testing::Contains("3B/7F 300"));  // the drive-side program's hand-over
  before.erase(std::find(before.begin(), before.end(), "3B/7F 300"));
  EXPECT_THAT(before, ::testing::Each(::testing::EndsWith(" 30")));
  EXPECT_THAT(std::vector<std::string>(programming, waits.end()),
              ::testing::ElementsAre("3B/80 108000", "00 108000", "12 108000", "12 108000"));
  EXPECT_EQ(form.MainDevice()->CommandTimeout(), device::AtapiDevice::kBoundedCommandTimeout);
}

// The end of the run lets the window's messages through; a selection and an Update click waiting
// there must not start a second run inside it.
TEST_F(UpdateRun, NoSecondRunStartsInsideTheEndOfTheFirst) {
  for (const char reboot : {'0', '1'}) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Reboot, reboot);
    TMovrelMain form(system, app, package.View());
    form.cboDrives.SetItemIndex(1);
    form.cboDrivesChange(&form.cboDrives);
    form.cmdUpdateClick(&form.cmdUpdate);
    app.onProcessMessages = [&] {
      form.cboDrives.SetItemIndex(0);
      form.cboDrivesChange(&form.cboDrives);
      form.cmdUpdateClick(&form.cmdUpdate);
    };
    RunUntilIdle(form, app);
    EXPECT_EQ(system.Drive("D").flashCount, 0);
    EXPECT_EQ(system.Drive("E").flashCount, 1);
    EXPECT_THAT(Texts(app),
                ::testing::ElementsAre("Information: Firmware has been updated successfully !"));
  }
}

TEST_F(UpdateRun, RebootRestartsTheSystemAndCloseApEnds) {
  for (const auto& [reboot, closeAp, restarts] :
       {std::tuple{'1', '0', true}, std::tuple{'0', '1', false}, std::tuple{'2', '1', true},
        std::tuple{'0', '2', false}}) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Reboot, reboot);
    package.SetOption(Option::CloseAp, closeAp);
    TMovrelMain form(system, app, package.View());
    form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(form.GetEnding(), Ending::Normal);
    if (restarts) {
      EXPECT_THAT(system.ShutdownRequests(), ::testing::ElementsAre(6u));
    } else {
      EXPECT_TRUE(system.ShutdownRequests().empty());
    }
    EXPECT_THAT(system.Trace(), ::testing::Contains("- restart 6").Times(restarts ? 1 : 0));
  }
}

TEST_F(UpdateRun, AutomaticRunWithOneFailureReportsOnceAfterBoth) {
  sim::Fault refused = FailingProgramming();
  refused.kind = sim::FaultKind::Sense;
  refused.sense = {0x03, 0x0C, 0x00};
  bay.drives[0].faults = {refused};
  sim::SimSystem system(bay);
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::AutoMode, '1');
  package.SetOption(Option::Reboot, '1');
  TMovrelMain form(system, application, package.View());  // the run starts by itself
  EXPECT_TRUE(form.RunInProgress());
  RunUntilIdle(form, application);

  EXPECT_THAT(Texts(application),
              ::testing::ElementsAre("Error: Unable to flash firmware. Please contact with your "
                                     "vendor !"));
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(form.GetEnding(), Ending::FlashFailed);
  EXPECT_TRUE(system.ShutdownRequests().empty());
  // Both drives were identified again: the one that succeeded shows its new revision.
  EXPECT_EQ(form.cboDrives.Items()[0], " 0-0-0-0 D:DornavexDVDRW KTR-207M   RV05");
  EXPECT_EQ(form.cboDrives.Items()[1], " 1-0-0-0 E:DornavexDVDRW KTR-207M   RV0D");
  // Each drive's record, the failing one with the sense of its refused command.
  EXPECT_THAT(
      system.EventRecords(),
      ::testing::ElementsAre(::testing::HasSubstr("D:|Dornavex|DVDRW KTR-207M  |RV05|RV05|0|"),
                             ::testing::HasSubstr("E:|Dornavex|DVDRW KTR-207M  |RV05|RV0D|0|")));
  EXPECT_THAT(system.EventRecords()[0], ::testing::EndsWith("|failure|03/0C"));
  EXPECT_THAT(system.EventRecords()[1], ::testing::EndsWith("|success|"));
}

// A drive that took every command but still reports its old revision was not updated; where the
// package restarts the system, the restart comes first and nothing is judged.
TEST_F(UpdateRun, ADriveThatKeepsItsOldRevisionFailsTheRun) {
  for (const char reboot : {'0', '1'}) {
    SCOPED_TRACE(reboot);
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Reboot, reboot);
    const std::string marker = "MOVREL-SIM-IMAGE";  // without it the drive keeps its identity
    const auto image =
        std::search(package.block.begin(), package.block.end(), marker.begin(), marker.end());
    ASSERT_NE(image, package.block.end());
    *image = 'X';
    TMovrelMain form(system, app, package.View());
    form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    EXPECT_EQ(system.Drive("D").flashCount, 1);
    EXPECT_EQ(Texts(app), std::vector<std::string>{reboot == '0' ? kFailed : kSucceeded});
    EXPECT_EQ(form.GetEnding(), reboot == '0' ? Ending::FlashFailed : Ending::Normal);
    EXPECT_THAT(system.EventRecords(),
                ::testing::ElementsAre(::testing::AllOf(
                    ::testing::HasSubstr("|RV05|RV05|0|"),
                    ::testing::HasSubstr(reboot == '0' ? "|failure|" : "|success|"))));
  }
}

TEST_F(UpdateRun, AutomaticModeStillAsksTheNoticeFirst) {
  sim::SimSystem system(bay);
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::AutoMode, '1');
  package.SetOption(Option::Warning, '1');
  TMovrelMain form(system, application, package.View());  // No to the NOTICE
  EXPECT_FALSE(form.RunInProgress());
  EXPECT_TRUE(application.Terminated());
}

// Matching marks a drive up to date only for N2OMESSAGE 1; the question is asked for such a drive.
TEST_F(UpdateRun, NoToTheUpToDateQuestionEndsWithoutTouchingTheDrive) {
  bay.drives = {Drive('D', {0, 0, 0, 0}, "Dornavex", "DVDRW KTR-207M", "RV0D")};
  {
    sim::SimSystem system(bay);
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::N2oMessage, '1');
    TMovrelMain form(system, application, package.View());
    const auto commandsBefore = system.Trace().size();
    form.cmdUpdateClick(&form.cmdUpdate);
    EXPECT_THAT(Texts(application),
                ::testing::ElementsAre("Warning: Your drive's Firmware is already the most updated "
                                       "!\n Do you wish to continue ? [Yes/No]"));
    EXPECT_TRUE(application.Terminated());
    EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
    EXPECT_FALSE(form.RunInProgress());
    EXPECT_EQ(system.Trace().size(), commandsBefore);
  }
  {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::N2oMessage, '2');
    TMovrelMain form(system, app, package.View());
    form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    EXPECT_THAT(Texts(app),
                ::testing::ElementsAre("Information: Firmware has been updated successfully !"));
  }
}

// On battery the run ends before any drive command, in either mode, as a run refused before the
// update; on the adapter, or where the system cannot tell, it goes on.
TEST_F(UpdateRun, OnBatteryNoDriveIsUpdated) {
  using Source = platform::System::PowerSource;
  for (const auto& [source, autoMode, refused] :
       {std::tuple{Source::Battery, '0', true}, std::tuple{Source::Battery, '1', true},
        std::tuple{Source::Mains, '1', false}, std::tuple{Source::Unknown, '1', false}}) {
    sim::SimSystem system(bay);
    system.SetPowerSource(source);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::AutoMode, autoMode);
    TMovrelMain form(system, app, package.View());
    const auto commandsBefore = system.Trace().size();
    if (autoMode == '0') form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    if (refused) {
      EXPECT_THAT(Texts(app), ::testing::ElementsAre("Error: The computer is running on battery. "
                                                     "Connect the power adapter before updating "
                                                     "the drive's firmware."));
      EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
      EXPECT_EQ(system.Trace().size(), commandsBefore);
    } else {
      EXPECT_THAT(Texts(app),
                  ::testing::ElementsAre("Information: Firmware has been updated successfully !"));
      EXPECT_EQ(system.Drive("D").revision, "RV0D");
    }
  }
}

// BOOTCODE not 0 selects the boot-code variant of the programming command.
TEST_F(UpdateRun, BootCodeReachesTheProgrammingCommand) {
  for (const auto& [bootCode, control] :
       {std::pair{'0', "80"}, std::pair{'1', "A0"}, std::pair{'2', "A0"}}) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::BootCode, bootCode);
    TMovrelMain form(system, app, package.View());
    form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    const auto trace = system.Trace();
    EXPECT_EQ(
        std::count(trace.begin(), trace.end(),
                   std::string("D 3B 05 01 00 00 00 00 00 00 ") + control + " 00 00 none 0 good"),
        1)
        << "BOOTCODE=" << bootCode;
  }
}

TEST_F(UpdateRun, UnusableBankFailsTheRunWithoutAnyCommand) {
  sim::SimSystem system(bay);
  auto package = MakePackage(StandardRequest());
  const std::string size = "0001048577";  // not a multiple of 16384, and past the bank area
  std::copy(size.begin(), size.end(),
            package.block.begin() + package::layout::BankSizeDigitsOffset(0));
  TMovrelMain form(system, application, package.View());
  const auto commandsBefore = system.Trace().size();
  form.cmdUpdateClick(&form.cmdUpdate);
  RunUntilIdle(form, application);
  ASSERT_FALSE(application.shown.empty());
  EXPECT_EQ(application.shown[0].text,
            "Unable to flash firmware. Please contact with your vendor !");
  // Nothing reached the drive but the identification after the run.
  for (std::size_t i = commandsBefore; i < system.Trace().size(); ++i) {
    EXPECT_THAT(system.Trace()[i], ::testing::Not(::testing::HasSubstr(" 3B ")));
  }
}

// --- The run's hold on its drives ------------------------------------------------------------

constexpr char kBusyD[] = "Warning: Drive D: is being updated by another flash program.";

bool CommandTo(const std::string& line, char drive) {
  return line.size() > 2 && line[0] == drive && line[1] == ' ';
}

// When another flasher holds drive D's lock, and how the run is set up.
struct BusyRow {
  const char* name;
  char autoMode;
  char chkDisc;
  bool atStartUp;  // held before the flasher starts; else taken between start-up and the run
  std::vector<std::string> boxes;
  int flashedE;
};

// That drive is sent nothing, the person is told which once, and the run's other drives are
// updated all the same.
TEST_F(UpdateRun, ADriveAnotherFlasherHoldsIsSentNothingAndNamedOnce) {
  const BusyRow rows[] = {
      {"held at start-up, manual", '0', '0', true, {kBusyD, kSucceeded}, 1},
      {"held at start-up, automatic", '1', '0', true, {kBusyD, kSucceeded}, 1},
      {"taken before the run, automatic", '1', '0', false, {kBusyD, kFailed}, 1},
      {"taken before the run, automatic, disc check", '1', '1', false, {kBusyD, kFailed}, 1},
      {"taken before the run, manual", '0', '0', false, {kBusyD, kFailed}, 0},
      {"taken before the run, manual, disc check", '0', '1', false, {kBusyD, kFailed}, 0},
  };
  for (const BusyRow& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::AutoMode, row.autoMode);
    package.SetOption(Option::ChkDisc, row.chkDisc);
    const auto takeD = [&] {
      system.LockElsewhere("D");
      system.ClearTrace();
      app.shown.clear();
    };
    if (row.atStartUp) {
      takeD();
    } else if (row.autoMode == '1') {
      package.SetOption(Option::Warning, '1');  // the notice comes between start-up and the run
      app.answers = {MessageAnswer::Yes};
      app.onMessage = [&](const std::string& text) {
        if (text.rfind(app::texts::kOnlySupports, 0) == 0) takeD();
      };
    }
    TMovrelMain form(system, app, package.View());
    if (row.autoMode == '0') {
      if (!row.atStartUp) takeD();
      form.cmdUpdateClick(&form.cmdUpdate);
    }
    RunUntilIdle(form, app);

    EXPECT_EQ(Texts(app), row.boxes);
    EXPECT_EQ(form.cboDrives.Items().size(), row.atStartUp ? 1u : 2u);
    EXPECT_EQ(system.Drive("D").flashCount, 0);
    EXPECT_EQ(system.Drive("E").flashCount, row.flashedE);
    const std::vector<std::string> trace = system.Trace();
    EXPECT_EQ(
        std::count_if(trace.begin(), trace.end(), [](const auto& l) { return CommandTo(l, 'D'); }),
        0)
        << ::testing::PrintToString(trace);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "- lock D held elsewhere"), 1);
  }
}

// A drive that the system keeps in use (Linux: its disc mounted, or another program's exclusive
// open that outlasts a media event) gets no command of the update, not even the disc check's
// eject, and the person is told which and why; an automatic run's other drive is updated all the
// same. A hold of a moment is waited out.
TEST_F(UpdateRun, ADriveTheSystemKeepsInUseIsSentNothingAndNamed) {
  constexpr char kMounted[] =
      "Warning: Drive D: is in use: a disc in it is mounted. Unmount the disc, and try again.";
  constexpr char kHeld[] =
      "Warning: Drive D: is in use by another program. Close the program, and try again.";
  struct Row {
    char autoMode;
    char chkDisc;
    double heldSeconds;  // 0: the disc is mounted
    std::vector<std::string> boxes;
    int refusals;  // of the volume lock
  };
  const Row rows[] = {
      {'0', '0', 0, {kMounted, kFailed}, 1}, {'1', '0', 0, {kMounted, kFailed}, 1},
      {'0', '1', 0, {kMounted, kFailed}, 1}, {'1', '1', 0, {kMounted, kFailed}, 1},
      {'0', '1', 60, {kHeld, kFailed}, 7},   {'0', '0', 60, {kHeld, kFailed}, 7},
      {'0', '1', 1.2, {kSucceeded}, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "AUTOMODE " << row.autoMode << " CHKDISC " << row.chkDisc
                                      << " held " << row.heldSeconds);
    bay.drives[0].medium = row.heldSeconds == 0;
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::AutoMode, row.autoMode);
    package.SetOption(Option::ChkDisc, row.chkDisc);
    if (row.heldSeconds == 0) system.MountVolume("D");
    TMovrelMain form(system, app, package.View());
    if (row.heldSeconds != 0) system.HoldDriveElsewhere("D", row.heldSeconds);
    if (row.autoMode == '0') {
      system.ClearTrace();
      form.cmdUpdateClick(&form.cmdUpdate);
    }
    RunUntilIdle(form, app);
    EXPECT_EQ(Texts(app), row.boxes);
    const bool updated = row.boxes.back() == kSucceeded;
    EXPECT_EQ(system.Drive("D").flashCount, updated ? 1 : 0);
    EXPECT_EQ(system.Drive("E").flashCount, row.autoMode == '1' ? 1 : 0);
    const std::vector<std::string> trace = system.Trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "- lock volume D refused"), row.refusals);
    if (updated) continue;
    const auto refused = std::find(trace.begin(), trace.end(), "- lock volume D refused");
    ASSERT_NE(refused, trace.end());
    for (auto line = refused; line != trace.end(); ++line) {  // the identification after the run
      if (CommandTo(*line, 'D')) {
        EXPECT_EQ(line->rfind("D 12 ", 0), 0u) << *line;
      }
    }
  }
}

// The end of an automatic run identifies every drive again, but not one that another flasher
// took meanwhile, though it is none of the run's.
TEST_F(UpdateRun, TheEndOfTheRunLeavesAnotherFlashersDriveAlone) {
  bay.drives[1].product = "CDRW OTHER";  // not for this package
  sim::SimSystem system(bay);
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::AutoMode, '1');
  package.SetOption(Option::Warning, '1');
  application.answers = {MessageAnswer::Yes};
  application.onMessage = [&](const std::string& text) {
    if (text.rfind(app::texts::kOnlySupports, 0) != 0) return;
    system.LockElsewhere("E");
    system.ClearTrace();
  };
  TMovrelMain form(system, application, package.View());
  RunUntilIdle(form, application);
  EXPECT_EQ(system.Drive("D").flashCount, 1);
  const std::vector<std::string> trace = system.Trace();
  EXPECT_EQ(
      std::count_if(trace.begin(), trace.end(), [](const auto& l) { return CommandTo(l, 'E'); }),
      0);
}

// A lock that a flasher left behind when it ended is taken over; one the system cannot give at all
// keeps no drive from its update.
TEST_F(UpdateRun, ALockLeftBehindOrNotToBeHadKeepsNoDriveFromItsUpdate) {
  for (const bool leftBehind : {true, false}) {
    SCOPED_TRACE(leftBehind ? "left behind" : "not to be had");
    sim::SimSystem system(bay);
    ScriptedApplication app;
    const auto package = MakePackage(StandardRequest());
    TMovrelMain form(system, app, package.View());
    if (leftBehind) {
      system.AbandonLockElsewhere("D");
    } else {
      system.FailCall("LockDrive");
    }
    system.ClearTrace();
    form.cmdUpdateClick(&form.cmdUpdate);
    RunUntilIdle(form, app);
    EXPECT_THAT(Texts(app), ::testing::ElementsAre(kSucceeded));
    EXPECT_EQ(system.Drive("D").flashCount, 1);
    const std::vector<std::string> trace = system.Trace();
    const auto taken = std::find(trace.begin(), trace.end(), "- lock D abandoned");
    EXPECT_EQ(taken != trace.end(), leftBehind);
    EXPECT_EQ(std::find(taken, trace.end(), "- unlock D") != trace.end(), leftBehind);
  }
}

// The drive's commands of a manual run on D, without the machine's own lines.
std::vector<std::string> RunCommands(sim::SimSystem& system, ScriptedApplication& application,
                                     std::vector<std::string>* notes = nullptr) {
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  system.ClearTrace();
  form.cmdUpdateClick(&form.cmdUpdate);
  WaitForTheRun(form, application);
  std::vector<std::string> commands;
  for (const std::string& line : system.Trace()) {
    (line[0] == '-' ? notes : &commands)->push_back(line);
  }
  return commands;
}

// Neither a volume lock nor exclusive access is needed for an update: tried for its while, then
// the same commands as ever.
TEST_F(UpdateRun, AVolumeThatCannotBeHadLeavesTheUpdateToGoOn) {
  sim::SimSystem alone(bay);
  ScriptedApplication aloneApplication;
  std::vector<std::string> aloneNotes;
  const std::vector<std::string> expected = RunCommands(alone, aloneApplication, &aloneNotes);
  EXPECT_THAT(aloneNotes, ::testing::Contains("- lock volume D"));

  for (const std::uint32_t major : {5u, 6u}) {
    SCOPED_TRACE(major);
    sim::SimSystem system(bay);
    system.SetVersion(major, 0);
    system.OpenVolumeElsewhere("D");
    system.HoldExclusiveAccessElsewhere("D");
    ScriptedApplication app;
    std::vector<std::string> notes;
    EXPECT_EQ(RunCommands(system, app, &notes), expected);
    std::vector<std::string> taking(20, "- lock volume D refused");
    if (major >= 6) taking.push_back("- exclusive access D refused");
    taking.insert(taking.begin(), {"- lock D", "- hold awake"});
    ASSERT_GT(notes.size(), taking.size());
    EXPECT_EQ(std::vector(notes.begin(), notes.begin() + taking.size()), taking);
    EXPECT_THAT(Texts(app), ::testing::ElementsAre(kSucceeded));
    EXPECT_EQ(system.Drive("D").flashCount, 1);
  }
}

TEST(ProgressDisplay, TimerTextsFollowTheTicks) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  form.pbar.SetMax(330);

  form.tmrTimer(&form.tmr);
  EXPECT_EQ(form.lblPercent.Text(), "0 %");
  EXPECT_EQ(form.lblMsg.Text(), "Programming .");
  for (int tick = 2; tick <= 10; ++tick) form.tmrTimer(&form.tmr);
  EXPECT_EQ(form.lblPercent.Text(), "3 %");
  EXPECT_EQ(form.lblMsg.Text(), "Programming ");
  for (int tick = 11; tick <= 329; ++tick) form.tmrTimer(&form.tmr);
  EXPECT_EQ(form.lblMsg.Text(), "Programming .........");
  form.tmrTimer(&form.tmr);
  EXPECT_EQ(form.lblPercent.Text(), "100 %");
  form.tmrTimer(&form.tmr);
  EXPECT_EQ(form.lblPercent.Text(), "100 %");
  EXPECT_EQ(form.lblMsg.Text(), "Programming ..........");
  EXPECT_EQ(form.pbar.Position(), 330);
}

}  // namespace
}  // namespace movrel::test
