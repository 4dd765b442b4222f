// The bay description over arbitrary text: a description is either refused with a BayError or
// read within the limits of what it describes, and the simulated machine can be built from it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Require.h"
#include "sim/Bay.h"
#include "sim/SimSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  movrel::sim::BayConfig bay;
  try {
    bay = movrel::sim::ParseBay(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const movrel::sim::BayError&) {
    return 0;
  }
  const movrel::sim::SimSystem system(bay);
  for (const movrel::sim::DriveConfig& drive : bay.drives) {
    fuzz::Require(
        drive.vendor.size() <= 8 && drive.product.size() <= 16 && drive.revision.size() <= 4,
        "an identity text is longer than its INQUIRY field");
    const movrel::sim::DriveState state = system.Drive(drive.name);
    fuzz::Require(
        state.vendor.size() == 8 && state.product.size() == 16 && state.revision.size() == 4,
        "the drive's INQUIRY texts are not 8, 16 and 4 characters");
  }
  return 0;
}
