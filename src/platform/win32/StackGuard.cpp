// The stack protector's guard value and its failure, answered by the executable itself. The
// compiler's own runtime for them (libssp) takes the guard from CryptoAPI, a static import of
// ADVAPI32's Crypt* calls that Windows 95 before OSR2 lacks, and reports a failure through the C
// library's _open and _write on a console the window flasher does not have. Defined here, in an
// object of the executable, they are found before libssp is searched, which is then never linked.
//
// The guard is set before main from what differs between runs and processes (the tick count, the
// performance counter, the thread's number, where the stack lies): not a secret from a
// local attacker, but not a constant an overflow could be written to match. No function on the
// stack then is protected (the C runtime's start-up and this constructor, which has no array), so
// none finds its saved copy changed.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

extern "C" {

std::uintptr_t __stack_chk_guard = 0x2F8A5E13u;

// A function whose guard was overwritten: its frame cannot be trusted, so nothing more of the
// program runs; abort ends it at once.
[[noreturn]] void __stack_chk_fail() {
  std::abort();
}

}  // extern "C"

namespace {

__attribute__((constructor(101), no_stack_protector)) void SetStackGuard() {
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  const auto stack = reinterpret_cast<std::uintptr_t>(&counter);
  __stack_chk_guard ^= ::GetTickCount() ^ static_cast<std::uintptr_t>(counter.LowPart) ^
                       (static_cast<std::uintptr_t>(::GetCurrentThreadId()) << 16) ^ (stack << 8);
  __stack_chk_guard &=
      ~static_cast<std::uintptr_t>(0xFF);  // a zero byte: a string copy stops at it
}

}  // namespace
