// The SCSI pass-through request (IOCTL_SCSI_PASS_THROUGH_DIRECT) as a backend other than Windows
// carries it out: it reads the request into an exchange of its own terms, runs the command its
// own way, then completes the request from the outcome as the Windows port driver would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/WinTypes.h"

namespace movrel::platform {

// The request the program hands over: the SCSI_PASS_THROUGH_DIRECT structure, then the sense
// area (at offset 48 in a 32-bit build, right after the larger structure in a 64-bit build).
struct PassThroughRequest {
  ScsiPassThroughDirect sptd;
#if UINTPTR_MAX == 0xFFFFFFFFu
  std::uint32_t filler;
#endif
  std::uint8_t senseArea[32];
};
static_assert(sizeof(void*) != 4 || sizeof(PassThroughRequest) == 80);
static_assert(sizeof(void*) != 4 || offsetof(PassThroughRequest, senseArea) == 48);

// The SCSI status the request reports (SCSISTAT_*).
namespace ScsiStatus {
inline constexpr std::uint8_t Good = 0x00;
inline constexpr std::uint8_t CheckCondition = 0x02;
}  // namespace ScsiStatus

// What one request asks for.
struct ScsiExchange {
  std::array<std::uint8_t, 16> cdb{};  // the command block; the bytes past its length are 0
  std::uint8_t cdbLength = 0;          // 1 to 16
  std::uint8_t direction = ScsiDataDirection::Unspecified;
  std::uint8_t* data = nullptr;  // as the request gives it; not null when dataLength is not 0
  std::uint32_t dataLength = 0;
  std::uint32_t timeoutSeconds = 0;
  // The address the request names. The device handle already names the drive, so backends
  // leave it unused.
  std::uint8_t pathId = 0;
  std::uint8_t targetId = 0;
  std::uint8_t lun = 0;
  // Where the sense data go: an area of the output buffer, inside it and clear of the structure.
  std::uint32_t senseOffset = 0;
  std::uint8_t senseLength = 0;
};

// Reads the request of one DeviceIoControl call: `in` as the call got it, and the size of the
// output buffer that takes the reply. False for a request the system refuses as an invalid
// parameter: a buffer shorter than the structure, a Length that is not its size, a command block
// of 0 or more than 16 bytes, an unknown direction, a data length without a data buffer, or a
// sense area that is not inside the output buffer.
bool ReadPassThrough(const void* in, std::uint32_t inSize, std::uint32_t outSize,
                     ScsiExchange& exchange);

// Sense data in the fixed format, the only one the program reads: response code 0x70 (current
// error) or 0x71 (deferred error), the sense key in the low nibble of byte 2, the additional
// sense code in byte 12 and its qualifier in byte 13.
inline constexpr std::size_t kFixedSenseLength = 18;
using FixedSense = std::array<std::uint8_t, kFixedSenseLength>;

// The sense data a device returned, `sense`, in fixed format: fixed-format data (0x70, 0x71) as
// they are; descriptor-format data (0x72, 0x73: key, ASC and ASCQ in bytes 1 to 3 of the header,
// as SAT bridges and the kernel's ATA translation report them) rewritten into `converted`, the
// descriptors themselves left out; empty for anything else (no bytes, the vendor-specific 0x7F,
// a code the standard does not define): those are no usable sense data.
std::span<const std::uint8_t> FixedFormatOf(std::span<const std::uint8_t> sense,
                                            FixedSense& converted);

// How a backend's exchange ended when the device answered.
struct ScsiOutcome {
  std::uint8_t status = ScsiStatus::Good;
  std::span<const std::uint8_t> sense;  // as the device returned them
  std::uint32_t transferred = 0;        // data bytes that moved, either way
};

// The byte count a completed request reports.
inline constexpr std::uint32_t kPassThroughReplyLength = sizeof(ScsiPassThroughDirect);

// Completes the reply in the call's output buffer `out`, which ReadPassThrough checked, as the
// Windows port driver does: the SCSI status, the sense data in fixed format (as much as the sense
// area takes), and DataTransferLength cut to the bytes that moved (a short reply is seen there).
// False, with nothing written, when the outcome is no answer the program can judge: a status
// other than GOOD without usable sense data (BUSY, RESERVATION CONFLICT, a CHECK CONDITION whose
// sense was lost or is in a format the program cannot read). The backend then fails the call.
bool CompletePassThrough(const ScsiExchange& exchange, const ScsiOutcome& outcome, void* out);

// Judges a reply that Windows' own port driver completed in the call's output buffer `out`
// (`outSize` bytes) as CompletePassThrough judges a backend's: the sense area (where it lies
// inside the buffer) rewritten in place in fixed format, descriptor format converted and the
// rest of the area zeroed; false, with nothing changed, when the status is not GOOD and the sense
// data are unusable. The Windows backend then fails the call.
bool JudgeCompletedPassThrough(void* out, std::uint32_t outSize);

}  // namespace movrel::platform
