// The process's side of the machine: the version, the token and the restart, the clock, the
// heap, the events, the (absent) ASPI manager and the plain message box.
#include "platform/linux/LinuxSystem.h"

#include <sys/utsname.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "platform/linux/HelperKernel.h"
#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"

namespace movrel::platform {

namespace {

constexpr Handle kProcessHeap = 0x50;
constexpr Luid kShutdownLuid{19, 0};  // SE_SHUTDOWN_PRIVILEGE
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * kNanosecondsPerSecond + now.tv_nsec;
}

}  // namespace

struct LinuxSystem::Event {
  std::mutex lock;
  std::condition_variable signal;
  bool manualReset = true;
  bool signalled = false;
};

LinuxSystem::LinuxSystem() : LinuxSystem(FlasherKernel(std::cerr), std::cerr) {}

LinuxSystem::LinuxSystem(std::unique_ptr<LinuxKernel> kernel, std::ostream& notices)
    : kernel(std::move(kernel)), notices(notices) {}

LinuxSystem::~LinuxSystem() {
  if (inhibitor >= 0) kernel->Close(inhibitor);
}

Handle LinuxSystem::NewHandle() {
  return nextHandle++;
}

std::uint32_t LinuxSystem::GetLastError() {
  return lasterror::Get();
}

// --- Version, token and restart -------------------------------------------------------------

// The NT family, with the kernel's release as its version.
bool LinuxSystem::GetVersionExA(OsVersionInfo& info) {
  if (info.dwOSVersionInfoSize != sizeof(OsVersionInfo)) {
    return lasterror::Fail(ErrorCode::InvalidParameter);
  }
  utsname names{};
  unsigned major = 0, minor = 0;
  if (::uname(&names) == 0) std::sscanf(names.release, "%u.%u", &major, &minor);
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.dwBuildNumber = 0;
  info.dwPlatformId = VerPlatform::Win32NT;
  info.szCSDVersion[0] = '\0';
  return true;
}

// The process's credentials are always there to look at.
bool LinuxSystem::OpenProcessToken(std::uint32_t, Handle& token) {
  std::lock_guard<std::mutex> hold(lock);
  token = NewHandle();
  tokens.insert(token);
  return true;
}

bool LinuxSystem::LookupPrivilegeValueA(const char*, const char* name, Luid& luid) {
  if (name == nullptr || std::strcmp(name, Privilege::ShutdownName) != 0) {
    return lasterror::Fail(ErrorCode::NoSuchPrivilege);
  }
  luid = kShutdownLuid;
  return true;
}

// The shutdown privilege is held when the process may reboot the machine; no other is known.
bool LinuxSystem::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                        const TokenPrivileges& newState) {
  {
    std::lock_guard<std::mutex> hold(lock);
    if (tokens.count(token) == 0) return lasterror::Fail(ErrorCode::InvalidHandle);
  }
  bool held = true;
  if (!disableAllPrivileges && newState.PrivilegeCount != 0 &&
      (newState.Privileges[0].Attributes & Privilege::Enabled) != 0) {
    const Luid& luid = newState.Privileges[0].luid;
    const bool shutdown =
        luid.LowPart == kShutdownLuid.LowPart && luid.HighPart == kShutdownLuid.HighPart;
    held = shutdown && kernel->MayReboot();
  }
  lasterror::Set(held ? ErrorCode::Success : ErrorCode::NotAllAssigned);
  return true;
}

// A restart is an orderly reboot: where systemd runs, systemctl asks it; elsewhere (a rescue
// system, another init) the plain reboot command does. Each by its absolute path, never through
// the PATH of a process that may be root: /usr first, then the root directories of a system
// whose /usr is not merged. Other requests (log off, power off) are not offered.
bool LinuxSystem::ExitWindowsEx(std::uint32_t flags, std::uint32_t) {
  static const std::vector<std::vector<std::string>> kSystemctl = {{"/usr/bin/systemctl", "reboot"},
                                                                   {"/bin/systemctl", "reboot"}};
  static const std::vector<std::vector<std::string>> kReboot = {{"/usr/sbin/reboot"},
                                                                {"/sbin/reboot"}};
  if ((flags & ExitFlags::Reboot) == 0) return lasterror::Fail(ErrorCode::NotSupported);
  if (!kernel->MayReboot()) return lasterror::Fail(ErrorCode::PrivilegeNotHeld);
  int status = 127;
  for (const auto& command : kernel->SystemdBooted() ? kSystemctl : kReboot) {
    status = kernel->Run(command);
    if (status != 127) break;
  }
  if (status != 0) return lasterror::Fail(ErrorCode::AccessDenied);
  return true;
}

bool LinuxSystem::MayUpdateFirmware() {
  return kernel->MaySendRawCommands();
}

// --- Clock ----------------------------------------------------------------------------------

bool LinuxSystem::QueryPerformanceFrequency(std::int64_t& frequency) {
  frequency = kNanosecondsPerSecond;
  return true;
}

bool LinuxSystem::QueryPerformanceCounter(std::int64_t& count) {
  count = MonotonicNanoseconds();
  return true;
}

std::uint64_t LinuxSystem::GetTickCount64() {
  return static_cast<std::uint64_t>(MonotonicNanoseconds() / 1'000'000);
}

void LinuxSystem::Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

// --- The heap: the C library's ---------------------------------------------------------------

Handle LinuxSystem::GetProcessHeap() {
  return kProcessHeap;
}

void* LinuxSystem::HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) {
  if (heap != kProcessHeap) return nullptr;
  if (bytes == 0) bytes = 1;
  return (flags & HeapFlags::ZeroFill) ? std::calloc(1, bytes) : std::malloc(bytes);
}

bool LinuxSystem::HeapFree(Handle heap, std::uint32_t, void* memory) {
  if (heap != kProcessHeap) return false;
  std::free(memory);
  return true;
}

// --- Handles and events ---------------------------------------------------------------------

bool LinuxSystem::CloseHandle(Handle handle) {
  std::shared_ptr<Device> device;  // closed once no call uses it, outside the lock
  std::lock_guard<std::mutex> hold(lock);
  if (tokens.erase(handle) + events.erase(handle) != 0) return true;
  const auto found = devices.find(handle);
  if (found == devices.end()) return lasterror::Fail(ErrorCode::InvalidHandle);
  device = std::move(found->second);
  devices.erase(found);
  return true;
}

Handle LinuxSystem::CreateEventA(bool manualReset, bool initialState) {
  auto event = std::make_shared<Event>();
  event->manualReset = manualReset;
  event->signalled = initialState;
  std::lock_guard<std::mutex> hold(lock);
  const Handle handle = NewHandle();
  events[handle] = std::move(event);
  return handle;
}

std::shared_ptr<LinuxSystem::Event> LinuxSystem::FindEvent(Handle handle) {
  std::lock_guard<std::mutex> hold(lock);
  const auto found = events.find(handle);
  return found == events.end() ? nullptr : found->second;
}

bool LinuxSystem::SetEvent(Handle handle) {
  const std::shared_ptr<Event> event = FindEvent(handle);
  if (!event) return lasterror::Fail(ErrorCode::InvalidHandle);
  {
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
  }
  event->signal.notify_all();
  return true;
}

std::uint32_t LinuxSystem::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  const std::shared_ptr<Event> event = FindEvent(handle);
  if (!event) {
    lasterror::Set(ErrorCode::InvalidHandle);
    return WaitResult::Failed;
  }
  std::unique_lock<std::mutex> hold(event->lock);
  if (!event->signal.wait_for(hold, std::chrono::milliseconds(milliseconds),
                              [&] { return event->signalled; })) {
    return WaitResult::Timeout;
  }
  if (!event->manualReset) event->signalled = false;
  return WaitResult::Object0;
}

// --- No ASPI manager --------------------------------------------------------------------------

Module LinuxSystem::LoadLibraryA(const char*) {
  lasterror::Set(ErrorCode::ModuleNotFound);
  return 0;
}

ProcAddress LinuxSystem::GetProcAddress(Module, const char*) {
  return {};
}

bool LinuxSystem::FreeLibrary(Module) {
  return lasterror::Fail(ErrorCode::InvalidHandle);
}

// --- The plain message box --------------------------------------------------------------------

int LinuxSystem::MessageBoxA(const char* text, const char* caption, std::uint32_t) {
  const std::string shownText = text ? text : "";
  const std::string shownCaption = caption ? caption : "";
  if (messageBoxScreen) {
    messageBoxScreen(shownText, shownCaption);
  } else {
    std::lock_guard<std::mutex> hold(lock);
    notices << shownCaption << ": " << shownText << std::endl;
  }
  return MessageBoxResult::Ok;
}

}  // namespace movrel::platform
