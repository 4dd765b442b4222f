// The seam on Windows: every operation is the Windows call of the same name, made for real. The
// seam's records and constants have the published layouts and values, so they pass unchanged.
// The Wine tests' flasher derives from it to trace and refuse requests (tests/wine).
#pragma once

#include <cstdint>
#include <map>

#include "platform/Lock.h"
#include "platform/System.h"

namespace movrel::platform {

class Win32System : public System {
 public:
  bool GetVersionExA(OsVersionInfo& info) override;

  bool OpenProcessToken(std::uint32_t desiredAccess, Handle& token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) override;
  bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                             const TokenPrivileges& newState) override;
  std::uint32_t GetLastError() override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;
  bool MayUpdateFirmware() override { return true; }

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

  bool HoldSystemAwake(const char* reason) override;
  bool ReleaseSystemAwake() override;

  PowerSource GetPowerSource() override;

  bool RecordUpdates(const UpdateRecordFields* records, std::size_t count) override;

  Module LoadLibraryA(const char* fileName) override;
  ProcAddress GetProcAddress(Module module, const char* procName) override;
  bool FreeLibrary(Module module) override;

  Handle CreateEventA(bool manualReset, bool initialState) override;
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;

  DriveLockState LockDrive(const ScsiAddress& address, Handle& lock) override;
  bool UnlockDrive(Handle lock) override;
  bool GetDriveAddress(const char* rootPathName, ScsiAddress& address) override;

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;

 private:
  Lock heldLock;
  std::map<Handle, std::uint32_t> heldDrives;  // this process's drive locks -> their addresses
};

}  // namespace movrel::platform
