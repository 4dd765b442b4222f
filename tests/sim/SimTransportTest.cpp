// The two ways in (pass-through and ASPI manager) and what discovery asks of the machine: the
// drive list, opening devices, the SCSI address, the ASPI scan requests.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include "SimPorts.h"

namespace {

using namespace simtest;
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

ScsiAddress QueryAddress(sim::SimSystem& system, Handle device, bool& ok) {
  ScsiAddress address{};
  address.Length = 0xEEEE;
  std::uint32_t returned = 0;
  ok = system.DeviceIoControl(device, ioctl::ScsiGetAddress, &address, sizeof address, &address,
                              sizeof address, &returned);
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

  PassThroughPort d(system, "\\\\.\\D:");
  const ScsiAddress address = QueryAddress(system, d.Handle(), ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(address.Length, 8u);
  EXPECT_EQ(address.PortNumber, 1);
  EXPECT_EQ(address.PathId, 2);
  EXPECT_EQ(address.TargetId, 3);
  EXPECT_EQ(address.Lun, 4);

  PassThroughPort e(system, "\\\\.\\E:");
  QueryAddress(system, e.Handle(), ok);
  EXPECT_FALSE(ok);

  PassThroughPort f(system, "\\\\.\\F:");
  EXPECT_EQ(QueryAddress(system, f.Handle(), ok).Length, 0u);
  EXPECT_TRUE(ok);

  PassThroughPort g(system, "\\\\.\\G:");
  EXPECT_FALSE(g.Open());
}

TEST(Devices, StorageDescriptorQueryFailsAndUnknownHandlesAreRefused) {
  sim::SimSystem system(OneDrive());
  PassThroughPort port(system);
  std::uint8_t area[40] = {};
  std::uint32_t returned = 0;
  EXPECT_FALSE(system.DeviceIoControl(port.Handle(), ioctl::StorageQueryProperty, area, sizeof area,
                                      area, sizeof area, &returned));
  EXPECT_FALSE(system.DeviceIoControl(InvalidHandleValue, ioctl::ScsiPassThroughDirect, area,
                                      sizeof area, area, sizeof area, &returned));
}

// --- Pass-through ------------------------------------------------------------------------------

TEST(PassThrough, SenseGoesToTheSenseOffsetWithinItsLengthAndStatusIsCheckCondition) {
  sim::SimSystem system(OneDrive());
  system.TakeDiscOut("D");
  PassThroughPort port(system);
  struct {
    ScsiPassThroughDirect sptd;
    std::uint8_t gap[4];
    std::uint8_t sense[32];
  } block{};
  std::memset(block.sense, 0xEE, sizeof block.sense);
  block.sptd.Length = sizeof block.sptd;
  block.sptd.CdbLength = 12;
  block.sptd.DataIn = ScsiDataDirection::Unspecified;
  block.sptd.SenseInfoOffset = offsetof(decltype(block), sense);
  block.sptd.SenseInfoLength = 14;
  std::uint32_t returned = 0;
  ASSERT_TRUE(system.DeviceIoControl(port.Handle(), ioctl::ScsiPassThroughDirect, &block,
                                     sizeof block, &block, sizeof block, &returned));
  EXPECT_EQ(block.sptd.ScsiStatus, 2);
  const std::uint8_t expected[14] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
  EXPECT_EQ(std::memcmp(block.sense, expected, sizeof expected), 0);
  EXPECT_EQ(block.sense[14], 0xEE);
  EXPECT_EQ(block.gap[0], 0);
}

TEST(PassThrough, AMalformedRequestFailsWithoutReachingTheDrive) {
  sim::SimSystem system(OneDrive());
  PassThroughPort port(system);
  ScsiPassThroughDirect request{};
  request.CdbLength = 0;
  std::uint32_t returned = 0;
  EXPECT_FALSE(system.DeviceIoControl(port.Handle(), ioctl::ScsiPassThroughDirect, &request,
                                      sizeof request, &request, sizeof request, &returned));
  EXPECT_TRUE(system.Trace().empty());
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
  const Reply good = aspi.Send(1, 2, 0, Inquiry(), Dir::In, 96);
  EXPECT_EQ(good.status, SS_COMP);
  EXPECT_EQ(std::string(good.data.begin() + 8, good.data.begin() + 16), "Dornavex");

  system.TakeDiscOut("D");
  const Reply check = aspi.Send(1, 2, 0, TestUnitReady(), Dir::None, 0);
  EXPECT_EQ(check.status, SS_ERR);
  EXPECT_EQ(check.targetStatus, 2);
  EXPECT_EQ(check.SenseText(), "02/3A/00");
  EXPECT_EQ(aspi.request.SenseArea[0], 0x70);
  EXPECT_EQ(aspi.request.SenseArea[7], 10);

  EXPECT_EQ(aspi.Send(1, 3, 0, TestUnitReady(), Dir::None, 0).status, SS_NO_DEVICE);
  EXPECT_EQ(aspi.Send(4, 2, 0, TestUnitReady(), Dir::None, 0).status, SS_INVALID_HA);
}

TEST(AspiManager, ADriveWithoutRootIsSeenOnlyByTheManager) {
  sim::BayConfig bay;
  bay.aspi = true;
  bay.drives = {DriveAt("hidden", nullptr, {0, 0, 5, 0})};
  sim::SimSystem system(bay);
  EXPECT_EQ(DriveStrings(system), std::string("C:\\\0\0", 5));
  AspiPort aspi(system);
  EXPECT_TRUE(aspi.Send(0, 5, 0, TestUnitReady(), Dir::None, 0).Good());
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

// --- Both ways reach the same drive ------------------------------------------------------------

TEST(BothWaysIn, DataWrittenThroughOneIsReadThroughTheOther) {
  sim::SimSystem system(OneDrive());
  PassThroughPort port(system);
  AspiPort aspi(system);
  const std::vector<std::uint8_t> chunk(16384, 0xA5);
  ASSERT_TRUE(aspi.Send(1, 2, 0, WriteBuffer(0, 16384, 0), Dir::Out, 16384, chunk).Good());
  EXPECT_EQ(port.Send(ReadBuffer(0, 16384), Dir::In, 16384).data, chunk);

  ASSERT_TRUE(port.Send(StartStop(0x02), Dir::None, 0).Good());
  EXPECT_EQ(aspi.Send(1, 2, 0, EventStatus(), Dir::In, 8).data[5], 0x03);
  EXPECT_EQ(system.Trace().size(), 4u);
}

TEST(BothWaysIn, WorkersOnTwoDrivesAtOnceKeepTheirOwnData) {
  sim::BayConfig bay = OneDrive();
  bay.drives.push_back(DriveAt("E", "E:\\", {1, 0, 3, 0}));
  sim::SimSystem system(bay);
  const auto worker = [&system](const char* device, std::uint8_t fill) {
    PassThroughPort port(system, device);
    const std::vector<std::uint8_t> chunk(4096, fill);
    for (std::uint32_t i = 0; i < 32; ++i) {
      EXPECT_TRUE(port.Send(WriteBuffer(i * 4096, 4096, 0), Dir::Out, 4096, chunk).Good());
      EXPECT_EQ(port.Send(ReadBuffer(i * 4096, 4096), Dir::In, 4096).data, chunk);
      system.Sleep(10);
    }
  };
  std::thread d(worker, "\\\\.\\D:", 0x11);
  std::thread e(worker, "\\\\.\\E:", 0x22);
  d.join();
  e.join();
  EXPECT_EQ(system.Trace().size(), 128u);
}

}  // namespace
