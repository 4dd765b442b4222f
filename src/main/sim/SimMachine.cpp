#include "main/sim/SimMachine.h"

#include <cstdlib>
#include <fstream>

namespace app {

sim::BayConfig BuiltInBay() {
  sim::BayConfig bay;
  bay.clock = sim::Clock::Mode::Real;
  sim::DriveConfig dornavex;
  dornavex.name = "D";
  dornavex.root = "D:\\";
  dornavex.address = {1, 0, 0, 0};
  dornavex.vendor = "Dornavex";
  dornavex.product = "DVDRW KTR-207M";
  dornavex.revision = "RV05";
  dornavex.flashId = {0xBF, 0xD8, 0x00, 0x05};
  dornavex.notReadySeconds = 2;
  sim::DriveConfig other;
  other.name = "E";
  other.root = "E:\\";
  other.address = {1, 0, 1, 0};
  other.vendor = "Kestrel";
  other.product = "CD-RW KS-5216";
  other.revision = "1.10";
  other.flashId = {0xC2, 0x37, 0x00, 0x01};
  other.notReadySeconds = 2;
  bay.drives = {dornavex, other};
  return bay;
}

std::unique_ptr<SimMachine> SimMachine::FromEnvironment() {
  const char* bayPath = std::getenv("MOVREL_SIM_BAY");
  auto machine = std::make_unique<SimMachine>(
      bayPath != nullptr && *bayPath != '\0' ? sim::LoadBay(bayPath) : BuiltInBay());
  if (const char* trace = std::getenv("MOVREL_SIM_TRACE")) machine->tracePath = trace;
  return machine;
}

namespace {
std::vector<std::string> DriveNames(const sim::BayConfig& bay) {
  std::vector<std::string> names;
  for (const auto& drive : bay.drives) names.push_back(drive.name);
  return names;
}
}  // namespace

SimMachine::SimMachine(const sim::BayConfig& bay) : system(bay), person(system, DriveNames(bay)) {}

SimMachine::~SimMachine() {
  if (tracePath.empty()) return;
  std::ofstream(tracePath, std::ios::trunc);
  system.AppendTrace(tracePath);
}

}  // namespace app
