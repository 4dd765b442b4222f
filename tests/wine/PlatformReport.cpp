// platform-report.exe [--window CAPTION] [--box CAPTION TEXT ok|okcancel|yesno]... [--hang]
// platform-report.exe --hold-denied-lock SECONDS
//
// Without options, reports what the Windows under test answers to the calls the flasher makes,
// made through the flasher's own Windows backend (Win32System), one fact a line:
//
//   platform <dwPlatformId> version <major>.<minor>   1: Windows 95/98, 2: NT
//   drive D: type <GetDriveTypeA>                      5: CD-ROM
//   open \\.\D: ok | error <last error>
//   scsi address ok | error <last error>               IOCTL_SCSI_GET_ADDRESS on \\.\D:
//   pass-through ok | error <last error>               TEST UNIT READY on \\.\D:
//   volume lock ok | error <last error>                FSCTL_LOCK_VOLUME on \\.\D:
//   open \\.\E: twice ok | error <last error>         the second open while the first is held
//   drive lock held | ...                              LockDrive of the address 2-0-0-0
//   drive lock ace <SID> <access mask in hex>          each entry of that mutex's DACL
//   drive lock again held elsewhere | ...              a second LockDrive of it
//   aspi support <hex> | aspi load error <last error>
//   aspi unload ok | error <last error>
//   restart flags <hex>, shutdown privilege enabled|disabled|missing|unknown
//                                                      | restart not asked, error <last error>
//   event source ok | error <last error>               the update record's source
//   event record ok | error <last error>               an error record with two strings
//   event source deregistered | not deregistered
//
// The restart is the flasher's own (OSInfo::RestartSystem) up to ExitWindowsEx, which is not
// made: its line tells the flags asked for and, from the process's token, whether the shutdown
// privilege that Windows NT requires of the caller is enabled by then.
//
// With options, it drives box-answerer.exe's tests instead: --window opens a main window, each
// --box shows a message box (TEXT's "\n" is a line break) and prints "RESULT <button>", and
// --hang then waits for ever. The exit code is the last box's result (0 without a box).
//
// --hold-denied-lock creates the mutex of the drive lock of D: (no SCSI address under Wine: the
// address 2-0-0-0) with an empty DACL, which lets no flasher open it, prints "denied lock held"
// and holds it for SECONDS.
#include <windows.h>
//
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/OSInfo.h"
#include "platform/PassThrough.h"
#include "platform/win32/Win32System.h"

namespace {

using namespace movrel::platform;

void Print(const char* fact, bool ok, System& system) {
  if (ok)
    std::printf("%s ok\n", fact);
  else
    std::printf("%s error %u\n", fact, static_cast<unsigned>(system.GetLastError()));
}

// The shutdown privilege in the process's token, as ExitWindowsEx finds it.
const char* ShutdownPrivilege() {
  HANDLE token = nullptr;
  LUID shutdown{};
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "unknown";
  DWORD length = 0;
  GetTokenInformation(token, ::TokenPrivileges, nullptr, 0, &length);
  std::vector<unsigned char> buffer(length);
  const bool read =
      length != 0 && GetTokenInformation(token, ::TokenPrivileges, buffer.data(), length, &length);
  CloseHandle(token);
  if (!read || !LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown)) return "unknown";
  const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
    const LUID& luid = held->Privileges[i].Luid;
    if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart)
      return held->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED ? "enabled" : "disabled";
  }
  return "missing";
}

// The flasher's backend, whose restart reports instead of restarting.
class ReportingSystem : public Win32System {
 public:
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t) override {
    std::printf("restart flags 0x%X, shutdown privilege %s\n", static_cast<unsigned>(flags),
                ShutdownPrivilege());
    return true;
  }
};

void ReportDrive(System& system) {
  const Handle drive = system.CreateFileA("\\\\.\\D:");
  Print("open \\\\.\\D:", drive != InvalidHandleValue, system);
  if (drive == InvalidHandleValue) return;
  ScsiAddress address{};
  std::uint32_t returned = 0;
  Print("scsi address",
        system.DeviceIoControl(drive, ioctl::ScsiGetAddress, nullptr, 0, &address, sizeof address,
                               &returned),
        system);
  PassThroughRequest request{};  // TEST UNIT READY: six zero bytes, no data
  request.sptd.Length = sizeof request.sptd;
  request.sptd.CdbLength = 6;
  request.sptd.SenseInfoLength = sizeof request.senseArea;
  request.sptd.DataIn = ScsiDataDirection::Unspecified;
  request.sptd.TimeOutValue = 10;
  request.sptd.SenseInfoOffset = offsetof(PassThroughRequest, senseArea);
  Print("pass-through",
        system.DeviceIoControl(drive, ioctl::ScsiPassThroughDirect, &request, sizeof request,
                               &request, sizeof request, &returned),
        system);
  const bool locked =
      system.DeviceIoControl(drive, ioctl::FsctlLockVolume, nullptr, 0, nullptr, 0, &returned);
  Print("volume lock", locked, system);
  if (locked)
    system.DeviceIoControl(drive, ioctl::FsctlUnlockVolume, nullptr, 0, nullptr, 0, &returned);
  system.CloseHandle(drive);
}

// Every open of a device lets the others read and write: a second one succeeds while the first
// is held. Under Wine the device \\.\E: is a file, whose sharing Wine checks.
void ReportSharing(System& system) {
  const Handle first = system.CreateFileA("\\\\.\\E:");
  const Handle second = first == InvalidHandleValue ? first : system.CreateFileA("\\\\.\\E:");
  Print("open \\\\.\\E: twice", second != InvalidHandleValue, system);
  if (second != InvalidHandleValue) system.CloseHandle(second);
  if (first != InvalidHandleValue) system.CloseHandle(first);
}

const char* LockStateName(DriveLockState state) {
  return state == DriveLockState::Held            ? "held"
         : state == DriveLockState::HeldElsewhere ? "held elsewhere"
                                                  : "unavailable";
}

// Where the drive's lock is a mutex, who may open it.
void ReportDriveLock(System& system) {
  const ScsiAddress address{sizeof(ScsiAddress), 2, 0, 0, 0};
  Handle lock = 0, again = 0;
  const DriveLockState state = system.LockDrive(address, lock);
  std::printf("drive lock %s\n", LockStateName(state));
  if (state != DriveLockState::Held) return;
  const HANDLE mutex = reinterpret_cast<HANDLE>(lock);
  DWORD needed = 0;
  GetKernelObjectSecurity(mutex, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<unsigned char> descriptor(needed);
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  if (needed != 0 &&
      GetKernelObjectSecurity(mutex, DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                              &needed) &&
      GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) && present &&
      dacl != nullptr) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* entry = nullptr;
      char* sid = nullptr;
      if (!GetAce(dacl, i, &entry)) continue;
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      if (ConvertSidToStringSidA(&allowed->SidStart, &sid)) {
        std::printf("drive lock ace %s 0x%08X\n", sid, static_cast<unsigned>(allowed->Mask));
        LocalFree(sid);
      }
    }
  }
  std::printf("drive lock again %s\n", LockStateName(system.LockDrive(address, again)));
  system.UnlockDrive(lock);
}

// Another user's flasher, as far as this one can tell: a mutex it may not open.
int HoldDeniedLock(unsigned seconds) {
  SECURITY_DESCRIPTOR descriptor{};
  ACL empty{};
  InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  const HANDLE mutex = CreateMutexA(&attributes, TRUE, "Global\\Movrel-2-0-0-0");
  if (mutex == nullptr) return 1;
  std::printf("denied lock held\n");
  std::fflush(stdout);
  Sleep(seconds * 1000);
  return 0;
}

void ReportAspi(System& system) {
  const Module aspi = system.LoadLibraryA("WNASPI32");
  if (!aspi) {
    std::printf("aspi load error %u\n", static_cast<unsigned>(system.GetLastError()));
    return;
  }
  const ProcAddress supportInfo = system.GetProcAddress(aspi, "GetASPI32SupportInfo");
  if (supportInfo)
    std::printf("aspi support 0x%04X\n", static_cast<unsigned>(supportInfo()));
  else
    std::printf("aspi support missing\n");
  Print("aspi unload", system.FreeLibrary(aspi), system);
}

void ReportEventLog(System& system) {
  UpdateRecordFields record;
  record.vendor = "platform-report";
  record.product = "no update";
  Print("event record", system.RecordUpdates(&record, 1), system);
}

void Report() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // each line in its place among Wine's messages
  ReportingSystem system;
  OsVersionInfo version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (system.GetVersionExA(version))
    std::printf("platform %u version %u.%u\n", static_cast<unsigned>(version.dwPlatformId),
                static_cast<unsigned>(version.dwMajorVersion),
                static_cast<unsigned>(version.dwMinorVersion));
  else
    std::printf("platform unknown\n");
  std::printf("drive D: type %u\n", static_cast<unsigned>(system.GetDriveTypeA("D:\\")));
  ReportDrive(system);
  ReportSharing(system);
  ReportDriveLock(system);
  ReportAspi(system);
  if (!OSInfo(system).RestartSystem())
    std::printf("restart not asked, error %u\n", static_cast<unsigned>(system.GetLastError()));
  ReportEventLog(system);
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

const char* ResultName(int result) {
  switch (result) {
    case IDOK:
      return "ok";
    case IDCANCEL:
      return "cancel";
    case IDYES:
      return "yes";
    case IDNO:
      return "no";
    default:
      return "other";
  }
}

HWND OpenWindow(const char* caption) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "PlatformReport";
  RegisterClassA(&window_class);
  RECT rect{0, 0, 320, 200};
  AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowA("PlatformReport", caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, rect.right - rect.left, rect.bottom - rect.top,
                              nullptr, nullptr, window_class.hInstance, nullptr);
  ShowWindow(window, SW_SHOW);
  return window;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    Report();
    return 0;
  }
  if (argc == 3 && std::string_view(argv[1]) == "--hold-denied-lock") {
    return HoldDeniedLock(static_cast<unsigned>(std::atoi(argv[2])));
  }
  HWND owner = nullptr;
  int result = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--window" && i + 1 < argc) {
      owner = OpenWindow(argv[++i]);
    } else if (option == "--box" && i + 3 < argc) {
      const std::string caption = argv[i + 1], text = Unescape(argv[i + 2]);
      const std::string_view kind = argv[i + 3];
      i += 3;
      const UINT type = kind == "yesno"      ? MB_YESNO | MB_ICONQUESTION
                        : kind == "okcancel" ? MB_OKCANCEL | MB_ICONWARNING
                                             : MB_OK | MB_ICONERROR;
      result = MessageBoxA(owner, text.c_str(), caption.c_str(), type);
      std::printf("RESULT %s\n", ResultName(result));
      std::fflush(stdout);
    } else if (option == "--hang") {
      Sleep(INFINITE);
    } else {
      std::fprintf(stderr, "platform-report.exe: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  return result;
}
