#include "platform/linux/SgIo.h"

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <span>

#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"

namespace movrel::platform {

namespace {

constexpr unsigned short kHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr unsigned short kDriverByte = 0x0F;     // the driver byte without its suggestions
constexpr unsigned short kDriverTimeout = 0x06;  // DRIVER_TIMEOUT
constexpr unsigned short kDriverSense = 0x08;    // DRIVER_SENSE: sense data came back

// Data move only when the request has a length and a direction; an unspecified direction moves
// none.
int Direction(const ScsiExchange& exchange) {
  if (exchange.dataLength == 0) return SG_DXFER_NONE;
  if (exchange.direction == ScsiDataDirection::In) return SG_DXFER_FROM_DEV;
  if (exchange.direction == ScsiDataDirection::Out) return SG_DXFER_TO_DEV;
  return SG_DXFER_NONE;
}

unsigned int TimeoutMilliseconds(std::uint32_t seconds) {
  const std::uint64_t milliseconds = std::uint64_t{seconds} * 1000;
  return static_cast<unsigned int>(
      std::clamp<std::uint64_t>(milliseconds, kShortestSgIoTimeout, kLongestSgIoTimeout));
}

// The data bytes that moved. The kernel reports in `resid` the request's length less what the
// low-level driver says it transferred (scsi_set_resid: USB bridges report their residue); a
// driver that says nothing leaves it 0, a whole transfer. A negative one counts as 0.
std::uint32_t Transferred(const sg_io_hdr_t& request) {
  if (request.dxfer_direction == SG_DXFER_NONE) return 0;
  if (request.resid <= 0) return request.dxfer_len;
  const auto residue = static_cast<unsigned int>(request.resid);
  return residue >= request.dxfer_len ? 0 : request.dxfer_len - residue;
}

}  // namespace

SgIoResult SendSgIo(LinuxKernel& kernel, int descriptor, const ScsiExchange& exchange, void* out) {
  std::array<std::uint8_t, sizeof exchange.cdb> cdb = exchange.cdb;
  std::array<std::uint8_t, 32> sense{};
  sg_io_hdr_t request{};
  request.interface_id = 'S';
  request.dxfer_direction = Direction(exchange);
  request.cmd_len = exchange.cdbLength;
  request.mx_sb_len = sense.size();
  if (request.dxfer_direction != SG_DXFER_NONE) {
    request.dxfer_len = exchange.dataLength;
    request.dxferp = exchange.data;
  }
  request.cmdp = cdb.data();
  request.sbp = sense.data();
  request.timeout = TimeoutMilliseconds(exchange.timeoutSeconds);

  SgIoResult result;
  result.kernelError = kernel.SgIo(descriptor, request);
  if (result.kernelError != 0) {
    result.lastError = lasterror::FromErrno(result.kernelError);
    return result;
  }
  const unsigned short driver = request.driver_status & kDriverByte;
  if (request.host_status != 0 || (driver != 0 && driver != kDriverSense)) {
    const bool timedOut = request.host_status == kHostTimeOut || driver == kDriverTimeout;
    result.lastError = timedOut ? ErrorCode::SemaphoreTimeout : ErrorCode::IoDevice;
    return result;
  }
  const std::size_t senseLength = std::min<std::size_t>(request.sb_len_wr, sense.size());
  ScsiOutcome outcome;
  outcome.status = request.status;
  outcome.sense = std::span<const std::uint8_t>(sense.data(), senseLength);
  outcome.transferred = Transferred(request);
  // The program judges a command by its sense data alone: a status other than GOOD without sense
  // data it can read would pass for a good command whose reply is in the buffer, so it counts as
  // no answer.
  if (!CompletePassThrough(exchange, outcome, out)) {
    result.lastError = ErrorCode::IoDevice;
    return result;
  }
  result.returned = kPassThroughReplyLength;
  return result;
}

}  // namespace movrel::platform
