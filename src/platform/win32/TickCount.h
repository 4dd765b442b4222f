// Milliseconds since start-up as a 64-bit count, on every Windows: GetTickCount64 is missing from
// the systems before Vista, so the 32-bit GetTickCount is carried past its wrap after 49.7 days
// (TickCarry); it must be asked at least once in every 49.7 days to see each wrap.
#pragma once

#include <cstdint>

namespace movrel::platform::win32 {

std::uint64_t TickCount64();

}  // namespace movrel::platform::win32
