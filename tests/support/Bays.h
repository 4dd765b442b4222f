// The simulated machine's drives as the tests describe them: one builder for every suite.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "sim/Bay.h"

namespace movrel::test {

using FlashId = std::array<std::uint8_t, 4>;

// A drive on root "<letter>:\", named after it in the trace, at `address` (port, path, target,
// lun); otherwise as the packaged model comes (DriveConfig's defaults: Dornavex DVDRW KTR-207M
// RV05, its flash part BF D8 00 05, ready, empty).
inline sim::DriveConfig Drive(char letter, std::array<int, 4> address = {0, 0, 0, 0}) {
  sim::DriveConfig drive;
  drive.name = std::string(1, letter);
  drive.root = drive.name + ":\\";
  drive.address = address;
  return drive;
}

// The same drive, identifying itself with these texts.
inline sim::DriveConfig Drive(char letter, std::array<int, 4> address, const std::string& vendor,
                              const std::string& product = "DVDRW KTR-207M",
                              const std::string& revision = "RV05") {
  sim::DriveConfig drive = Drive(letter, address);
  drive.vendor = vendor;
  drive.product = product;
  drive.revision = revision;
  return drive;
}

// The same drive, with another flash part.
inline sim::DriveConfig Drive(char letter, std::array<int, 4> address, FlashId flashId) {
  sim::DriveConfig drive = Drive(letter, address);
  drive.flashId = flashId;
  return drive;
}

inline sim::BayConfig Bay(std::initializer_list<sim::DriveConfig> drives) {
  sim::BayConfig bay;
  bay.drives = drives;
  return bay;
}

}  // namespace movrel::test
