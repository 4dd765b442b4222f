#include "FlashMachine.h"

#include <cstdio>

namespace movrel::test {

using device::CommandBlock;

std::string TraceLine(const std::string& drive, const CommandBlock& command,
                      const std::string& direction, std::uint32_t length,
                      const std::string& outcome) {
  std::string line = drive;
  for (std::uint8_t byte : command) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  return line + " " + direction + " " + std::to_string(length) + " " + outcome;
}

int OperationCode(const std::string& line) {
  const std::size_t space = line.find(' ');
  if (space == std::string::npos || line[0] == '-' || line.compare(space + 1, 7, "program") == 0)
    return -1;
  return std::stoi(line.substr(space + 1, 2), nullptr, 16);
}

std::vector<std::string> CommandsWithCode(const std::vector<std::string>& trace,
                                          std::uint8_t operationCode) {
  std::vector<std::string> lines;
  for (const std::string& line : trace) {
    if (OperationCode(line) == operationCode) lines.push_back(line);
  }
  return lines;
}

FlashMachine::FlashMachine(const sim::BayConfig& bay) : system(bay), device(system, application) {
  device.SelectDrive(0);
  system.ClearTrace();
}

}  // namespace movrel::test
