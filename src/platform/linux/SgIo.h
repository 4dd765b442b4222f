// One pass-through exchange sent to a device through the kernel's SCSI generic request (SG_IO),
// and the pass-through request completed from its outcome.
#pragma once

#include <cstdint>

#include "platform/PassThrough.h"

namespace movrel::platform {

class LinuxKernel;

struct SgIoResult {
  int kernelError = 0;          // the ioctl's error number; 0 when the request ran
  std::uint32_t lastError = 0;  // why no answer came; 0 when the drive answered
  std::uint32_t returned = 0;   // the byte count of the completed request
};

// Longest and shortest time-outs handed to SG_IO, in milliseconds. SG_IO takes an unsigned count,
// but the kernel reads one above INT_MAX as negative and then waits without a limit; 0 would
// mean the device's default (60 s) rather than "at once", so the shortest is 1 ms, which the
// kernel raises to its own minimum.
inline constexpr std::uint32_t kLongestSgIoTimeout = 0x7FFFFFFF;
inline constexpr std::uint32_t kShortestSgIoTimeout = 1;

// Runs `exchange` on the open `descriptor`. When the drive answered, completes the request in
// `out` (CompletePassThrough) with its status, its sense data (the kernel hands them over as the
// device returned them, fixed or descriptor format) and the bytes that moved (dxfer_len less the
// kernel's resid). The data move straight between the drive and the exchange's buffer, which the
// request hands over unchanged.
SgIoResult SendSgIo(LinuxKernel& kernel, int descriptor, const ScsiExchange& exchange, void* out);

}  // namespace movrel::platform
