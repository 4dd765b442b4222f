// ExecuteCommand: one 12-byte command to the current target through the SCSI pass-through or the
// ASPI manager, timed, classified (1 good, 2 sense data, 0 failed) and, in strict mode, retried
// once after a failure that is not a time-out.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>
#include <span>

#include "device/AtapiDevice.h"
#include "platform/System.h"

namespace movrel::device {

namespace {
constexpr std::uint8_t kCdbLength = 12;
constexpr std::uint8_t kPassThroughSenseLength = 24;

// Commands whose length is an allocation length: the drive sends what it has, up to that length,
// and the reply tells its own length (INQUIRY's additional length, the event status header's),
// so a shorter reply is a whole one. Any other reply must fill the length asked for: a READ
// BUFFER that returned fewer bytes leaves the rest of the buffer as it was and verifies nothing.
constexpr bool MayReplyShorter(std::uint8_t operationCode) {
  return operationCode == 0x12 || operationCode == 0x4A;
}

bool ShortReply(const CommandBlock& command, DataDirection direction, std::uint32_t length,
                std::uint32_t transferred) {
  return direction == DataDirection::FromDrive && transferred < length &&
         !MayReplyShorter(command[0]);
}

// The event wait in milliseconds for a time-out in seconds; never the "infinite" value.
std::uint32_t WaitMilliseconds(std::uint32_t seconds) {
  constexpr std::uint64_t kLongest = std::numeric_limits<std::uint32_t>::max() - 1;
  const std::uint64_t milliseconds = std::uint64_t{seconds} * 1000;
  return static_cast<std::uint32_t>(milliseconds < kLongest ? milliseconds : kLongest);
}
}  // namespace

bool AtapiDevice::ExecuteCommand(const CommandBlock& command, DataDirection direction,
                                 std::uint32_t length) {
  // The drive would write past the buffer, or read past it.
  if (length > kBufferSize) {
    FailWithoutAttempt();
    return false;
  }
  if (osInfo.IsNT() && !useAspi) return ExecutePassThrough(command, direction, length);
  return ExecuteAspi(command, direction, length);
}

std::uint8_t* AtapiDevice::DataBufferFor(DataDirection direction, std::uint32_t length) const {
  if (length == 0) return nullptr;
  if (direction == DataDirection::FromDrive) return inBuffer;
  if (direction == DataDirection::ToDrive) return outBuffer;
  return nullptr;
}

void AtapiDevice::RecordAttempt(std::span<const std::uint8_t> senseArea) {
  lastDuration = commandTimer.ElapsedSeconds();
  lastTimedOut = static_cast<double>(commandTimeout) < lastDuration;
  // The pass-through hands over fixed-format sense data; the ASPI manager, the drive's own.
  platform::FixedSense converted;
  const std::span<const std::uint8_t> sense = platform::FixedFormatOf(senseArea, converted);
  senseKey = sense.size() > 2 ? sense[2] & 0x0F : 0;
  asc = sense.size() > 12 ? sense[12] : 0;
}

// An attempt that reached the transport and got no answer, or the drive's report that it was
// reset, leaves a drive-side program it took in doubt.
void AtapiDevice::NoteResetSigns(bool answered) {
  constexpr std::uint8_t kUnitAttention = 0x06;
  constexpr std::uint8_t kPowerOnOrReset = 0x29;
  const bool reset = answered && senseKey == kUnitAttention && asc == kPowerOnOrReset;
  if (programLoaded && (!answered || reset)) programLost = true;
}

// A command that could not be posted at all: no buffers, no ASPI manager, or a request block that
// the manager still holds.
void AtapiDevice::FailWithoutAttempt() {
  lastResult = kNoAnswer;
  senseKey = asc = 0;
  lastDuration = 0.0;
  lastTimedOut = false;
}

bool AtapiDevice::ExecutePassThrough(const CommandBlock& command, DataDirection direction,
                                     std::uint32_t length) {
  if (deviceHandle == platform::InvalidHandleValue && throwOnFailure) return false;
  if (!BuffersAllocated() || !AspiRequestReleased(0)) {
    FailWithoutAttempt();
    return false;
  }

  std::memset(&passThroughRequest, 0, sizeof passThroughRequest);
  platform::ScsiPassThroughDirect& request = passThroughRequest.sptd;
  request.Length = sizeof(platform::ScsiPassThroughDirect);
  request.PathId = static_cast<std::uint8_t>(portNumber);
  request.TargetId = static_cast<std::uint8_t>(targetId);
  request.Lun = 0;
  request.CdbLength = kCdbLength;
  request.SenseInfoLength = kPassThroughSenseLength;
  request.DataIn = static_cast<std::uint8_t>(direction);
  request.DataTransferLength = length;
  request.TimeOutValue = commandTimeout;
  request.DataBuffer = DataBufferFor(direction, length);
  request.SenseInfoOffset = offsetof(PassThroughRequest, senseArea);
  std::memcpy(request.Cdb, command.data(), command.size());

  for (bool retried = false;; retried = true) {
    // The system writes back how much data moved: every attempt asks for the whole length.
    request.DataTransferLength = length;
    std::uint32_t returned = 0;
    commandTimer.Start();
    const bool completed = system.DeviceIoControl(
        deviceHandle, platform::ioctl::ScsiPassThroughDirect, &passThroughRequest,
        sizeof passThroughRequest, &passThroughRequest, sizeof passThroughRequest, &returned);
    commandTimer.Stop();
    RecordAttempt(passThroughRequest.senseArea);

    const bool answered = completed && !lastTimedOut;
    NoteResetSigns(answered);
    if (answered && senseKey != 0) {
      lastResult = kSenseData;
      return false;
    }
    // A good status over a short reply is no answer: the buffer does not hold the reply.
    if (answered && !ShortReply(command, direction, length, request.DataTransferLength)) {
      lastResult = kGood;
      return true;
    }
    lastResult = kNoAnswer;
    if (!throwOnFailure || lastTimedOut || retried) return false;
  }
}

std::uint8_t AtapiDevice::AspiStatus() {
  // The manager writes the status from its own thread when it completes the request.
  return std::atomic_ref<std::uint8_t>(aspiRequest.SRB_Status).load(std::memory_order_acquire);
}

bool AtapiDevice::ExecuteAspi(const CommandBlock& command, DataDirection direction,
                              std::uint32_t length) {
  if ((portNumber == -1 || targetId == -1) && throwOnFailure) return false;
  if (!BuffersAllocated() || !sendAspiCommand || !AspiRequestReleased(0)) {
    FailWithoutAttempt();
    return false;
  }

  std::memset(&aspiRequest, 0, sizeof aspiRequest);
  aspiRequest.SRB_Cmd = platform::SC_EXEC_SCSI_CMD;
  aspiRequest.SRB_HaId = static_cast<std::uint8_t>(portNumber);
  if (direction == DataDirection::FromDrive) aspiRequest.SRB_Flags = platform::SRB_DIR_IN;
  if (direction == DataDirection::ToDrive) aspiRequest.SRB_Flags = platform::SRB_DIR_OUT;
  aspiRequest.SRB_Target = static_cast<std::uint8_t>(targetId);
  aspiRequest.SRB_Lun = static_cast<std::uint8_t>(lun);
  aspiRequest.SRB_BufLen = length;
  aspiRequest.SRB_BufPointer = DataBufferFor(direction, length);
  aspiRequest.SRB_SenseLen = platform::SENSE_LEN;
  aspiRequest.SRB_CDBLen = kCdbLength;
  std::memcpy(aspiRequest.CDBByte, command.data(), command.size());

  for (bool retried = false;; retried = true) {
    commandTimer.Start();
    const platform::Handle event = system.CreateEventA(true, false);
    if (event != 0) {
      aspiRequest.SRB_Flags |= platform::SRB_EVENT_NOTIFY;
      aspiRequest.SRB_PostProc = reinterpret_cast<void*>(event);
      // A request the manager took as pending is waited for even when its status is already
      // written: the manager signals the event after that, and the event must still be this
      // request's when it does (closed, its handle could be the next request's event).
      const std::uint32_t posted = sendAspiCommand(&aspiRequest);
      if (posted == platform::SS_PENDING || AspiStatus() == platform::SS_PENDING) {
        system.WaitForSingleObject(event, WaitMilliseconds(commandTimeout));
      }
    } else {
      // Without an event the status is polled, but never for longer than the time-out.
      sendAspiCommand(&aspiRequest);
      while (AspiStatus() == platform::SS_PENDING &&
             commandTimer.LapSeconds() <= static_cast<double>(commandTimeout)) {
      }
    }
    const bool aborted = AspiStatus() == platform::SS_PENDING;
    if (aborted) AbortAspiRequest();
    if (event != 0) system.CloseHandle(event);
    commandTimer.Stop();
    RecordAttempt(aspiRequest.SenseArea);
    // A request that had to be aborted did not complete within the time-out.
    if (aborted) lastTimedOut = true;

    const std::uint8_t status = AspiStatus();
    NoteResetSigns(!lastTimedOut && (status == platform::SS_COMP || senseKey != 0));
    if (status == platform::SS_COMP && senseKey == 0 && !lastTimedOut) {
      lastResult = kGood;
      return true;
    }
    if (senseKey != 0 && !lastTimedOut) {
      lastResult = kSenseData;
      return false;
    }
    lastResult = kNoAnswer;
    if (!throwOnFailure || lastTimedOut || retried) return false;
  }
}

// A request still pending when the wait ends is aborted, and the manager gets a bounded time to
// let go of it; until it has, the request block and the buffers stay out of use.
void AtapiDevice::AbortAspiRequest() {
  platform::SrbAbort abort{};
  abort.SRB_Cmd = platform::SC_ABORT_SRB;
  abort.SRB_HaId = aspiRequest.SRB_HaId;
  abort.SRB_ToAbort = &aspiRequest;
  sendAspiCommand(&abort);
  aspiRequestHeld = true;
  AspiRequestReleased(kAspiReleaseMilliseconds);
}

bool AtapiDevice::AspiRequestReleased(std::uint32_t graceMilliseconds) {
  for (std::uint32_t waited = 0; aspiRequestHeld; waited += kAspiReleasePollMilliseconds) {
    if (AspiStatus() != platform::SS_PENDING) {
      aspiRequestHeld = false;
    } else if (waited >= graceMilliseconds) {
      return false;
    } else {
      system.Sleep(kAspiReleasePollMilliseconds);
    }
  }
  return true;
}

}  // namespace movrel::device
