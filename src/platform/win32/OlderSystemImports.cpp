// The thread library under the C++ standard library's threads (winpthreads) imports
// GetTickCount64, which kernel32 has only from Vista on: an executable importing it does not even
// load on Windows XP. This object fills that import slot itself, before kernel32's import library
// is searched, with the 64-bit count made from GetTickCount. It must be linked into the
// executable as an object (an archive member would never be pulled in for a slot that only a
// later archive asks for).
#include <windows.h>

#include "platform/win32/TickCount.h"

namespace {

ULONGLONG WINAPI TickCount64() {
  return platform::win32::TickCount64();
}

}  // namespace

// The slot's name as the 32-bit import library spells it: __imp_ and the stdcall-decorated name.
extern "C" {
ULONGLONG(WINAPI* tickCount64Import)() asm("__imp__GetTickCount64@0") = &TickCount64;
}
