#include "sim/SimSystem.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "sim/DriveBay.h"
#include "sim/SimAspiManager.h"

namespace movrel::sim {

using platform::Handle;

namespace {
constexpr Handle kProcessHeap = 0x50;
}

namespace {
BayConfig BareMachine(Clock::Mode mode) {
  BayConfig bay;
  bay.clock = mode;
  return bay;
}
}  // namespace

SimSystem::SimSystem(Clock::Mode mode) : SimSystem(BareMachine(mode)) {}

SimSystem::SimSystem(const BayConfig& description)
    : clock(description.clock),
      family(description.family),
      otherRoots(description.otherRoots),
      bay(std::make_unique<DriveBay>(description.drives, clock.NowNanoseconds())),
      aspi(std::make_unique<AspiManager>(description, *bay, *this)) {}

SimSystem::~SimSystem() = default;

void SimSystem::SetFamily(Family value) {
  platform::Hold hold(lock);
  family = value;
}

void SimSystem::SetVersion(std::uint32_t major, std::uint32_t minor) {
  platform::Hold hold(lock);
  versionMajor = major;
  versionMinor = minor;
}

Family SimSystem::GetFamily() const {
  platform::Hold hold(lock);
  return family;
}

void SimSystem::SetHighResolutionCounter(bool present) {
  platform::Hold hold(lock);
  counterPresent = present;
}

void SimSystem::SetShutdownPrivilegeHeld(bool held) {
  platform::Hold hold(lock);
  shutdownPrivilegeHeld = held;
}

void SimSystem::FailCall(const std::string& name, bool fail) {
  platform::Hold hold(lock);
  if (fail) {
    failingCalls.insert(name);
  } else {
    failingCalls.erase(name);
  }
}

bool SimSystem::CallFails(const std::string& name) const {
  platform::Hold hold(lock);
  return failingCalls.count(name) != 0;
}

std::vector<std::string> SimSystem::Calls() const {
  platform::Hold hold(lock);
  return calls;
}

std::vector<std::uint32_t> SimSystem::ShutdownRequests() const {
  platform::Hold hold(lock);
  return shutdownRequests;
}

void SimSystem::Record(std::string line) {
  calls.push_back(std::move(line));
}

Handle SimSystem::NewHandle() {
  return nextHandle++;
}

// --- Version, token and restart -------------------------------------------------------------

bool SimSystem::GetVersionExA(platform::OsVersionInfo& info) {
  if (CallFails("GetVersionExA")) return false;
  platform::Hold hold(lock);
  if (info.dwOSVersionInfoSize != sizeof(platform::OsVersionInfo)) return false;
  if (family == Family::NT) {
    info.dwMajorVersion = versionMajor;
    info.dwMinorVersion = versionMinor;
    info.dwBuildNumber = 2600;
    info.dwPlatformId = platform::VerPlatform::Win32NT;
  } else {
    info.dwMajorVersion = 4;
    info.dwMinorVersion = 10;
    info.dwBuildNumber = 2222;
    info.dwPlatformId = platform::VerPlatform::Win32Windows;
  }
  return true;
}

bool SimSystem::OpenProcessToken(std::uint32_t desiredAccess, Handle& token) {
  const bool fails = CallFails("OpenProcessToken");
  platform::Hold hold(lock);
  std::ostringstream line;
  line << "OpenProcessToken 0x" << std::hex << desiredAccess;
  Record(line.str());
  if (fails) {
    lastError = platform::ErrorCode::AccessDenied;
    return false;
  }
  token = NewHandle();
  tokens.insert(token);
  lastError = platform::ErrorCode::Success;
  return true;
}

bool SimSystem::LookupPrivilegeValueA(const char* systemName, const char* name,
                                      platform::Luid& luid) {
  platform::Hold hold(lock);
  Record(std::string("LookupPrivilegeValueA ") + (systemName ? systemName : "(local)") + " " +
         (name ? name : ""));
  if (name == nullptr || std::strcmp(name, platform::Privilege::ShutdownName) != 0) {
    lastError = platform::ErrorCode::NoSuchPrivilege;
    return false;
  }
  luid.LowPart = 19;
  luid.HighPart = 0;
  lastError = platform::ErrorCode::Success;
  return true;
}

bool SimSystem::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                      const platform::TokenPrivileges& newState) {
  platform::Hold hold(lock);
  std::ostringstream line;
  line << "AdjustTokenPrivileges " << (disableAllPrivileges ? 1 : 0) << " "
       << newState.PrivilegeCount << " " << newState.Privileges[0].luid.LowPart << " "
       << newState.Privileges[0].Attributes;
  Record(line.str());
  if (tokens.count(token) == 0) {
    lastError = platform::ErrorCode::InvalidHandle;
    return false;
  }
  lastError =
      shutdownPrivilegeHeld ? platform::ErrorCode::Success : platform::ErrorCode::NotAllAssigned;
  return true;
}

std::uint32_t SimSystem::GetLastError() {
  platform::Hold hold(lock);
  return lastError;
}

bool SimSystem::ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) {
  const bool fails = CallFails("ExitWindowsEx");
  {
    platform::Hold hold(lock);
    Record("ExitWindowsEx " + std::to_string(flags) + " " + std::to_string(reason));
    if (!fails) shutdownRequests.push_back(flags);
  }
  // The trace shows where among the drives' commands the machine was asked to restart.
  bay->Note("- restart " + std::to_string(flags) + (fails ? " refused" : ""));
  return !fails;
}

// --- Clock ----------------------------------------------------------------------------------

bool SimSystem::QueryPerformanceFrequency(std::int64_t& frequency) {
  platform::Hold hold(lock);
  if (!counterPresent) {
    frequency = 0;
    return false;
  }
  frequency = Clock::kFrequency;
  return true;
}

bool SimSystem::QueryPerformanceCounter(std::int64_t& count) {
  {
    platform::Hold hold(lock);
    if (!counterPresent) {
      count = 0;
      return false;
    }
  }
  count = clock.ReadCounter();
  return true;
}

std::uint64_t SimSystem::GetTickCount64() {
  clock.ReadCounter();  // a reading costs time like any other
  return static_cast<std::uint64_t>(clock.NowNanoseconds() / 1'000'000);
}

void SimSystem::Sleep(std::uint32_t milliseconds) {
  clock.Sleep(milliseconds);
}

// --- The heap ------------------------------------------------------------------------------

Handle SimSystem::GetProcessHeap() {
  return CallFails("GetProcessHeap") ? 0 : kProcessHeap;
}

void* SimSystem::HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) {
  if (heap != kProcessHeap || CallFails("HeapAlloc")) return nullptr;
  return (flags & platform::HeapFlags::ZeroFill) ? std::calloc(1, bytes ? bytes : 1)
                                                 : std::malloc(bytes ? bytes : 1);
}

bool SimSystem::HeapFree(Handle heap, std::uint32_t, void* memory) {
  if (heap != kProcessHeap) return false;
  std::free(memory);
  return true;
}

// A device's volume lock and exclusive access end with its handle.
bool SimSystem::CloseHandle(Handle handle) {
  const std::vector<std::string> released = ReleaseDevice(handle);
  bool closed = false;
  {
    platform::Hold hold(lock);
    closed = tokens.erase(handle) + events.erase(handle) + devices.erase(handle) != 0;
  }
  for (const std::string& line : released) bay->Note(line);
  return closed;
}

// --- Events ---------------------------------------------------------------------------------

Handle SimSystem::CreateEventA(bool manualReset, bool initialState) {
  if (CallFails("CreateEventA")) return 0;
  platform::Hold hold(lock);
  const Handle handle = NewHandle();
  events[handle] = Event{manualReset, initialState};
  return handle;
}

bool SimSystem::SetEvent(Handle handle) {
  platform::Hold hold(lock);
  auto found = events.find(handle);
  if (found == events.end()) return false;
  found->second.signalled = true;
  return true;
}

std::uint32_t SimSystem::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  {
    platform::Hold hold(lock);
    auto found = events.find(handle);
    if (found == events.end()) return platform::WaitResult::Failed;
    if (found->second.signalled) {
      if (!found->second.manualReset) found->second.signalled = false;
      return platform::WaitResult::Object0;
    }
  }
  clock.Sleep(milliseconds);
  return platform::WaitResult::Timeout;
}

// --- Message box ----------------------------------------------------------------------------

int SimSystem::MessageBoxA(const char* text, const char* caption, std::uint32_t) {
  const std::string shownText = text ? text : "";
  const std::string shownCaption = caption ? caption : "";
  {
    platform::Hold hold(lock);
    messageBoxes.push_back(shownCaption + "|" + shownText);
  }
  // The box is modal: the machine is not held while the user reads it.
  if (messageBoxScreen) messageBoxScreen(shownText, shownCaption);
  return platform::MessageBoxResult::Ok;
}

std::vector<std::string> SimSystem::MessageBoxes() const {
  platform::Hold hold(lock);
  return messageBoxes;
}

}  // namespace movrel::sim
