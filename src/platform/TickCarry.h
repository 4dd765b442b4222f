// A 32-bit millisecond count, such as Windows' GetTickCount, carried past its wrap after 49.7
// days into 64 bits: a count smaller than the one before has wrapped once. Any thread may hand in
// counts (the carry is kept under a lock); one must come in every 49.7 days to see each wrap.
#pragma once

#include <cstdint>

#include "platform/Lock.h"

namespace movrel::platform {

class TickCarry {
 public:
  std::uint64_t Extend(std::uint32_t now);

 private:
  Lock lock;
  std::uint32_t last = 0;
  std::uint64_t wraps = 0;
};

}  // namespace movrel::platform
