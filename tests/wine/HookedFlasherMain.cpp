// movrel-hooked.exe: the Windows flasher on the real Windows backend, with test hooks that the
// environment variable MOVREL_TEST_HOOKS switches on, its words separated by commas:
//
//   trace               each device control request and its outcome, on standard output:
//                       "IOCTL <code, 8 hex digits> ok" or "IOCTL <code> error <last error>"
//   refuse-volume-lock  FSCTL_LOCK_VOLUME is refused with ERROR_ACCESS_DENIED, as Windows refuses
//                       it while another handle is open on the volume (Wine grants it always)
//   on-battery          the power source is the battery, as GetSystemPowerStatus tells it with
//                       ACLineStatus 0 (Wine answers from the host's power supplies)
//
// Only this test build reads them; the flasher that ships, movrel.exe, reads no environment.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Win32System.h"
#include "ui/win32/Win32Application.h"
#include "ui/win32/Win32Main.h"

namespace {

bool Hooked(const char* word) {
  const char* hooks = std::getenv("MOVREL_TEST_HOOKS");
  return hooks != nullptr &&
         ("," + std::string(hooks) + ",").find("," + std::string(word) + ",") != std::string::npos;
}

class HookedSystem : public movrel::platform::Win32System {
 public:
  bool DeviceIoControl(movrel::platform::Handle device, std::uint32_t code, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override {
    bool answered = false;
    if (refuseVolumeLock && code == movrel::platform::ioctl::FsctlLockVolume) {
      if (bytesReturned != nullptr) *bytesReturned = 0;
      ::SetLastError(ERROR_ACCESS_DENIED);
    } else {
      answered = Win32System::DeviceIoControl(device, code, inBuffer, inBufferSize, outBuffer,
                                              outBufferSize, bytesReturned);
    }
    const DWORD error = ::GetLastError();
    if (trace) {
      if (answered) {
        std::printf("IOCTL %08X ok\n", static_cast<unsigned>(code));
      } else {
        std::printf("IOCTL %08X error %lu\n", static_cast<unsigned>(code), error);
      }
      std::fflush(stdout);
    }
    ::SetLastError(error);  // as the call left it, for the caller's look
    return answered;
  }

  PowerSource GetPowerSource() override {
    return onBattery ? PowerSource::Battery : Win32System::GetPowerSource();
  }

 private:
  const bool trace = Hooked("trace");
  const bool refuseVolumeLock = Hooked("refuse-volume-lock");
  const bool onBattery = Hooked("on-battery");
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HookedSystem system;
  movrel::ui::Win32Application application;
  return movrel::ui::Win32Main(system, application);
}
