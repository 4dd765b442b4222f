// The operating system's records and constants as the program sees them. Their layouts follow
// the published Windows and ASPI for Win32 headers, so that a Windows backend hands them to the
// real calls unchanged and the simulated machine decodes exactly what the program sends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace movrel::platform {

// Handles. The invalid-handle value marks a device that is not open; 0 marks "no event",
// "no token" and "no library".
using Handle = std::intptr_t;
inline constexpr Handle InvalidHandleValue = -1;
using Module = std::intptr_t;

// Version query: the platform identifiers (VER_PLATFORM_WIN32_*).
namespace VerPlatform {
inline constexpr std::uint32_t Win32Windows = 1;
inline constexpr std::uint32_t Win32NT = 2;
}  // namespace VerPlatform

struct OsVersionInfo {  // OSVERSIONINFOA
  std::uint32_t dwOSVersionInfoSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OsVersionInfo) == 148);

// Privileges and restart: token access (TOKEN_*), the privilege attribute and name (SE_*), the
// last-error values (ERROR_*) and the restart flags (EWX_*).
namespace TokenAccess {
inline constexpr std::uint32_t AdjustPrivileges = 0x20;
inline constexpr std::uint32_t Query = 0x08;
}  // namespace TokenAccess
namespace Privilege {
inline constexpr std::uint32_t Enabled = 2;
inline constexpr char ShutdownName[] = "SeShutdownPrivilege";
}  // namespace Privilege
namespace ErrorCode {  // every value a backend reports, the simulated machine's among them
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t InvalidFunction = 1;
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t InvalidHandle = 6;
inline constexpr std::uint32_t NotEnoughMemory = 8;
inline constexpr std::uint32_t BadCommand = 22;
inline constexpr std::uint32_t NotSupported = 50;
inline constexpr std::uint32_t DeviceGone = 55;  // ERROR_DEV_NOT_EXIST
inline constexpr std::uint32_t InvalidParameter = 87;
inline constexpr std::uint32_t DriveLocked = 108;
inline constexpr std::uint32_t SemaphoreTimeout = 121;
inline constexpr std::uint32_t InsufficientBuffer = 122;
inline constexpr std::uint32_t ModuleNotFound = 126;
inline constexpr std::uint32_t NotLocked = 158;
inline constexpr std::uint32_t Busy = 170;
inline constexpr std::uint32_t NotOwner = 288;
inline constexpr std::uint32_t IoDevice = 1117;
inline constexpr std::uint32_t NotAllAssigned = 1300;
inline constexpr std::uint32_t NoSuchPrivilege = 1313;
inline constexpr std::uint32_t PrivilegeNotHeld = 1314;
}  // namespace ErrorCode
namespace ExitFlags {
inline constexpr std::uint32_t Reboot = 2;
inline constexpr std::uint32_t Force = 4;
}  // namespace ExitFlags

struct Luid {
  std::uint32_t LowPart;
  std::int32_t HighPart;
};

struct LuidAndAttributes {
  Luid luid;
  std::uint32_t Attributes;
};

struct TokenPrivileges {  // TOKEN_PRIVILEGES with one entry
  std::uint32_t PrivilegeCount;
  LuidAndAttributes Privileges[1];
};
static_assert(sizeof(TokenPrivileges) == 16);

// Drive types (DRIVE_*) and the heap's flags (HEAP_*).
namespace DriveType {
inline constexpr std::uint32_t Unknown = 0;
inline constexpr std::uint32_t NoRootDir = 1;
inline constexpr std::uint32_t Removable = 2;
inline constexpr std::uint32_t Fixed = 3;
inline constexpr std::uint32_t Remote = 4;
inline constexpr std::uint32_t CdRom = 5;
inline constexpr std::uint32_t RamDisk = 6;
}  // namespace DriveType
namespace HeapFlags {
inline constexpr std::uint32_t ZeroFill = 0x08;  // HEAP_ZERO_MEMORY
}  // namespace HeapFlags

// Waits (WAIT_*) and message boxes (MB_*, ID*).
namespace WaitResult {
inline constexpr std::uint32_t Object0 = 0;
inline constexpr std::uint32_t Abandoned = 0x80;
inline constexpr std::uint32_t Timeout = 0x102;
inline constexpr std::uint32_t Failed = 0xFFFFFFFF;
}  // namespace WaitResult
namespace MessageBoxStyle {
inline constexpr std::uint32_t Ok = 0x00;
inline constexpr std::uint32_t IconError = 0x10;
}  // namespace MessageBoxStyle
namespace MessageBoxResult {
inline constexpr int Ok = 1;
}  // namespace MessageBoxResult

// Device control codes (IOCTL_*, FSCTL_*).
namespace ioctl {
inline constexpr std::uint32_t ScsiGetAddress = 0x41018;
inline constexpr std::uint32_t ScsiPassThroughDirect = 0x4D014;
inline constexpr std::uint32_t StorageQueryProperty = 0x2D1400;
inline constexpr std::uint32_t FsctlLockVolume = 0x90018;
inline constexpr std::uint32_t FsctlUnlockVolume = 0x9001C;
// CTL_CODE(IOCTL_CDROM_BASE, 0x0017, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
inline constexpr std::uint32_t CdromExclusiveAccess = 0x2C05C;
}  // namespace ioctl

// The CD-ROM class driver's exclusive access (CDROM_EXCLUSIVE_ACCESS, CDROM_EXCLUSIVE_LOCK): the
// request types (EXCLUSIVE_ACCESS_REQUEST_TYPE) and the lock's flag that leaves a mounted file
// system in place (CDROM_LOCK_IGNORE_VOLUME).
namespace ExclusiveAccess {
inline constexpr std::uint32_t LockDevice = 1;
inline constexpr std::uint32_t UnlockDevice = 2;
inline constexpr std::uint32_t LockIgnoreVolume = 0x1;
inline constexpr std::size_t CallerLength = 64;
}  // namespace ExclusiveAccess

struct CdromExclusiveAccess {
  std::uint32_t RequestType;
  std::uint32_t Flags;
};
static_assert(sizeof(CdromExclusiveAccess) == 8);

struct CdromExclusiveLock {
  CdromExclusiveAccess Access;
  char CallerName[ExclusiveAccess::CallerLength];  // letters, digits and a few marks, NUL-ended
};
static_assert(sizeof(CdromExclusiveLock) == 72);

struct ScsiAddress {  // SCSI_ADDRESS
  std::uint32_t Length;
  std::uint8_t PortNumber;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
};
static_assert(sizeof(ScsiAddress) == 8);

// What a look at a drive's lock found (System::LockDrive).
enum class DriveLockState { Held, HeldElsewhere, Unavailable };

// The pass-through's data direction (SCSI_IOCTL_DATA_*).
namespace ScsiDataDirection {
inline constexpr std::uint8_t Out = 0;
inline constexpr std::uint8_t In = 1;
inline constexpr std::uint8_t Unspecified = 2;
}  // namespace ScsiDataDirection

struct ScsiPassThroughDirect {  // SCSI_PASS_THROUGH_DIRECT: 44 bytes in a 32-bit build
  std::uint16_t Length;
  std::uint8_t ScsiStatus;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t CdbLength;
  std::uint8_t SenseInfoLength;
  std::uint8_t DataIn;
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;
  void* DataBuffer;
  std::uint32_t SenseInfoOffset;
  std::uint8_t Cdb[16];
};
static_assert(sizeof(void*) != 4 || sizeof(ScsiPassThroughDirect) == 44);

// ASPI for Win32: commands, statuses, flags and request blocks (byte-packed, as published).
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_ABORT_SRB = 0x03;
inline constexpr std::uint8_t SC_RESCAN_SCSI_BUS = 0x07;

inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_OLD_MANAGER = 0xE1;
inline constexpr std::uint8_t SS_ILLEGAL_MODE = 0xE2;
inline constexpr std::uint8_t SS_NO_ASPI = 0xE3;

inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;
inline constexpr std::uint8_t SENSE_LEN = 14;
inline constexpr std::uint8_t DTYPE_CDROM = 0x05;

#pragma pack(push, 1)
struct SrbHeader {  // the first fields every request shares
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
};

struct SrbHaInquiry {  // SRB_HAInquiry
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};
static_assert(sizeof(SrbHaInquiry) == 60);

struct SrbGetDeviceBlock {  // SRB_GDEVBlock
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DeviceType;
  std::uint8_t SRB_Rsvd1;
};
static_assert(sizeof(SrbGetDeviceBlock) == 12);

struct SrbRescanPort {  // SRB_RescanPort
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
};

struct SrbAbort {  // SRB_Abort
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

struct SrbExecScsiCmd {  // SRB_ExecSCSICmd: 80 bytes in a 32-bit build
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[SENSE_LEN + 2];
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(SrbExecScsiCmd) == 80);
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == sizeof(SrbExecScsiCmd) - 16);
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SenseArea) == 64);

// An entry point of a loaded library. The program calls it with one argument (the request block
// of SendASPI32Command; nothing for GetASPI32SupportInfo); a backend binds it to the real
// function or to its model.
struct ProcAddress {
  using Thunk = std::uint32_t (*)(void* context, void* argument);
  Thunk thunk = nullptr;
  void* context = nullptr;

  explicit operator bool() const { return thunk != nullptr; }
  std::uint32_t operator()(void* argument = nullptr) const { return thunk(context, argument); }
};

}  // namespace movrel::platform
