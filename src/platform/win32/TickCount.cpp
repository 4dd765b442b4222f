#include "platform/win32/TickCount.h"

#include <windows.h>

#include "platform/TickCarry.h"

namespace platform::win32 {

std::uint64_t TickCount64() {
  static TickCarry carry;
  return carry.Extend(::GetTickCount());
}

}  // namespace platform::win32
