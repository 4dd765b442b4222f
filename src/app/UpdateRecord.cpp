#include "app/UpdateRecord.h"

#include <map>
#include <string>
#include <vector>

#include "package/ImageHash.h"
#include "platform/System.h"

namespace movrel::app {

using package::ImageSha256;
using package::PackageView;

UpdateOutcome UpdateOutcome::Of(const movrel::device::DriveEntry& entry,
                                movrel::device::AtapiDevice& device) {
  UpdateOutcome outcome;
  outcome.before = entry;
  outcome.bank = entry.bankIndex;
  outcome.succeeded = device.FlashStatus() == 0;
  outcome.lastResult = device.LastResult();
  outcome.senseKey = device.SenseKey();
  outcome.asc = device.Asc();
  return outcome;
}

bool UpdateOutcome::KeptOldRevision(const movrel::device::DriveEntry& after,
                                    std::string_view newRevision) const {
  constexpr std::size_t kRevisionLength = 4;
  const auto revision = [](std::string_view text) {
    text = text.substr(0, kRevisionLength);
    return text.substr(0, text.find('\0'));
  };
  const std::string_view old = revision({before.revision, kRevisionLength});
  return succeeded && revision({after.revision, kRevisionLength}) == old &&
         revision(newRevision) != old;
}

void RecordUpdates(platform::System& system, const PackageView& package,
                   const UpdateOutcome* outcomes, const movrel::device::DriveEntry* const* after,
                   int count) {
  if (count <= 0) return;
  // Each bank's digest once, however many drives were updated from it.
  std::map<int, std::string> digests;
  std::vector<platform::UpdateRecordFields> records(static_cast<std::size_t>(count));
  for (int j = 0; j < count; ++j) {
    const UpdateOutcome& outcome = outcomes[j];
    platform::UpdateRecordFields& record = records[static_cast<std::size_t>(j)];
    record.driveLetter = outcome.before.driveRoot[0];
    record.vendor = outcome.before.vendor;
    record.product = outcome.before.product;
    record.revisionBefore = outcome.before.revision;
    record.revisionAfter = after[j] != nullptr ? after[j]->revision : "";
    record.bank = outcome.bank;
    auto digest = digests.find(outcome.bank);
    if (digest == digests.end()) {
      digest = digests.emplace(outcome.bank, ImageSha256(package.Image(outcome.bank))).first;
    }
    record.imageSha256 = digest->second;
    record.succeeded = outcome.succeeded;
    record.senseKnown = outcome.lastResult == movrel::device::AtapiDevice::kSenseData;
    record.senseKey = outcome.senseKey;
    record.asc = outcome.asc;
  }
  system.RecordUpdates(records.data(), records.size());
}

}  // namespace movrel::app
