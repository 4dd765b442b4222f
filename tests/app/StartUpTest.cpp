#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "device/AtapiDevice.h"
#include "package/Seal.h"
#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

using app::Ending;
using app::TMovrelMain;
using package::layout::Option;
using platform::MessageAnswer;
using platform::MessageButtons;

const char kNoticeTwoPoints[] =
    "This flash utility only supports Dornavex DVDRW KTR-207M drive.\n\n"
    "NOTICE : \n\n"
    "1> Please REMOVE disc and close all applications before running this utility !\n"
    "2> Don't turn off the system while flash is in progress. \n"
    "\nDo you wish to continue ?";

const char kNoticeThreePoints[] =
    "This flash utility only supports Dornavex DVDRW KTR-207M drive.\n\n"
    "NOTICE : \n\n"
    "1> Please REMOVE disc and close all applications before running this utility !\n"
    "2> Don't turn off the system while flash is in progress. \n"
    "3> Don't remove the adapter and battery during F/W reflash processing. \n"
    "\nDo you wish to continue ?";

class StartUp : public ::testing::Test {
 protected:
  sim::BayConfig bay;
  ScriptedApplication application;

  StartUp() { bay.drives = {Drive('D', {1, 0, 0, 0})}; }
};

TEST_F(StartUp, AllowedDriveEndsIdleWithItsPanel) {
  sim::SimSystem system(bay);
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());

  EXPECT_FALSE(application.Terminated());
  EXPECT_TRUE(application.shown.empty());
  EXPECT_EQ(application.Tag(), 32767);
  EXPECT_EQ(form.Caption(), "Flash Program for Dornavex DVDRW KTR-207M");
  EXPECT_THAT(form.cboDrives.Items(),
              ::testing::ElementsAre(" 1-0-0-0 D:DornavexDVDRW KTR-207M   RV05"));
  EXPECT_EQ(form.cboDrives.ItemIndex(), 0);
  EXPECT_EQ(form.lblUpdateMsg.Text(), "It will be updated from");
  EXPECT_EQ(form.lblOldFW.Text(), "RV05");
  EXPECT_EQ(form.lblTo.Text(), "to");
  EXPECT_EQ(form.lblNewFW.Text(), "RV0D");
  EXPECT_EQ(form.lblMsg.Text(), "");
  EXPECT_EQ(form.lblPercent.Text(), "0 %");
  EXPECT_TRUE(form.cmdUpdate.Enabled());
  EXPECT_TRUE(form.CloseCommandRemoved());
  EXPECT_EQ(form.MainDevice()->CurrentIndex(), 0);  // the allowed drive is the current target
}

TEST_F(StartUp, UnpackagedTitleGivesTheVersionCaption) {
  sim::SimSystem system(bay);
  auto request = StandardRequest();
  request.title.reset();
  auto package = MakePackage(request);
  TMovrelMain form(system, application, package.View());
  EXPECT_EQ(form.Caption(), "Movrel v2.0.3");
}

TEST_F(StartUp, AdministratorNoticeOnlyOnNtAndOnlyForOne) {
  for (const auto& [family, admin, expected] :
       {std::tuple{sim::Family::NT, '1', true}, std::tuple{sim::Family::NT, '2', false},
        std::tuple{sim::Family::Consumer, '1', false}}) {
    bay.family = family;
    bay.aspi = true;  // the consumer family reaches its drives through the ASPI manager
    bay.hostAdapters = 2;
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Admin, admin);
    TMovrelMain form(system, app, package.View());
    EXPECT_FALSE(app.Terminated()) << (app.shown.empty() ? "" : app.shown.back().text);
    if (expected) {
      ASSERT_EQ(app.shown.size(), 1u);
      EXPECT_EQ(app.shown[0].title, "Warning");
      EXPECT_EQ(app.shown[0].buttons, MessageButtons::Ok);
      EXPECT_EQ(app.shown[0].text, "User must be administrator priority !");
    } else {
      EXPECT_TRUE(app.shown.empty());
    }
  }
}

TEST_F(StartUp, NoFirmwareEndsBeforeAnyDriveIsTouched) {
  sim::SimSystem system(bay);
  auto package = MakePackage(StandardRequest());
  package.SetOption(Option::HowManyBin, '0');
  TMovrelMain form(system, application, package.View());
  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].title, "Error");
  EXPECT_EQ(application.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(application.shown[0].text, "No F/W in executable !");
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
  EXPECT_EQ(form.MainDevice(), nullptr);
  EXPECT_TRUE(system.Trace().empty());
}

// A process that may not send the firmware commands (Linux without CAP_SYS_RAWIO) says so and
// touches no drive: every drive would refuse the update it could start.
TEST_F(StartUp, WithoutTheRightToSendFirmwareCommandsEndsBeforeAnyDriveIsTouched) {
  sim::SimSystem system(bay);
  system.FailCall("MayUpdateFirmware");
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].title, "Error");
  EXPECT_EQ(application.shown[0].text,
            "This program must be run as root to update the firmware of the drives.");
  EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
  EXPECT_TRUE(system.Trace().empty());
}

// A drive the system will not open for this process (a flasher not run as an administrator) is
// left out of the list, and the person is told why once, however many such drives there are.
TEST_F(StartUp, DrivesThatCannotBeOpenedAreExplainedOnce) {
  bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {1, 0, 0, 0}), Drive('F', {2, 0, 0, 0})};
  bay.drives[0].addressQuery = sim::AddressQuery::Unopenable;
  bay.drives[1].addressQuery = sim::AddressQuery::Unopenable;
  sim::SimSystem system(bay);
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].title, "Warning");
  EXPECT_EQ(application.shown[0].text,
            "A drive could not be opened (access denied). Please run this program as an "
            "administrator and close any program that is using the drive.");
  EXPECT_THAT(form.cboDrives.Items(), ::testing::ElementsAre(::testing::HasSubstr(" F:")));
  EXPECT_EQ(form.GetEnding(), Ending::Running);
}

// One byte changed after sealing, in a bank, a text, an option or the seal itself: the first box
// says so (before the administrator's warning that ADMIN=1 would bring) and no drive is touched.
TEST_F(StartUp, DamagedPackageEndsBeforeAnyDriveIsTouched) {
  namespace layout = package::layout;
  const struct {
    const char* what;
    bool inSeal;
    std::size_t offset;
  } flips[] = {
      {"bank 1 image", false, layout::kBankAreaOffset + 700000},
      {"title", false, layout::kTitleOffset + 3},
      {"ADMIN=0 to 1", false, layout::SlotOf(Option::Admin).offset + layout::kAdminValuePosition},
      {"seal key", true, layout::kSealKeyOffset + 2},
      {"seal digest", true, layout::kSealDigestOffset + 41},
      {"seal digest's zero byte", true, layout::kSealDigestOffset + 64},
  };
  for (const auto& flip : flips) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.AddSeal(true);
    (flip.inSeal ? package.seal : package.block)[flip.offset] ^= 1;
    TMovrelMain form(system, app, package.View());
    ASSERT_EQ(app.shown.size(), 1u) << flip.what;
    EXPECT_EQ(app.shown[0].title, "Error");
    EXPECT_EQ(app.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(app.shown[0].text, "This flash program is damaged. Please obtain it again.");
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
    EXPECT_EQ(form.MainDevice(), nullptr);
    EXPECT_TRUE(system.Trace().empty()) << flip.what;
  }
}

// A package that matches its seal, and one with the template's seal, start as any package does.
TEST_F(StartUp, SealedAndUnsealedPackagesStartAsEver) {
  for (const bool sealed : {true, false}) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.AddSeal(sealed);
    TMovrelMain form(system, app, package.View());
    EXPECT_TRUE(app.shown.empty()) << app.shown.front().text;
    EXPECT_FALSE(app.Terminated());
    EXPECT_TRUE(form.cmdUpdate.Enabled());
  }
}

TEST_F(StartUp, NoEligibleDriveListsEveryDetectedDrive) {
  bay.drives = {Drive('D', {0, 0, 0, 0}, "Othermak", "DVDRW KTR-207M"),
                Drive('E', {1, 0, 0, 0}, "Dornavex", "DVDRW KTR-207M", "RV0E")};
  sim::SimSystem system(bay);
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].title, "Error");
  EXPECT_EQ(application.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(application.shown[0].text,
            "No matched drive detected !\n"
            "This utility is only for Dornavex DVDRW KTR-207M drive.\n\n"
            "Detected drives :\n"
            " 0-0-0-0 D:OthermakDVDRW KTR-207M   RV05\n"
            " 1-0-0-0 E:DornavexDVDRW KTR-207M   RV0E\n");
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(form.cboDrives.ItemIndex(), -1);
  EXPECT_FALSE(form.CloseCommandRemoved());
}

TEST_F(StartUp, NoticeHasTwoOrThreePointsAndNoEndsBeforeTheMenuChanges) {
  for (const auto& [nbWarning, text] :
       {std::pair{'0', kNoticeTwoPoints}, std::pair{'1', kNoticeThreePoints}}) {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Warning, '1');
    package.SetOption(Option::NbWarning, nbWarning);
    TMovrelMain form(system, app, package.View());
    ASSERT_EQ(app.shown.size(), 1u);
    EXPECT_EQ(app.shown[0].title, "Warning");
    EXPECT_EQ(app.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(app.shown[0].text, text);
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(form.GetEnding(), Ending::BeforeUpdate);
    EXPECT_FALSE(form.CloseCommandRemoved());
  }
}

TEST_F(StartUp, YesToTheNoticeGoesOnAndWarningTwoAsksNothing) {
  {
    sim::SimSystem system(bay);
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Warning, '1');
    application.answers = {MessageAnswer::Yes};
    TMovrelMain form(system, application, package.View());
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(form.CloseCommandRemoved());
  }
  {
    sim::SimSystem system(bay);
    ScriptedApplication app;
    auto package = MakePackage(StandardRequest());
    package.SetOption(Option::Warning, '2');
    TMovrelMain form(system, app, package.View());
    EXPECT_TRUE(app.shown.empty());
    EXPECT_FALSE(app.Terminated());
  }
}

}  // namespace
}  // namespace movrel::test
