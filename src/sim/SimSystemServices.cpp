// The machine's power management, which the program asks to stay awake during a run, its power
// source, and its event log.
#include <cstdio>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

using platform::Handle;

// The trace shows where among the drives' commands the machine was kept awake and let go.
std::uint32_t SimSystem::SetThreadExecutionState(std::uint32_t esFlags) {
  const bool fails = CallFails("SetThreadExecutionState");
  char line[40];
  std::snprintf(line, sizeof line, "- execution state %08X%s", esFlags, fails ? " refused" : "");
  bay->Note(line);
  platform::Hold hold(lock);
  if (fails) {
    lastError = platform::ErrorCode::NotSupported;
    return 0;
  }
  const std::uint32_t previous = executionState;
  executionState = esFlags;
  return previous;
}

platform::System::PowerSource SimSystem::GetPowerSource() {
  platform::Hold hold(lock);
  return powerSource;
}

void SimSystem::SetPowerSource(PowerSource source) {
  platform::Hold hold(lock);
  powerSource = source;
}

Handle SimSystem::RegisterEventSourceA(const char*, const char* sourceName) {
  platform::Hold hold(lock);
  if (failingCalls.count("RegisterEventSourceA") != 0 || sourceName == nullptr) {
    lastError = platform::ErrorCode::NotSupported;
    return 0;
  }
  const Handle handle = NewHandle();
  eventSources[handle] = sourceName;
  return handle;
}

bool SimSystem::ReportEventA(Handle eventLog, std::uint16_t type, std::uint16_t,
                             std::uint32_t eventId, std::uint16_t numStrings,
                             const char* const* strings) {
  platform::Hold hold(lock);
  const auto source = eventSources.find(eventLog);
  if (source == eventSources.end()) {
    lastError = platform::ErrorCode::InvalidHandle;
    return false;
  }
  if (numStrings != 0 && strings == nullptr) {
    lastError = platform::ErrorCode::InvalidParameter;
    return false;
  }
  std::string line = source->second + ' ' + std::to_string(type) + ' ' + std::to_string(eventId);
  for (std::uint16_t i = 0; i < numStrings; ++i) {
    line += i == 0 ? ' ' : '|';
    line += strings[i] != nullptr ? strings[i] : "";
  }
  eventRecords.push_back(std::move(line));
  return true;
}

bool SimSystem::DeregisterEventSource(Handle eventLog) {
  platform::Hold hold(lock);
  if (eventSources.erase(eventLog) != 0) return true;
  lastError = platform::ErrorCode::InvalidHandle;
  return false;
}

std::vector<std::string> SimSystem::EventRecords() const {
  platform::Hold hold(lock);
  return eventRecords;
}

}  // namespace movrel::sim
