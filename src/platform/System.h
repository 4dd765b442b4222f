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

#include "platform/WinTypes.h"

namespace platform {

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
  // CloseHandle for every kind of handle (device, event, named lock, token): true when it was
  // open. A device's volume lock and exclusive access end with its handle.
  virtual bool CloseHandle(Handle handle) = 0;

  // --- Keeping the system awake ----------------------------------------------------------------

  // SetThreadExecutionState. ExecutionState::Continuous | SystemRequired keeps the system from
  // sleeping, shutting down and answering its power and suspend keys until the call with
  // Continuous alone; the state ends with the process too. Returns the previous state, or 0 with
  // the last error set when the system cannot be kept awake (the backend tells the user once,
  // and the program goes on). Called from the window's thread only. Windows: Windows 95's kernel32
  // has no such call, nor is NT 4.0's known to: the backend looks it up and, where it is missing,
  // returns 0 with ERROR_CALL_NOT_IMPLEMENTED.
  virtual std::uint32_t SetThreadExecutionState(std::uint32_t esFlags) = 0;

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

  // --- The event log ---------------------------------------------------------------------------

  // RegisterEventSourceA on the local system (`serverName` null): the source's handle, or 0 with
  // the last error set when the system keeps no event log (the program then records nothing).
  // Windows: the event log is the NT family's; the backend looks the three calls up, and where
  // they are missing fails them with ERROR_CALL_NOT_IMPLEMENTED.
  virtual Handle RegisterEventSourceA(const char* serverName, const char* sourceName) = 0;
  // ReportEventA without a user or raw data: one record of the given type and event, with its
  // insertion strings (UpdateRecord's layout for UpdateRecord::EventId). True once the log holds
  // it; false with the last error set for a handle that is not a registered source or an event
  // the log does not know. Any thread.
  virtual bool ReportEventA(Handle eventLog, std::uint16_t type, std::uint16_t category,
                            std::uint32_t eventId, std::uint16_t numStrings,
                            const char* const* strings) = 0;
  // DeregisterEventSource: true when the handle was a registered source.
  virtual bool DeregisterEventSource(Handle eventLog) = 0;

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

  // --- Events, named locks and waits -------------------------------------------------------------

  // CreateEventA without security attributes or name: the event's handle, or 0 when none can be
  // created. The ASPI manager signals it, from its own thread, when a request completes.
  virtual Handle CreateEventA(bool manualReset, bool initialState) = 0;
  // CreateMutexA without security attributes, not owned, with a name: the handle of the named lock
  // that every process naming it shares (created by the first), or 0 with the last error set.
  // The program names a drive's lock "Movrel-<port>-<path>-<target>-<lun>" after the drive's
  // address, and takes it with WaitForSingleObject and lets it go with ReleaseMutex.
  // - Windows: a mutex. From Windows 2000 on, the prefix "Global\" puts it in the namespace that
  //   every session shares (otherwise each logon session has its own); Windows NT 4.0 and the
  //   consumer family have one namespace and take no backslash in a name. A name that another
  //   kind of object holds fails (ErrorCode::InvalidHandle). The mutex belongs to the thread that
  //   took it: a wait by that thread again succeeds and counts (one ReleaseMutex each), a wait by
  //   any other thread, of this process or another, times out; a thread that ends holding it
  //   leaves it abandoned, and the next wait takes it with WaitResult::Abandoned. Closing a handle
  //   does not let go of it; the object ends with its last handle.
  // - Linux: the lock is flock(2), exclusive, on the device node of the optical drive whose SCSI
  //   address (host, channel, id, lun) the name gives, with or without "Global\": the lock that
  //   the device manager (systemd-udevd) respects, leaving a locked drive's events until it is
  //   let go of, and takes shared while it processes an event of the drive (a wait outlasts that
  //   hold, up to 5 s, whatever its time: it is no flasher's). 0 with
  //   ErrorCode::FileNotFound when no drive has that address. The lock belongs to the handle, not
  //   to a thread: a second handle of the same name is kept out like another process, and any
  //   thread lets go of it. It ends with its handle (and with the process); none is abandoned.
  virtual Handle CreateMutexA(const char* name) = 0;
  // ReleaseMutex: true when the lock was held (through this handle on Linux, by the calling
  // thread on Windows) and is let go of once; false with ErrorCode::NotOwner otherwise.
  virtual bool ReleaseMutex(Handle mutex) = 0;
  // WaitForSingleObject on an event or a named lock, waiting at most the given milliseconds (0:
  // just a look). An event: WaitResult::Object0 once it is signalled. A named lock: Object0 once
  // the caller holds it (Abandoned as above). WaitResult::Timeout when the time passed first,
  // WaitResult::Failed for a handle that is neither.
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;

  // --- The plain message box -------------------------------------------------------------------

  // MessageBoxA without an owner window, with MessageBoxStyle::Ok and MessageBoxStyle::IconError
  // as the program uses it: shows the box to the user and returns MessageBoxResult::Ok once it
  // is closed. Called from the window's thread only.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
};

}  // namespace platform
