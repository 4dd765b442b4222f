// The faults scripted on one drive: each watches one operation code (and optionally one control
// byte), counts the commands it sees and fires on its n-th one, or on every one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Bay.h"

namespace movrel::sim {

class FaultScript {
 public:
  explicit FaultScript(std::vector<Fault> faults);

  void Add(const Fault& fault);
  // Counts the command against every fault that watches it; the first one that fires, if any.
  std::optional<Fault> Next(std::uint8_t operationCode, std::uint8_t control);

 private:
  struct Watch {
    Fault fault;
    int seen = 0;
  };
  std::vector<Watch> watches;
};

}  // namespace movrel::sim
