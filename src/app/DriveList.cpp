// The drive list, the matching of every drive against the package's constraints, and the
// revision panel of the selected drive.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/MovrelMain.h"
#include "app/TextCompare.h"
#include "device/AtapiDevice.h"
#include "platform/ShownText.h"

namespace movrel::app {

using package::ConstraintEntry;

using platform::ShownText;

namespace {

// A bounded copy that stops at a zero byte.
std::string Bounded(std::string_view text, std::size_t limit) {
  std::string copy(text.substr(0, limit));
  return copy.substr(0, copy.find('\0'));
}

std::string Bounded(const char* text, std::size_t limit) {
  return Bounded(std::string_view(text, limit), limit);
}

// The four states of one constraint entry: vendor, product, minimum, maximum.
bool PassesEntry(const ConstraintEntry& entry, const movrel::device::DriveEntry& drive) {
  const std::string minimum = Bounded(entry.Minimum(), 4);
  const std::string maximum = Bounded(entry.Maximum(), 4);
  const std::string vendor = Bounded(entry.Vendor(), 8);
  const std::string product = Bounded(entry.Product(), 16);
  const std::string driveRevision = Bounded(drive.revision, 4);
  if (!vendor.empty() && !TextEquals(Bounded(drive.vendor, 8), vendor)) return false;
  if (!product.empty() && !TextEquals(Bounded(drive.product, 16), product)) return false;
  if (!minimum.empty() && CompareText(driveRevision, minimum) < 0) return false;
  if (!maximum.empty() && CompareText(driveRevision, maximum) > 0) return false;
  return true;
}

}  // namespace

void TMovrelMain::FillDriveList() {
  cboDrives.Clear();
  detectedDrivesText.clear();
  for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
    const movrel::device::DriveEntry* e = mainDevice->EntryAt(i);
    if (e == nullptr) continue;
    // The drive's own bytes are shown safely; matching below reads them as they came.
    const std::string identity = ShownText(Bounded(e->identity, sizeof e->identity));
    const std::string revision = ShownText(Bounded(e->revision, sizeof e->revision));
    char line[96];
    std::snprintf(line, sizeof line, texts::kDriveLine, e->portNumber, e->pathId, e->targetId,
                  e->lun, e->driveRoot, identity.c_str(), revision.c_str());
    detectedDrivesText += line;
    detectedDrivesText += '\n';
    cboDrives.Add(line);
  }

  MatchDrives();

  for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
    const movrel::device::DriveEntry* e = mainDevice->EntryAt(i);
    if (e != nullptr && e->valid != 0 && e->allowed != 0) {
      cboDrives.SetItemIndex(static_cast<int>(i));
      break;
    }
  }
}

void TMovrelMain::MatchDrives() {
  if (!mainDevice) return;
  const int banks = package.BankCount();
  for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
    movrel::device::DriveEntry* e = mainDevice->EntryAt(i);
    if (e == nullptr) continue;  // an entry that is not valid is never listed or allowed
    if (e->valid != 1 || package.NoFirmware()) {
      e->allowed = 0;
      continue;
    }
    e->allowed = 0;
    for (int b = 0; b < banks; ++b) {
      for (int k = 0; k < 8; ++k) {
        const ConstraintEntry entry = package.Constraint(b, k);
        if ((k == 0 && entry.IsPlaceholder()) || PassesEntry(entry, *e)) {
          e->allowed = 1;
          break;
        }
      }
      if (e->allowed == 1) {
        e->bankIndex = static_cast<std::uint16_t>(b);
        const std::string newRevision = Bounded(package.NewRevision(b), 4);
        e->upToDate = 0;
        if (CompareText(Bounded(e->revision, 4), newRevision) >= 0 && options.n2oMessage == 1) {
          e->upToDate = 1;
        }
        break;
      }
    }
  }
}

void TMovrelMain::cboDrivesChange(const void*) {
  if (finishingRun) return;
  ShowSelectedDrive();
}

void TMovrelMain::ShowSelectedDrive() {
  if (!mainDevice || cboDrives.ItemIndex() < 0) return;
  const auto index = static_cast<std::uint32_t>(cboDrives.ItemIndex());
  const movrel::device::DriveEntry* e = mainDevice->EntryAt(index);
  if (e == nullptr) return;

  if (e->allowed == 0) {
    cmdUpdate.SetEnabled(false);
    lblNewFW.SetVisible(false);
    lblOldFW.SetVisible(false);
    lblUpdateMsg.SetText(texts::kNotAllowed);
    lblUpdateMsg.SetFontColor(clMaroon);
    return;
  }
  // A second run while one is in progress would corrupt the run state: Update stays off while
  // workers run (and a click does nothing until the end of the run has returned).
  cmdUpdate.SetEnabled(runningWorkers == 0);
  lblNewFW.SetVisible(true);
  lblOldFW.SetVisible(true);
  lblUpdateMsg.SetText(texts::kWillBeUpdated);
  lblUpdateMsg.SetFontColor(clBlack);
  lblTo.SetFontColor(clBlack);
  lblNewFW.SetText(std::string(package.NewRevision(e->bankIndex)));
  lblOldFW.SetText(ShownText(Bounded(e->revision, 4)));
  // While workers run the window's device opens no drive: a handle open on a drive keeps the
  // run's device from locking its volume. The end of the run selects the drive again.
  if (runningWorkers == 0) mainDevice->SelectDrive(static_cast<std::int16_t>(index));
}

}  // namespace movrel::app
