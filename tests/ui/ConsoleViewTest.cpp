#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "WindowTestSupport.h"
#include "sim/SimSystem.h"
#include "ui/console/ConsoleView.h"

namespace movrel::test {

namespace {

using package::layout::Option;
using ::testing::HasSubstr;

struct Session {
  int status;
  std::string output;
};

struct Terminal {
  bool input = false;
  bool output = false;
  std::vector<std::string>* discards = nullptr;  // the output so far at each discard of input
};

Session RunConsole(const std::string& input, const Package& package, sim::BayConfig bay,
                   Terminal terminal = {}) {
  sim::SimSystem system(bay);
  std::istringstream in(input);
  std::ostringstream out;
  ui::ConsoleView view(in, out, terminal.input, terminal.output);
  if (terminal.discards != nullptr) {
    view.SetTypeAheadDiscard([&] { terminal.discards->push_back(out.str()); });
  }
  const int status = view.Run(system, package.View());
  return {status, out.str()};
}

sim::BayConfig TwoDrives() {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {1, 0, 0, 0}, "Othermak", "CD-ROM X", "1.00")};
  return bay;
}

TEST(ConsoleView, ListsTheDrivesWithTheSelectionAndThePanel) {
  const auto session = RunConsole("2\nq\n", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_EQ(session.status, 0);
  EXPECT_THAT(session.output, HasSubstr("Flash Program for Dornavex DVDRW KTR-207M\n"
                                        "> 1)  0-0-0-0 D:DornavexDVDRW KTR-207M   RV05\n"
                                        "  2)  1-0-0-0 E:OthermakCD-ROM X         1.00\n"
                                        "It will be updated from RV05 to RV0D\n"));
  EXPECT_THAT(session.output, HasSubstr("  1)  0-0-0-0 D:DornavexDVDRW KTR-207M   RV05\n"
                                        "> 2)  1-0-0-0 E:OthermakCD-ROM X         1.00\n"
                                        "This drive is not allowed to be updated.\n"));
}

TEST(ConsoleView, UpdateRunsToTheEndAndListsTheNewRevision) {
  const auto session = RunConsole("u\nq\n", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_EQ(session.status, 0);
  EXPECT_THAT(session.output, HasSubstr("Inquiry ...  100 %\n"));
  EXPECT_THAT(session.output,
              HasSubstr("[Information] Firmware has been updated successfully !\n"));
  EXPECT_THAT(session.output, HasSubstr("> 1)  0-0-0-0 D:DornavexDVDRW KTR-207M   RV0D\n"));
}

TEST(ConsoleView, StatusIsOneLinePerChangeOrOneUpdatingLineOnATerminal) {
  const auto piped = RunConsole("u\nq\n", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_THAT(piped.output, HasSubstr("\nInquiry ...  100 %\nDone.  100 %\n[Information] "));

  const auto terminal =
      RunConsole("u\nq\n", MakePackage(StandardRequest()), TwoDrives(), {.output = true});
  EXPECT_THAT(terminal.output,
              HasSubstr("\r\x1b[KInquiry ...  100 %\r\x1b[KDone.  100 %\n[Information] "));
}

TEST(ConsoleView, ExitStatusTellsHowTheProgramEnded) {
  auto notice = MakePackage(StandardRequest());
  notice.SetOption(Option::Warning, '1');
  const auto declined = RunConsole("no\n", notice, TwoDrives());
  EXPECT_EQ(declined.status, 2);
  EXPECT_THAT(declined.output, HasSubstr("[Warning] This flash utility only supports "));
  EXPECT_THAT(declined.output, HasSubstr("\nDo you wish to continue ?\n(y/n) "));

  const auto accepted = RunConsole("YES\nq\n", notice, TwoDrives());
  EXPECT_EQ(accepted.status, 0);

  auto bay = TwoDrives();
  sim::Fault fault;
  fault.command = 0x3B;
  fault.control = 0x80;
  bay.drives[0].faults = {fault};
  const auto failed = RunConsole("u\n", MakePackage(StandardRequest()), bay);
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.output,
              HasSubstr("[Error] Unable to flash firmware. Please contact with your vendor !\n"));

  auto noFirmware = MakePackage(StandardRequest());
  noFirmware.SetOption(Option::HowManyBin, '0');
  const auto empty = RunConsole("", noFirmware, TwoDrives());
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.output, "[Error] No F/W in executable !\n");
}

// A box that asks the person to act on the drive reads a line, from a pipe too; when the input
// has ended there is nobody to take the disc out, and the drive's run fails instead of asking
// for ever.
TEST(ConsoleView, ABoxThatAsksToActOnTheDriveEndsTheRunWhenTheInputHasEnded) {
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::ChkDisc, '1');
  auto bay = TwoDrives();
  bay.drives[0].medium = true;
  const auto session = RunConsole("u\n", package, bay);
  EXPECT_EQ(session.status, 1);
  const auto asked = session.output.find(
      "[Warning] Please remove the disc.\n"
      "(press Enter when done) \n");
  ASSERT_NE(asked, std::string::npos);
  EXPECT_NE(session.output.find("[Error] Unable to flash firmware.", asked), std::string::npos);
  EXPECT_EQ(session.output.find("Please remove"), session.output.rfind("Please remove"));
}

TEST(ConsoleView, OnATerminalBoxesDropWhatWasTypedAheadAndOkWaitsForEnter) {
  std::vector<std::string> discards;
  const auto terminal = RunConsole("u\n\nq\n", MakePackage(StandardRequest()), TwoDrives(),
                                   {.input = true, .discards = &discards});
  ASSERT_EQ(discards.size(), 1u);
  EXPECT_THAT(discards[0], ::testing::EndsWith("[Information] Firmware has been updated "
                                               "successfully !\n(press Enter) "));

  discards.clear();
  const auto piped =
      RunConsole("u\nq\n", MakePackage(StandardRequest()), TwoDrives(), {.discards = &discards});
  EXPECT_TRUE(discards.empty());
  EXPECT_THAT(piped.output, ::testing::Not(HasSubstr("(press Enter)")));
}

TEST(ConsoleView, UpdateOfADriveThatMayNotBeUpdatedSaysWhy) {
  const auto session = RunConsole("2\nu\nq\n", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_THAT(session.output, HasSubstr("u\nThis drive is not allowed to be updated.\n"
                                        "Select a line, u = Update, q = Close: "));
}

TEST(ConsoleView, OnlyWholeLineNumbersSelect) {
  const auto session = RunConsole("2x\n+2\n3\nq\n", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_THAT(session.output, ::testing::Not(HasSubstr("> 2)")));
  EXPECT_THAT(session.output, HasSubstr("There is no line 3.\n"));
}

// A drive (or a USB bridge) may answer INQUIRY with terminal escape sequences, and a package's
// texts are anybody's bytes: the terminal is given text only, while matching and the update use
// the bytes as they came.
TEST(ConsoleView, TheDrivesAndThePackagesBytesReachTheTerminalAsText) {
  const std::string vendor = "\x1b]0;pwn\x07";                 // sets the terminal's title
  const std::string product = "\x1b[2JKTR-207M\x7f\xc3\xa9X";  // clears the screen
  auto request = StandardRequest();
  request.title = "Flash\x1b[8mProgram";
  request.model = "Dornavex\x1b[5m";
  request.options[static_cast<std::size_t>(Option::Warning)] = '1';  // the NOTICE names the model
  request.banks[0].constraints = {{"", "", vendor, product}};
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}, vendor, product, "R\a05")};

  const auto session = RunConsole("y\nu\nq\n", MakePackage(request), bay);
  EXPECT_THAT(session.output, HasSubstr("only supports Dornavex?[5m drive.\n\nNOTICE : \n"));
  EXPECT_THAT(session.output, HasSubstr("Flash?[8mProgram\n"
                                        "> 1)  0-0-0-0 D:?]0;pwn??[2JKTR-207M???X R?05\n"
                                        "It will be updated from R?05 to RV0D\n"));
  EXPECT_THAT(session.output,
              HasSubstr("[Information] Firmware has been updated successfully !\n"));
  for (const unsigned char c : session.output) {
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7E)) << "byte " << int(c) << " printed";
  }
}

TEST(ConsoleView, EndOfInputPressesClose) {
  const auto session = RunConsole("", MakePackage(StandardRequest()), TwoDrives());
  EXPECT_EQ(session.status, 0);
  EXPECT_THAT(session.output, HasSubstr("Select a line, u = Update, q = Close: "));
}

}  // namespace
}  // namespace movrel::test
