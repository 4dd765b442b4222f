// The simulated machine's optical drives behind the kernel's SCSI target: every command the
// kernel passes on runs on the same drive model, with the same bay description and faults, as in
// the simulated flashers, with the data the kernel hands over; its answer goes back as the status,
// sense data and data the drive gave. The drives' trace, in the simulated machine's format, is
// appended to a file line by line as it grows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "TcmuRing.h"
#include "sim/Bay.h"
#include "sim/Clock.h"
#include "sim/DriveBay.h"

namespace kerneldrive {

// Throws sim::BayError for a description the kernel cannot carry: a fault of kind "timeout" (the
// target does not pass on the host's time-out, so no answer can come after it).
void CheckServable(const movrel::sim::BayConfig& bay);

class DriveServer {
 public:
  // `trace` is an open file descriptor the trace is written to. A programming command (WRITE
  // BUFFER with control 0x80 or 0xA0) is answered `programTime` after it came.
  DriveServer(const movrel::sim::BayConfig& bay, int trace,
              std::chrono::milliseconds programTime = std::chrono::milliseconds(0));

  std::size_t Count() const { return drives.Count(); }
  const std::string& Name(std::size_t drive) const { return drives.Config(drive).name; }

  // One command of the kernel to one drive, answered. The drive's clock is the host's.
  RingReply Execute(std::size_t drive, const RingCommand& command);
  // The drive is gone (its vanish fault has fired): it answers nothing any more.
  bool Vanished(std::size_t drive) const { return drives.Vanished(drive); }
  // The person at the machine takes the disc out of the named drive's tray; throws
  // std::invalid_argument for a name the bay does not have.
  void TakeDiscOut(const std::string& name);
  // Adds to the trace, for each drive, a line of the machine's own with the SHA-256 of what its
  // flash memory took at its last programming: "- flash <drive> sha256 <64 hex digits>".
  void NoteFlashes();

 private:
  void WriteTrace();

  movrel::sim::Clock clock{movrel::sim::Clock::Mode::Real};
  movrel::sim::DriveBay drives;
  std::mutex writing;  // the ring's thread and the main thread both write the trace
  int trace;
  std::chrono::milliseconds programTime;
  std::vector<std::uint8_t> data;  // one command's data phase, kept between commands
};

}  // namespace kerneldrive
