#include "platform/win32/SystemLibrary.h"

#include <string>

namespace movrel::platform::win32 {

HMODULE LoadSystemLibrary(const char* fileName) {
  char directory[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return nullptr;
  std::string path = std::string(directory, length) + "\\" + fileName;
  if (path.find('.', length + 1) == std::string::npos) path += ".DLL";
  return ::LoadLibraryA(path.c_str());
}

FARPROC SystemCall(const char* fileName, const char* procName) {
  const HMODULE library = LoadSystemLibrary(fileName);
  return library == nullptr ? nullptr : ::GetProcAddress(library, procName);
}

}  // namespace movrel::platform::win32
