#include "platform/OSInfo.h"

#include "platform/System.h"

namespace platform {

OSInfo::OSInfo(System& system) : system(&system) {
  OsVersionInfo info{};
  info.dwOSVersionInfoSize = sizeof(OsVersionInfo);
  if (system.GetVersionEx(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT) isNT = true;
}

bool OSInfo::ShutDownSystem(std::uint32_t flags) {
  if (!isNT) return system->ExitWindowsEx(flags | EWX_FORCE, 0);

  Handle token = 0;
  if (!system->OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token)) return false;

  TokenPrivileges privileges{};
  system->LookupPrivilegeValue(nullptr, SE_SHUTDOWN_NAME, privileges.Privileges[0].luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  system->AdjustTokenPrivileges(token, false, privileges);
  const bool assigned = system->GetLastError() == ERROR_SUCCESS;
  system->CloseHandle(token);
  if (!assigned) return false;

  return system->ExitWindowsEx(flags | EWX_FORCE, 0);
}

bool OSInfo::RestartSystem() { return ShutDownSystem(EWX_REBOOT); }

}  // namespace platform
