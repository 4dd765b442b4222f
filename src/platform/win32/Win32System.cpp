#include "platform/win32/Win32System.h"

// <windows.h> comes before the headers that build on it.
#include <windows.h>
//
#include <ntddcdrm.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>

#include "platform/PassThrough.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/TickCount.h"

namespace movrel::platform {

// The seam's records and constants are the system's own: they pass to the calls unchanged.
static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOA));
static_assert(offsetof(OsVersionInfo, dwPlatformId) == offsetof(OSVERSIONINFOA, dwPlatformId));
static_assert(sizeof(Luid) == sizeof(LUID));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES));
static_assert(sizeof(ScsiAddress) == sizeof(SCSI_ADDRESS));
static_assert(offsetof(ScsiAddress, Lun) == offsetof(SCSI_ADDRESS, Lun));
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(sizeof(Handle) == sizeof(HANDLE));

static_assert(VerPlatform::Win32Windows == VER_PLATFORM_WIN32_WINDOWS);
static_assert(VerPlatform::Win32NT == VER_PLATFORM_WIN32_NT);
static_assert(TokenAccess::AdjustPrivileges == TOKEN_ADJUST_PRIVILEGES);
static_assert(TokenAccess::Query == TOKEN_QUERY);
static_assert(Privilege::Enabled == SE_PRIVILEGE_ENABLED);
static_assert(ErrorCode::InvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(ErrorCode::FileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(ErrorCode::AccessDenied == ERROR_ACCESS_DENIED);
static_assert(ErrorCode::InvalidHandle == ERROR_INVALID_HANDLE);
static_assert(ErrorCode::NotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(ErrorCode::BadCommand == ERROR_BAD_COMMAND);
static_assert(ErrorCode::NotSupported == ERROR_NOT_SUPPORTED);
static_assert(ErrorCode::DeviceGone == ERROR_DEV_NOT_EXIST);
static_assert(ErrorCode::InvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(ErrorCode::DriveLocked == ERROR_DRIVE_LOCKED);
static_assert(ErrorCode::SemaphoreTimeout == ERROR_SEM_TIMEOUT);
static_assert(ErrorCode::InsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(ErrorCode::ModuleNotFound == ERROR_MOD_NOT_FOUND);
static_assert(ErrorCode::NotLocked == ERROR_NOT_LOCKED);
static_assert(ErrorCode::Busy == ERROR_BUSY);
static_assert(ErrorCode::NotOwner == ERROR_NOT_OWNER);
static_assert(ErrorCode::IoDevice == ERROR_IO_DEVICE);
static_assert(ErrorCode::NotAllAssigned == ERROR_NOT_ALL_ASSIGNED);
static_assert(ErrorCode::NoSuchPrivilege == ERROR_NO_SUCH_PRIVILEGE);
static_assert(ErrorCode::PrivilegeNotHeld == ERROR_PRIVILEGE_NOT_HELD);
static_assert(ExitFlags::Reboot == EWX_REBOOT && ExitFlags::Force == EWX_FORCE);
static_assert(DriveType::CdRom == DRIVE_CDROM && DriveType::NoRootDir == DRIVE_NO_ROOT_DIR);
static_assert(HeapFlags::ZeroFill == HEAP_ZERO_MEMORY);
static_assert(WaitResult::Object0 == WAIT_OBJECT_0 && WaitResult::Timeout == WAIT_TIMEOUT);
static_assert(WaitResult::Failed == WAIT_FAILED && WaitResult::Abandoned == WAIT_ABANDONED);
static_assert(MessageBoxStyle::Ok == MB_OK && MessageBoxStyle::IconError == MB_ICONERROR);
static_assert(MessageBoxResult::Ok == IDOK);
static_assert(ioctl::ScsiGetAddress == IOCTL_SCSI_GET_ADDRESS);
static_assert(ioctl::ScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(ioctl::StorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(ioctl::FsctlLockVolume == FSCTL_LOCK_VOLUME);
static_assert(ioctl::FsctlUnlockVolume == FSCTL_UNLOCK_VOLUME);
// The headers here lack the exclusive access request; its code is the one the driver kit defines.
static_assert(ioctl::CdromExclusiveAccess == CTL_CODE(IOCTL_CDROM_BASE, 0x0017, METHOD_BUFFERED,
                                                      FILE_READ_ACCESS | FILE_WRITE_ACCESS));
#ifdef IOCTL_CDROM_EXCLUSIVE_ACCESS
static_assert(ioctl::CdromExclusiveAccess == IOCTL_CDROM_EXCLUSIVE_ACCESS);
static_assert(sizeof(CdromExclusiveLock) == sizeof(CDROM_EXCLUSIVE_LOCK));
static_assert(ExclusiveAccess::LockIgnoreVolume == CDROM_LOCK_IGNORE_VOLUME);
static_assert(ExclusiveAccess::CallerLength == CDROM_EXCLUSIVE_CALLER_LENGTH);
#endif
static_assert(ScsiDataDirection::Out == SCSI_IOCTL_DATA_OUT);
static_assert(ScsiDataDirection::In == SCSI_IOCTL_DATA_IN);
static_assert(ScsiDataDirection::Unspecified == SCSI_IOCTL_DATA_UNSPECIFIED);

namespace {

HANDLE Native(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

Handle Seam(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

// Both entry points of the ASPI manager are cdecl functions returning a DWORD, one without
// arguments (GetASPI32SupportInfo) and one with the request (SendASPI32Command). A cdecl caller
// removes its own arguments, so calling either with one argument is sound.
std::uint32_t CallAspiEntry(void* context, void* argument) {
  using Entry = DWORD(__cdecl*)(void*);
  return reinterpret_cast<Entry>(context)(argument);
}

// The calls that a family lacks or only stubs are looked up once (win32::SystemCall): the event log
// and the token's privileges are the NT family's, SetThreadExecutionState is not in Windows 95's
// kernel32 nor known to be in NT 4.0's, and GetSystemPowerStatus is not in NT 4.0's. Where the
// system has none, the operation fails as the consumer family's stubs do, with
// ERROR_CALL_NOT_IMPLEMENTED; the power source is then unknown.
constexpr char kAdvapi32[] = "ADVAPI32.DLL";
// The event of each update record in the event log.
constexpr DWORD kUpdateEventId = 1;
constexpr char kKernel32[] = "KERNEL32.DLL";

template <typename Call>
Call Lookup(const char* library, const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void*>(win32::SystemCall(library, name)));
}

template <typename Result>
Result NotImplemented(Result result) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return result;
}

}  // namespace

bool Win32System::GetVersionExA(OsVersionInfo& info) {
  return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != FALSE;
}

bool Win32System::OpenProcessToken(std::uint32_t desiredAccess, Handle& token) {
  static const auto call = Lookup<decltype(&::OpenProcessToken)>(kAdvapi32, "OpenProcessToken");
  if (call == nullptr) return NotImplemented(false);
  HANDLE opened = nullptr;
  if (!call(::GetCurrentProcess(), desiredAccess, &opened)) return false;
  token = Seam(opened);
  return true;
}

bool Win32System::LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) {
  static const auto call =
      Lookup<decltype(&::LookupPrivilegeValueA)>(kAdvapi32, "LookupPrivilegeValueA");
  if (call == nullptr) return NotImplemented(false);
  return call(systemName, name, reinterpret_cast<LUID*>(&luid)) != FALSE;
}

bool Win32System::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                        const TokenPrivileges& newState) {
  static const auto call =
      Lookup<decltype(&::AdjustTokenPrivileges)>(kAdvapi32, "AdjustTokenPrivileges");
  if (call == nullptr) return NotImplemented(false);
  TokenPrivileges state = newState;  // the call takes a writable record
  return call(Native(token), disableAllPrivileges ? TRUE : FALSE,
              reinterpret_cast<TOKEN_PRIVILEGES*>(&state), 0, nullptr, nullptr) != FALSE;
}

std::uint32_t Win32System::GetLastError() {
  return ::GetLastError();
}

bool Win32System::ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) {
  return ::ExitWindowsEx(flags, reason) != FALSE;
}

bool Win32System::QueryPerformanceFrequency(std::int64_t& frequency) {
  LARGE_INTEGER value;
  if (!::QueryPerformanceFrequency(&value) || value.QuadPart <= 0) return false;
  frequency = value.QuadPart;
  return true;
}

bool Win32System::QueryPerformanceCounter(std::int64_t& count) {
  LARGE_INTEGER value;
  if (!::QueryPerformanceCounter(&value)) return false;
  count = value.QuadPart;
  return true;
}

std::uint64_t Win32System::GetTickCount64() {
  return win32::TickCount64();
}

void Win32System::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::uint32_t Win32System::GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) {
  return ::GetLogicalDriveStringsA(bufferLength, buffer);
}

std::uint32_t Win32System::GetDriveTypeA(const char* rootPathName) {
  return ::GetDriveTypeA(rootPathName);
}

Handle Win32System::GetProcessHeap() {
  return Seam(::GetProcessHeap());
}

void* Win32System::HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) {
  return ::HeapAlloc(Native(heap), flags, bytes);
}

bool Win32System::HeapFree(Handle heap, std::uint32_t flags, void* memory) {
  return ::HeapFree(Native(heap), flags, memory) != FALSE;
}

Handle Win32System::CreateFileA(const char* fileName) {
  return Seam(::CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr));
}

bool Win32System::DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* inBuffer,
                                  std::uint32_t inBufferSize, void* outBuffer,
                                  std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  const bool answered = ::DeviceIoControl(Native(device), ioControlCode, inBuffer, inBufferSize,
                                          outBuffer, outBufferSize, &returned, nullptr) != FALSE;
  if (bytesReturned != nullptr) *bytesReturned = returned;
  if (!answered || ioControlCode != ioctl::ScsiPassThroughDirect) return answered;
  // The program judges a command by its sense data alone, in fixed format: the device's own bytes
  // in another format are rewritten in place, and a status other than GOOD without sense data the
  // program can read (BUSY, RESERVATION CONFLICT, a CHECK CONDITION whose sense was lost) is no
  // answer.
  if (!JudgeCompletedPassThrough(outBuffer, outBufferSize)) {
    ::SetLastError(ERROR_IO_DEVICE);
    return false;
  }
  return true;
}

bool Win32System::CloseHandle(Handle handle) {
  return ::CloseHandle(Native(handle)) != FALSE;
}

// SetThreadExecutionState returns the state it replaces, or NULL when it fails.
bool Win32System::HoldSystemAwake(const char*) {
  static const auto call =
      Lookup<decltype(&::SetThreadExecutionState)>(kKernel32, "SetThreadExecutionState");
  if (call == nullptr) return NotImplemented(false);
  return call(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

bool Win32System::ReleaseSystemAwake() {
  static const auto call =
      Lookup<decltype(&::SetThreadExecutionState)>(kKernel32, "SetThreadExecutionState");
  if (call == nullptr) return NotImplemented(false);
  return (call(ES_CONTINUOUS) & ES_SYSTEM_REQUIRED) != 0;
}

System::PowerSource Win32System::GetPowerSource() {
  static const auto call =
      Lookup<decltype(&::GetSystemPowerStatus)>(kKernel32, "GetSystemPowerStatus");
  SYSTEM_POWER_STATUS status{};
  if (call == nullptr || !call(&status)) return PowerSource::Unknown;
  switch (status.ACLineStatus) {
    case 0:
      return PowerSource::Battery;
    case 1:
      return PowerSource::Mains;
    default:
      return PowerSource::Unknown;
  }
}

// Each record is event kUpdateEventId of the source, with the fields' texts as its insertion
// strings; the source is registered for the records and deregistered after them.
bool Win32System::RecordUpdates(const UpdateRecordFields* records, std::size_t count) {
  static const auto registerSource =
      Lookup<decltype(&::RegisterEventSourceA)>(kAdvapi32, "RegisterEventSourceA");
  static const auto report = Lookup<decltype(&::ReportEventA)>(kAdvapi32, "ReportEventA");
  static const auto deregisterSource =
      Lookup<decltype(&::DeregisterEventSource)>(kAdvapi32, "DeregisterEventSource");
  if (registerSource == nullptr || report == nullptr || deregisterSource == nullptr) {
    return NotImplemented(false);
  }
  const HANDLE source = registerSource(nullptr, kRecordSource);
  if (source == nullptr) return false;
  bool recorded = true;
  for (std::size_t j = 0; j < count && recorded; ++j) {
    const char letter = records[j].driveLetter;
    const std::string device = letter != '\0' ? std::string("\\\\.\\") + letter + ':' : "";
    const auto texts = UpdateRecordTexts(records[j], device);
    const char* strings[kUpdateRecordTexts];
    for (std::size_t i = 0; i < kUpdateRecordTexts; ++i) strings[i] = texts[i].text.c_str();
    recorded =
        report(source, records[j].succeeded ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
               kUpdateEventId, nullptr, static_cast<WORD>(kUpdateRecordTexts), 0, strings,
               nullptr) != FALSE;
  }
  const DWORD error = ::GetLastError();
  deregisterSource(source);
  if (!recorded) ::SetLastError(error);
  return recorded;
}

Module Win32System::LoadLibraryA(const char* fileName) {
  const bool consumerFamily = (::GetVersion() & 0x80000000u) != 0;
  if (consumerFamily) return reinterpret_cast<Module>(::LoadLibraryA(fileName));
  return reinterpret_cast<Module>(win32::LoadSystemLibrary(fileName));
}

ProcAddress Win32System::GetProcAddress(Module module, const char* procName) {
  const FARPROC entry = ::GetProcAddress(reinterpret_cast<HMODULE>(module), procName);
  if (entry == nullptr) return {};
  return {&CallAspiEntry, reinterpret_cast<void*>(entry)};
}

bool Win32System::FreeLibrary(Module module) {
  return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != FALSE;
}

Handle Win32System::CreateEventA(bool manualReset, bool initialState) {
  return Seam(
      ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr));
}

std::uint32_t Win32System::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(Native(handle), milliseconds);
}

int Win32System::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  return ::MessageBoxA(nullptr, text, caption, type);
}

}  // namespace movrel::platform
