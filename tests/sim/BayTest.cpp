// The machine's description in JSON: every field, the defaults, and errors that name the field.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "SimPorts.h"
#include "sim/Bay.h"

namespace movrel::test {

namespace {

TEST(Bay, ReadsEveryField) {
  const sim::BayConfig bay = sim::ParseBay(R"({
    "family": "consumer", "aspi": true, "aspi_status": 227, "host_adapters": 3, "clock": "real",
    "other_roots": [{"root": "C:\\", "type": "fixed"}, {"root": "Z:\\", "type": "remote"}],
    "drives": [{
      "name": "main", "root": "E:\\", "address": [1, 0, 2, 0], "address_query": "refused",
      "aspi": false, "vendor": "Acme", "product": "Writer 9", "revision": "1.00",
      "flash_id": "da c8 00 00", "medium": true, "tray_open": true, "tray_motor": false,
      "eject_locked": true, "event_status": false, "not_ready_seconds": 2.5,
      "unit_attention": 2,
      "faults": [{"command": "3B", "control": "80", "occurrence": 2, "kind": "sense",
                  "sense": "03 0C 00"},
                 {"command": "3c", "kind": "corrupt", "byte": 16383},
                 {"command": "3c", "kind": "descriptor_sense", "sense": "05 20 00"},
                 {"command": "3c", "kind": "short", "length": 512}]
    }]})");
  EXPECT_EQ(bay.family, sim::Family::Consumer);
  EXPECT_TRUE(bay.aspi);
  EXPECT_EQ(bay.aspiStatus, 227);
  EXPECT_EQ(bay.hostAdapters, 3);
  EXPECT_EQ(bay.clock, sim::Clock::Mode::Real);
  ASSERT_EQ(bay.otherRoots.size(), 2u);
  EXPECT_EQ(bay.otherRoots[1].root, "Z:\\");
  EXPECT_EQ(bay.otherRoots[1].driveType, 4u);
  ASSERT_EQ(bay.drives.size(), 1u);
  const sim::DriveConfig& drive = bay.drives[0];
  EXPECT_EQ(drive.name, "main");
  EXPECT_EQ(drive.root, "E:\\");
  EXPECT_EQ(drive.address, (std::array<int, 4>{1, 0, 2, 0}));
  EXPECT_EQ(drive.addressQuery, sim::AddressQuery::Refused);
  EXPECT_FALSE(drive.aspi);
  EXPECT_EQ(drive.vendor, "Acme");
  EXPECT_EQ(drive.product, "Writer 9");
  EXPECT_EQ(drive.revision, "1.00");
  EXPECT_EQ(drive.flashId, (std::array<std::uint8_t, 4>{0xDA, 0xC8, 0x00, 0x00}));
  EXPECT_TRUE(drive.medium);
  EXPECT_TRUE(drive.trayOpen);
  EXPECT_FALSE(drive.trayMotor);
  EXPECT_TRUE(drive.ejectLocked);
  EXPECT_FALSE(drive.eventStatus);
  EXPECT_EQ(drive.notReadySeconds, 2.5);
  EXPECT_EQ(drive.unitAttention, 2);
  ASSERT_EQ(drive.faults.size(), 4u);
  EXPECT_EQ(drive.faults[0].command, 0x3B);
  EXPECT_EQ(drive.faults[0].control, std::optional<std::uint8_t>(0x80));
  EXPECT_EQ(drive.faults[0].occurrence, 2);
  EXPECT_EQ(drive.faults[0].kind, sim::FaultKind::Sense);
  EXPECT_EQ(drive.faults[0].sense, (std::array<std::uint8_t, 3>{0x03, 0x0C, 0x00}));
  EXPECT_EQ(drive.faults[1].command, 0x3C);
  EXPECT_FALSE(drive.faults[1].control);
  EXPECT_EQ(drive.faults[1].occurrence, 0);
  EXPECT_EQ(drive.faults[1].kind, sim::FaultKind::Corrupt);
  EXPECT_EQ(drive.faults[1].byte, std::optional<std::uint32_t>(16383));
  EXPECT_FALSE(drive.faults[0].byte);
  EXPECT_EQ(drive.faults[2].kind, sim::FaultKind::DescriptorSense);
  EXPECT_EQ(drive.faults[2].sense, (std::array<std::uint8_t, 3>{0x05, 0x20, 0x00}));
  EXPECT_EQ(drive.faults[3].kind, sim::FaultKind::Short);
  EXPECT_EQ(drive.faults[3].length, 512u);
  EXPECT_EQ(drive.faults[2].length, 0u);
}

TEST(Bay, AbsentFieldsKeepTheDefaults) {
  const sim::BayConfig bay =
      sim::ParseBay(R"({"drives": [{"root": "D:\\"}, {"address": [0, 0, 1, 0]}]})");
  EXPECT_EQ(bay.family, sim::Family::NT);
  EXPECT_FALSE(bay.aspi);
  EXPECT_EQ(bay.hostAdapters, 1);
  EXPECT_EQ(bay.clock, sim::Clock::Mode::Virtual);
  ASSERT_EQ(bay.otherRoots.size(), 1u);
  EXPECT_EQ(bay.otherRoots[0].root, "C:\\");
  const sim::DriveConfig defaults;
  EXPECT_EQ(bay.drives[0].name, "D");
  EXPECT_EQ(bay.drives[0].vendor, defaults.vendor);
  EXPECT_EQ(bay.drives[0].flashId, defaults.flashId);
  EXPECT_TRUE(bay.drives[0].trayMotor);
  // Without a root the drive is seen only by the ASPI manager and named by its place.
  EXPECT_FALSE(bay.drives[1].root);
  EXPECT_EQ(bay.drives[1].name, "drive1");
}

TEST(Bay, AnEmptyOtherRootsListLeavesOnlyTheDrives) {
  EXPECT_TRUE(sim::ParseBay(R"({"other_roots": []})").otherRoots.empty());
}

TEST(Bay, ADescribedMachineRunsItsDrives) {
  sim::SimSystem system(sim::ParseBay(
      R"({"aspi": true,
          "drives": [{"name": "W", "root": "W:\\", "medium": true,
                      "faults": [{"command": "00", "occurrence": 1, "kind": "sense",
                                  "sense": "02 04 01"}]}]})"));
  AspiPort port(system);
  const auto tur = [&port] { return port.SendTo(0, 0, 0, TestUnitReady(), Dir::None, 0); };
  EXPECT_EQ(tur().SenseText(), "02/04/01");
  EXPECT_TRUE(tur().Good());
  EXPECT_EQ(system.Trace().at(0).substr(0, 5), "W 00 ");
}

TEST(Bay, LoadsAFile) {
  const std::string path = ::testing::TempDir() + "sim_bay_test.json";
  std::ofstream(path) << R"({"family": "consumer"})";
  EXPECT_EQ(sim::LoadBay(path).family, sim::Family::Consumer);
  std::remove(path.c_str());
  try {
    sim::LoadBay(path);
    FAIL() << "a missing file was read";
  } catch (const sim::BayError& error) {
    EXPECT_EQ(std::string(error.what()), path + ": cannot be read");
  }
}

struct BadBay {
  const char* json;
  const char* message;
};

class BayErrors : public ::testing::TestWithParam<BadBay> {};

TEST_P(BayErrors, NameTheField) {
  try {
    sim::ParseBay(GetParam().json);
    FAIL() << "accepted " << GetParam().json;
  } catch (const sim::BayError& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bay, BayErrors,
    ::testing::Values(
        BadBay{R"([])", "bay: expected an object"},
        BadBay{R"({"colour": "red"})", "colour: unknown field"},
        BadBay{R"({"family": "win"})", R"(family: expected one of "nt", "consumer")"},
        BadBay{R"({"aspi": 1})", "aspi: expected true or false"},
        BadBay{R"({"aspi_status": 256})", "aspi_status: expected a whole number from 0 to 255"},
        BadBay{R"({"host_adapters": 1.5})", "host_adapters: expected a whole number from 0 to 255"},
        BadBay{R"({"clock": "fast"})", R"(clock: expected one of "virtual", "real")"},
        BadBay{R"({"other_roots": {}})", "other_roots: expected an array"},
        BadBay{R"({"other_roots": [{"root": "C:"}]})",
               R"(other_roots[0].root: expected a drive root such as "C:\")"},
        BadBay{
            R"({"other_roots": [{"root": "C:\\", "type": "floppy"}]})",
            R"(other_roots[0].type: expected one of "unknown", "removable", "fixed", "remote", "cdrom", "ramdisk")"},
        BadBay{R"({"drives": [{}, {"flash_id": "BF D8 05"}]})",
               "drives[1].flash_id: expected four hex bytes"},
        BadBay{R"({"drives": [{"flash_id": "BF D8 00 XZ"}]})",
               "drives[0].flash_id: expected four hex bytes"},
        BadBay{R"({"drives": [{"flash_id": "BFD80005"}]})",
               "drives[0].flash_id: expected four hex bytes"},
        BadBay{R"({"drives": [{"vendor": "Dornavex1"}]})",
               "drives[0].vendor: longer than 8 characters"},
        BadBay{R"({"drives": [{"product": "DVDRW KTR-207M-XL"}]})",
               "drives[0].product: longer than 16 characters"},
        BadBay{R"({"drives": [{"revision": "RV051"}]})",
               "drives[0].revision: longer than 4 characters"},
        BadBay{R"({"drives": [{"revision": 5}]})", "drives[0].revision: expected a text"},
        BadBay{R"({"drives": [{"speed": 4}]})", "drives[0].speed: unknown field"},
        BadBay{R"({"drives": [{"root": "DD:\\"}]})",
               R"(drives[0].root: expected a drive root such as "D:\")"},
        BadBay{R"({"drives": [{"name": "my drive"}]})",
               "drives[0].name: expected a name without blanks"},
        BadBay{R"({"drives": [{"address": [0, 0, 1]}]})",
               "drives[0].address: expected four numbers from 0 to 255"},
        BadBay{R"({"drives": [{"address": [0, 0, 1, 300]}]})",
               "drives[0].address: expected four numbers from 0 to 255"},
        BadBay{
            R"({"drives": [{"address_query": "maybe"}]})",
            R"(drives[0].address_query: expected one of "ok", "refused", "empty", "unopenable")"},
        BadBay{R"({"drives": [{"not_ready_seconds": -1}]})",
               "drives[0].not_ready_seconds: expected a number of seconds, 0 or more"},
        BadBay{R"({"drives": [{"not_ready_seconds": 1e400}]})",
               "drives[0].not_ready_seconds: a number out of range"},
        BadBay{R"({"drives": [{}, {"address": [0, -1e400, 0, 0]}]})",
               "drives[1].address[1]: a number out of range"},
        BadBay{R"({"host_adapters": 1e400})", "host_adapters: a number out of range"},
        BadBay{R"({"drives": [{"unit_attention": "2"}]})",
               "drives[0].unit_attention: expected a whole number from 0 to 1000000"},
        BadBay{
            R"({"drives": [{"faults": [{"kind": "smoke"}]}]})",
            R"(drives[0].faults[0].kind: expected one of "fail", "sense", "descriptor_sense", "corrupt", "short", "timeout", "vanish")"},
        BadBay{R"({"drives": [{"faults": [{"command": "3B3"}]}]})",
               "drives[0].faults[0].command: expected one hex byte"},
        BadBay{R"({"drives": [{"faults": [{"control": ""}]}]})",
               "drives[0].faults[0].control: expected one hex byte"},
        BadBay{R"({"drives": [{"faults": [{"kind": "sense"}]}]})",
               R"(drives[0].faults[0].sense: needed for a fault of kind "sense")"},
        BadBay{R"({"drives": [{"faults": [{"kind": "descriptor_sense"}]}]})",
               R"(drives[0].faults[0].sense: needed for a fault of kind "descriptor_sense")"},
        BadBay{R"({"drives": [{"faults": [{"kind": "short", "length": 16777216}]}]})",
               "drives[0].faults[0].length: expected a whole number from 0 to 16777215"},
        BadBay{R"({"drives": [{"faults": [{"kind": "sense", "sense": "03 0C"}]}]})",
               "drives[0].faults[0].sense: expected three hex bytes"},
        BadBay{R"({"drives": [{"faults": [{"occurrence": -1}]}]})",
               "drives[0].faults[0].occurrence: expected a whole number from 0 to 1000000"},
        BadBay{R"({"drives": [{"faults": [{"kind": "corrupt", "byte": 1.5}]}]})",
               "drives[0].faults[0].byte: expected a whole number from 0 to 16777214"},
        BadBay{R"({"drives": [{"faults": [{"kind": "corrupt", "byte": 16777215}]}]})",
               "drives[0].faults[0].byte: expected a whole number from 0 to 16777214"},
        BadBay{R"({"drives": [{"faults": [{"when": 3}]}]})",
               "drives[0].faults[0].when: unknown field"},
        BadBay{R"({"drives": [{"root": "C:\\"}]})", R"(drives[0].root: C:\ is listed twice)"},
        BadBay{R"({"drives": [{"root": "D:\\"}, {"root": "d:\\", "name": "E"}]})",
               R"(drives[1].root: d:\ is listed twice)"},
        BadBay{R"({"drives": [{"root": "D:\\"}, {"root": "E:\\", "name": "D"}]})",
               "drives[1].name: D is used twice"}));

TEST(Bay, TextThatIsNotJsonIsAnError) {
  try {
    sim::ParseBay("{\"family\": ");
    FAIL();
  } catch (const sim::BayError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("bay: not valid JSON", 0), 0u);
  }
}

}  // namespace
}  // namespace movrel::test
