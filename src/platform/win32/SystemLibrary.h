// A DLL loaded from Windows' system directory by its full path. Windows' own search looks in the
// program's folder first, and only the KnownDLLs are always taken from the system directory: a
// flasher run from a downloads folder must not load whatever DLL of that name lies beside it.
#pragma once

#include <windows.h>

namespace movrel::platform::win32 {

// LoadLibraryA of "<system directory>\<fileName>" (".DLL" added to a name without an extension):
// the module, or null when the system directory holds no such library.
HMODULE LoadSystemLibrary(const char* fileName);

// The entry point `procName` of the system library `fileName` (loaded as above and kept for the
// process), or null when the system lacks the library or the call. For the calls that a family of
// Windows lacks or only stubs: the flasher looks them up instead of importing them, since Windows
// refuses to start an executable that imports a call its DLL does not export.
FARPROC SystemCall(const char* fileName, const char* procName);

}  // namespace movrel::platform::win32
