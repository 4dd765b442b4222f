// The simulated machine behind the platform seam: its operating-system family, its token and
// restart, its clock, its heap and events, its drive list, its optical drives (reached through
// the pass-through and through the ASPI manager) and the trace of their commands.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Lock.h"
#include "platform/System.h"
#include "sim/Bay.h"
#include "sim/Clock.h"
#include "sim/DriveState.h"
#include "sim/SimLastError.h"

namespace movrel::sim {

class AspiManager;
class DriveBay;

class SimSystem : public platform::System {
 public:
  // A bare machine: no optical drive, no ASPI manager, one fixed disk C:.
  explicit SimSystem(Clock::Mode mode = Clock::Mode::Virtual);
  // A machine as the description says: family, ASPI manager, clock, drives and their faults.
  explicit SimSystem(const BayConfig& bay);
  ~SimSystem() override;

  // --- The drives' commands ------------------------------------------------------------------
  // Every command that a drive received, one line each:
  // "<drive> <12 command bytes as hex> <in|out|none> <length> <good|sense K/ASC/ASCQ|fail|timeout>"
  // e.g. "D 3B 05 01 00 40 00 00 40 00 00 00 00 out 16384 good". Right after a WRITE BUFFER that
  // carried a drive-side flash program, the drive's verdict on it:
  // "<drive> program row <n> match" or "<drive> program mismatch". Each restart request
  // (ExitWindowsEx) in its place among them: "- restart <flags>", or "- restart <flags> refused";
  // each hold on the system's sleep, "- hold awake" (" refused" when it failed), and its end,
  // "- release awake". The program's hold on a drive: its lock taken, "- lock
  // <drive>" (" held elsewhere" when another holder has it, " abandoned" when it was taken from a
  // flasher that ended holding it) and let go of, "- unlock <drive>"; its volume lock, "- lock
  // volume <drive>" (" refused"), "- unlock volume <drive>"; its exclusive access, "- exclusive
  // access <drive>" (" refused"), "- end exclusive access <drive>".
  std::vector<std::string> Trace() const;
  void ClearTrace();
  // Appends the trace to a file, one line each; false when the file cannot be written.
  bool AppendTrace(const std::string& path) const;

  // --- The drives as a test or a person at the machine sees them -----------------------------
  // Each throws std::invalid_argument for a name the machine does not have.
  DriveState Drive(const std::string& name) const;
  void TakeDiscOut(const std::string& name);
  // Puts a disc in the open tray; with the tray closed the disc goes straight in (a slot).
  void InsertDisc(const std::string& name);
  // Pushes an open tray in by hand (a drive without a tray motor).
  void PushTrayIn(const std::string& name);
  void SetEjectLocked(const std::string& name, bool locked);
  // One more scripted fault; it counts commands from now on.
  void AddFault(const std::string& name, const Fault& fault);

  // References the program holds on the ASPI manager library (LoadLibraryA minus FreeLibrary).
  int AspiLoadCount() const;
  // Execute requests the ASPI manager holds pending (timed out and not aborted).
  std::size_t AspiPendingRequests() const;
  // Device handles opened with CreateFileA and not yet closed.
  std::size_t OpenDevices() const;

  // Another flasher takes (or lets go of) the lock of the drive's address.
  void LockElsewhere(const std::string& name, bool locked = true);
  // Another flasher ended while it held the drive's lock.
  void AbandonLockElsewhere(const std::string& name);
  // Another program (Explorer, an indexer) has the drive's volume open: its lock is refused.
  void OpenVolumeElsewhere(const std::string& name);
  // Another program (a disc burner) holds the drive's exclusive access.
  void HoldExclusiveAccessElsewhere(const std::string& name);
  // A file system is mounted from the drive's disc on a system that keeps a mounted drive from
  // any exclusive open (Linux): its volume lock is refused with ErrorCode::DriveLocked.
  void MountVolume(const std::string& name);
  // Another program holds the drive with an exclusive open (Linux) for `seconds` on the clock
  // from now: its volume lock is refused with ErrorCode::Busy meanwhile.
  void HoldDriveElsewhere(const std::string& name, double seconds);

  // --- What the machine is -------------------------------------------------------------------
  void SetFamily(Family value);
  Family GetFamily() const;
  // The NT family's version (5.1, Windows XP, unless set); the consumer family is 4.10.
  void SetVersion(std::uint32_t major, std::uint32_t minor);
  void SetHighResolutionCounter(bool present);
  // Whether the process token holds the shutdown privilege (NT).
  void SetShutdownPrivilegeHeld(bool held);
  // Makes the named call fail ("GetVersionExA", "OpenProcessToken", "ExitWindowsEx",
  // "GetProcessHeap", "HeapAlloc", "CreateEventA", "GetLogicalDriveStringsA",
  // "HoldSystemAwake", "RecordUpdates" (a machine without an event log),
  // "LockDrive", "FSCTL_LOCK_VOLUME" (a machine without volume locks), ...).
  void FailCall(const std::string& name, bool fail = true);
  bool CallFails(const std::string& name) const;

  // --- What happened -------------------------------------------------------------------------
  // The privilege and restart calls in order, one line each, e.g. "ExitWindowsEx 6 0".
  std::vector<std::string> Calls() const;
  // Requests that ExitWindowsEx accepted.
  std::vector<std::uint32_t> ShutdownRequests() const;
  // The update records, one line each: "<source> <the fields' texts joined by |>", the device
  // named "\\.\D:".
  std::vector<std::string> EventRecords() const;
  Clock& GetClock() { return clock; }

  // --- platform::System ----------------------------------------------------------------------
  bool GetVersionExA(platform::OsVersionInfo& info) override;
  bool OpenProcessToken(std::uint32_t desiredAccess, platform::Handle& token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name,
                             platform::Luid& luid) override;
  bool AdjustTokenPrivileges(platform::Handle token, bool disableAllPrivileges,
                             const platform::TokenPrivileges& newState) override;
  std::uint32_t GetLastError() override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;
  // False while the call "MayUpdateFirmware" fails: a process without the right to send the
  // firmware commands.
  bool MayUpdateFirmware() override { return !CallFails("MayUpdateFirmware"); }

  bool QueryPerformanceFrequency(std::int64_t& frequency) override;
  bool QueryPerformanceCounter(std::int64_t& count) override;
  std::uint64_t GetTickCount64() override;

  std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* rootPathName) override;

  platform::Handle GetProcessHeap() override;
  void* HeapAlloc(platform::Handle heap, std::uint32_t flags, std::size_t bytes) override;
  bool HeapFree(platform::Handle heap, std::uint32_t flags, void* memory) override;

  platform::Handle CreateFileA(const char* fileName) override;
  bool DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(platform::Handle handle) override;

  platform::Module LoadLibraryA(const char* fileName) override;
  platform::ProcAddress GetProcAddress(platform::Module module, const char* procName) override;
  bool FreeLibrary(platform::Module module) override;

  platform::Handle CreateEventA(bool manualReset, bool initialState) override;
  std::uint32_t WaitForSingleObject(platform::Handle handle, std::uint32_t milliseconds) override;
  // A drive's lock as on Windows; none is abandoned by a thread of the program. No root tells its
  // drive's address without an open.
  platform::DriveLockState LockDrive(const platform::ScsiAddress& address,
                                     platform::Handle& lock) override;
  bool UnlockDrive(platform::Handle lock) override;
  bool GetDriveAddress(const char* rootPathName, platform::ScsiAddress& address) override;
  void Sleep(std::uint32_t milliseconds) override;
  // Signals an event (the ASPI manager's completion).
  bool SetEvent(platform::Handle handle);

  bool HoldSystemAwake(const char* reason) override;
  bool ReleaseSystemAwake() override;

  // Mains unless set.
  PowerSource GetPowerSource() override;
  void SetPowerSource(PowerSource source);

  bool RecordUpdates(const platform::UpdateRecordFields* records, std::size_t count) override;

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  // The plain message boxes shown so far, as "<caption>|<text>".
  std::vector<std::string> MessageBoxes() const;
  // Where the plain boxes reach the user of a simulated flasher (its view); none by default.
  using MessageBoxScreen = std::function<void(const std::string& text, const std::string& caption)>;
  void SetMessageBoxScreen(MessageBoxScreen screen) { messageBoxScreen = std::move(screen); }

 private:
  void Record(std::string line);
  platform::Handle NewHandle();
  // The drive behind an open device handle; false (with the last error set) when there is none.
  // A drive that vanished stays behind its handles: its commands fail.
  bool DeviceDrive(platform::Handle device, std::size_t& drive);
  bool QueryAddress(std::size_t drive, void* outBuffer, std::uint32_t outBufferSize,
                    std::uint32_t* bytesReturned);
  bool PassThrough(std::size_t drive, void* inBuffer, std::uint32_t inBufferSize, void* outBuffer,
                   std::uint32_t outBufferSize, std::uint32_t* bytesReturned);
  bool Failed(std::uint32_t error);
  // The drive of this name; throws std::invalid_argument when there is none.
  std::size_t DriveNamed(const std::string& name) const;
  // The drive at that address, when there is one.
  std::optional<std::size_t> DriveAt(std::uint32_t address) const;
  // A drive's address as one number, the key of its lock.
  std::uint32_t AddressKey(std::size_t drive) const;
  bool LockVolume(platform::Handle device, std::size_t drive);
  bool UnlockVolume(platform::Handle device, std::size_t drive);
  bool ExclusiveAccess(platform::Handle device, std::size_t drive, const void* inBuffer,
                       std::uint32_t inBufferSize);
  // What closing a device handle lets go of; the trace lines to note, outside the lock.
  std::vector<std::string> ReleaseDevice(platform::Handle device);

  mutable platform::Lock lock;
  Clock clock;
  Family family = Family::NT;
  bool counterPresent = true;
  bool shutdownPrivilegeHeld = true;
  LastError lastError;  // per thread
  std::set<std::string> failingCalls;
  std::vector<std::string> calls;
  std::vector<std::uint32_t> shutdownRequests;
  std::vector<std::string> messageBoxes;
  MessageBoxScreen messageBoxScreen;
  platform::Handle nextHandle = 0x100;
  std::set<platform::Handle> tokens;
  struct Event {
    bool manualReset = true;
    bool signalled = false;
  };
  std::map<platform::Handle, Event> events;
  std::vector<RootConfig> otherRoots;
  std::map<platform::Handle, std::size_t> devices;  // open device handle -> drive
  struct DriveHold {
    platform::Handle holder = 0;  // the program's handle holding it
    bool elsewhere = false;       // another flasher holds it
    bool abandoned = false;       // ... and ended holding it
  };
  std::map<std::uint32_t, DriveHold> driveLocks;               // by address
  std::map<platform::Handle, std::uint32_t> driveLockHandles;  // held lock handle -> address
  std::map<std::size_t, platform::Handle> volumeLocks;  // drive -> the handle holding its volume
  std::map<std::size_t, platform::Handle> exclusive;    // drive -> the handle with exclusive access
  std::set<std::size_t> volumesOpenElsewhere;
  std::set<std::size_t> volumesMounted;
  std::map<std::size_t, std::int64_t> drivesHeldUntil;  // drive -> the clock's end of the hold
  std::uint32_t versionMajor = 5;
  std::uint32_t versionMinor = 1;
  bool keptAwake = false;
  PowerSource powerSource = PowerSource::Mains;
  std::vector<std::string> eventRecords;
  std::unique_ptr<DriveBay> bay;
  std::unique_ptr<AspiManager> aspi;
};

}  // namespace movrel::sim
