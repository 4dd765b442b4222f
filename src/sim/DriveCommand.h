// One command as a simulated drive takes it: the command bytes, the data phase the host offers,
// and the drive's answer; and the responder, a test's stand-in that may answer in the drive's
// place.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace movrel::sim {

using CommandBytes = std::array<std::uint8_t, 12>;
using SenseData = std::array<std::uint8_t, 3>;  // key, ASC, ASCQ

enum class Transfer { In, Out, None };

// The data phase the host offers: its buffer and its transfer length; and how long the host
// waits for the command (the pass-through request's time-out; 0 through the ASPI manager, whose
// request carries none).
struct DataPhase {
  Transfer direction = Transfer::None;
  std::uint8_t* bytes = nullptr;
  std::uint32_t length = 0;
  std::uint32_t timeoutSeconds = 0;
};

struct Answer {
  enum class Status { Good, CheckCondition, Failed };
  Status status = Status::Good;
  SenseData sense{};
  bool descriptorSense = false;   // the sense data go in descriptor format (0x72), not fixed
  bool late = false;              // the drive answered after the host's time-out
  std::string note;               // a line the drive adds to the trace (the program check)
  std::uint32_t transferred = 0;  // data bytes that moved, either way
};

// Answers a command in the drive's place: true with `answer` filled in (it comes in good), or
// false to leave the command to the drive. A command it answers reaches neither the drive, nor its
// faults, nor the trace. It runs under the lock of the machine's drives, so it may move the clock
// but must not look at the drives.
using Responder =
    std::function<bool(const CommandBytes& command, const DataPhase& data, Answer& answer)>;

}  // namespace movrel::sim
