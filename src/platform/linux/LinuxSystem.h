// The operating-system seam on Linux. The optical drives are the kernel's /dev/srN, shown as the
// roots "D:\" (sr0), "E:\" (sr1), ... up to "Z:\"; the pass-through runs as SG_IO; a drive's
// SCSI address is the kernel's host, channel, id and lun; there is no ASPI manager; the restart
// is an orderly reboot through the system manager, which the process may ask for when it runs as
// root or holds CAP_SYS_BOOT. The last error is per thread.
//
// A drive's lock is flock(2) on a file after its address in /run/movrel, and the address comes from
// sysfs, without an open of the drive's node. There is no volume lock and no exclusive access.
// Keeping the system awake is an inhibitor lock of the login manager (shutdown, sleep, idle and the
// power and suspend keys, blocked); the event log is the system journal, one record with structured
// fields per event.
//
// What the user must know goes to a notice stream (standard error), once per device and reason:
// a device that cannot be opened, a drive lock that cannot be had, a command the kernel refuses
// without CAP_SYS_RAWIO (it lets WRITE BUFFER through only with it); and once, that the system
// cannot be kept awake.
#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/System.h"

namespace movrel::platform {

class LinuxKernel;

class LinuxSystem : public System {
 public:
  // The machine this process runs on, with its notices on standard error.
  LinuxSystem();
  LinuxSystem(std::unique_ptr<LinuxKernel> kernel, std::ostream& notices);
  ~LinuxSystem() override;

  // Where the plain message boxes reach the user (the view); standard error without one.
  using MessageBoxScreen = std::function<void(const std::string& text, const std::string& caption)>;
  void SetMessageBoxScreen(MessageBoxScreen screen) { messageBoxScreen = std::move(screen); }

  bool GetVersionExA(OsVersionInfo& info) override;
  bool OpenProcessToken(std::uint32_t desiredAccess, Handle& token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) override;
  bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                             const TokenPrivileges& newState) override;
  std::uint32_t GetLastError() override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;
  bool MayUpdateFirmware() override;

  bool QueryPerformanceFrequency(std::int64_t& frequency) override;
  bool QueryPerformanceCounter(std::int64_t& count) override;
  std::uint64_t GetTickCount64() override;
  void Sleep(std::uint32_t milliseconds) override;

  std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* rootPathName) override;

  Handle GetProcessHeap() override;
  void* HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) override;
  bool HeapFree(Handle heap, std::uint32_t flags, void* memory) override;

  Handle CreateFileA(const char* fileName) override;
  bool DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(Handle handle) override;

  Module LoadLibraryA(const char* fileName) override;
  ProcAddress GetProcAddress(Module module, const char* procName) override;
  bool FreeLibrary(Module module) override;

  Handle CreateEventA(bool manualReset, bool initialState) override;
  // SetEvent: wakes the waits on the event; false for a handle that is not an open event.
  bool SetEvent(Handle handle);
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;

  DriveLockState LockDrive(const ScsiAddress& address, Handle& lock) override;
  bool UnlockDrive(Handle lock) override;
  bool GetDriveAddress(const char* rootPathName, ScsiAddress& address) override;

  bool HoldSystemAwake(const char* reason) override;
  bool ReleaseSystemAwake() override;

  PowerSource GetPowerSource() override;

  bool RecordUpdates(const UpdateRecordFields* records, std::size_t count) override;

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;

 private:
  struct Device;
  struct Event;
  struct DriveLock;

  Handle NewHandle();
  std::shared_ptr<Device> FindDevice(Handle device);
  std::shared_ptr<Event> FindEvent(Handle event);
  // The drive's address on an open descriptor: 0, or the kernel's error number.
  int AddressOf(int descriptor, ScsiAddress& address);
  bool LockVolume(Handle handle, const Device& device);
  bool QueryAddress(Device& device, void* outBuffer, std::uint32_t outBufferSize,
                    std::uint32_t* bytesReturned);
  bool PassThrough(Device& device, void* inBuffer, std::uint32_t inBufferSize, void* outBuffer,
                   std::uint32_t outBufferSize, std::uint32_t* bytesReturned);
  // Tells the user once per device and reason what keeps the flasher from the drive.
  void Notice(std::set<std::string>& told, const std::string& device, const std::string& text);

  std::unique_ptr<LinuxKernel> kernel;
  std::ostream& notices;
  MessageBoxScreen messageBoxScreen;

  std::mutex lock;
  Handle nextHandle = 0x100;
  std::set<Handle> tokens;
  std::map<Handle, std::shared_ptr<Device>> devices;
  std::map<Handle, std::shared_ptr<Event>> events;
  std::map<Handle, std::shared_ptr<DriveLock>> driveLocks;
  std::set<std::string> toldCannotOpen;
  std::set<std::string> toldRawIoRefused;
  std::set<std::string> toldNoLock;
  std::set<std::string> toldNotAwake;
  int inhibitor = -1;  // the login manager's lock while the system is kept awake
};

}  // namespace movrel::platform
