// The operating system as the program sees it. Every operation mirrors one Windows call; a
// backend (Windows, Linux, the simulated machine) translates it. Nothing above the platform layer
// includes an operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

namespace platform {

class System {
 public:
  virtual ~System() = default;

  // Version query (GetVersionExA).
  virtual bool GetVersionExA(OsVersionInfo& info) = 0;

  // Process token, privileges, last error and the restart request.
  virtual bool OpenProcessToken(std::uint32_t desiredAccess, Handle& token) = 0;
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) = 0;
  virtual bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                     const TokenPrivileges& newState) = 0;
  virtual std::uint32_t GetLastError() = 0;
  virtual bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) = 0;

  // Performance counter; and a coarse monotonic millisecond count for machines without one.
  virtual bool QueryPerformanceFrequency(std::int64_t& frequency) = 0;
  virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
  virtual std::uint64_t GetTickCount64() = 0;

  // Drive roots and drive types (GetLogicalDriveStringsA, GetDriveTypeA).
  virtual std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) = 0;
  virtual std::uint32_t GetDriveTypeA(const char* rootPathName) = 0;

  // The process heap.
  virtual Handle GetProcessHeap() = 0;
  virtual void* HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) = 0;
  virtual bool HeapFree(Handle heap, std::uint32_t flags, void* memory) = 0;

  // Devices: CreateFileA with GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING and no flags (the only way the program opens anything); DeviceIoControl
  // without an overlapped structure; CloseHandle for every kind of handle.
  virtual Handle CreateFileA(const char* fileName) = 0;
  virtual bool DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* inBuffer,
                               std::uint32_t inBufferSize, void* outBuffer,
                               std::uint32_t outBufferSize, std::uint32_t* bytesReturned) = 0;
  virtual bool CloseHandle(Handle handle) = 0;

  // The ASPI manager library (LoadLibraryA, GetProcAddress, FreeLibrary).
  virtual Module LoadLibraryA(const char* fileName) = 0;
  virtual ProcAddress GetProcAddress(Module module, const char* procName) = 0;
  virtual bool FreeLibrary(Module module) = 0;

  // Events and waits (CreateEventA without security attributes or name; WaitForSingleObject).
  virtual Handle CreateEventA(bool manualReset, bool initialState) = 0;
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // The plain message box without an owner window (MessageBoxA).
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
};

}  // namespace platform
