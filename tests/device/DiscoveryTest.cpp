// Discovery on the simulated machine: the scans, the fall-back from ASPI to pass-through, the
// sort by address, identification, and the whole command sequence each drive receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bays.h"
#include "DeviceFixture.h"

namespace movrel::test {
namespace {

using device::AtapiDevice;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A machine as described, and a device that discovered its drives; ASPI is preferred on request.
struct Discovered {
  Discovered(const sim::BayConfig& bay, bool preferAspi = false) : machine(bay) {
    application.SetTag(preferAspi ? 32767 : 0);
    device = std::make_unique<AtapiDevice>(machine, application);
  }
  std::vector<std::string> Roots() const {
    std::vector<std::string> roots;
    for (std::uint32_t i = 0; i < device->DriveCount(); ++i)
      roots.push_back(device->EntryAt(i)->driveRoot);
    return roots;
  }
  std::vector<int> Ports() const {
    std::vector<int> ports;
    for (std::uint32_t i = 0; i < device->DriveCount(); ++i)
      ports.push_back(device->EntryAt(i)->portNumber);
    return ports;
  }
  sim::SimSystem machine;
  QuietApplication application;
  std::unique_ptr<AtapiDevice> device;
};

// What one drive receives during discovery, as the trace shows it: a look at its lock, then the
// commands.
std::vector<std::string> IdentificationOf(const std::string& drive, const std::string& readiness) {
  return {"- lock " + drive, "- unlock " + drive,
          drive + " 00 00 00 00 00 00 00 00 00 00 00 00 none 0 " + readiness,
          drive + " 12 00 00 00 60 00 00 00 00 00 00 00 in 96 good",
          drive + " DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good"};
}

// --- The command sequence ------------------------------------------------------------------------

TEST(DiscoverySequence, EachDriveInAddressOrderOnThePassThrough) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {1, 0, 0, 0}), Drive('E', {0, 0, 1, 0})};
  bay.drives[1].medium = true;
  bay.drives[1].unitAttention = 1;
  Discovered found(bay);
  EXPECT_THAT(
      found.machine.Trace(),
      ElementsAre("- lock E", "- unlock E",
                  "E 00 00 00 00 00 00 00 00 00 00 00 00 none 0 sense 06/29/00",
                  "E 00 00 00 00 00 00 00 00 00 00 00 00 none 0 good",
                  "E 12 00 00 00 60 00 00 00 00 00 00 00 in 96 good",
                  "E DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good", "- lock D", "- unlock D",
                  "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 sense 02/3A/00",
                  "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 good",
                  "D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good"));
  EXPECT_EQ(found.device->DriveCount(), 2);
  EXPECT_EQ(found.device->CurrentIndex(), 127);
  EXPECT_EQ(found.machine.OpenDevices(), 0u);  // every handle is closed again
}

TEST(DiscoverySequence, SameCommandsThroughTheAspiManager) {
  sim::BayConfig bay;
  bay.family = sim::Family::Consumer;
  bay.aspi = true;
  bay.drives = {Drive('D', {0, 0, 1, 0})};
  Discovered found(bay);
  EXPECT_EQ(found.machine.Trace(), IdentificationOf("D", "sense 02/3A/00"));
  const device::DriveEntry& entry = *found.device->EntryAt(0);
  EXPECT_EQ(entry.viaAspi, 1);
  EXPECT_STREQ(entry.driveRoot, "");
  EXPECT_EQ(entry.targetId, 1);
  EXPECT_TRUE(found.device->UseAspi());
}

// --- Identification ------------------------------------------------------------------------------

TEST(Identification, FillsTheEntryWithTheTextsAsSentTrailingSpacesKept) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  bay.drives[0].vendor = "ABC";
  bay.drives[0].product = "Writer 8";
  bay.drives[0].revision = "1.2";
  Discovered found(bay);
  const device::DriveEntry& entry = *found.device->EntryAt(0);
  EXPECT_STREQ(entry.vendor, "ABC     ");
  EXPECT_STREQ(entry.product, "Writer 8        ");
  EXPECT_STREQ(entry.revision, "1.2 ");
  EXPECT_STREQ(entry.identity, "ABC     Writer 8        ");
  EXPECT_EQ(entry.valid, 1);
  EXPECT_EQ(entry.allowed, 0);
  EXPECT_EQ(entry.bankIndex, 0);
  EXPECT_EQ(entry.upToDate, 0);
}

TEST(Identification, ZeroVendorAndProductTenAttemptsThenListedWithEmptyTexts) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  bay.drives[0].vendor = std::string(8, '\0');
  bay.drives[0].product = std::string(16, '\0');
  Discovered found(bay);
  std::vector<std::string> expected{"- lock D", "- unlock D",
                                    "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 sense 02/3A/00"};
  expected.insert(expected.end(), 10, "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 good");
  expected.push_back("D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good");
  EXPECT_EQ(found.machine.Trace(), expected);
  ASSERT_EQ(found.device->DriveCount(), 1);
  EXPECT_STREQ(found.device->EntryAt(0)->identity, "");
  EXPECT_STREQ(found.device->EntryAt(0)->vendor, "");
  EXPECT_STREQ(found.device->EntryAt(0)->revision, "");
}

// A drive that lets a command run out its time-out is sent nothing more, whichever command it
// was; the next drive is identified as ever.
TEST(Identification, ADriveThatTimesOutIsAskedNothingMore) {
  struct Row {
    std::uint8_t command;
    std::vector<std::string> commandsToD;  // after its look at the lock
  };
  const std::string tur = "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 ";
  const std::string inquiry = "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 ";
  const std::string flashId = "D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 ";
  const Row rows[] = {
      {0x00, {tur + "timeout"}},
      {0x12, {tur + "sense 02/3A/00", inquiry + "timeout"}},
      {0xDF, {tur + "sense 02/3A/00", inquiry + "good", flashId + "timeout"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    sim::BayConfig bay;
    bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {0, 0, 1, 0})};
    bay.drives[0].faults = {{row.command, std::nullopt, 0, sim::FaultKind::Timeout}};
    Discovered found(bay);
    std::vector<std::string> expected{"- lock D", "- unlock D"};
    expected.insert(expected.end(), row.commandsToD.begin(), row.commandsToD.end());
    const std::vector<std::string> e = IdentificationOf("E", "sense 02/3A/00");
    expected.insert(expected.end(), e.begin(), e.end());
    EXPECT_EQ(found.machine.Trace(), expected);
    EXPECT_EQ(found.device->DriveCount(), 2);
  }
}

// --- Pass-through scan and sort ------------------------------------------------------------------

TEST(PassThroughScan, RefusedAddressesGetPortsTwoAndThreeInRootOrder) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {4, 0, 0, 0}), Drive('E', {0, 0, 0, 0}), Drive('F', {7, 7, 7, 7}),
                Drive('G', {7, 7, 7, 7}), Drive('H', {1, 0, 0, 0})};
  bay.drives[2].addressQuery = sim::AddressQuery::Refused;
  bay.drives[3].addressQuery = sim::AddressQuery::Refused;
  Discovered found(bay);
  EXPECT_THAT(found.Roots(), ElementsAre("E:\\", "H:\\", "F:\\", "G:\\", "D:\\"));
  EXPECT_THAT(found.Ports(), ElementsAre(0, 1, 2, 3, 4));
  const device::DriveEntry& refused = *found.device->EntryAt(2);
  EXPECT_EQ(refused.targetId, 0);
  EXPECT_EQ(refused.lun, 0);
  EXPECT_EQ(refused.pathId, 0);
}

TEST(PassThroughScan, SortKeyWeighsPortAbovePathAboveTargetAboveLun) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {1, 0, 0, 0}), Drive('E', {0, 1, 0, 0}), Drive('F', {0, 0, 1, 0}),
                Drive('G', {0, 0, 0, 1}), Drive('H', {0, 0, 0, 1})};
  Discovered found(bay);
  // Equal keys keep their table order.
  EXPECT_THAT(found.Roots(), ElementsAre("G:\\", "H:\\", "F:\\", "E:\\", "D:\\"));
}

TEST(PassThroughScan, DevicesThatCannotBeAddressedAreLeftOut) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {0, 0, 1, 0}), Drive('F', {0, 0, 2, 0})};
  bay.drives[0].addressQuery = sim::AddressQuery::Unopenable;
  bay.drives[1].addressQuery = sim::AddressQuery::Empty;
  Discovered found(bay);
  EXPECT_THAT(found.Roots(), ElementsAre("F:\\"));
  EXPECT_EQ(found.device->EntryAt(1), nullptr);  // index equal to the count
  EXPECT_EQ(found.machine.OpenDevices(), 0u);
}

// A drive that another flasher holds is sent nothing: discovery leaves it out and keeps it apart.
// Its lock bears the name every flasher of the system gives it: in the sessions' shared namespace
// from Windows 2000 on, without it before.
TEST(Discovery, ADriveAnotherFlasherHoldsIsLeftOutAndSentNothing) {
  struct Row {
    const char* name;
    sim::Family family;
    std::uint32_t major;
    bool aspi;
  };
  for (const Row& row :
       {Row{"XP", sim::Family::NT, 5, false}, Row{"NT 4", sim::Family::NT, 4, false},
        Row{"98", sim::Family::Consumer, 4, true}}) {
    SCOPED_TRACE(row.name);
    sim::BayConfig bay;
    bay.family = row.family;
    bay.aspi = row.aspi;
    bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {0, 0, 1, 0})};
    sim::SimSystem machine(bay);
    machine.SetVersion(row.major, 0);
    machine.LockElsewhere("D");
    QuietApplication application;
    AtapiDevice device(machine, application);
    ASSERT_EQ(device.DriveCount(), 1);
    EXPECT_EQ(device.EntryAt(0)->targetId, 1);
    EXPECT_EQ(device.EntryAt(1), nullptr);
    ASSERT_EQ(device.BusyDriveCount(), 1);
    EXPECT_EQ(device.BusyDriveAt(0).targetId, 0);
    std::vector<std::string> expected = {"- lock D held elsewhere"};
    for (const std::string& line : IdentificationOf("E", "sense 02/3A/00")) {
      expected.push_back(line);
    }
    EXPECT_THAT(machine.Trace(), ::testing::ElementsAreArray(expected));
    EXPECT_EQ(machine.OpenDevices(), 0u);
  }
}

TEST(PassThroughScan, NoRootListMeansNoDrive) {
  for (const char* call : {"GetLogicalDriveStringsA", "GetProcessHeap", "HeapAlloc"}) {
    sim::BayConfig bay;
    bay.drives = {Drive('D', {0, 0, 0, 0})};
    sim::SimSystem machine(bay);
    machine.FailCall(call);
    QuietApplication application;
    AtapiDevice device(machine, application);
    EXPECT_EQ(device.DriveCount(), 0) << call;
    EXPECT_EQ(device.EntryAt(0), nullptr) << call;
  }
}

// A write past the table is caught by the sanitizer builds (array bounds).
TEST(PassThroughScan, SeventeenthDriveIsIgnored) {
  sim::BayConfig bay;
  for (int i = 0; i < 17; ++i)
    bay.drives.push_back(Drive(static_cast<char>('D' + i), {0, 0, i, 0}));
  Discovered found(bay);
  ASSERT_EQ(found.device->DriveCount(), 16);
  EXPECT_EQ(found.Roots().back(), "S:\\");
  EXPECT_EQ(found.device->EntryAt(16), nullptr);
}

// --- ASPI scan and the fall-back -----------------------------------------------------------------

sim::BayConfig AspiMissesOneOfTwo(sim::Family family) {
  sim::BayConfig bay;
  bay.family = family;
  bay.aspi = true;
  bay.drives = {Drive('D', {0, 0, 1, 0}), Drive('E', {0, 0, 2, 0})};
  bay.drives[1].aspi = false;
  return bay;
}

TEST(AspiScan, OnNtFallsBackToThePassThroughWhenItMissesARoot) {
  Discovered found(AspiMissesOneOfTwo(sim::Family::NT), true);
  ASSERT_EQ(found.device->DriveCount(), 2);
  EXPECT_EQ(found.device->EntryAt(0)->viaAspi, 0);
  EXPECT_EQ(found.device->EntryAt(1)->viaAspi, 0);
  EXPECT_THAT(found.Roots(), ElementsAre("D:\\", "E:\\"));
  EXPECT_FALSE(found.device->UseAspi());
  EXPECT_FALSE(found.device->AspiLoaded());
  EXPECT_EQ(found.machine.AspiLoadCount(), 0);
}

TEST(AspiScan, NoFallBackOnTheConsumerFamily) {
  Discovered found(AspiMissesOneOfTwo(sim::Family::Consumer));
  ASSERT_EQ(found.device->DriveCount(), 1);
  EXPECT_EQ(found.device->EntryAt(0)->viaAspi, 1);
  EXPECT_EQ(found.machine.AspiLoadCount(), 1);
}

TEST(AspiScan, NoFallBackWhenTheRootsCannotBeCounted) {
  sim::BayConfig bay = AspiMissesOneOfTwo(sim::Family::NT);
  sim::SimSystem machine(bay);
  machine.FailCall("HeapAlloc");
  QuietApplication application;
  application.SetTag(32767);
  AtapiDevice device(machine, application);
  EXPECT_EQ(device.DriveCount(), 1);
  EXPECT_TRUE(device.UseAspi());
}

TEST(AspiScan, FindsDevicesOnEveryAdapterAndIgnoresASeventeenth) {
  sim::BayConfig bay;
  bay.family = sim::Family::Consumer;
  bay.aspi = true;
  bay.hostAdapters = 2;
  // Nine devices on adapter 0 at targets 7 to 15 (LUNs 0 to 7, then 0), eight on adapter 1.
  for (int i = 0; i < 17; ++i) {
    const std::array<int, 4> address =
        i < 9 ? std::array<int, 4>{0, 0, 7 + i, i % 8} : std::array<int, 4>{1, 0, i - 9, 0};
    bay.drives.push_back(Drive(static_cast<char>('D' + i), address));
    bay.drives.back().root.reset();
  }
  Discovered found(bay);
  ASSERT_EQ(found.device->DriveCount(), 16);
  EXPECT_THAT(found.Ports(), ElementsAre(0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1));
  EXPECT_EQ(found.device->EntryAt(7)->targetId, 14);
  EXPECT_EQ(found.device->EntryAt(7)->lun, 7);
  EXPECT_EQ(found.device->EntryAt(8)->targetId, 15);
  // The device found last, adapter 1 target 7, is left out.
  EXPECT_EQ(found.device->EntryAt(15)->targetId, 6);
}

TEST(AspiScan, WithoutALoadedManagerFindsNothing) {
  sim::BayConfig bay;
  bay.family = sim::Family::Consumer;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  Discovered found(bay);
  EXPECT_EQ(found.device->DriveCount(), 0);
  EXPECT_THAT(found.machine.Trace(), IsEmpty());
  EXPECT_THAT(found.machine.MessageBoxes(),
              ElementsAre("Error FS 002|LoadLibrary:\nWNASPI32.DLL not found."));
}

}  // namespace
}  // namespace movrel::test
