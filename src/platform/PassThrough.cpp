#include "platform/PassThrough.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {
constexpr std::uint32_t kStructureSize = sizeof(ScsiPassThroughDirect);
}  // namespace

bool ReadPassThrough(const void* in, std::uint32_t inSize, std::uint32_t outSize,
                     ScsiExchange& exchange) {
  if (in == nullptr || inSize < kStructureSize || outSize < kStructureSize) return false;
  ScsiPassThroughDirect request;
  std::memcpy(&request, in, sizeof request);
  if (request.Length != kStructureSize) return false;
  if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb) return false;
  if (request.DataIn > ScsiDataDirection::Unspecified) return false;
  if (request.DataTransferLength != 0 && request.DataBuffer == nullptr) return false;
  if (request.SenseInfoLength != 0 &&
      (request.SenseInfoOffset < kStructureSize || request.SenseInfoOffset > outSize ||
       outSize - request.SenseInfoOffset < request.SenseInfoLength)) {
    return false;
  }

  exchange = ScsiExchange{};
  std::memcpy(exchange.cdb.data(), request.Cdb, request.CdbLength);
  exchange.cdbLength = request.CdbLength;
  exchange.direction = request.DataIn;
  exchange.data = static_cast<std::uint8_t*>(request.DataBuffer);
  exchange.dataLength = request.DataTransferLength;
  exchange.timeoutSeconds = request.TimeOutValue;
  exchange.pathId = request.PathId;
  exchange.targetId = request.TargetId;
  exchange.lun = request.Lun;
  exchange.senseOffset = request.SenseInfoOffset;
  exchange.senseLength = request.SenseInfoLength;
  return true;
}

std::uint32_t CompletePassThrough(const ScsiExchange& exchange, std::uint8_t status,
                                  std::span<const std::uint8_t> sense, void* out) {
  auto* reply = static_cast<std::uint8_t*>(out);
  reply[offsetof(ScsiPassThroughDirect, ScsiStatus)] = status;
  const std::size_t taken = std::min<std::size_t>(sense.size(), exchange.senseLength);
  if (taken != 0) std::memcpy(reply + exchange.senseOffset, sense.data(), taken);
  return kStructureSize;
}

}  // namespace platform
