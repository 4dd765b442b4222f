// The machine's power management, which the program asks to stay awake during a run, its power
// source, and its event log.
#include <utility>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

using platform::Handle;

// The trace shows where among the drives' commands the machine was kept awake and let go.
bool SimSystem::HoldSystemAwake(const char*) {
  const bool fails = CallFails("HoldSystemAwake");
  bay->Note(fails ? "- hold awake refused" : "- hold awake");
  platform::Hold hold(lock);
  if (fails) {
    lastError = platform::ErrorCode::NotSupported;
    return false;
  }
  keptAwake = true;
  return true;
}

bool SimSystem::ReleaseSystemAwake() {
  bay->Note("- release awake");
  platform::Hold hold(lock);
  return std::exchange(keptAwake, false);
}

platform::System::PowerSource SimSystem::GetPowerSource() {
  platform::Hold hold(lock);
  return powerSource;
}

void SimSystem::SetPowerSource(PowerSource source) {
  platform::Hold hold(lock);
  powerSource = source;
}

bool SimSystem::RecordUpdates(const platform::UpdateRecordFields* records, std::size_t count) {
  platform::Hold hold(lock);
  if (failingCalls.count("RecordUpdates") != 0) {
    lastError = platform::ErrorCode::NotSupported;
    return false;
  }
  for (std::size_t j = 0; j < count; ++j) {
    const char letter = records[j].driveLetter;
    const std::string device = letter != '\0' ? std::string("\\\\.\\") + letter + ':' : "";
    std::string line = platform::kRecordSource;
    char separator = ' ';
    for (const platform::UpdateRecordText& field :
         platform::UpdateRecordTexts(records[j], device)) {
      line += std::exchange(separator, '|');
      line += field.text;
    }
    eventRecords.push_back(std::move(line));
  }
  return true;
}

std::vector<std::string> SimSystem::EventRecords() const {
  platform::Hold hold(lock);
  return eventRecords;
}

}  // namespace movrel::sim
