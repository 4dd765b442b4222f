// The operating system as the program sees it. Every operation mirrors one Windows call and keeps
// its name, arguments and results; a backend (Windows, Linux, the simulated machine) translates
// it. Nothing above the platform layer includes an operating-system header.
//
// Threads: the window's thread and every worker call the seam at the same time, each on its own
// handles (a device handle, an event, the token) and on the shared, read-only ones (the process
// heap, the ASPI manager's entry points). Every operation is safe to call from any thread.
//
// The last error (GetLastError) is per thread, as on Windows: an operation that fails sets the
// calling thread's value, and no other thread's. Operations documented to set it on success say
// so; the others leave it as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/UpdateRecordFields.h"
#include "platform/WinTypes.h"

namespace movrel::platform {

class System {
 public:
  virtual ~System() = default;

  // --- Version ---------------------------------------------------------------------------------

  // GetVersionExA. Fills `info` (whose dwOSVersionInfoSize the caller has set) and returns true;
  // dwPlatformId is VerPlatform::Win32NT or VerPlatform::Win32Windows. False only when the
  // query itself fails; the program then takes the system for the consumer family.
  virtual bool GetVersionExA(OsVersionInfo& info) = 0;

  // --- Privileges and restart ------------------------------------------------------------------

  // OpenProcessToken for the current process. True with a token handle (closed with
  // CloseHandle); false with the last error set when the token cannot be opened.
  virtual bool OpenProcessToken(std::uint32_t desiredAccess, Handle& token) = 0;
  // LookupPrivilegeValueA on the local system (`systemName` null). True with the privilege's
  // LUID; false with the last error set for a name the system does not know.
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) = 0;
  // AdjustTokenPrivileges without the previous state. False for a token that is not open. True
  // otherwise, and then the last error tells whether the privilege is held:
  // ErrorCode::Success, or ErrorCode::NotAllAssigned when the process may not have it.
  // Windows: the three token calls are the NT family's; the consumer family lacks them or only
  // stubs them, so the backend looks them up and, where they are missing, fails them with
  // ERROR_CALL_NOT_IMPLEMENTED as those stubs do. The program calls them on the NT family only.
  virtual bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                     const TokenPrivileges& newState) = 0;
  // The calling thread's last error.
  virtual std::uint32_t GetLastError() = 0;
  // ExitWindowsEx. True when the system accepted the request (it then ends the program later);
  // false with the last error set when it refused.
  virtual bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) = 0;
  // Whether this process may send a drive the commands that update its firmware (WRITE BUFFER,
  // the drive maker's flash commands). Linux: the process holds CAP_SYS_RAWIO in its effective
  // set; without it the kernel's SG_IO passes only the commands of its list of safe ones and
  // refuses those with EPERM, whatever the device was opened for. Windows: true; a pass-through
  // handle needs an administrator there, which the drive's opening shows.
  virtual bool MayUpdateFirmware() = 0;

  // --- Time ------------------------------------------------------------------------------------

  // QueryPerformanceFrequency: true with the counter's ticks per second (above 0), or false when
  // the machine has no high-resolution counter.
  virtual bool QueryPerformanceFrequency(std::int64_t& frequency) = 0;
  // QueryPerformanceCounter: true with the counter, which never goes back and advances across a
  // Sleep by at least the time slept; false without a counter.
  virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
  // Milliseconds since start-up, never going back, in steps of the system clock (up to 16 ms on
  // Windows); the timer's fallback without a counter.
  virtual std::uint64_t GetTickCount64() = 0;
  // Sleep: suspends the calling thread for at least the given milliseconds (0: yields).
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // --- Drive roots -----------------------------------------------------------------------------

  // GetLogicalDriveStringsA. Writes the roots ("C:\", "D:\", ...) each followed by a zero byte,
  // then one more zero byte, and returns the length written without that last zero. When the
  // buffer is too small it writes nothing and returns the length needed (larger than
  // `bufferLength`). 0 on failure.
  virtual std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) = 0;
  // GetDriveTypeA of a root such as "D:\": DriveType::CdRom for an optical drive,
  // DriveType::NoRootDir for a root that does not exist.
  virtual std::uint32_t GetDriveTypeA(const char* rootPathName) = 0;

  // --- The process heap ------------------------------------------------------------------------

  // GetProcessHeap: the heap's handle, or 0 when there is none.
  virtual Handle GetProcessHeap() = 0;
  // HeapAlloc: the memory (zeroed with HeapFlags::ZeroFill), or null when none is left.
  virtual void* HeapAlloc(Handle heap, std::uint32_t flags, std::size_t bytes) = 0;
  // HeapFree: true when the memory came from HeapAlloc on that heap.
  virtual bool HeapFree(Handle heap, std::uint32_t flags, void* memory) = 0;

  // --- Devices ---------------------------------------------------------------------------------

  // CreateFileA with GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING and no flags: the only way the program opens anything, always a device name
  // such as "\\.\D:". The handle, or InvalidHandleValue with the last error set (no such
  // device, access denied). A device opens whether or not it holds a medium, and as often as it is
  // asked, by this process and others. Windows refuses the open of a volume that another handle has
  // locked (FsctlLockVolume below) with ErrorCode::AccessDenied.
  virtual Handle CreateFileA(const char* fileName) = 0;
  // DeviceIoControl without an overlapped structure, for the codes in `ioctl`:
  // - ScsiGetAddress: true with the drive's SCSI_ADDRESS; false when the device has none.
  // - ScsiPassThroughDirect: the request and its sense area, read and written in place. True
  //   when the command reached the drive and the drive answered, whatever its status: a CHECK
  //   CONDITION comes back as true with ScsiStatus 2 and the sense data in the request's sense
  //   area. False, with the last error set, when no answer came: a handle that is not open, a
  //   malformed request, a drive that is gone, a transport failure, or a status other than GOOD
  //   that carries no sense data the program can read (it judges a command by its sense data
  //   alone). The sense data come back in fixed format (response code 0x70 or 0x71, key in byte
  //   2, ASC in byte 12), whatever format the device used: Windows and Linux both hand over the
  //   device's own bytes, and a USB bridge or the kernel's ATA translation answers in descriptor
  //   format (0x72, 0x73), which the backend converts; any other format counts as none.
  //   DataTransferLength comes back as the data bytes that moved (Windows reports the transfer
  //   so, Linux as the length less SG_IO's resid): fewer than asked for a short reply. The data
  //   buffer is the caller's again when the call returns, which is within about TimeOutValue
  //   seconds.
  // - FsctlLockVolume, no buffers. Windows: the file system on the drive's volume (CDFS, UDFS, or
  //   RAW for a tray without a data disc) grants the lock only to the one handle open on the
  //   volume: true, and until FsctlUnlockVolume through that handle or its close no other open of
  //   the volume succeeds; false with ErrorCode::AccessDenied while any other handle, of this
  //   process or another (Explorer, AutoPlay, an indexer), is open on it, which may change at any
  //   moment. Linux: the handle's device is opened again with O_EXCL (and the earlier descriptor
  //   closed), which the block layer grants while no file system is mounted from the disc and
  //   no other program has it open with O_EXCL (a disc writer), whatever other opens there are;
  //   true, and while the handle is open the kernel polls the drive for no media events (sr
  //   blocks them for an exclusive writer) and nothing mounts it. False (EBUSY) otherwise: with
  //   ErrorCode::DriveLocked while a file system is mounted from the disc (listed in
  //   /proc/self/mountinfo), which stays until someone unmounts it; with ErrorCode::Busy while
  //   another program holds the drive with O_EXCL: a disc writer, or for a moment the device
  //   manager, whose cdrom_id (in older systemd versions) opens it so on every media event, such
  //   as the tray closing.
  // - FsctlUnlockVolume, no buffers: true when the handle held the volume's lock, which is then
  //   let go of (Linux: the exclusive open lasts until the handle's close); false otherwise
  //   (ErrorCode::NotLocked).
  // - CdromExclusiveAccess with a CdromExclusiveLock in (ExclusiveAccess::LockDevice, a caller
  //   name) or a CdromExclusiveAccess (ExclusiveAccess::UnlockDevice), no output. Windows Vista
  //   and later: the CD-ROM class driver serves only this handle until it unlocks or closes; reads
  //   and device requests through every other handle (the file system's among them) fail with
  //   access denied meanwhile. With ExclusiveAccess::LockIgnoreVolume the lock is granted although
  //   a file system is mounted; false with ErrorCode::AccessDenied while another handle holds it.
  //   Earlier Windows and Linux do not know the request: false (ErrorCode::InvalidFunction).
  // - any other code: false with the last error set.
  // A call on one handle never waits for a call on another.
  virtual bool DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* inBuffer,
                               std::uint32_t inBufferSize, void* outBuffer,
                               std::uint32_t outBufferSize, std::uint32_t* bytesReturned) = 0;
  // CloseHandle for a device, event or token handle: true when it was open. A device's volume lock
  // and exclusive access end with its handle.
  virtual bool CloseHandle(Handle handle) = 0;

  // --- Keeping the system awake ----------------------------------------------------------------

  // HoldSystemAwake keeps the system from sleeping, shutting down and answering its power and
  // suspend keys until ReleaseSystemAwake or the end of the process; `reason` says why where the
  // system lists such holds. True once the system is held, and again while it is; false with the
  // last error set when it cannot be held (the backend tells the user once, and the program goes
  // on). ReleaseSystemAwake: true when a hold was let go of, false when there was none. Both are
  // called from the window's thread only.
  // Windows: SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), the calling thread's
  //   state until the call with ES_CONTINUOUS alone, which returns the state it replaces; the call
  //   keeps no reason. Windows 95's kernel32 has no such call, nor is NT 4.0's known to: the
  //   backend looks it up and, where it is missing, fails with ERROR_CALL_NOT_IMPLEMENTED.
  // Linux: a blocking inhibitor lock of the login manager (logind's Inhibit: what
  //   "shutdown:sleep:idle:handle-power-key:handle-suspend-key", who "Movrel", why `reason`, mode
  //   "block"), a descriptor that holds it until it is closed. polkit may refuse it, and a system
  //   without logind has none to give: ErrorCode::NotSupported either way.
  virtual bool HoldSystemAwake(const char* reason) = 0;
  virtual bool ReleaseSystemAwake() = 0;

  // --- Power -----------------------------------------------------------------------------------

  // Where the machine takes its power from, as the system says; the charge left does not count.
  enum class PowerSource { Mains, Battery, Unknown };
  // Mains: an adapter or other outside supply is online. Battery: none is, and the system's
  // battery is discharging. Unknown: the system keeps no such state, has no battery, or cannot
  // tell. Any thread; it sends no drive anything.
  // - Windows: GetSystemPowerStatus, whose ACLineStatus is 0 offline (Battery), 1 online (Mains)
  //   or 255 unknown (Unknown); a failed call is Unknown. Windows 95 and Windows 2000 on have
  //   the call and NT 4.0 has none: the backend looks it up and answers Unknown without it.
  // - Linux: the kernel's power supply class, /sys/class/power_supply/<name>/ (its ABI:
  //   Documentation/ABI/testing/sysfs-class-power), one directory per supply with one-line
  //   attributes: `type` ("Battery", "UPS", "Mains", "USB", "Wireless"), `online` for the
  //   outside supplies (0 offline, 1 online, 2 online through a programmable supply), `status`
  //   for a battery ("Unknown", "Charging", "Discharging", "Not charging", "Full") and `scope`
  //   ("System", "Device", "Unknown"; missing on most). A supply of scope "Device" powers a
  //   peripheral (a wireless mouse's battery, a headset's) and does not count. Mains when any
  //   supply other than a battery reads `online` above 0, whatever the batteries say: some
  //   firmware calls the battery "Discharging" while the adapter is plugged in. Otherwise
  //   Battery when a battery reads `status` "Discharging". Otherwise Unknown (no supply at all, a
  //   desktop, a battery charging or full with no supply listed, attributes that cannot be read).
  virtual PowerSource GetPowerSource() = 0;

  // --- The update record --------------------------------------------------------------------

  // One record in the system's log for each drive's update, in order: true once the log holds
  // them all; false with the last error set when the system keeps no such log (nothing is
  // recorded; the program goes on) or refused a record. Any thread.
  // Windows: the event log, through the source "Movrel" (RegisterEventSourceA on the local
  //   system, DeregisterEventSource after the records): each record is ReportEventA's event 1,
  //   of the error type for a failed update and the information type otherwise, with the fields'
  //   texts (UpdateRecordTexts) as its insertion strings and the device as "\\.\D:". The event
  //   log is the NT family's: the backend looks the three calls up, and where they are missing
  //   fails with ERROR_CALL_NOT_IMPLEMENTED.
  // Linux: the system journal (sd_journal_sendv), one entry per record with SYSLOG_IDENTIFIER
  //   "Movrel", a MESSAGE_ID of its own, priority 3 (error) for a failed update and 6
  //   (information) otherwise, a MESSAGE that sums it up, and each field under its journal name
  //   (UpdateRecordTexts), the device as "/dev/srN". Without a journal, ErrorCode::NotSupported.
  virtual bool RecordUpdates(const UpdateRecordFields* records, std::size_t count) = 0;

  // --- The ASPI manager library ----------------------------------------------------------------

  // LoadLibraryA("WNASPI32"): the module, or 0 when the system has no such library (the
  // program then tells the user and goes on without it). Counted: each load needs a FreeLibrary.
  // Windows' own search looks in the program's folder first, so the Windows backend, on the NT
  // family, loads the ASPI manager from the system directory only (GetSystemDirectoryA): an
  // administrator who runs a downloaded flasher from a downloads folder must not load whatever
  // WNASPI32.DLL lies beside it. The consumer family, where an ASPI manager may stand wherever
  // its installer put it, keeps the search.
  virtual Module LoadLibraryA(const char* fileName) = 0;
  // GetProcAddress: the entry point ("GetASPI32SupportInfo", "SendASPI32Command"), callable from
  // any thread while the module is loaded; an empty ProcAddress when the module lacks it.
  virtual ProcAddress GetProcAddress(Module module, const char* procName) = 0;
  // FreeLibrary: true when the module was loaded.
  virtual bool FreeLibrary(Module module) = 0;

  // --- Events and waits -----------------------------------------------------------------------

  // CreateEventA without security attributes or name: the event's handle, or 0 when none can be
  // created. The ASPI manager signals it, from its own thread, when a request completes.
  virtual Handle CreateEventA(bool manualReset, bool initialState) = 0;
  // WaitForSingleObject on an event, waiting at most the given milliseconds (0: just a look):
  // WaitResult::Object0 once it is signalled, WaitResult::Timeout when the time passed first,
  // WaitResult::Failed for a handle that is not an event.
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;

  // --- Drive locks -----------------------------------------------------------------------------

  // The lock by which flashers on one machine keep out of each other's way: one for each SCSI
  // address, the same for every process and session. Looking at it, taking it and letting go of
  // it open no device and send no drive anything.
  //
  // LockDrive is a look, never a wait:
  // - DriveLockState::Held, with `lock` the handle that holds it until UnlockDrive (or the end of
  //   the process). A lock whose holder ended while holding it is taken too.
  // - DriveLockState::HeldElsewhere: another holder has it, another process or another handle of
  //   this one.
  // - DriveLockState::Unavailable, with the last error set: the system gives no lock (the program
  //   goes on without it: only another flasher's hold keeps a drive from an update).
  // Windows: the mutex "Movrel-<port>-<path>-<target>-<lun>", from Windows 2000 on in the namespace
  //   every session shares ("Global\" before it; NT 4.0 and the consumer family have one
  //   namespace). On the NT family it is created with a DACL that grants Everyone SYNCHRONIZE and
  //   MUTEX_MODIFY_STATE, the rights that waiting and releasing need: without one it would get the
  //   creator's default DACL, and another user's flasher (fast user switching) would be refused
  //   its open. An open refused (ERROR_ACCESS_DENIED, a mutex that some other DACL keeps from
  //   this user) or a name that another kind of object holds (ERROR_INVALID_HANDLE) is
  //   HeldElsewhere. A mutex belongs to the thread that took it: UnlockDrive is called on that
  //   thread, and a second LockDrive of the same address by any thread of the process is
  //   HeldElsewhere. A thread that ends holding it leaves it abandoned, and the next LockDrive
  //   takes it.
  // Linux: flock(2), exclusive, on the file /run/movrel/<host>:<channel>:<id>:<lun>, opened with
  //   O_NOFOLLOW and created readable and writable by its owner alone (anyone who can open a file
  //   can flock it). The directory is made 0755 (less the umask) by the first flasher; one that
  //   exists and is not root's, or that others may write (a symbolic link's mode is 0777), is
  //   refused (ErrorCode::AccessDenied), and so is a lock file that is a symbolic link: in a
  //   directory that others may write, any user could create and hold the file and so keep every
  //   flasher from every drive. Another open of the file, in this process or another, keeps the
  //   lock out; none is abandoned. Root alone may create the directory and its files: another
  //   user's flasher finds no lock to be had (ErrorCode::AccessDenied).
  virtual DriveLockState LockDrive(const ScsiAddress& address, Handle& lock) = 0;
  // UnlockDrive: lets go of a lock that LockDrive gave, on the thread that took it, and closes its
  // handle. True when `lock` was such a handle; false with ErrorCode::InvalidHandle otherwise.
  virtual bool UnlockDrive(Handle lock) = 0;
  // The SCSI address of the optical drive at a root such as "D:\", learnt without opening its
  // device, so that a drive another flasher holds can be left alone before anything reaches it.
  // Linux: each open of /dev/srN makes the sr driver check the drive's medium (TEST UNIT READY,
  //   GET EVENT STATUS NOTIFICATION), and on kernels whose sr driver serialises its ioctls
  //   (cd->lock, 6.1 among them) the address query waits behind another flasher's pass-through
  //   command, uninterruptibly, for as long as that command runs. sysfs names the address
  //   instead: /sys/class/block/srN/device links to the SCSI device, whose name is
  //   "<host>:<channel>:<id>:<lun>". True with the address; false (ErrorCode::FileNotFound) for a
  //   root without such a link, or an address wider than SCSI_ADDRESS's bytes.
  // Windows: false (ErrorCode::InvalidFunction): the address is IOCTL_SCSI_GET_ADDRESS's, on an
  //   open device; the class driver's open sends the drive nothing.
  virtual bool GetDriveAddress(const char* rootPathName, ScsiAddress& address) = 0;

  // --- The plain message box -------------------------------------------------------------------

  // MessageBoxA without an owner window, with MessageBoxStyle::Ok and MessageBoxStyle::IconError
  // as the program uses it: shows the box to the user and returns MessageBoxResult::Ok once it
  // is closed. Called from the window's thread only.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
};

}  // namespace movrel::platform
