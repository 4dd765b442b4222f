// The drive-side flash programs: which program belongs to which flash part and drive variant, how
// long it is, and the area that holds the 20 programs back to back. The tables are constant and
// shared by every device and thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace movrel::flash {

inline constexpr int kFlashProgramRows = 25;
inline constexpr std::size_t kFlashProgramAreaSize = 17850;

// Per row: flash manufacturer code, flash device code, 0, drive variant (the four bytes of the
// flash identity reply), then the size of the row's program, more significant byte first.
extern const std::uint8_t FlashProgramTable[kFlashProgramRows][6];

// Per row: the program it uses. Adjacent rows with equal numbers share one program.
extern const std::int32_t FlashProgramGroups[kFlashProgramRows];

// The programs in the order of their first row, with nothing between them (data/).
extern const std::uint8_t FlashProgramArea[kFlashProgramAreaSize];

// Where the program of `row` starts in FlashProgramArea: the sizes of the programs before it,
// found by walking the group numbers from row 1 to `row`.
std::size_t FlashProgramOffset(int row);

}  // namespace movrel::flash
