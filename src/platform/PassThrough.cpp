#include "platform/PassThrough.h"

#include <algorithm>
#include <cstring>

namespace movrel::platform {

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

std::span<const std::uint8_t> FixedFormatOf(std::span<const std::uint8_t> sense,
                                            FixedSense& converted) {
  if (sense.empty()) return {};
  const std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x70 || code == 0x71) return sense;
  if (code != 0x72 && code != 0x73) return {};
  // The header's bytes that the device left out count as 0, as missing fixed-format bytes do.
  const auto at = [&sense](std::size_t index) -> std::uint8_t {
    return index < sense.size() ? sense[index] : 0;
  };
  converted = FixedSense{};
  converted[0] = code == 0x72 ? 0x70 : 0x71;
  converted[2] = at(1) & 0x0F;
  converted[7] = kFixedSenseLength - 8;  // the additional length
  converted[12] = at(2);
  converted[13] = at(3);
  return converted;
}

bool CompletePassThrough(const ScsiExchange& exchange, const ScsiOutcome& outcome, void* out) {
  FixedSense converted;
  const std::span<const std::uint8_t> sense = FixedFormatOf(outcome.sense, converted);
  if (outcome.status != ScsiStatus::Good && sense.empty()) return false;
  auto* reply = static_cast<std::uint8_t*>(out);
  reply[offsetof(ScsiPassThroughDirect, ScsiStatus)] = outcome.status;
  const std::uint32_t transferred = std::min(outcome.transferred, exchange.dataLength);
  std::memcpy(reply + offsetof(ScsiPassThroughDirect, DataTransferLength), &transferred,
              sizeof transferred);
  const std::size_t taken = std::min<std::size_t>(sense.size(), exchange.senseLength);
  if (taken != 0) std::memcpy(reply + exchange.senseOffset, sense.data(), taken);
  return true;
}

bool JudgeCompletedPassThrough(void* out, std::uint32_t outSize) {
  if (outSize < sizeof(ScsiPassThroughDirect)) return false;
  const auto& reply = *static_cast<const ScsiPassThroughDirect*>(out);
  std::span<std::uint8_t> area;
  if (reply.SenseInfoOffset <= outSize &&
      outSize - reply.SenseInfoOffset >= reply.SenseInfoLength) {
    area = {static_cast<std::uint8_t*>(out) + reply.SenseInfoOffset, reply.SenseInfoLength};
  }
  FixedSense converted;
  const std::span<const std::uint8_t> sense = FixedFormatOf(area, converted);
  if (reply.ScsiStatus != ScsiStatus::Good && sense.empty()) return false;
  if (sense.data() != area.data()) {
    std::fill(area.begin(), area.end(), std::uint8_t{0});
    std::copy_n(sense.begin(), std::min(sense.size(), area.size()), area.begin());
  }
  return true;
}

}  // namespace movrel::platform
