// The program's handle on the optical drives of the machine. One object finds and identifies the
// drives, keeps them in a table of 16 sorted by SCSI address, lets one of them be the current
// target and sends it commands through the SCSI pass-through or the ASPI manager. Its operations
// live in several source files by concern: the object and discovery, the transport, the status
// and tray commands (device/), the firmware commands, drive-side flash programs and the flash
// procedure (flash/).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/HiTimer.h"
#include "platform/OSInfo.h"
#include "platform/PassThrough.h"
#include "platform/WinTypes.h"

namespace movrel::platform {
class Application;
class System;
}  // namespace movrel::platform

namespace movrel::device {

// A 12-byte command descriptor block; every command is sent with a command length of 12.
using CommandBlock = std::array<std::uint8_t, 12>;

// The values of the pass-through's data-direction field.
enum class DataDirection : std::uint8_t { ToDrive = 0, FromDrive = 1, NoData = 2 };

// One discovered drive.
struct DriveEntry {
  char identity[32];  // the 8 vendor characters then the 16 product characters, NUL-terminated
  char vendor[9];
  char product[17];
  char revision[5];
  char driveRoot[4];  // "D:\" and a NUL; empty for drives found through ASPI
  std::int16_t portNumber;
  std::int16_t targetId;
  std::int16_t lun;
  std::int16_t pathId;
  std::uint8_t valid;
  std::uint8_t allowed;
  std::uint8_t viaAspi;
  std::uint16_t bankIndex;
  std::int16_t upToDate;
};

// The pass-through request block the transport fills.
using platform::PassThroughRequest;

class AtapiDevice {
 public:
  static constexpr std::uint32_t kBufferSize = 65536;
  // Each data buffer starts on a page: an adapter may refuse a pass-through buffer that does not
  // meet its alignment (with an invalid-parameter error), and none asks for more than a page.
  static constexpr std::uint32_t kBufferAlignment = 4096;
  // What is allocated for one buffer, so that a page-aligned kBufferSize lies inside it.
  static constexpr std::uint32_t kBufferAllocation = kBufferSize + kBufferAlignment - 1;
  static constexpr int kMaxDrives = 16;
  static constexpr std::int16_t kNoTarget = 127;
  // How long one command may take, in seconds. Every command before the programming command
  // (discovery, identification, status and tray commands, the flash identity, the drive-side
  // program, the transfer's chunks) takes milliseconds, and nothing is programmed yet when one of
  // them is cut short: they wait as long as the kernel's own commands to an optical drive do. The
  // programming command, and the commands to the drive after it, wait while the drive writes its
  // flash memory.
  static constexpr std::uint32_t kBoundedCommandTimeout = 30;
  static constexpr std::uint32_t kProgrammingCommandTimeout = 108000;
  // The hand-over to a drive-side flash program: the drive's loader may erase flash memory before
  // it answers.
  static constexpr std::uint32_t kHandOverCommandTimeout = 300;
  // What LastResult tells of the last command: no answer at all (the transport failed, or the
  // time-out passed), good status, or an answer with sense data.
  static constexpr std::uint8_t kNoAnswer = 0;
  static constexpr std::uint8_t kGood = 1;
  static constexpr std::uint8_t kSenseData = 2;

  // Initialize, then discover the drives (the window's main object).
  AtapiDevice(platform::System& system, platform::Application& application);
  // Initialize, and discover only when asked (the window passes false for worker copies).
  AtapiDevice(platform::System& system, platform::Application& application, bool discover);
  ~AtapiDevice();
  AtapiDevice(const AtapiDevice&) = delete;
  AtapiDevice& operator=(const AtapiDevice&) = delete;

  // False when a buffer could not be allocated: the object is then unusable and its
  // construction counts as failed (no discovery was made).
  bool BuffersAllocated() const { return inBuffer != nullptr && outBuffer != nullptr; }
  // The buffers exist and no aborted ASPI request that the manager still holds writes into them:
  // only then may a command fill or clear them.
  bool BuffersFree() { return BuffersAllocated() && AspiRequestReleased(0); }

  // --- The drive table and the current target ------------------------------------------------
  std::uint16_t DriveCount() const { return driveCount; }
  DriveEntry* EntryAt(std::uint32_t index);
  // The drives discovery left out, sending them nothing, because another flasher held their lock.
  std::uint16_t BusyDriveCount() const { return busyCount; }
  // Whether discovery found a drive that the system would not open for this process (access
  // denied: on Windows, a flasher not run as an administrator, or a volume another program has
  // locked); such a drive is not listed.
  bool DriveAccessDenied() const { return driveAccessDenied; }
  const DriveEntry& BusyDriveAt(std::uint16_t index) const { return busyDrives[index]; }
  std::int16_t CurrentIndex() const { return currentIndex; }
  bool SelectDrive(std::int16_t index);
  void CloseDrive();
  // Makes the current target's device this object's alone, as far as the system lets it, until
  // it is closed: the volume's lock, which the file system grants only to the one handle open on
  // it (tried for a while, since other programs let go of the volume in their own time), and from
  // Windows Vista on the CD-ROM class driver's exclusive access, which keeps every other handle's
  // requests from the drive. Neither is needed for an update; a drive reached without a device
  // handle (the ASPI manager) has neither. False only when the system says the drive is in use
  // and stays so (Linux: a disc of it is mounted, ErrorCode::DriveLocked; another program holds
  // it exclusively for longer than a media event takes, ErrorCode::Busy): such a drive is sent
  // no command that moves its tray or updates it, since nothing would keep the file system's
  // reads from it. Tried once per opening; later calls give the first one's answer.
  bool TakeExclusiveAccess();
  // Whether TakeExclusiveAccess found the drive in use, and whether because a disc of it is
  // mounted.
  bool DriveInUse() const { return driveInUse; }
  bool DriveMounted() const { return driveMounted; }
  bool VolumeLocked() const { return volumeLocked; }
  bool ExclusiveAccessHeld() const { return exclusiveAccess; }
  void CopyTargetTo(AtapiDevice* other) const;
  bool IdentifyCurrent();
  void SetCommandTimeout(std::uint32_t seconds) { commandTimeout = seconds; }
  void SetThrowOnFailure() { throwOnFailure = true; }
  void ClearThrowOnFailure() { throwOnFailure = false; }

  // --- Transport -------------------------------------------------------------------------------
  // False at once, with no command sent, for a length larger than the buffers. A data-in reply
  // shorter than the length asked for fails, unless the length is an allocation length (INQUIRY,
  // GET EVENT STATUS NOTIFICATION): the pass-through tells how much data moved, the ASPI manager
  // does not.
  bool ExecuteCommand(const CommandBlock& command, DataDirection direction, std::uint32_t length);
  bool LoadAspi();
  bool AspiAvailable();
  void UnloadAspi();

  // --- Status and tray ---------------------------------------------------------------------
  bool GetEventStatus(std::uint8_t polled, std::uint8_t classRequest,
                      std::uint16_t allocationLength, std::uint8_t control);
  bool Inquiry(std::uint8_t cmdDt, std::uint8_t evpd, std::uint8_t pageCode,
               std::uint8_t allocationLength, std::uint8_t control);
  bool StartStopUnit(std::uint8_t immed, std::uint8_t powerCondition, std::uint8_t loEj,
                     std::uint8_t start);
  bool PreventAllowMediumRemoval(std::uint8_t prevent);
  bool TestUnitReady();
  bool SenseIs(std::uint8_t key, std::uint8_t code) const;
  bool SenseKeyIs(std::uint8_t key) const;
  bool WaitUnitReady(std::int32_t seconds);
  // TEST UNIT READY until the drive answers at all (good status or sense data, whatever they
  // say), each one waiting the device's time-out; commands that fail at once are repeated for
  // at most `seconds`. False when no answer came.
  bool WaitUntilAnswering(std::int32_t seconds);
  bool MediumAbsent();
  void WaitWhileUnitAttention();
  bool TrayOpen();
  bool LoadTray();
  // Lets the tray open whoever locked the door: a desktop's device manager locks it while a disc
  // is in, and the lock outlives the program that set it.
  bool AllowMediumRemoval();
  bool EjectTray();
  bool StopUnit();

  // --- Firmware transfer ---------------------------------------------------------------------
  bool ReadFlashId();
  bool ReadBuffer(std::int32_t offset, std::int32_t length);
  bool WriteBuffer(std::int32_t offset, std::int32_t length, std::uint8_t control);
  bool TransferImage(const std::uint8_t* image, std::int32_t imageLength);
  // The longest sleep of a Delay.
  static constexpr double kDelayStepSeconds = 0.010;
  void Delay(double seconds);

  // --- Drive-side flash programs ---------------------------------------------------------------
  // True when the drive took a drive-side flash program (the drive's reply to the program's
  // WRITE BUFFER was good).
  bool SendFlashProgram();
  // Whether the drive may have lost the drive-side program it took: a later command got no answer
  // at all (it failed without sense data, or timed out: the kernel's error handler resets a drive
  // whose command timed out, Windows' port drivers reset the bus), or the drive reported a power
  // on or reset (UNIT ATTENTION, ASC 0x29). A drive in that state must not be told to program
  // its flash memory: it would do so without the program made for its flash part.
  bool ProgramLost() const { return programLost; }
  static int FindFlashProgram(const std::uint8_t identity[4]);
  static int FlashProgramSize(int row);
  std::uint8_t* CopyFlashProgram(int row);
  std::uint8_t* LoadFlashProgram(const std::uint8_t identity[4]);

  // --- The flash procedure ---------------------------------------------------------------------
  bool FlashFirmware(const std::uint8_t* image, std::int32_t imageLength, std::uint8_t bootCode);

  // --- State, for the window, the worker and tests ---------------------------------------------
  std::uint8_t FlashStatus() const { return flashStatus; }
  void SetFlashStatus(std::uint8_t value) { flashStatus = value; }
  bool ThrowOnFailure() const { return throwOnFailure; }
  std::uint32_t CommandTimeout() const { return commandTimeout; }
  bool UseAspi() const { return useAspi; }
  bool AspiPresent() const { return aspiPresent; }
  bool AspiLoaded() const { return aspiLibrary != 0; }
  std::uint8_t LastResult() const { return lastResult; }
  std::uint8_t SenseKey() const { return senseKey; }
  std::uint8_t Asc() const { return asc; }
  double LastDuration() const { return lastDuration; }
  bool LastTimedOut() const { return lastTimedOut; }
  const char* Vendor() const { return vendor; }
  const char* Product() const { return product; }
  const char* Revision() const { return revision; }
  std::int16_t PortNumber() const { return portNumber; }
  std::int16_t TargetId() const { return targetId; }
  std::int16_t Lun() const { return lun; }
  std::int16_t PathId() const { return pathId; }
  platform::Handle DeviceHandle() const { return deviceHandle; }
  std::uint8_t* InBuffer() { return inBuffer; }
  std::uint8_t* OutBuffer() { return outBuffer; }
  const PassThroughRequest& PassThroughBlock() const { return passThroughRequest; }
  const platform::SrbExecScsiCmd& AspiBlock() const { return aspiRequest; }
  bool IsEntryValid(std::int16_t index) const;

 private:
  // How long an aborted ASPI request may take to be let go of by the manager, and the pause
  // between two looks at it.
  static constexpr std::uint32_t kAspiReleaseMilliseconds = 2000;
  static constexpr std::uint32_t kAspiReleasePollMilliseconds = 10;
  // The volume lock's attempts and the pause between two of them.
  static constexpr int kVolumeLockAttempts = 20;
  static constexpr int kDriveHeldAttempts = 7;  // three seconds
  static constexpr std::uint32_t kVolumeLockPauseMilliseconds = 500;
  static constexpr std::uint32_t kAnswerPollMilliseconds = 1000;
  static int VolumeLockRetries(std::uint32_t refusal);

  void Initialize();
  void DiscoverDrives();
  void ScanPassThrough();
  // What the SCSI address query of a drive root gave.
  enum class AddressAnswer { None, Refused, Given };
  AddressAnswer GetScsiAddress(const char* root, platform::ScsiAddress& address);
  // Whether another flasher holds the lock of the drive at that address.
  bool AddressHeldElsewhere(const platform::ScsiAddress& address);
  void ScanAspi();
  std::int16_t CountCdromRoots();
  void SortDrives();
  bool InquireIdentity();
  bool InquireIdentityRepeatedly();
  void StoreIdentity(DriveEntry& entry) const;
  void SetAddress(platform::Handle handle, std::int16_t port, std::int16_t path,
                  std::int16_t target, std::int16_t unit);
  void FreeBuffers();
  bool ExecutePassThrough(const CommandBlock& command, DataDirection direction,
                          std::uint32_t length);
  bool ExecuteAspi(const CommandBlock& command, DataDirection direction, std::uint32_t length);
  std::uint8_t* DataBufferFor(DataDirection direction, std::uint32_t length) const;
  void RecordAttempt(std::span<const std::uint8_t> senseArea);
  void NoteResetSigns(bool answered);
  void FailWithoutAttempt();
  std::uint8_t AspiStatus();
  void AbortAspiRequest();
  bool AspiRequestReleased(std::uint32_t graceMilliseconds);

  platform::System& system;
  platform::Application& application;

  platform::HiTimer waitTimer;
  platform::HiTimer commandTimer;
  PassThroughRequest passThroughRequest{};
  platform::SrbExecScsiCmd aspiRequest{};
  platform::ProcAddress getAspiSupportInfo;
  platform::ProcAddress sendAspiCommand;
  std::uint16_t driveCount = 0;
  platform::Module aspiLibrary = 0;
  std::int16_t currentIndex = kNoTarget;
  char vendor[9] = {};
  char product[17] = {};
  char revision[5] = {};
  DriveEntry drives[kMaxDrives] = {};
  DriveEntry busyDrives[kMaxDrives] = {};
  std::uint16_t busyCount = 0;
  bool driveAccessDenied = false;
  std::uint32_t commandTimeout = kBoundedCommandTimeout;
  std::int16_t portNumber = -1;
  std::int16_t targetId = -1;
  std::int16_t lun = -1;
  std::int16_t pathId = -1;
  platform::Handle deviceHandle = platform::InvalidHandleValue;
  std::uint8_t* inBuffer = nullptr;  // page-aligned, inside inStorage
  std::uint8_t* outBuffer = nullptr;
  std::uint8_t* inStorage = nullptr;
  std::uint8_t* outStorage = nullptr;
  platform::OSInfo osInfo;
  bool useAspi = false;
  bool aspiPresent = false;
  bool throwOnFailure = false;
  std::uint8_t lastResult = 0;
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
  double lastDuration = 0.0;
  bool lastTimedOut = false;
  std::uint8_t flashStatus = 0;
  // The drive-side program of this update: taken by the drive, and perhaps lost since.
  bool programLoaded = false;
  bool programLost = false;
  // What this object holds of its current target's device.
  bool volumeLocked = false;
  bool exclusiveAccess = false;
  bool driveInUse = false;
  bool driveMounted = false;
  bool exclusiveAccessTried = false;
  // An aborted ASPI request that the manager has not let go of yet: its request block and the
  // data buffers stay out of use until it has.
  bool aspiRequestHeld = false;
};

}  // namespace movrel::device
