// A WNASPI32.DLL such as a downloads folder might hold beside a flasher, for the scenarios that
// show which ASPI manager the flasher loads: it says on standard output that it was loaded, and
// answers as an old ASPI manager would, which the consumer family's flasher then reports.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    static const char kLoaded[] = "PLANTED WNASPI32 LOADED\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kLoaded, sizeof kLoaded - 1, &written, nullptr);
  }
  return TRUE;
}

// SS_OLD_MANAGER in the status byte, no host adapter.
extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
  return 0xE1u << 8;
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void*) {
  return 0;
}
