#include "platform/win32/TickCount.h"

#include <windows.h>

#include <mutex>

namespace platform::win32 {

std::uint64_t TickCount64() {
  static std::mutex lock;
  static DWORD last = 0;
  static std::uint64_t wraps = 0;
  const std::lock_guard<std::mutex> hold(lock);
  const DWORD now = ::GetTickCount();
  if (now < last) ++wraps;
  last = now;
  return (wraps << 32) | now;
}

}  // namespace platform::win32
