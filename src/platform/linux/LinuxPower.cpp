// Where the machine takes its power from: the kernel's power supply class.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"

namespace movrel::platform {

namespace {

// The first line of a supply's attribute; empty when it cannot be read.
std::string Attribute(const std::filesystem::path& supply, const char* name) {
  std::ifstream file(supply / name);
  std::string line;
  std::getline(file, line);
  return line;
}

}  // namespace

System::PowerSource LinuxSystem::GetPowerSource() {
  bool discharging = false;
  std::error_code error;
  for (std::filesystem::directory_iterator supplies(kernel->PowerSupplyClass(), error), end;
       !error && supplies != end; supplies.increment(error)) {
    const std::filesystem::path& supply = supplies->path();
    if (Attribute(supply, "scope") == "Device") continue;
    if (Attribute(supply, "type") == "Battery") {
      discharging = discharging || Attribute(supply, "status") == "Discharging";
    } else if (const std::string online = Attribute(supply, "online");
               !online.empty() && online != "0") {
      return PowerSource::Mains;
    }
  }
  return discharging ? PowerSource::Battery : PowerSource::Unknown;
}

}  // namespace movrel::platform
