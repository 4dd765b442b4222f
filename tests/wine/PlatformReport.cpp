// platform-report.exe [--window CAPTION] [--box CAPTION TEXT ok|okcancel|yesno]... [--hang]
//
// Without options, reports what the Windows under test answers to the calls the flasher makes
// at start-up, one fact a line:
//
//   platform <dwPlatformId>                    1: Windows 95/98, 2: NT
//   drive D: type <GetDriveTypeA>              5: CD-ROM
//   open \\.\D: ok | error <GetLastError>
//   scsi address ok | error <GetLastError>     IOCTL_SCSI_GET_ADDRESS on \\.\D:
//   aspi support <hex> | aspi load error <GetLastError>
//
// With options, it drives box-answerer.exe's tests instead: --window opens a main window, each
// --box shows a message box (TEXT's "\n" is a line break) and prints "RESULT <button>", and
// --hang then waits for ever. The exit code is the last box's result (0 without a box).
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <ntddscsi.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

void Report() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  std::printf("platform %lu\n", version.dwPlatformId);
  std::printf("drive D: type %u\n", GetDriveTypeA("D:\\"));

  HANDLE drive =
      CreateFileA("\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (drive == INVALID_HANDLE_VALUE) {
    std::printf("open \\\\.\\D: error %lu\n", GetLastError());
  } else {
    std::printf("open \\\\.\\D: ok\n");
    SCSI_ADDRESS address{};
    DWORD returned = 0;
    if (DeviceIoControl(drive, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address,
                        &returned, nullptr))
      std::printf("scsi address ok\n");
    else
      std::printf("scsi address error %lu\n", GetLastError());
    CloseHandle(drive);
  }

  HMODULE aspi = LoadLibraryA("WNASPI32");
  if (!aspi) {
    std::printf("aspi load error %lu\n", GetLastError());
    return;
  }
  using SupportInfo = DWORD(__cdecl*)();
  const auto support_info = reinterpret_cast<SupportInfo>(
      reinterpret_cast<void*>(GetProcAddress(aspi, "GetASPI32SupportInfo")));
  if (support_info)
    std::printf("aspi support 0x%04lX\n", support_info());
  else
    std::printf("aspi support missing\n");
  FreeLibrary(aspi);
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
