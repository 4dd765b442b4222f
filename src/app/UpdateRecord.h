// The record of each drive's update in the system's event log, with what a request for support
// asks for: the device, the drive's texts before and its revision after, the bank, the image's
// SHA-256, the result and the sense of the failing command.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/AtapiDevice.h"
#include "package/PackageBlock.h"

namespace movrel::platform {
class System;
}  // namespace movrel::platform

namespace movrel::app {

// What a run's device tells of its drive's update once its worker has ended.
struct UpdateOutcome {
  movrel::device::DriveEntry before{};  // the drive's entry as the run started
  std::uint16_t bank = 0;
  bool succeeded = false;
  std::uint8_t lastResult = 0;  // the last command's outcome, sense key and code
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;

  static UpdateOutcome Of(const movrel::device::DriveEntry& entry,
                          movrel::device::AtapiDevice& device);
  // Whether the drive, identified again as `after`, took an update it was told it took: one that
  // still reports the revision it had, where the bank installs another, kept its old firmware
  // (the drive may refuse an image without saying so). A changed revision counts, even if it is
  // not the bank's own.
  bool KeptOldRevision(const movrel::device::DriveEntry& after, std::string_view newRevision) const;
};

// One record per outcome, with the revision that `after` (the drive's entry identified again)
// reports. Nothing is recorded where the system keeps no event log.
void RecordUpdates(platform::System& system, const package::PackageView& package,
                   const UpdateOutcome* outcomes, const movrel::device::DriveEntry* const* after,
                   int count);

}  // namespace movrel::app
