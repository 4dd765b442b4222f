#include "sim/ProgramCheck.h"

#include <algorithm>

namespace movrel::sim {

namespace {

struct ProgramRowInfo {
  std::array<std::uint8_t, 4> flashId;
  std::uint16_t size;
};

constexpr std::array<ProgramRowInfo, 25> kRows{{
    {{0xDA, 0xC8, 0x00, 0x00}, 314},  {{0xBF, 0xB4, 0x00, 0x00}, 452},
    {{0xBF, 0xD6, 0x00, 0x01}, 1280}, {{0xBF, 0xB6, 0x00, 0x01}, 1280},
    {{0x37, 0x8C, 0x00, 0x01}, 1280}, {{0xBF, 0xD7, 0x00, 0x03}, 998},
    {{0x37, 0x0D, 0x00, 0x02}, 796},  {{0xBF, 0xB6, 0x00, 0x02}, 694},
    {{0xBF, 0xD6, 0x00, 0x02}, 694},  {{0xDA, 0xB5, 0x00, 0x02}, 698},
    {{0xDA, 0xB5, 0x00, 0x01}, 1280}, {{0xBF, 0xD7, 0x00, 0x04}, 854},
    {{0xC2, 0xB6, 0x00, 0x03}, 830},  {{0xDA, 0x46, 0x00, 0x03}, 742},
    {{0x37, 0xB5, 0x00, 0x03}, 946},  {{0xC2, 0xB6, 0x00, 0x07}, 798},
    {{0xDA, 0x46, 0x00, 0x07}, 710},  {{0x37, 0xB5, 0x00, 0x04}, 942},
    {{0x37, 0xB5, 0x00, 0x07}, 802},  {{0xBF, 0xD8, 0x00, 0x05}, 1234},
    {{0x01, 0x37, 0x00, 0x05}, 1234}, {{0xC2, 0x37, 0x00, 0x05}, 1234},
    {{0xC2, 0x38, 0x00, 0x05}, 1234}, {{0xBF, 0xD8, 0x00, 0x06}, 1078},
    {{0x01, 0x37, 0x00, 0x06}, 1122},
}};

// How a row's program must arrive.
struct Delivery {
  std::uint32_t offset;
  std::uint8_t control;
  std::uint32_t length;
  std::array<std::uint8_t, 6> header;
  std::size_t headerLength;
};

Delivery ExpectedDelivery(int row) {
  const ProgramRowInfo& info = kRows[static_cast<std::size_t>(row)];
  const std::uint32_t evenSize = info.size + (info.size & 1u);
  const auto& id = info.flashId;
  if (row <= 1) return {kLowProgramOffset, 0x00, evenSize + 4, {id[0], id[1], id[2], id[3]}, 4};
  const std::array<std::uint8_t, 6> header{id[0],
                                           id[1],
                                           id[2],
                                           id[3],
                                           static_cast<std::uint8_t>(info.size >> 8),
                                           static_cast<std::uint8_t>(info.size & 0xFF)};
  // Rows 2 to 4 count the header inside the program's size; the later rows add it.
  const std::uint32_t length = row <= 4 ? evenSize : evenSize + 6;
  return {0, kProgramControl, length, header, 6};
}

}  // namespace

int ProgramRow(const std::array<std::uint8_t, 4>& flashId) {
  for (std::size_t row = 0; row < kRows.size(); ++row) {
    if (kRows[row].flashId == flashId) return static_cast<int>(row);
  }
  return -1;
}

int CheckProgram(const std::array<std::uint8_t, 4>& flashId, std::uint32_t offset,
                 std::uint8_t control, std::uint32_t length, const std::uint8_t* bytes,
                 std::size_t received) {
  const int row = ProgramRow(flashId);
  if (row < 0) return -1;
  const Delivery expected = ExpectedDelivery(row);
  if (offset != expected.offset || control != expected.control || length != expected.length) {
    return -1;
  }
  if (bytes == nullptr || received < expected.headerLength) return -1;
  const auto headerEnd =
      expected.header.begin() + static_cast<std::ptrdiff_t>(expected.headerLength);
  return std::equal(expected.header.begin(), headerEnd, bytes) ? row : -1;
}

}  // namespace movrel::sim
