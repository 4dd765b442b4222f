// The update run: one device and one worker per drive, the optional disc-and-tray check, the
// timed progress display and the end of the run.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/MovrelMain.h"
#include "app/UpdateRecord.h"
#include "device/AtapiDevice.h"
#include "device/DriveLock.h"
#include "flash/Parser.h"
#include "platform/Application.h"
#include "platform/System.h"

namespace movrel::app {

using package::BankImage;

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

namespace {

constexpr int kProgressSteps = 330;

// Set while the end of a run is under way: it lets the window's messages through, and until it
// has returned Update and the list's change handler do nothing.
class Finishing {
 public:
  explicit Finishing(bool& flag) : flag(flag) { flag = true; }
  ~Finishing() { flag = false; }
  Finishing(const Finishing&) = delete;
  Finishing& operator=(const Finishing&) = delete;

 private:
  bool& flag;
};

}  // namespace

void TMovrelMain::cmdUpdateClick(const void*) {
  if (!mainDevice || RunInProgress()) return;
  if (!PowerAllowsRun()) return;
  flashDeviceCount = 0;
  if (options.autoMode != 0) {
    ChooseEligibleDrives();
  } else if (!ChooseSelectedDrive()) {
    return;
  }
  OpenRunDrives();

  // Every drive of the run counts as running from here on: a worker that ends while a later
  // drive is still being checked (its message boxes let the window's messages through) must
  // not be taken for the last one.
  runningWorkers = flashDeviceCount;
  for (int j = 0; j < flashDeviceCount; ++j) StartWorker(j, PrepareRunDrive(j));
  if (runningWorkers != 0) ShowRunProgress();
}

// Manual mode: the selected drive. False when there is none, and, the program ended, when the
// person does not want to update a drive that is already up to date.
bool TMovrelMain::ChooseSelectedDrive() {
  const int selected = cboDrives.ItemIndex();
  const movrel::device::DriveEntry* e =
      selected < 0 ? nullptr : mainDevice->EntryAt(static_cast<std::uint32_t>(selected));
  if (e == nullptr) return false;
  if (e->upToDate == 1 && options.n2oMessage != 0 &&
      application.ShowMessage(MessageKind::Warning, MessageButtons::YesNo,
                              texts::kAlreadyUpdated) != MessageAnswer::Yes) {
    EndProgram(Ending::BeforeUpdate);
    return false;
  }
  flashDriveIndex[flashDeviceCount++] = static_cast<std::int16_t>(selected);
  return true;
}

// Automatic mode: every eligible drive, in the list's order, whatever it says of being up to
// date.
void TMovrelMain::ChooseEligibleDrives() {
  for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
    const movrel::device::DriveEntry* e = mainDevice->EntryAt(i);
    if (e == nullptr || e->valid != 1 || e->allowed != 1) continue;
    flashDriveIndex[flashDeviceCount++] = static_cast<std::int16_t>(i);
  }
}

// The system lets a drive be one device's alone only while no other handle is open on it: the
// window's own is closed before the run's devices open theirs.
void TMovrelMain::OpenRunDrives() {
  mainDevice->CloseDrive();
  for (int j = 0; j < flashDeviceCount; ++j) SelectRunDrive(j, flashDriveIndex[j]);
}

// The request for drive j's worker: its device and its bank's image, once the drive is the
// run's and, with CHKDISC = 1, empty and closed.
movrel::flash::FlashRequest TMovrelMain::PrepareRunDrive(int j) {
  const movrel::device::DriveEntry* entry =
      mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
  const BankImage image = package.Image(entry != nullptr ? entry->bankIndex : 0);

  // A bank that will be refused does not move the tray; a drive that stops answering during
  // the check goes to its worker, which fails before any programming command.
  const bool ours =
      entry != nullptr && TakeRunDrive(j, *entry, options.chkDisc == 1 && image.usable);

  // A bank that is not a usable image, a drive that another flasher is updating, or one whose
  // check nobody can finish, goes to the worker without an image: it refuses it before it sends
  // any command, and the run ends as failed.
  movrel::flash::FlashRequest request{};
  request.device = flashDevices[j].get();
  request.image = image.usable && ours ? image.data : nullptr;
  request.imageLength = image.usable && ours ? image.size : 0;
  request.bootCode = options.bootCode != 0 ? 1 : 0;
  request.owner = this;
  return request;
}

void TMovrelMain::StartWorker(int j, const movrel::flash::FlashRequest& request) {
  // From the first worker's start until the run's last command, the system neither sleeps nor
  // shuts down.
  if (j == 0) {
    system.HoldSystemAwake(texts::kAwakeReason);
  }
  workers[j] = new movrel::flash::Parser(application, request,
                                         [this](platform::Thread& sender) { FlashDone(&sender); });
}

void TMovrelMain::ShowRunProgress() {
  pbar.SetMin(0);
  pbar.SetMax(kProgressSteps);
  pbar.SetStep(1);
  tmr.SetEnabled(true);
  cmdUpdate.SetEnabled(false);
  cmdClose.SetEnabled(false);
  lblMsg.SetFontColor(clMaroon);
}

// Device j of the run, on drive-table entry i, under the drive's lock for the run. A drive that
// another flasher is updating is not even opened: an open makes the kernel send the drive its
// media checks, and on some kernels waits for the other flasher's command to end.
void TMovrelMain::SelectRunDrive(int j, std::int16_t i) {
  const movrel::device::DriveEntry* entry = mainDevice->EntryAt(static_cast<std::uint32_t>(i));
  runDriveBusy[j] = entry != nullptr && runLocks[j].Take(system, *entry) ==
                                            movrel::device::DriveLock::State::HeldElsewhere;
  flashDevices[j] = std::make_unique<movrel::device::AtapiDevice>(system, application, false);
  mainDevice->CopyTargetTo(flashDevices[j].get());
  if (!runDriveBusy[j]) flashDevices[j]->SelectDrive(i);
}

// Whether drive j is the run's to update: never one that another flasher is updating, which is
// sent nothing, and the person is told. The disc-and-tray check moves the tray only of a drive
// the run has to itself: a drive whose disc is mounted, or that another program holds, is sent
// nothing (its worker fails, and the person is told why). False for such drives, and for one
// whose check nobody was there to finish.
bool TMovrelMain::TakeRunDrive(int j, const movrel::device::DriveEntry& entry, bool checkDisc) {
  movrel::device::AtapiDevice& d = *flashDevices[j];
  if (runDriveBusy[j]) {
    TellDriveBusy(entry);
    return false;
  }
  return !checkDisc || (d.TakeExclusiveAccess() && CheckDiscAndTray(d));
}

// Repeats until the drive reports no medium and a closed tray, which takes the person at the
// machine as long as it takes. It ends early when a command of the check gets no answer at all
// (a sense reply is an answer): the drive is gone, and its worker will fail. Before each eject
// the door is unlocked, as a desktop locks it while a disc is in. False when a box that asks the
// person to act finds nobody to answer it: the check can never end, and the drive is not updated.
bool TMovrelMain::CheckDiscAndTray(movrel::device::AtapiDevice& d) {
  const auto answered = [&d] { return d.LastResult() != movrel::device::AtapiDevice::kNoAnswer; };
  lblMsg.SetText(texts::kCheckDisc);
  for (;;) {
    const bool absent = d.MediumAbsent();
    if (!answered()) return true;
    if (absent) {
      const bool open = d.TrayOpen();
      if (!answered() || !open) return true;
    } else {
      lblMsg.SetText(texts::kTrayOut);
      d.AllowMediumRemoval();  // a drive that refuses it may still eject
      if (!answered()) return true;
      d.EjectTray();
      if (!answered()) return true;
      d.WaitUnitReady(120);
      if (!answered()) return true;
      if (!AskToAct(d.SenseIs(2, 0x3A) ? texts::kRemoveDisc : texts::kDiscLocked)) return false;
    }
    lblMsg.SetText(texts::kTrayIn);
    d.LoadTray();
    if (!answered()) return true;
    lblMsg.SetText(texts::kWaitingReady);
    d.WaitUnitReady(120);
    if (!answered()) return true;
    const bool open = d.TrayOpen();
    if (!answered()) return true;
    if (open && !AskToAct(texts::kPushTray)) return false;
  }
}

// Not while another flasher holds the drive: a drive of the run whose lock was held elsewhere,
// or any other drive whose lock is now.
bool TMovrelMain::MayIdentifyAfterRun(std::int16_t i) {
  for (int j = 0; j < flashDeviceCount; ++j) {
    if (flashDriveIndex[j] == i) return !runDriveBusy[j];
  }
  const movrel::device::DriveEntry* entry = mainDevice->EntryAt(static_cast<std::uint32_t>(i));
  return entry != nullptr && !movrel::device::DriveLock::HeldElsewhere(system, *entry);
}

void TMovrelMain::IdentifyAfterRun(std::int16_t i) {
  if (!MayIdentifyAfterRun(i)) return;
  mainDevice->SelectDrive(i);
  mainDevice->IdentifyCurrent();
}

void TMovrelMain::TellAboutDrive(const char* text, const movrel::device::DriveEntry& entry) {
  char drive[32];
  if (entry.driveRoot[0] != '\0') {
    std::snprintf(drive, sizeof drive, "%.2s", entry.driveRoot);
  } else {
    std::snprintf(drive, sizeof drive, "%d-%d-%d-%d", entry.portNumber, entry.pathId,
                  entry.targetId, entry.lun);
  }
  std::string shown(std::strlen(text) + sizeof drive, '\0');
  shown.resize(static_cast<std::size_t>(std::snprintf(shown.data(), shown.size(), text, drive)));
  ShowWarning(shown.c_str());
}

void TMovrelMain::tmrTimer(const void*) {
  if (pbar.Position() == pbar.Max()) {
    lblMsg.SetText(texts::kProgrammingFull);
    return;
  }
  pbar.StepIt();
  const int p = pbar.Position();
  lblPercent.SetText(std::to_string(p * 100 / pbar.Max()) + texts::kPercentSuffix);
  lblMsg.SetText(texts::kProgramming + std::string(static_cast<std::size_t>(p % 10), '.'));
}

// What the end of a run learns of each of its drives.
struct TMovrelMain::RunEnd {
  UpdateOutcome outcomes[kMaxRunDrives];
  const char* inUse[kMaxRunDrives] = {};  // why a drive the system kept in use was not updated
  const movrel::device::DriveEntry* after[kMaxRunDrives] = {};  // identified again
};

void TMovrelMain::FlashDone(const void*) {
  if (--runningWorkers != 0) return;
  const Finishing finishing(finishingRun);
  tmr.SetEnabled(false);
  RunEnd end;
  CollectOutcomes(end);
  ShowIdentifying();
  IdentifyDrivesAgain();
  ReleaseAndRecord(end);
  cmdUpdate.SetEnabled(true);
  cmdClose.SetEnabled(true);
  if (!allSucceeded) {
    ReportFailure(end);
    return;
  }
  ReportSuccess();
  EndAsPackageSays();
}

// Each worker's verdict and what its device saw of the drive; the run's devices go.
void TMovrelMain::CollectOutcomes(RunEnd& end) {
  allSucceeded = true;
  for (int j = 0; j < flashDeviceCount; ++j) {
    const movrel::device::DriveEntry* entry =
        mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
    end.outcomes[j] = UpdateOutcome::Of(entry != nullptr ? *entry : movrel::device::DriveEntry{},
                                        *flashDevices[j]);
    if (flashDevices[j]->FlashStatus() != 0) allSucceeded = false;
    if (flashDevices[j]->DriveInUse()) {
      end.inUse[j] = flashDevices[j]->DriveMounted() ? texts::kDriveMounted : texts::kDriveInUse;
    }
    flashDevices[j].reset();
    workers[j] = nullptr;
  }
}

void TMovrelMain::ShowIdentifying() {
  pbar.SetPosition(pbar.Max());
  lblPercent.SetText(texts::kFullPercent);
  lblMsg.SetText(texts::kInquiry);
  application.ProcessMessages();
}

// The drives of the run may still be busy with their flash memory: the identification waits
// for them as long as the programming command did.
void TMovrelMain::IdentifyDrivesAgain() {
  mainDevice->SetCommandTimeout(movrel::device::AtapiDevice::kProgrammingCommandTimeout);
  if (options.autoMode == 0) {
    // The run's drive, whose revision tells whether it took the update, and the line selected
    // now, which the person may have changed during the run.
    const int selected = cboDrives.ItemIndex();
    IdentifyAfterRun(flashDriveIndex[0]);
    if (selected != flashDriveIndex[0]) IdentifyAfterRun(static_cast<std::int16_t>(selected));
    FillDriveList();
    cboDrives.SetItemIndex(selected);
  } else {
    for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
      IdentifyAfterRun(static_cast<std::int16_t>(i));
    }
    FillDriveList();
    mainDevice->CloseDrive();
  }
  mainDevice->SetCommandTimeout(movrel::device::AtapiDevice::kBoundedCommandTimeout);
}

// The run's commands are over: its drives' locks are let go of, the system may sleep again
// (and restart, below), and each drive's update goes to the event log with the revision it
// reports now.
void TMovrelMain::ReleaseAndRecord(RunEnd& end) {
  for (movrel::device::DriveLock& lock : runLocks) lock.Release();
  system.ReleaseSystemAwake();
  for (int j = 0; j < flashDeviceCount; ++j) {
    end.after[j] = mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
    // A restart comes first where the package asks for one: the drive's revision is only read
    // after it, so nothing is judged here.
    UpdateOutcome& outcome = end.outcomes[j];
    if (options.reboot == 0 && end.after[j] != nullptr &&
        outcome.KeptOldRevision(*end.after[j], package.NewRevision(outcome.bank))) {
      outcome.succeeded = allSucceeded = false;
    }
  }
  RecordUpdates(system, package, end.outcomes, end.after, flashDeviceCount);
}

// Why each drive the system kept in use was not updated, then the failure; the program ends.
void TMovrelMain::ReportFailure(const RunEnd& end) {
  for (int j = 0; j < flashDeviceCount; ++j) {
    if (end.inUse[j] != nullptr && end.after[j] != nullptr)
      TellAboutDrive(end.inUse[j], *end.after[j]);
  }
  application.ShowMessage(MessageKind::Error, MessageButtons::Ok, texts::kFlashFailed);
  EndProgram(Ending::FlashFailed);
}

void TMovrelMain::ReportSuccess() {
  lblMsg.SetFontColor(clNavy);
  lblMsg.SetText(texts::kDone);
  application.ShowMessage(MessageKind::Information, MessageButtons::Ok, texts::kFlashSucceeded);
  lblMsg.SetText("");
  ShowSelectedDrive();  // the list's change handler, which stays inert until this end returns
  lblPercent.SetText(texts::kZeroPercent);
  pbar.SetPosition(0);
}

// After a success: a restart, the end of the program, or the window stays open, idle.
void TMovrelMain::EndAsPackageSays() {
  if (options.reboot != 0) {
    osInfo.RestartSystem();
    EndProgram(Ending::Normal);
  } else if (options.closeAp != 0) {
    EndProgram(Ending::Normal);
  }
}

}  // namespace movrel::app
