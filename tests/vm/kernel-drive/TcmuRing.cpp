#include "TcmuRing.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

#include "TcmuAbi.h"

namespace kerneldrive {

namespace {

template <class T>
T Load(const std::uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Store(std::uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// The head and the tail are shared with the kernel while it runs: the kernel writes an entry
// before it moves the head, and reads the reply after the tail has moved.
std::atomic_ref<std::uint32_t> Shared(std::uint8_t* at) {
  return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(at));
}

std::size_t CommandLength(const std::uint8_t* cdb, std::size_t available) {
  constexpr std::uint8_t kVariableLength = 0x7F;
  constexpr std::size_t kByGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  if (cdb[0] == kVariableLength) return available < 8 ? available : 8u + cdb[7];
  return kByGroup[cdb[0] >> 5];
}

[[noreturn]] void Broken(const std::string& what) {
  throw std::runtime_error("the command ring is broken: " + what);
}

}  // namespace

Ring::Ring(std::uint8_t* region, std::size_t size) : region(region), size(size) {
  if (size < kTcmu.tailAt + sizeof(std::uint32_t)) Broken("the region is too small");
  const auto version = Load<std::uint16_t>(region + kTcmu.versionAt);
  if (version != kTcmu.version) {
    throw std::runtime_error("the ring's mailbox is of version " + std::to_string(version) +
                             ", not " + std::to_string(kTcmu.version));
  }
  ringOffset = Load<std::uint32_t>(region + kTcmu.ringOffsetAt);
  ringSize = Load<std::uint32_t>(region + kTcmu.ringSizeAt);
  if (ringSize == 0 || At(ringOffset, ringSize) == nullptr) Broken("the ring lies outside");
  readLengthTaken = (Load<std::uint16_t>(region + kTcmu.flagsAt) & kTcmu.capReadLength) != 0;
}

std::uint32_t Ring::Head() const {
  return Shared(region + kTcmu.headAt).load(std::memory_order_acquire);
}

void Ring::SetTail(std::uint32_t tail) {
  Shared(region + kTcmu.tailAt).store(tail, std::memory_order_release);
}

std::uint8_t* Ring::At(std::uint64_t offset, std::uint64_t length) const {
  return offset <= size && length <= size - offset ? region + offset : nullptr;
}

std::size_t Ring::Serve(const RingHandler& handler) {
  std::size_t passed = 0;
  std::uint32_t tail = Shared(region + kTcmu.tailAt).load(std::memory_order_relaxed);
  for (const std::uint32_t head = Head(); tail != head; ++passed) {
    const std::size_t entry = ringOffset + tail;
    if (tail >= ringSize || At(entry, kTcmu.iovAt) == nullptr) Broken("an entry lies outside");
    const auto lengthOp = Load<std::uint32_t>(region + entry + kTcmu.lengthOpAt);
    const std::uint32_t length = lengthOp & ~kTcmu.opMask;
    const std::uint32_t op = lengthOp & kTcmu.opMask;
    if (length == 0 || length > ringSize - tail)
      Broken("an entry of length " + std::to_string(length));
    if (op == kTcmu.opCommand) {
      Complete(entry, handler(Command(entry)));
    } else if (op != kTcmu.opPad) {
      region[entry + kTcmu.userFlagsAt] |= kTcmu.unknownOp;
    }
    tail = (tail + length) % ringSize;
    SetTail(tail);
  }
  return passed;
}

RingCommand Ring::Command(std::size_t entry) const {
  RingCommand command;
  const auto cdbOffset = Load<std::uint64_t>(region + entry + kTcmu.cdbOffsetAt);
  const std::uint8_t* cdb = At(cdbOffset, 1);
  if (cdb == nullptr) Broken("a command block lies outside");
  const std::size_t cdbLength = CommandLength(cdb, size - cdbOffset);
  if (At(cdbOffset, cdbLength) == nullptr) Broken("a command block lies outside");
  command.cdb = std::span<const std::uint8_t>(cdb, cdbLength);

  const auto count = Load<std::uint32_t>(region + entry + kTcmu.iovCountAt);
  if (At(entry + kTcmu.iovAt, std::uint64_t{count} * kTcmu.iovSize) == nullptr) {
    Broken("the data buffers' list lies outside");
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* iov = region + entry + kTcmu.iovAt + i * kTcmu.iovSize;
    // The buffer's address is an offset into the region.
    const auto base = Load<std::uint64_t>(iov + kTcmu.iovBaseAt);
    const auto length = Load<std::uint64_t>(iov + kTcmu.iovLengthAt);
    std::uint8_t* buffer = At(base, length);
    if (buffer == nullptr) Broken("a data buffer lies outside");
    command.buffers.emplace_back(buffer, length);
  }
  return command;
}

void Ring::Complete(std::size_t entry, const RingReply& reply) {
  if (At(entry + kTcmu.senseAt, kTcmu.senseSize) == nullptr) Broken("an entry lies outside");
  region[entry + kTcmu.statusAt] = reply.status;
  std::uint8_t* sense = region + entry + kTcmu.senseAt;
  std::memset(sense, 0, kTcmu.senseSize);
  std::copy_n(reply.sense.begin(), std::min(reply.sense.size(), kTcmu.senseSize), sense);
  if (reply.readLength && readLengthTaken) {
    Store<std::uint32_t>(region + entry + kTcmu.readLengthAt, *reply.readLength);
    region[entry + kTcmu.userFlagsAt] |= kTcmu.readLengthValid;
  }
}

}  // namespace kerneldrive
