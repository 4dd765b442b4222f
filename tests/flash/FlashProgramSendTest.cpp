// Sending the drive-side flash program: the header, buffer offset, transfer length and control
// byte of each kind of row as the simulated drive received them, the program bytes at their
// place in the output buffer, and identities that select nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FlashMachine.h"
#include "flash/FlashProgramTables.h"

namespace movrel::test {

using device::AtapiDevice;
using flash::FlashProgramArea;
using flash::FlashProgramOffset;
using flash::kFlashProgramRows;
namespace {

struct SendCase {
  int row;
  FlashId identity;
  std::vector<std::uint8_t> header;
  std::size_t programOffset;  // in the program area
  std::string command;        // the WRITE BUFFER as the drive saw it, without its outcome
};

class SendFlashProgram : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendFlashProgram, SendsHeaderAndProgramAsTheRowSays) {
  const SendCase& c = GetParam();
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, c.identity)}));
  EXPECT_TRUE(machine.device.SendFlashProgram());

  const std::vector<std::string> trace = machine.system.Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], "D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good");
  EXPECT_EQ(trace[1], c.command + " good");
  EXPECT_EQ(trace[2], "D program row " + std::to_string(c.row) + " match");

  const std::uint8_t* out = machine.device.OutBuffer();
  const std::size_t headerLength = c.header.size();
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + headerLength), c.header);
  const int size = AtapiDevice::FlashProgramSize(c.row);
  EXPECT_EQ(std::memcmp(out + headerLength, FlashProgramArea + c.programOffset,
                        static_cast<std::size_t>(size)),
            0);
  // Nothing but zeros after the program.
  for (std::size_t i = headerLength + static_cast<std::size_t>(size); i < 32768; ++i) {
    ASSERT_EQ(out[i], 0) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendFlashProgram,
    ::testing::Values(
        // Row 0: four header bytes, kept in the buffer at 0x80000 with control 0x00.
        SendCase{0,
                 {0xDA, 0xC8, 0x00, 0x00},
                 {0xDA, 0xC8, 0x00, 0x00},
                 0,
                 "D 3B 05 01 08 00 00 00 01 3E 00 00 00 out 318"},
        // Row 1: the last row kept in the buffer.
        SendCase{1,
                 {0xBF, 0xB4, 0x00, 0x00},
                 {0xBF, 0xB4, 0x00, 0x00},
                 314,
                 "D 3B 05 01 08 00 00 00 01 C8 00 00 00 out 456"},
        // Row 2: six header bytes counted in the 1280 sent; the last six program bytes stay.
        SendCase{2,
                 {0xBF, 0xD6, 0x00, 0x01},
                 {0xBF, 0xD6, 0x00, 0x01, 0x05, 0x00},
                 766,
                 "D 3B 05 01 00 00 00 00 05 00 7F 00 00 out 1280"},
        // Row 4: the last row whose header is counted in the length.
        SendCase{4,
                 {0x37, 0x8C, 0x00, 0x01},
                 {0x37, 0x8C, 0x00, 0x01, 0x05, 0x00},
                 2046,
                 "D 3B 05 01 00 00 00 00 05 00 7F 00 00 out 1280"},
        // Row 5: the first row sent whole, size plus its six header bytes.
        SendCase{5,
                 {0xBF, 0xD7, 0x00, 0x03},
                 {0xBF, 0xD7, 0x00, 0x03, 0x03, 0xE6},
                 3326,
                 "D 3B 05 01 00 00 00 00 03 EC 7F 00 00 out 1004"},
        // Row 8 shares row 7's program.
        SendCase{8,
                 {0xBF, 0xD6, 0x00, 0x02},
                 {0xBF, 0xD6, 0x00, 0x02, 0x02, 0xB6},
                 5120,
                 "D 3B 05 01 00 00 00 00 02 BC 7F 00 00 out 700"},
        SendCase{19,
                 {0xBF, 0xD8, 0x00, 0x05},
                 {0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2},
                 14416,
                 "D 3B 05 01 00 00 00 00 04 D8 7F 00 00 out 1240"},
        // Rows 20 and 22 send row 19's program with their own identity.
        SendCase{20,
                 {0x01, 0x37, 0x00, 0x05},
                 {0x01, 0x37, 0x00, 0x05, 0x04, 0xD2},
                 14416,
                 "D 3B 05 01 00 00 00 00 04 D8 7F 00 00 out 1240"},
        SendCase{22,
                 {0xC2, 0x38, 0x00, 0x05},
                 {0xC2, 0x38, 0x00, 0x05, 0x04, 0xD2},
                 14416,
                 "D 3B 05 01 00 00 00 00 04 D8 7F 00 00 out 1240"}),
    [](const ::testing::TestParamInfo<SendCase>& info) {
      return "Row" + std::to_string(info.param.row);
    });

TEST(SendFlashProgramShortLoader, SixUnsentProgramBytesAreZeros) {
  // Rows 2 to 4 count the header in the length: what stays behind is the program's zero tail.
  for (int row : {2, 3, 4}) {
    const std::size_t end = FlashProgramOffset(row) + 1280;
    for (std::size_t i = end - 6; i < end; ++i) EXPECT_EQ(FlashProgramArea[i], 0) << row;
  }
}

TEST(SendFlashProgramRefused, ListedPartWithAnUnlistedVariantSendsNothing) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, FlashId{0xBF, 0xD8, 0x00, 0x07})}));
  EXPECT_FALSE(machine.device.SendFlashProgram());
  EXPECT_EQ(machine.system.Trace(),
            (std::vector<std::string>{"D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good"}));
}

TEST(SendFlashProgramRefused, NoFlashIdentitySendsNothing) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, FlashId{0, 0, 0, 0})}));
  EXPECT_FALSE(machine.device.SendFlashProgram());
  EXPECT_EQ(machine.system.Trace().size(), 1u);
}

TEST(SendFlashProgramRefused, FailedWriteIsReportedAndNotRepeated) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault;
  fault.command = 0x3B;
  drive.faults.push_back(fault);
  FlashMachine machine(Bay({drive}));
  EXPECT_FALSE(machine.device.SendFlashProgram());
  EXPECT_EQ(test::CommandsWithCode(machine.system.Trace(), 0x3B).size(), 1u);
}

// --- Copying a program out of the area --------------------------------------------------------

class FlashProgramCopy : public ::testing::Test {
 protected:
  FlashProgramCopy() : machine(Bay({Drive('D', {1, 0, 0, 0})})) {}
  FlashMachine machine;
};

TEST_F(FlashProgramCopy, EveryRowCopiesItsProgramFromItsPlace) {
  // The program places of the table, row by row.
  const std::size_t places[kFlashProgramRows] = {
      0,    314,   766,   766,   2046,  3326,  4324,  5120,  5120,  5814,  6512,  7792, 8646,
      9476, 10218, 11164, 11962, 12672, 13614, 14416, 14416, 14416, 14416, 15650, 16728};
  for (int row = 0; row < kFlashProgramRows; ++row) {
    SCOPED_TRACE(row);
    std::memset(machine.device.OutBuffer(), 0xEE, AtapiDevice::kBufferSize);
    const int size = AtapiDevice::FlashProgramSize(row);
    EXPECT_EQ(machine.device.CopyFlashProgram(row), machine.device.OutBuffer());
    EXPECT_EQ(std::memcmp(machine.device.OutBuffer(), FlashProgramArea + places[row],
                          static_cast<std::size_t>(size)),
              0);
    EXPECT_EQ(machine.device.OutBuffer()[size], 0xEE);  // not a byte more
  }
}

TEST_F(FlashProgramCopy, LoadCopiesTheProgramOfTheIdentityOrNothing) {
  const std::uint8_t known[4] = {0x01, 0x37, 0x00, 0x06};
  const std::uint8_t unknown[4] = {0x01, 0x37, 0x00, 0x07};
  std::memset(machine.device.OutBuffer(), 0xEE, 2048);
  EXPECT_EQ(machine.device.LoadFlashProgram(unknown), nullptr);
  EXPECT_EQ(machine.device.OutBuffer()[0], 0xEE);
  EXPECT_EQ(machine.device.LoadFlashProgram(known), machine.device.OutBuffer());
  EXPECT_EQ(std::memcmp(machine.device.OutBuffer(), FlashProgramArea + 16728, 1122), 0);
}

}  // namespace
}  // namespace movrel::test
