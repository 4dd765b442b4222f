// What discovery asks of the machine: the drive list, opening devices, the SCSI address, the ASPI
// manager and its requests; and two workers on two drives at once.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "SimPorts.h"
#include "platform/JoinableThread.h"

namespace movrel::test {

namespace {

using namespace platform;

sim::DriveConfig DriveAt(const char* name, const char* root, std::array<int, 4> address) {
  sim::DriveConfig drive;
  drive.name = name;
  if (root) {
    drive.root = root;
  } else {
    drive.root.reset();
  }
  drive.address = address;
  drive.medium = true;
  return drive;
}

std::string DriveStrings(sim::SimSystem& system) {
  const std::uint32_t needed = system.GetLogicalDriveStringsA(0, nullptr);
  std::string list(needed, '\x7F');
  const std::uint32_t written = system.GetLogicalDriveStringsA(needed, list.data());
  EXPECT_EQ(written, needed - 1);
  return list;
}

// The SCSI address query on the named device, opened for it and closed again.
ScsiAddress QueryAddress(sim::SimSystem& system, const char* device, bool& ok) {
  const Handle handle = system.CreateFileA(device);
  ScsiAddress address{};
  address.Length = 0xEEEE;
  std::uint32_t returned = 0;
  ok = system.DeviceIoControl(handle, ioctl::ScsiGetAddress, &address, sizeof address, &address,
                              sizeof address, &returned);
  system.CloseHandle(handle);
  return address;
}

// --- Drive list and devices -------------------------------------------------------------------

TEST(DriveList, ListsOtherRootsAndDriveRootsInLetterOrder) {
  sim::BayConfig bay;
  bay.otherRoots = {{"Z:\\", DriveType::Remote}, {"C:\\", DriveType::Fixed}};
  bay.drives = {DriveAt("F", "F:\\", {0, 0, 1, 0}), DriveAt("D", "D:\\", {0, 0, 0, 0}),
                DriveAt("X", nullptr, {1, 0, 0, 0})};
  sim::SimSystem system(bay);
  EXPECT_EQ(DriveStrings(system), std::string("C:\\\0D:\\\0F:\\\0Z:\\\0\0", 17));
  EXPECT_EQ(system.GetDriveTypeA("C:\\"), DriveType::Fixed);
  EXPECT_EQ(system.GetDriveTypeA("D:\\"), DriveType::CdRom);
  EXPECT_EQ(system.GetDriveTypeA("f:\\"), DriveType::CdRom);
  EXPECT_EQ(system.GetDriveTypeA("Z:\\"), DriveType::Remote);
  EXPECT_EQ(system.GetDriveTypeA("Q:\\"), DriveType::NoRootDir);
}

TEST(DriveList, ATooSmallBufferGetsTheNeededSizeAndNothingWritten) {
  sim::SimSystem system(OneDrive());
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(system.GetLogicalDriveStringsA(sizeof buffer, buffer), 9u);
  EXPECT_EQ(buffer[0], 'x');
  system.FailCall("GetLogicalDriveStringsA");
  EXPECT_EQ(system.GetLogicalDriveStringsA(0, nullptr), 0u);
}

TEST(Devices, OpenByDriveLetterAndCloseAgain) {
  sim::SimSystem system(OneDrive());
  const Handle upper = system.CreateFileA("\\\\.\\D:");
  const Handle lower = system.CreateFileA("\\\\.\\d:");
  ASSERT_NE(upper, InvalidHandleValue);
  ASSERT_NE(lower, InvalidHandleValue);
  EXPECT_NE(upper, lower);
  EXPECT_EQ(system.OpenDevices(), 2u);
  EXPECT_TRUE(system.CloseHandle(upper));
  EXPECT_TRUE(system.CloseHandle(lower));
  EXPECT_FALSE(system.CloseHandle(lower));
  EXPECT_EQ(system.OpenDevices(), 0u);
}

TEST(Devices, NoDeviceForOtherNamesRootsOrTheConsumerFamily) {
  sim::SimSystem system(OneDrive());
  EXPECT_EQ(system.CreateFileA("\\\\.\\C:"), InvalidHandleValue);
  EXPECT_EQ(system.CreateFileA("\\\\.\\E:"), InvalidHandleValue);
  EXPECT_EQ(system.CreateFileA("D:\\"), InvalidHandleValue);
  EXPECT_EQ(system.CreateFileA(nullptr), InvalidHandleValue);
  system.SetFamily(sim::Family::Consumer);
  EXPECT_EQ(system.CreateFileA("\\\\.\\D:"), InvalidHandleValue);
}

TEST(Devices, AddressQueryAnswersAsDescribed) {
  sim::BayConfig bay;
  bay.drives = {DriveAt("D", "D:\\", {1, 2, 3, 4}), DriveAt("E", "E:\\", {0, 0, 0, 0}),
                DriveAt("F", "F:\\", {0, 0, 0, 0}), DriveAt("G", "G:\\", {0, 0, 0, 0})};
  bay.drives[1].addressQuery = sim::AddressQuery::Refused;
  bay.drives[2].addressQuery = sim::AddressQuery::Empty;
  bay.drives[3].addressQuery = sim::AddressQuery::Unopenable;
  sim::SimSystem system(bay);
  bool ok = false;

  const ScsiAddress address = QueryAddress(system, "\\\\.\\D:", ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(address.Length, 8u);
  EXPECT_EQ(address.PortNumber, 1);
  EXPECT_EQ(address.PathId, 2);
  EXPECT_EQ(address.TargetId, 3);
  EXPECT_EQ(address.Lun, 4);

  QueryAddress(system, "\\\\.\\E:", ok);
  EXPECT_FALSE(ok);

  EXPECT_EQ(QueryAddress(system, "\\\\.\\F:", ok).Length, 0u);
  EXPECT_TRUE(ok);

  EXPECT_EQ(system.CreateFileA("\\\\.\\G:"), InvalidHandleValue);
}

TEST(Devices, StorageDescriptorQueryFailsAndUnknownHandlesAreRefused) {
  sim::SimSystem system(OneDrive());
  const Handle device = system.CreateFileA("\\\\.\\D:");
  std::uint8_t area[40] = {};
  std::uint32_t returned = 0;
  EXPECT_FALSE(system.DeviceIoControl(device, ioctl::StorageQueryProperty, area, sizeof area, area,
                                      sizeof area, &returned));
  EXPECT_FALSE(system.DeviceIoControl(InvalidHandleValue, ioctl::ScsiPassThroughDirect, area,
                                      sizeof area, area, sizeof area, &returned));
}

// --- ASPI manager ------------------------------------------------------------------------------

TEST(AspiManager, NotInstalledMeansNoLibrary) {
  sim::SimSystem system;
  EXPECT_EQ(system.LoadLibraryA("WNASPI32"), 0);
  EXPECT_EQ(system.AspiLoadCount(), 0);
}

TEST(AspiManager, CountsItsReferencesAndResolvesBothEntryPoints) {
  sim::SimSystem system(OneDrive());
  const Module first = system.LoadLibraryA("WNASPI32");
  const Module second = system.LoadLibraryA("wnaspi32.dll");
  ASSERT_NE(first, 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(system.AspiLoadCount(), 2);
  EXPECT_TRUE(system.GetProcAddress(first, "GetASPI32SupportInfo"));
  EXPECT_TRUE(system.GetProcAddress(first, "SendASPI32Command"));
  EXPECT_FALSE(system.GetProcAddress(first, "GetASPI32Buffer"));
  EXPECT_TRUE(system.FreeLibrary(first));
  EXPECT_TRUE(system.FreeLibrary(second));
  EXPECT_FALSE(system.FreeLibrary(second));
  EXPECT_EQ(system.AspiLoadCount(), 0);
  EXPECT_EQ(system.LoadLibraryA("KERNEL32"), 0);
}

TEST(AspiManager, SupportInfoCarriesTheStatusAndTheAdapterCount) {
  sim::BayConfig bay = OneDrive();
  bay.aspiStatus = SS_NO_ASPI;
  bay.hostAdapters = 3;
  sim::SimSystem system(bay);
  AspiPort aspi(system);
  EXPECT_EQ(aspi.SupportInfo(), 0xE303u);
}

TEST(AspiManager, HostAdapterInquiryRescanAndUnknownAdapters) {
  sim::SimSystem system(OneDrive());
  AspiPort aspi(system);
  SrbHaInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  inquiry.SRB_HaId = 1;
  EXPECT_EQ(aspi.Post(&inquiry), SS_COMP);
  EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
  EXPECT_EQ(inquiry.HA_Count, 2);
  inquiry.SRB_HaId = 2;
  EXPECT_EQ(aspi.Post(&inquiry), SS_INVALID_HA);

  SrbRescanPort rescan{};
  rescan.SRB_Cmd = SC_RESCAN_SCSI_BUS;
  rescan.SRB_HaId = 1;
  EXPECT_EQ(aspi.Post(&rescan), SS_COMP);
  rescan.SRB_HaId = 5;
  EXPECT_EQ(aspi.Post(&rescan), SS_INVALID_HA);
}

TEST(AspiManager, DeviceTypeFindsTheDrivesItSees) {
  sim::BayConfig bay = OneDrive();
  bay.drives.push_back(DriveAt("E", "E:\\", {0, 0, 1, 0}));
  bay.drives.back().aspi = false;
  sim::SimSystem system(bay);
  AspiPort aspi(system);
  const auto deviceType = [&](std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    SrbGetDeviceBlock request{};
    request.SRB_Cmd = SC_GET_DEV_TYPE;
    request.SRB_HaId = adapter;
    request.SRB_Target = target;
    request.SRB_Lun = lun;
    const std::uint32_t status = aspi.Post(&request);
    EXPECT_EQ(status, request.SRB_Status);
    return status == SS_COMP ? request.SRB_DeviceType : status;
  };
  EXPECT_EQ(deviceType(1, 2, 0), DTYPE_CDROM);
  EXPECT_EQ(deviceType(1, 2, 1), SS_NO_DEVICE);
  EXPECT_EQ(deviceType(0, 1, 0), SS_NO_DEVICE);  // E is not seen by the manager
  EXPECT_EQ(deviceType(2, 2, 0), SS_INVALID_HA);
}

TEST(AspiManager, ExecuteCompletesThroughTheEventWithSenseOnCheckCondition) {
  sim::SimSystem system(OneDrive());
  AspiPort aspi(system);
  const Reply good = aspi.Send(Inquiry(), Dir::In, 96);
  EXPECT_EQ(good.status, SS_COMP);
  EXPECT_EQ(std::string(good.data.begin() + 8, good.data.begin() + 16), "Dornavex");

  system.TakeDiscOut("D");
  const Reply check = aspi.Send(TestUnitReady(), Dir::None, 0);
  EXPECT_EQ(check.status, SS_ERR);
  EXPECT_EQ(check.targetStatus, 2);
  EXPECT_EQ(check.SenseText(), "02/3A/00");
  EXPECT_EQ(aspi.request.SenseArea[0], 0x70);
  EXPECT_EQ(aspi.request.SenseArea[7], 10);

  EXPECT_EQ(aspi.SendTo(1, 3, 0, TestUnitReady(), Dir::None, 0).status, SS_NO_DEVICE);
  EXPECT_EQ(aspi.SendTo(4, 2, 0, TestUnitReady(), Dir::None, 0).status, SS_INVALID_HA);
}

TEST(AspiManager, ADriveWithoutRootIsSeenOnlyByTheManager) {
  sim::BayConfig bay;
  bay.aspi = true;
  bay.drives = {DriveAt("hidden", nullptr, {0, 0, 5, 0})};
  sim::SimSystem system(bay);
  EXPECT_EQ(DriveStrings(system), std::string("C:\\\0\0", 5));
  AspiPort aspi(system);
  EXPECT_TRUE(aspi.SendTo(0, 5, 0, TestUnitReady(), Dir::None, 0).Good());
  EXPECT_EQ(system.Trace().at(0).substr(0, 7), "hidden ");
}

TEST(AspiManager, ARequestAfterTheLibraryWasReleasedIsRefused) {
  sim::SimSystem system(OneDrive());
  const Module module = system.LoadLibraryA("WNASPI32");
  const ProcAddress send = system.GetProcAddress(module, "SendASPI32Command");
  system.FreeLibrary(module);
  SrbHaInquiry inquiry{};
  EXPECT_EQ(send(&inquiry), SS_NO_ASPI);
  EXPECT_TRUE(system.Trace().empty());
}

// --- Two workers at once ---------------------------------------------------------------------

TEST(Workers, OnTwoDrivesAtOnceKeepTheirOwnData) {
  sim::BayConfig bay = OneDrive();
  bay.drives.push_back(DriveAt("E", "E:\\", {1, 0, 3, 0}));
  sim::SimSystem system(bay);
  const auto worker = [&system](std::uint8_t target, std::uint8_t fill) {
    AspiPort port(system);
    const std::vector<std::uint8_t> chunk(4096, fill);
    for (std::uint32_t i = 0; i < 32; ++i) {
      const Cdb write = WriteBuffer(i * 4096, 4096, 0);
      EXPECT_TRUE(port.SendTo(1, target, 0, write, Dir::Out, 4096, chunk).Good());
      EXPECT_EQ(port.SendTo(1, target, 0, ReadBuffer(i * 4096, 4096), Dir::In, 4096).data, chunk);
      system.Sleep(10);
    }
  };
  platform::JoinableThread d, e;
  d.Start([&] { worker(2, 0x11); });
  e.Start([&] { worker(3, 0x22); });
  d.Join();
  e.Join();
  EXPECT_EQ(system.Trace().size(), 128u);
}

}  // namespace
}  // namespace movrel::test
