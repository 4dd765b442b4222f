// The machine's optical drives and the trace of the commands they receive. Both ways in (the
// pass-through and the ASPI manager) reach the drives here; one lock serialises every command and
// every look at a drive, as one bus would.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Lock.h"
#include "sim/SimDrive.h"

namespace movrel::sim {

class DriveBay {
 public:
  DriveBay(const std::vector<DriveConfig>& configs, std::int64_t now);

  std::size_t Count() const { return drives.size(); }
  // A drive's description does not change while the machine runs.
  const DriveConfig& Config(std::size_t drive) const { return drives[drive].Config(); }
  // The drive whose root has this letter (either case).
  std::optional<std::size_t> FindByLetter(char letter) const;
  // The drive the ASPI manager sees at this host adapter, target and LUN.
  std::optional<std::size_t> FindOnAdapter(int adapter, int target, int lun) const;
  bool Vanished(std::size_t drive) const;

  // One command to one drive (or to its responder), recorded in the trace when the drive answers.
  Answer Execute(std::size_t drive, const CommandBytes& command, const DataPhase& data,
                 std::int64_t now);

  // A line of the machine's own between the drives' commands.
  void Note(std::string line);
  std::vector<std::string> Trace() const;
  void ClearTrace();
  // The trace so far, which is cleared: no line recorded meanwhile is lost.
  std::vector<std::string> TakeTrace();

  // Looks at or changes the named drive under the lock; throws std::invalid_argument for a
  // name the machine does not have.
  void WithDrive(const std::string& name, const std::function<void(SimDrive&)>& action);

 private:
  mutable platform::Lock lock;
  std::vector<SimDrive> drives;
  std::vector<std::string> trace;
};

}  // namespace movrel::sim
