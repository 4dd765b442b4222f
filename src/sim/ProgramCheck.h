// The drive's own knowledge of the drive-side flash programs it accepts: for each flash identity
// the program's size, and how the program must arrive (buffer offset, control byte, transfer
// length and header). The drive checks every program it receives against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace movrel::sim {

// Rows 0 and 1 take their program with an ordinary WRITE BUFFER at this offset.
inline constexpr std::uint32_t kLowProgramOffset = 0x80000;
inline constexpr std::uint8_t kProgramControl = 0x7F;

// The table row of a flash identity; -1 when the drive knows none.
int ProgramRow(const std::array<std::uint8_t, 4>& flashId);

// The row that a received program matches for a drive of the given flash identity, -1 when it
// does not match: wrong identity or size in the header, wrong offset, control byte or length.
int CheckProgram(const std::array<std::uint8_t, 4>& flashId, std::uint32_t offset,
                 std::uint8_t control, std::uint32_t length, const std::uint8_t* bytes,
                 std::size_t received);

}  // namespace movrel::sim
