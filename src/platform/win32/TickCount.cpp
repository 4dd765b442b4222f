#include "platform/win32/TickCount.h"

#include <windows.h>

#include "platform/TickCarry.h"

namespace movrel::platform::win32 {

std::uint64_t TickCount64() {
  static TickCarry carry;
  return carry.Extend(::GetTickCount());
}

}  // namespace movrel::platform::win32
