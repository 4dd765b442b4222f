// movrel: the flasher's window, on this Windows machine's optical drives.
#include <windows.h>

#include "platform/win32/Win32System.h"
#include "ui/win32/Win32Application.h"
#include "ui/win32/Win32Main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  movrel::platform::Win32System system;
  movrel::ui::Win32Application application;
  return movrel::ui::Win32Main(system, application);
}
