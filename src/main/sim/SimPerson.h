// The person at the simulated machine. Asked by a message box, they take the disc out of an open
// tray, close the program that holds a disc in, or push in a tray that does not load by itself.
#pragma once

#include <string>
#include <vector>

namespace movrel::sim {
class SimSystem;
}

namespace movrel::main {

class SimPerson {
 public:
  SimPerson(sim::SimSystem& system, std::vector<std::string> driveNames);

  // Reads a message box's text and does what it asks, on every drive it applies to.
  void Read(const std::string& text);

 private:
  sim::SimSystem& system;
  std::vector<std::string> driveNames;
};

}  // namespace movrel::main
