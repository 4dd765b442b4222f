// The machine's drives as tests and a person at the machine see them, and the trace of their
// commands.
#include <fstream>

#include "sim/DriveBay.h"
#include "sim/SimAspiManager.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

std::vector<std::string> SimSystem::Trace() const {
  return bay->Trace();
}

void SimSystem::ClearTrace() {
  bay->ClearTrace();
}

bool SimSystem::AppendTrace(const std::string& path) const {
  std::ofstream file(path, std::ios::app);
  for (const std::string& line : bay->Trace()) file << line << '\n';
  file.flush();
  return static_cast<bool>(file);
}

DriveState SimSystem::Drive(const std::string& name) const {
  DriveState state;
  bay->WithDrive(name, [&](SimDrive& drive) { state = drive.State(); });
  return state;
}

void SimSystem::TakeDiscOut(const std::string& name) {
  bay->WithDrive(name, [](SimDrive& drive) { drive.TakeDiscOut(); });
}

void SimSystem::InsertDisc(const std::string& name) {
  const std::int64_t now = clock.NowNanoseconds();
  bay->WithDrive(name, [now](SimDrive& drive) { drive.InsertDisc(now); });
}

void SimSystem::PushTrayIn(const std::string& name) {
  const std::int64_t now = clock.NowNanoseconds();
  bay->WithDrive(name, [now](SimDrive& drive) { drive.PushTrayIn(now); });
}

void SimSystem::SetEjectLocked(const std::string& name, bool locked) {
  bay->WithDrive(name, [locked](SimDrive& drive) { drive.SetEjectLocked(locked); });
}

void SimSystem::AddFault(const std::string& name, const Fault& fault) {
  bay->WithDrive(name, [&fault](SimDrive& drive) { drive.AddFault(fault); });
}

int SimSystem::AspiLoadCount() const {
  return aspi->LoadCount();
}

std::size_t SimSystem::AspiPendingRequests() const {
  return aspi->PendingRequests();
}

std::size_t SimSystem::OpenDevices() const {
  platform::Hold hold(lock);
  return devices.size();
}

}  // namespace movrel::sim
