#include "sim/SimDrive.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "sim/SimDriveAnswers.h"

namespace movrel::sim {

using namespace answers;

namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllowMediumRemoval = 0x1E;
constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kReadBuffer = 0x3C;
constexpr std::uint8_t kGetEventStatus = 0x4A;
constexpr std::uint8_t kReadFlashId = 0xDF;

std::string Padded(const std::string& text, std::size_t width) {
  std::string padded = text.substr(0, width);
  padded.resize(width, ' ');
  return padded;
}

// When a drive that begins to become ready at `now` is ready; a wait beyond what the clock can
// hold never ends.
std::int64_t ReadyAt(std::int64_t now, double seconds) {
  constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
  const double nanoseconds = seconds * 1e9;
  if (!(nanoseconds < 0x1p63)) return kNever;  // every smaller double converts exactly
  if (nanoseconds <= 0) return now;
  const auto wait = static_cast<std::int64_t>(nanoseconds);
  return wait >= kNever - now ? kNever : now + wait;
}

// The byte a corrupt fault flips in a data phase of `length` bytes.
std::uint32_t CorruptedByte(const Fault& fault, std::uint8_t operationCode, std::uint32_t length) {
  constexpr std::uint32_t kInquiryVendorAt = 8;
  constexpr std::uint32_t kMediaStatusAt = 5;
  if (fault.byte) return *fault.byte;
  switch (operationCode) {
    case kInquiry:
      return kInquiryVendorAt;
    case kReadFlashId:
      return 0;
    case kGetEventStatus:
      return kMediaStatusAt;
    default:
      return length / 2;
  }
}

}  // namespace

std::vector<std::uint8_t> SenseBytes(const Answer& answer) {
  const auto [key, asc, ascq] = answer.sense;
  if (answer.descriptorSense) return {0x72, key, asc, ascq, 0, 0, 0, 0};
  std::vector<std::uint8_t> bytes(18, 0);
  bytes[0] = 0x70;
  bytes[2] = key;
  bytes[7] = 10;
  bytes[12] = asc;
  bytes[13] = ascq;
  return bytes;
}

SimDrive::SimDrive(const DriveConfig& config, std::int64_t now)
    : config(config),
      faults(config.faults),
      vendor(Padded(config.vendor, 8)),
      product(Padded(config.product, 16)),
      revision(Padded(config.revision, 4)),
      medium(config.medium),
      trayOpen(config.trayOpen),
      ejectLocked(config.ejectLocked),
      readyAt(ReadyAt(now, config.notReadySeconds)),
      powerOnAttentions(config.unitAttention) {}

Answer SimDrive::Execute(const CommandBytes& command, const DataPhase& data, std::int64_t now) {
  Answer failed;
  failed.status = Answer::Status::Failed;
  if (vanished) return failed;
  const std::optional<Fault> fault = faults.Next(command[0], command[9]);
  if (!fault) return Run(command, data, now);
  switch (fault->kind) {
    case FaultKind::Fail:
      return failed;
    case FaultKind::Vanish:
      vanished = true;
      return failed;
    case FaultKind::Sense:
      return Check(fault->sense[0], fault->sense[1], fault->sense[2]);
    case FaultKind::DescriptorSense: {
      Answer answer = Check(fault->sense[0], fault->sense[1], fault->sense[2]);
      answer.descriptorSense = true;
      return answer;
    }
    case FaultKind::Short: {
      Answer answer = RunShort(command, data, now, fault->length);
      if (!fault->residue && data.direction != Transfer::None) answer.transferred = data.length;
      return answer;
    }
    case FaultKind::Timeout: {
      Answer answer = Run(command, data, now);
      answer.late = true;
      return answer;
    }
    case FaultKind::Corrupt:
      return RunCorrupted(command, data, now, *fault);
  }
  return failed;
}

Answer SimDrive::RunCorrupted(const CommandBytes& command, const DataPhase& data, std::int64_t now,
                              const Fault& fault) {
  if (data.direction == Transfer::Out && data.bytes != nullptr) {
    // What the host sent arrives damaged, so the drive keeps the damage.
    std::vector<std::uint8_t> received(data.bytes, data.bytes + data.length);
    const std::uint32_t at = CorruptedByte(fault, command[0], data.length);
    if (at < data.length) received[at] ^= 0xFF;
    return Run(command, DataPhase{Transfer::Out, received.data(), data.length}, now);
  }
  Answer answer = Run(command, data, now);
  const std::uint32_t at = CorruptedByte(fault, command[0], answer.transferred);
  if (at < answer.transferred) data.bytes[at] ^= 0xFF;
  return answer;
}

Answer SimDrive::RunShort(const CommandBytes& command, const DataPhase& data, std::int64_t now,
                          std::uint32_t length) {
  if (data.direction == Transfer::Out) {
    // The drive takes the first bytes only.
    DataPhase taken = data;
    taken.length = std::min(data.length, length);
    return Run(command, taken, now);
  }
  // The reply is made whole, but only its first bytes reach the host.
  std::vector<std::uint8_t> reply(data.length);
  DataPhase whole = data;
  whole.bytes = reply.data();
  Answer answer = Run(command, whole, now);
  answer.transferred = std::min(answer.transferred, length);
  if (answer.transferred != 0) std::memcpy(data.bytes, reply.data(), answer.transferred);
  return answer;
}

Answer SimDrive::Run(const CommandBytes& command, const DataPhase& data, std::int64_t now) {
  // INQUIRY and GET EVENT STATUS NOTIFICATION never report a unit attention.
  if (command[0] == kInquiry) return Inquiry(command, data);
  if (command[0] == kGetEventStatus) return GetEventStatus(command, data);
  if (const std::optional<SenseData> attention = TakeUnitAttention()) {
    return Check((*attention)[0], (*attention)[1], (*attention)[2]);
  }
  switch (command[0]) {
    case kTestUnitReady:
      return TestUnitReady(now);
    case kStartStopUnit:
      return StartStopUnit(command, now);
    case kPreventAllowMediumRemoval:
      ejectLocked = (command[4] & 0x01) != 0;  // the host's door lock, whoever set it
      return Good();
    case kReadFlashId:
      return ReadFlashId(command, data);
    case kWriteBuffer:
      return WriteBuffer(command, data, now);
    case kReadBuffer:
      return ReadBuffer(command, data);
    default:
      return InvalidOperation();
  }
}

std::optional<SenseData> SimDrive::TakeUnitAttention() {
  if (powerOnAttentions > 0) {
    --powerOnAttentions;
    return SenseData{0x06, 0x29, 0x00};
  }
  if (mediumChanged) {
    mediumChanged = false;
    return SenseData{0x06, 0x28, 0x00};
  }
  return std::nullopt;
}

Answer SimDrive::TestUnitReady(std::int64_t now) const {
  if (!trayOpen && now < readyAt) return Check(0x02, 0x04, 0x01);
  if (trayOpen || !medium) return Check(0x02, 0x3A, 0x00);
  return Good();
}

Answer SimDrive::Inquiry(const CommandBytes& command, const DataPhase& data) const {
  if ((command[1] & 0x03) != 0) return InvalidField();  // no vital product data pages
  std::array<std::uint8_t, 96> reply{};
  reply[0] = 0x05;  // CD/DVD device
  reply[1] = 0x80;  // removable medium
  reply[3] = 0x02;  // response data format
  reply[4] = static_cast<std::uint8_t>(reply.size() - 5);
  std::copy(vendor.begin(), vendor.end(), reply.begin() + 8);
  std::copy(product.begin(), product.end(), reply.begin() + 16);
  std::copy(revision.begin(), revision.end(), reply.begin() + 32);
  return Reply(reply.data(), std::min<std::uint32_t>(command[4], reply.size()), data);
}

Answer SimDrive::StartStopUnit(const CommandBytes& command, std::int64_t now) {
  const std::uint8_t operation = command[4];
  if ((operation & 0xF0) != 0) return InvalidField();  // no power conditions
  const bool loadEject = (operation & 0x02) != 0;
  const bool start = (operation & 0x01) != 0;
  if (!loadEject) return Good();  // the spindle starts or stops
  if (!start) {
    if (ejectLocked) return Check(0x05, 0x53, 0x02);  // medium removal prevented
    trayOpen = true;
    return Good();
  }
  if (trayOpen && config.trayMotor) Loaded(now);
  return Good();
}

Answer SimDrive::GetEventStatus(const CommandBytes& command, const DataPhase& data) const {
  if (!config.eventStatus) return InvalidOperation();
  if ((command[1] & 0x01) == 0) return InvalidField();  // only polled requests
  const std::uint32_t allocation = std::uint32_t{command[7]} << 8 | command[8];
  if ((command[4] & 0x10) == 0) {
    // No class the drive supports was asked for: the header alone, "no event available".
    const std::array<std::uint8_t, 4> header{0x00, 0x02, 0x80, 0x10};
    return Reply(header.data(), std::min<std::uint32_t>(allocation, header.size()), data);
  }
  const std::uint8_t status =
      static_cast<std::uint8_t>((trayOpen ? 0x01 : 0x00) | (medium ? 0x02 : 0x00));
  const std::array<std::uint8_t, 8> reply{0x00, 0x06, 0x04, 0x10, 0x00, status, 0x00, 0x00};
  return Reply(reply.data(), std::min<std::uint32_t>(allocation, reply.size()), data);
}

void SimDrive::Loaded(std::int64_t now) {
  trayOpen = false;
  StartBecomingReady(now);
  if (medium) mediumChanged = true;
}

void SimDrive::StartBecomingReady(std::int64_t now) {
  readyAt = ReadyAt(now, config.notReadySeconds);
}

void SimDrive::InsertDisc(std::int64_t now) {
  medium = true;
  if (!trayOpen) Loaded(now);  // a slot-in: the disc goes straight in
}

void SimDrive::PushTrayIn(std::int64_t now) {
  if (trayOpen) Loaded(now);
}

DriveState SimDrive::State() const {
  DriveState state;
  state.vendor = vendor;
  state.product = product;
  state.revision = revision;
  state.flashId = config.flashId;
  state.medium = medium;
  state.trayOpen = trayOpen;
  state.ejectLocked = ejectLocked;
  state.vanished = vanished;
  state.flash = flash;
  state.bootCode = bootCode;
  state.flashCount = flashCount;
  state.lastProgram = lastProgram;
  return state;
}

}  // namespace movrel::sim
