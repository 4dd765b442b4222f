// Helpers the drive's command handlers share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sim/SimDrive.h"

namespace movrel::sim::answers {

inline Answer Good() {
  return Answer{};
}

inline Answer Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  Answer answer;
  answer.status = Answer::Status::CheckCondition;
  answer.sense = {key, asc, ascq};
  return answer;
}

inline Answer InvalidOperation() {
  return Check(0x05, 0x20, 0x00);
}
inline Answer InvalidField() {
  return Check(0x05, 0x24, 0x00);
}

// A 24-bit number, most significant byte first, at `at` of the command.
inline std::uint32_t Read24(const CommandBytes& command, std::size_t at) {
  return std::uint32_t{command[at]} << 16 | std::uint32_t{command[at + 1]} << 8 | command[at + 2];
}

// Sends up to `wanted` bytes of a reply to the host, as far as its data phase takes them.
inline Answer Reply(const std::uint8_t* reply, std::uint32_t wanted, const DataPhase& data) {
  Answer answer;
  if (data.direction == Transfer::In && data.bytes != nullptr) {
    answer.transferred = std::min(wanted, data.length);
    std::memcpy(data.bytes, reply, answer.transferred);
  }
  return answer;
}

// The bytes the host hands over for a data-out command, at most `wanted`.
inline std::uint32_t Received(std::uint32_t wanted, const DataPhase& data) {
  if (data.direction != Transfer::Out || data.bytes == nullptr) return 0;
  return std::min(wanted, data.length);
}

}  // namespace movrel::sim::answers
