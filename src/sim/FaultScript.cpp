#include "sim/FaultScript.h"

namespace movrel::sim {

FaultScript::FaultScript(std::vector<Fault> faults) {
  for (const Fault& fault : faults) Add(fault);
}

void FaultScript::Add(const Fault& fault) {
  watches.push_back(Watch{fault, 0});
}

std::optional<Fault> FaultScript::Next(std::uint8_t operationCode, std::uint8_t control) {
  std::optional<Fault> fired;
  for (Watch& watch : watches) {
    if (watch.fault.command != operationCode) continue;
    if (watch.fault.control && *watch.fault.control != control) continue;
    ++watch.seen;
    const bool fires = watch.fault.occurrence == 0 || watch.fault.occurrence == watch.seen;
    if (fires && !fired) fired = watch.fault;
  }
  return fired;
}

}  // namespace movrel::sim
