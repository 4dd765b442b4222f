// The flash program tables and area, checked against an independent copy of the table: every
// identity, size, group and program place, and the bytes of every program.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>

#include "device/AtapiDevice.h"
#include "flash/FlashProgramTables.h"

namespace movrel::test {

using device::AtapiDevice;
using flash::FlashProgramArea;
using flash::FlashProgramGroups;
using flash::FlashProgramOffset;
using flash::FlashProgramTable;
using flash::kFlashProgramAreaSize;
using flash::kFlashProgramRows;
namespace {

struct ExpectedRow {
  std::array<std::uint8_t, 4> identity;
  int size;
  int group;
  std::size_t offset;
};

constexpr ExpectedRow kExpected[kFlashProgramRows] = {
    {{0xDA, 0xC8, 0x00, 0x00}, 314, 0, 0},       {{0xBF, 0xB4, 0x00, 0x00}, 452, 1, 314},
    {{0xBF, 0xD6, 0x00, 0x01}, 1280, 2, 766},    {{0xBF, 0xB6, 0x00, 0x01}, 1280, 2, 766},
    {{0x37, 0x8C, 0x00, 0x01}, 1280, 3, 2046},   {{0xBF, 0xD7, 0x00, 0x03}, 998, 4, 3326},
    {{0x37, 0x0D, 0x00, 0x02}, 796, 5, 4324},    {{0xBF, 0xB6, 0x00, 0x02}, 694, 6, 5120},
    {{0xBF, 0xD6, 0x00, 0x02}, 694, 6, 5120},    {{0xDA, 0xB5, 0x00, 0x02}, 698, 7, 5814},
    {{0xDA, 0xB5, 0x00, 0x01}, 1280, 8, 6512},   {{0xBF, 0xD7, 0x00, 0x04}, 854, 9, 7792},
    {{0xC2, 0xB6, 0x00, 0x03}, 830, 10, 8646},   {{0xDA, 0x46, 0x00, 0x03}, 742, 11, 9476},
    {{0x37, 0xB5, 0x00, 0x03}, 946, 12, 10218},  {{0xC2, 0xB6, 0x00, 0x07}, 798, 13, 11164},
    {{0xDA, 0x46, 0x00, 0x07}, 710, 14, 11962},  {{0x37, 0xB5, 0x00, 0x04}, 942, 15, 12672},
    {{0x37, 0xB5, 0x00, 0x07}, 802, 16, 13614},  {{0xBF, 0xD8, 0x00, 0x05}, 1234, 17, 14416},
    {{0x01, 0x37, 0x00, 0x05}, 1234, 17, 14416}, {{0xC2, 0x37, 0x00, 0x05}, 1234, 17, 14416},
    {{0xC2, 0x38, 0x00, 0x05}, 1234, 17, 14416}, {{0xBF, 0xD8, 0x00, 0x06}, 1078, 18, 15650},
    {{0x01, 0x37, 0x00, 0x06}, 1122, 19, 16728},
};

// The placeholder programs of data/: byte 2k of program g is 0xC0 + g, byte 2k + 1 is k mod 256;
// programs 2 and 3 end in six zeros.
std::uint8_t ExpectedProgramByte(int group, int size, int position) {
  if ((group == 2 || group == 3) && position >= size - 6) return 0;
  if (position % 2 == 0) return static_cast<std::uint8_t>(0xC0 + group);
  return static_cast<std::uint8_t>((position / 2) % 256);
}

TEST(FlashProgramTable, RowsHoldTheIdentityAndSizeOfEachProgram) {
  for (int row = 0; row < kFlashProgramRows; ++row) {
    SCOPED_TRACE(row);
    const ExpectedRow& expected = kExpected[row];
    for (int i = 0; i < 4; ++i) EXPECT_EQ(FlashProgramTable[row][i], expected.identity[i]);
    EXPECT_EQ(FlashProgramTable[row][4], expected.size >> 8);
    EXPECT_EQ(FlashProgramTable[row][5], expected.size & 0xFF);
    EXPECT_EQ(AtapiDevice::FlashProgramSize(row), expected.size);
    EXPECT_EQ(FlashProgramTable[row][2], 0);
    EXPECT_EQ(expected.size % 2, 0);
  }
}

TEST(FlashProgramTable, GroupsAndProgramPlacesFollowTheOffsetColumn) {
  for (int row = 0; row < kFlashProgramRows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(FlashProgramGroups[row], kExpected[row].group);
    EXPECT_EQ(FlashProgramOffset(row), kExpected[row].offset);
  }
  // The last program ends exactly at the end of the area.
  EXPECT_EQ(FlashProgramOffset(24) + 1122, kFlashProgramAreaSize);
}

TEST(FlashProgramTable, IdentitiesAreUniqueAndEachFindsItsOwnRow) {
  std::set<std::array<std::uint8_t, 4>> seen;
  for (int row = 0; row < kFlashProgramRows; ++row) {
    EXPECT_TRUE(seen.insert(kExpected[row].identity).second) << row;
    EXPECT_EQ(AtapiDevice::FindFlashProgram(kExpected[row].identity.data()), row);
  }
}

TEST(FlashProgramTable, IdentitiesNoRowListsFindNothing) {
  const std::uint8_t unlistedVariant[4] = {0xBF, 0xD8, 0x00, 0x07};
  const std::uint8_t nonZeroByte2[4] = {0xBF, 0xD8, 0x01, 0x05};
  const std::uint8_t swapped[4] = {0xD8, 0xBF, 0x00, 0x05};
  const std::uint8_t zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(AtapiDevice::FindFlashProgram(unlistedVariant), -1);
  EXPECT_EQ(AtapiDevice::FindFlashProgram(nonZeroByte2), -1);
  EXPECT_EQ(AtapiDevice::FindFlashProgram(swapped), -1);
  EXPECT_EQ(AtapiDevice::FindFlashProgram(zeros), -1);
}

TEST(FlashProgramArea, HoldsTheTwentyProgramsBackToBack) {
  std::size_t place = 0;
  for (int row = 0; row < kFlashProgramRows; ++row) {
    if (row > 0 && kExpected[row].group == kExpected[row - 1].group) continue;
    SCOPED_TRACE(row);
    const int group = kExpected[row].group;
    const int size = kExpected[row].size;
    ASSERT_EQ(place, kExpected[row].offset);
    for (int position = 0; position < size; ++position) {
      ASSERT_EQ(FlashProgramArea[place + position], ExpectedProgramByte(group, size, position))
          << "position " << position;
    }
    place += static_cast<std::size_t>(size);
  }
  EXPECT_EQ(place, kFlashProgramAreaSize);
}

}  // namespace
}  // namespace movrel::test
