#include "main/sim/SimMachine.h"

#include <cstdlib>
#include <fstream>

namespace movrel::main {

sim::BayConfig BuiltInBay() {
  sim::BayConfig bay;
  bay.clock = sim::Clock::Mode::Real;
  // Each text is constructed, not assigned: GCC 12's optimiser warns falsely (-Wrestrict) about
  // a short literal assigned to a string.
  const sim::DriveConfig dornavex{.name = "D",
                                  .root = "D:\\",
                                  .address = {1, 0, 0, 0},
                                  .vendor = "Dornavex",
                                  .product = "DVDRW KTR-207M",
                                  .revision = "RV05",
                                  .flashId = {0xBF, 0xD8, 0x00, 0x05},
                                  .notReadySeconds = 2,
                                  .faults = {},
                                  .responder = {}};
  const sim::DriveConfig other{.name = "E",
                               .root = "E:\\",
                               .address = {1, 0, 1, 0},
                               .vendor = "Kestrel",
                               .product = "CD-RW KS-5216",
                               .revision = "1.10",
                               .flashId = {0xC2, 0x37, 0x00, 0x01},
                               .notReadySeconds = 2,
                               .faults = {},
                               .responder = {}};
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

}  // namespace movrel::main
