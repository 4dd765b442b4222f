// The C++ runtime's own locks (libgcc's thread primitives: function-local statics, the unwinder's
// frame tables, thread-local storage) create their semaphores with CreateSemaphoreW. The consumer
// family (95, 98, ME) exports the wide-character calls but implements few of them, and Microsoft's
// Unicode layer for those systems supplies its own CreateSemaphoreW: the flasher does not rest on
// theirs, since a lock whose semaphore was never made fails as soon as two threads meet on it.
// This object
// fills that import slot itself, before kernel32's import library is searched, with
// CreateSemaphoreA, which both families have: the runtime's semaphores have no name, so nothing
// needs converting. It must be linked into the executable as an object (an archive member would
// never be pulled in for a slot that only a later archive asks for).
#include <windows.h>

namespace {

HANDLE WINAPI CreateUnnamedSemaphore(SECURITY_ATTRIBUTES* attributes, LONG initialCount,
                                     LONG maximumCount, const wchar_t* name) {
  if (name != nullptr) {  // never asked for: a name would need the wide call itself
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ::CreateSemaphoreA(attributes, initialCount, maximumCount, nullptr);
}

}  // namespace

using CreateSemaphoreCall = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES*, LONG, LONG, const wchar_t*);

// The slot's name as the 32-bit import library spells it: __imp_ and the stdcall-decorated name.
extern "C" {
CreateSemaphoreCall createSemaphoreImport asm("__imp__CreateSemaphoreW@16") =
    &CreateUnnamedSemaphore;
}
