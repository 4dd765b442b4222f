// A DLL loaded from Windows' system directory by its full path. Windows' own search looks in the
// program's folder first, and only the KnownDLLs are always taken from the system directory: a
// flasher run from a downloads folder must not load whatever DLL of that name lies beside it.
#pragma once

#include <windows.h>

namespace platform::win32 {

// LoadLibraryA of "<system directory>\<fileName>" (".DLL" added to a name without an extension):
// the module, or null when the system directory holds no such library.
HMODULE LoadSystemLibrary(const char* fileName);

}  // namespace platform::win32
