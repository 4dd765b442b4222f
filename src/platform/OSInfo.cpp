#include "platform/OSInfo.h"

#include "platform/System.h"

namespace movrel::platform {

OSInfo::OSInfo(System& system) : system(&system) {
  OsVersionInfo info{};
  info.dwOSVersionInfoSize = sizeof(OsVersionInfo);
  if (!system.GetVersionExA(info)) return;
  isNT = info.dwPlatformId == VerPlatform::Win32NT;
  majorVersion = info.dwMajorVersion;
}

bool OSInfo::ShutDownSystem(std::uint32_t flags) {
  if (!isNT) return system->ExitWindowsEx(flags | ExitFlags::Force, 0);

  Handle token = 0;
  if (!system->OpenProcessToken(TokenAccess::AdjustPrivileges | TokenAccess::Query, token))
    return false;

  TokenPrivileges privileges{};
  system->LookupPrivilegeValueA(nullptr, Privilege::ShutdownName, privileges.Privileges[0].luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = Privilege::Enabled;
  system->AdjustTokenPrivileges(token, false, privileges);
  const bool assigned = system->GetLastError() == ErrorCode::Success;
  system->CloseHandle(token);
  if (!assigned) return false;

  return system->ExitWindowsEx(flags | ExitFlags::Force, 0);
}

bool OSInfo::RestartSystem() {
  return ShutDownSystem(ExitFlags::Reboot);
}

}  // namespace movrel::platform
