#include "app/UpdateRecord.h"

#include <cstdio>
#include <map>
#include <string>

#include "device/DeviceName.h"
#include "package/ImageHash.h"
#include "platform/System.h"

namespace movrel::app {

using package::ImageSha256;
using package::PackageView;

namespace {

// The failing command's "KEY/ASC", when the drive answered it with sense data.
std::string SenseText(const UpdateOutcome& outcome) {
  if (outcome.succeeded || outcome.lastResult != movrel::device::AtapiDevice::kSenseData) return {};
  char text[8];
  std::snprintf(text, sizeof text, "%02X/%02X", outcome.senseKey, outcome.asc);
  return text;
}

}  // namespace

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
  const platform::Handle log =
      system.RegisterEventSourceA(nullptr, platform::UpdateRecord::SourceName);
  if (log == 0) return;
  // Each bank's digest once, however many drives were updated from it.
  std::map<int, std::string> digests;
  for (int j = 0; j < count; ++j) {
    const UpdateOutcome& outcome = outcomes[j];
    namespace field = platform::UpdateRecord;
    std::string strings[field::StringCount];
    strings[field::Device] = outcome.before.driveRoot[0] != '\0'
                                 ? movrel::device::DeviceNameOf(outcome.before.driveRoot).data()
                                 : "";
    strings[field::Vendor] = outcome.before.vendor;
    strings[field::Product] = outcome.before.product;
    strings[field::RevisionBefore] = outcome.before.revision;
    strings[field::RevisionAfter] = after[j] != nullptr ? after[j]->revision : "";
    strings[field::Bank] = std::to_string(outcome.bank);
    auto digest = digests.find(outcome.bank);
    if (digest == digests.end()) {
      digest = digests.emplace(outcome.bank, ImageSha256(package.Image(outcome.bank))).first;
    }
    strings[field::ImageSha256] = digest->second;
    strings[field::Result] = outcome.succeeded ? "success" : "failure";
    strings[field::Sense] = SenseText(outcome);
    const char* texts[field::StringCount];
    for (int i = 0; i < field::StringCount; ++i) texts[i] = strings[i].c_str();
    system.ReportEventA(
        log, outcome.succeeded ? platform::EventType::Information : platform::EventType::Error, 0,
        field::EventId, field::StringCount, texts);
  }
  system.DeregisterEventSource(log);
}

}  // namespace movrel::app
