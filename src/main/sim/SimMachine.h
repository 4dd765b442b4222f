// The simulated machine that movrel-sim and movrel-console-sim run on. Like hardware, it has its
// own description: the bay file named by MOVREL_SIM_BAY, or a built-in bay of two drives on the
// real clock. Its trace goes to the file named by MOVREL_SIM_TRACE when the program ends.
#pragma once

#include <memory>
#include <string>

#include "main/sim/SimPerson.h"
#include "sim/Bay.h"
#include "sim/SimSystem.h"

namespace movrel::main {

// Two drives: a "Dornavex" "DVDRW KTR-207M" at "RV05" and a drive of another maker, with timings
// a person can follow.
sim::BayConfig BuiltInBay();

class SimMachine {
 public:
  // Throws sim::BayError when the bay file cannot be used.
  static std::unique_ptr<SimMachine> FromEnvironment();
  explicit SimMachine(const sim::BayConfig& bay);
  ~SimMachine();

  sim::SimSystem& System() { return system; }
  // The person at the machine reads every message box and does what it asks.
  void MessageShown(const std::string& text) { person.Read(text); }

 private:
  sim::SimSystem system;
  SimPerson person;
  std::string tracePath;
};

}  // namespace movrel::main
