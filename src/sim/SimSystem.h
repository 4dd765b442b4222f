// The simulated machine behind the platform seam: its operating-system family, its token and
// restart, its clock, its heap and events. The drive list, the optical drives and the ASPI
// manager are added by the machine's description.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/System.h"
#include "sim/Bay.h"
#include "sim/Clock.h"

namespace sim {



class SimSystem : public platform::System {
 public:
  explicit SimSystem(Clock::Mode mode = Clock::Mode::Virtual);
  // A machine as the description says: family, ASPI manager, clock, drives and their faults.
  explicit SimSystem(const BayConfig& bay);
  ~SimSystem() override;

  // Every command that a drive received, one line each:
  // "<drive> <12 command bytes as hex> <in|out|none> <length> <good|sense K/ASC/ASCQ|fail|timeout>"
  std::vector<std::string> Trace() const;
  void ClearTrace();

  // --- What the machine is -------------------------------------------------------------------
  void SetFamily(Family value);
  Family GetFamily() const;
  void SetHighResolutionCounter(bool present);
  // Whether the process token holds the shutdown privilege (NT).
  void SetShutdownPrivilegeHeld(bool held);
  // Makes the named call fail ("GetVersionEx", "OpenProcessToken", "ExitWindowsEx",
  // "GetProcessHeap", "HeapAlloc", "CreateEvent", "GetLogicalDriveStrings", ...).
  void FailCall(const std::string& name, bool fail = true);
  bool CallFails(const std::string& name) const;

  // --- What happened -------------------------------------------------------------------------
  // The privilege and restart calls in order, one line each, e.g. "ExitWindowsEx 6 0".
  std::vector<std::string> Calls() const;
  // Requests that ExitWindowsEx accepted.
  std::vector<std::uint32_t> ShutdownRequests() const;
  Clock& GetClock() { return clock; }

  // --- platform::System ----------------------------------------------------------------------
  bool GetVersionEx(platform::OsVersionInfo& info) override;
  bool OpenProcessToken(std::uint32_t desiredAccess, platform::Handle& token) override;
  bool LookupPrivilegeValue(const char* systemName, const char* name,
                            platform::Luid& luid) override;
  bool AdjustTokenPrivileges(platform::Handle token, bool disableAllPrivileges,
                             const platform::TokenPrivileges& newState) override;
  std::uint32_t GetLastError() override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;

  bool QueryPerformanceFrequency(std::int64_t& frequency) override;
  bool QueryPerformanceCounter(std::int64_t& count) override;
  std::uint64_t GetTickCount64() override;

  std::uint32_t GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveType(const char* rootPathName) override;

  platform::Handle GetProcessHeap() override;
  void* HeapAlloc(platform::Handle heap, std::uint32_t flags, std::size_t bytes) override;
  bool HeapFree(platform::Handle heap, std::uint32_t flags, void* memory) override;

  platform::Handle CreateFile(const char* fileName) override;
  bool DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(platform::Handle handle) override;

  platform::Module LoadLibrary(const char* fileName) override;
  platform::ProcAddress GetProcAddress(platform::Module module, const char* procName) override;
  bool FreeLibrary(platform::Module module) override;

  platform::Handle CreateEvent(bool manualReset, bool initialState) override;
  std::uint32_t WaitForSingleObject(platform::Handle handle, std::uint32_t milliseconds) override;
  void Sleep(std::uint32_t milliseconds) override;
  // Signals an event (the ASPI manager's completion).
  bool SetEvent(platform::Handle handle);

  int MessageBox(const char* text, const char* caption, std::uint32_t type) override;
  // The plain message boxes shown so far, as "<caption>|<text>".
  std::vector<std::string> MessageBoxes() const;

 private:
  void Record(std::string line);
  platform::Handle NewHandle();

  mutable std::mutex lock;
  Clock clock;
  Family family = Family::NT;
  bool counterPresent = true;
  bool shutdownPrivilegeHeld = true;
  std::uint32_t lastError = 0;
  std::set<std::string> failingCalls;
  std::vector<std::string> calls;
  std::vector<std::uint32_t> shutdownRequests;
  std::vector<std::string> messageBoxes;
  platform::Handle nextHandle = 0x100;
  std::set<platform::Handle> tokens;
  struct Event {
    bool manualReset = true;
    bool signalled = false;
  };
  std::map<platform::Handle, Event> events;
};

}  // namespace sim
