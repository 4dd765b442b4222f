#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "device/AtapiDevice.h"
#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

using app::TMovrelMain;
using package::layout::Option;

struct Outcome {
  bool allowed;
  int bankIndex;
  bool upToDate;
};

// Starts the window on one drive with the given package and reads the drive's match results.
Outcome Match(const sim::DriveConfig& drive, const Package& package) {
  sim::BayConfig bay;
  bay.drives = {drive};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  TMovrelMain form(system, application, package.View());
  const device::DriveEntry* entry = form.MainDevice()->EntryAt(0);
  if (entry == nullptr) return {false, -1, false};
  return {entry->allowed == 1, entry->bankIndex, entry->upToDate == 1};
}

sim::DriveConfig At(const std::string& revision, const std::string& vendor = "Dornavex",
                    const std::string& product = "DVDRW KTR-207M") {
  return Drive('D', {0, 0, 0, 0}, vendor, product, revision);
}

TEST(Matching, RevisionRangeIncludesBothEnds) {
  const auto package = MakePackage(StandardRequest());  // RV01 .. RV0D
  EXPECT_TRUE(Match(At("RV01"), package).allowed);
  EXPECT_TRUE(Match(At("RV0D"), package).allowed);
  EXPECT_FALSE(Match(At("RV0E"), package).allowed);  // sorts after the maximum
  EXPECT_FALSE(Match(At("RV00"), package).allowed);  // before the minimum
  EXPECT_TRUE(Match(At("RV09"), package).allowed);   // digits before capitals
}

TEST(Matching, VendorIsComparedFirstAndWholeTextsWithTheirSpaces) {
  const auto package = MakePackage(StandardRequest());
  EXPECT_FALSE(Match(At("RV05", "Dornavey"), package).allowed);
  EXPECT_FALSE(Match(At("RV05", "Dornavex", "DVDRW KTR-207"), package).allowed);
  EXPECT_FALSE(Match(At("RV05", "dornavex"), package).allowed);  // case-sensitive
}

TEST(Matching, SecondSlotMatchesWhenTheFirstDoesNot) {
  auto request = StandardRequest();
  request.banks[0].constraints.push_back({"0V05", "0V05", "Dornavex", "DVDRW KTR-207M"});
  const auto package = MakePackage(request);
  const Outcome outcome = Match(At("0V05"), package);
  EXPECT_TRUE(outcome.allowed);
  EXPECT_EQ(outcome.bankIndex, 0);
}

TEST(Matching, PlaceholderInTheFirstSlotAcceptsAnyDrive) {
  auto request = StandardRequest();
  request.banks[0].constraints.clear();
  request.banks[0].anyDrive = true;
  const auto package = MakePackage(request);
  EXPECT_TRUE(Match(At("ZZZZ", "Othermak", "CD-ROM X"), package).allowed);
}

TEST(Matching, EmptyFieldsPlaceNoCondition) {
  auto request = StandardRequest();
  request.banks[0].constraints = {{"", "", "Dornavex", ""}};
  const auto package = MakePackage(request);
  EXPECT_TRUE(Match(At("0000", "Dornavex", "ANY PRODUCT"), package).allowed);
  EXPECT_FALSE(Match(At("0000", "Othermak"), package).allowed);
}

TEST(Matching, LowestBankWithAPassingEntryWinsAndHowManyBinLimitsTheBanks) {
  auto request = StandardRequest();
  request.banks[1].imagePath = "bank2.bin";
  request.banks[1].newRevision = "RV0F";
  request.banks[1].constraints = {{"RV0E", "RV0E", "Dornavex", "DVDRW KTR-207M"}};
  auto package = MakePackage(request);
  const Outcome second = Match(At("RV0E"), package);
  EXPECT_TRUE(second.allowed);
  EXPECT_EQ(second.bankIndex, 1);

  package.SetOption(Option::HowManyBin, '1');
  EXPECT_FALSE(Match(At("RV0E"), package).allowed);
}

TEST(Matching, UpToDateOnlyWithN2oMessageOne) {
  auto package = MakePackage(StandardRequest());
  const Outcome off = Match(At("RV0D"), package);
  EXPECT_TRUE(off.allowed);
  EXPECT_FALSE(off.upToDate);

  package.SetOption(Option::N2oMessage, '1');
  EXPECT_TRUE(Match(At("RV0D"), package).upToDate);
  EXPECT_FALSE(Match(At("RV0C"), package).upToDate);
}

TEST(Matching, BankAreaStillTheTemplateMakesEveryDriveIneligible) {
  auto request = StandardRequest();
  request.banks[0].constraints.clear();
  request.banks[0].anyDrive = true;
  auto package = MakePackage(request);
  const std::string marker = "BANK_START_FROM_HERE";
  std::copy(marker.begin(), marker.end(), package.block.begin() + package::layout::kBankAreaOffset);
  EXPECT_FALSE(Match(At("RV05"), package).allowed);
}

// Matching compares the drive's bytes as they came; the list and the panel show them safely,
// for every view.
TEST(DriveList, ADrivesControlBytesMatchAsSentAndShowAsQuestionMarks) {
  const std::string vendor = "\x1b]0;pwn\x07", product = "\x1b[2JKTR-207M\x7f\xc3\xa9X";
  auto request = StandardRequest();
  request.banks[0].constraints = {{"", "", vendor, product}};
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}, vendor, product, "R\a05")};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  TMovrelMain form(system, application, MakePackage(request).View());
  ASSERT_EQ(form.cboDrives.Items().size(), 1u);
  EXPECT_EQ(form.MainDevice()->EntryAt(0)->allowed, 1);
  EXPECT_EQ(form.cboDrives.Items()[0], " 0-0-0-0 D:?]0;pwn??[2JKTR-207M???X R?05");
  EXPECT_EQ(form.lblOldFW.Text(), "R?05");
}

TEST(DriveList, NotAllowedDriveShowsItsTextAndKeepsTheTarget) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {1, 0, 0, 0}, "Othermak", "CD-ROM X", "1.00")};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  const auto package = MakePackage(StandardRequest());
  TMovrelMain form(system, application, package.View());
  ASSERT_EQ(form.cboDrives.Items().size(), 2u);
  EXPECT_EQ(form.cboDrives.Items()[1], " 1-0-0-0 E:OthermakCD-ROM X         1.00");
  EXPECT_EQ(form.lblTo.FontColor(), app::clBlack);

  form.cboDrives.SetItemIndex(1);
  form.cboDrivesChange(&form.cboDrives);
  EXPECT_FALSE(form.cmdUpdate.Enabled());
  EXPECT_FALSE(form.lblOldFW.Visible());
  EXPECT_FALSE(form.lblNewFW.Visible());
  EXPECT_EQ(form.lblUpdateMsg.Text(), "This drive is not allowed to be updated.");
  EXPECT_EQ(form.lblUpdateMsg.FontColor(), app::clMaroon);
  EXPECT_EQ(form.MainDevice()->CurrentIndex(), 0);

  form.cboDrives.SetItemIndex(0);
  form.cboDrivesChange(&form.cboDrives);
  EXPECT_TRUE(form.cmdUpdate.Enabled());
  EXPECT_TRUE(form.lblOldFW.Visible());
  EXPECT_EQ(form.lblUpdateMsg.Text(), "It will be updated from");
  EXPECT_EQ(form.lblUpdateMsg.FontColor(), app::clBlack);
}

}  // namespace
}  // namespace movrel::test
