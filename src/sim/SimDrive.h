// One simulated optical drive: the command set the program relies on, with a data buffer, a flash
// memory, a tray, a medium, readiness and unit attention, and the faults scripted on it. It is
// not locked: the machine serialises the commands of all its drives.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/Bay.h"
#include "sim/DriveCommand.h"
#include "sim/DriveState.h"
#include "sim/FaultScript.h"

namespace movrel::sim {

// The sense data of a CHECK CONDITION as the drive sends them: fixed format (response code 0x70,
// the key in byte 2, additional length 10, ASC and ASCQ in bytes 12 and 13), or descriptor format
// (0x72, the key, ASC and ASCQ in bytes 1 to 3, no descriptors).
std::vector<std::uint8_t> SenseBytes(const Answer& answer);

class SimDrive {
 public:
  // `now` is the machine's clock in nanoseconds: the drive powers on then.
  SimDrive(const DriveConfig& config, std::int64_t now);

  const DriveConfig& Config() const { return config; }
  bool Vanished() const { return vanished; }

  // One command: the scripted faults first, then the drive's own answer.
  Answer Execute(const CommandBytes& command, const DataPhase& data, std::int64_t now);

  DriveState State() const;
  void AddFault(const Fault& fault) { faults.Add(fault); }

  // A person at the machine.
  void TakeDiscOut() { medium = false; }
  void InsertDisc(std::int64_t now);
  void PushTrayIn(std::int64_t now);
  void SetEjectLocked(bool locked) { ejectLocked = locked; }

 private:
  Answer Run(const CommandBytes& command, const DataPhase& data, std::int64_t now);
  // The command with one byte of its data phase corrupted on the way.
  Answer RunCorrupted(const CommandBytes& command, const DataPhase& data, std::int64_t now,
                      const Fault& fault);
  // The command with no more than `length` bytes of its data phase moved.
  Answer RunShort(const CommandBytes& command, const DataPhase& data, std::int64_t now,
                  std::uint32_t length);
  Answer TestUnitReady(std::int64_t now) const;
  Answer Inquiry(const CommandBytes& command, const DataPhase& data) const;
  Answer StartStopUnit(const CommandBytes& command, std::int64_t now);
  Answer GetEventStatus(const CommandBytes& command, const DataPhase& data) const;
  Answer ReadFlashId(const CommandBytes& command, const DataPhase& data);
  Answer WriteBuffer(const CommandBytes& command, const DataPhase& data, std::int64_t now);
  Answer ReadBuffer(const CommandBytes& command, const DataPhase& data) const;
  Answer ReceiveProgram(std::uint32_t offset, std::uint8_t control, std::uint32_t length,
                        const DataPhase& data);
  Answer ProgramFlash(std::uint8_t control, std::int64_t now);
  // The tray has closed: the drive becomes ready again and notes a new medium.
  void Loaded(std::int64_t now);
  void StartBecomingReady(std::int64_t now);
  std::optional<SenseData> TakeUnitAttention();

  DriveConfig config;
  FaultScript faults;
  std::string vendor;
  std::string product;
  std::string revision;
  bool medium;
  bool trayOpen;
  bool ejectLocked;
  bool vanished = false;
  std::int64_t readyAt;              // becoming ready until then
  int powerOnAttentions;             // 06/29/00 still to report
  bool mediumChanged = false;        // 06/28/00 to report
  std::vector<std::uint8_t> buffer;  // the data buffer, as far as it was written
  bool imageStarted = false;         // image data has arrived in this update
  std::vector<std::uint8_t> flash;
  bool bootCode = false;
  int flashCount = 0;
  std::optional<ProgramReceipt> lastProgram;
};

}  // namespace movrel::sim
