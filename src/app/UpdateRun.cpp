// The update run: one device and one worker per drive, the optional disc-and-tray check, the
// timed progress display and the end of the run.
#include <string>

#include "app/MovrelMain.h"
#include "app/UpdateRecord.h"
#include "device/AtapiDevice.h"
#include "flash/Parser.h"
#include "platform/Application.h"
#include "platform/System.h"

namespace app {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

namespace {
constexpr int kProgressSteps = 330;
}

void TMovrelMain::cmdUpdateClick(const void*) {
  if (!mainDevice || RunInProgress()) return;
  flashDeviceCount = 0;

  if (options.autoMode == 0) {
    const int selected = cboDrives.ItemIndex();
    const movrel::DriveEntry* e =
        selected < 0 ? nullptr : mainDevice->EntryAt(static_cast<std::uint32_t>(selected));
    if (e == nullptr) return;
    if (e->upToDate == 1 && options.n2oMessage != 0 &&
        application.ShowMessage(MessageKind::Warning, MessageButtons::YesNo,
                                texts::kAlreadyUpdated) != MessageAnswer::Yes) {
      EndProgram(Ending::BeforeUpdate);
      return;
    }
    flashDeviceCount = 1;
    flashDevices[0] = std::make_unique<movrel::AtapiDevice>(system, application, false);
    mainDevice->CopyTargetTo(flashDevices[0].get());
    SelectRunDrive(0, static_cast<std::int16_t>(selected));
  } else {
    for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
      const movrel::DriveEntry* e = mainDevice->EntryAt(i);
      if (e == nullptr || e->valid != 1 || e->allowed != 1) continue;
      auto& device = flashDevices[flashDeviceCount];
      device = std::make_unique<movrel::AtapiDevice>(system, application, false);
      mainDevice->CopyTargetTo(device.get());
      SelectRunDrive(flashDeviceCount, static_cast<std::int16_t>(i));
      ++flashDeviceCount;
    }
  }

  // Every drive of the run counts as running from here on: a worker that ends while a later
  // drive is still being checked (its message boxes let the window's messages through) must
  // not be taken for the last one.
  runningWorkers = flashDeviceCount;
  for (int j = 0; j < flashDeviceCount; ++j) {
    movrel::AtapiDevice& d = *flashDevices[j];
    const movrel::DriveEntry* entry =
        mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
    const BankImage image = package.Image(entry != nullptr ? entry->bankIndex : 0);

    // A bank that is not a usable image goes to the worker empty: it refuses it before it
    // sends any command, and the run ends as failed.
    movrel::FlashRequest request{};
    request.device = &d;
    request.image = image.usable ? image.data : nullptr;
    request.imageLength = image.usable ? image.size : 0;
    request.bootCode = options.bootCode != 0 ? 1 : 0;
    request.owner = this;

    // A bank that will be refused does not move the tray; a drive that stops answering during
    // the check goes to its worker, which fails before any programming command. A drive whose
    // check nobody can finish goes to its worker without an image: it fails before any command.
    if (options.chkDisc == 1 && image.usable && !CheckDiscAndTray(d)) {
      request.image = nullptr;
      request.imageLength = 0;
    }

    // From the first worker's start until the run's last command, the system neither sleeps nor
    // shuts down.
    if (j == 0) {
      system.SetThreadExecutionState(platform::ExecutionState::Continuous |
                                     platform::ExecutionState::SystemRequired);
    }
    workers[j] = new movrel::Parser(application, request,
                                    [this](platform::Thread& sender) { FlashDone(&sender); });
  }

  if (runningWorkers != 0) {
    pbar.SetMin(0);
    pbar.SetMax(kProgressSteps);
    pbar.SetStep(1);
    tmr.SetEnabled(true);
    cmdUpdate.SetEnabled(false);
    cmdClose.SetEnabled(false);
    lblMsg.SetFontColor(clMaroon);
  }
}

// Device j of the run on drive-table entry i, holding the drive's lock for the whole run: no
// other flasher sends the drive a command meanwhile.
void TMovrelMain::SelectRunDrive(int j, std::int16_t i) {
  flashDriveIndex[j] = i;
  flashDevices[j]->SelectDrive(i);
  flashDevices[j]->LockDrive();
}

// Repeats until the drive reports no medium and a closed tray, which takes the person at the
// machine as long as it takes. It ends early when a command of the check gets no answer at all
// (a sense reply is an answer): the drive is gone, and its worker will fail. Before each eject
// the door is unlocked, as a desktop locks it while a disc is in. False when a box that asks the
// person to act finds nobody to answer it: the check can never end, and the drive is not updated.
bool TMovrelMain::CheckDiscAndTray(movrel::AtapiDevice& d) {
  const auto answered = [&d] { return d.LastResult() != movrel::AtapiDevice::kNoAnswer; };
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

void TMovrelMain::FlashDone(const void*) {
  if (--runningWorkers != 0) return;

  struct Finishing {
    bool& flag;
    explicit Finishing(bool& flag) : flag(flag) { flag = true; }
    ~Finishing() { flag = false; }
  } finishing(finishingRun);

  tmr.SetEnabled(false);
  allSucceeded = true;
  UpdateOutcome outcomes[kMaxRunDrives];
  for (int j = 0; j < flashDeviceCount; ++j) {
    const movrel::DriveEntry* entry =
        mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
    outcomes[j] =
        UpdateOutcome::Of(entry != nullptr ? *entry : movrel::DriveEntry{}, *flashDevices[j]);
    if (flashDevices[j]->FlashStatus() != 0) allSucceeded = false;
    flashDevices[j].reset();
    workers[j] = nullptr;
  }

  pbar.SetPosition(pbar.Max());
  lblPercent.SetText(texts::kFullPercent);
  lblMsg.SetText(texts::kInquiry);
  application.ProcessMessages();

  // The drives of the run may still be busy with their flash memory: the identification waits
  // for them as long as the programming command did.
  mainDevice->SetCommandTimeout(movrel::AtapiDevice::kProgrammingCommandTimeout);
  if (options.autoMode == 0) {
    const int selected = cboDrives.ItemIndex();
    mainDevice->SelectDrive(static_cast<std::int16_t>(selected));
    mainDevice->IdentifyCurrent();
    FillDriveList();
    cboDrives.SetItemIndex(selected);
  } else {
    for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
      mainDevice->SelectDrive(static_cast<std::int16_t>(i));
      mainDevice->IdentifyCurrent();
    }
    FillDriveList();
    mainDevice->CloseDrive();
  }
  mainDevice->SetCommandTimeout(movrel::AtapiDevice::kBoundedCommandTimeout);

  // The run's commands are over: the system may sleep again (and restart, below), and each
  // drive's update goes to the event log with the revision it reports now.
  system.SetThreadExecutionState(platform::ExecutionState::Continuous);
  const movrel::DriveEntry* after[kMaxRunDrives] = {};
  for (int j = 0; j < flashDeviceCount; ++j) {
    after[j] = mainDevice->EntryAt(static_cast<std::uint32_t>(flashDriveIndex[j]));
  }
  RecordUpdates(system, package, outcomes, after, flashDeviceCount);

  cmdUpdate.SetEnabled(true);
  cmdClose.SetEnabled(true);

  if (!allSucceeded) {
    application.ShowMessage(MessageKind::Error, MessageButtons::Ok, texts::kFlashFailed);
    EndProgram(Ending::FlashFailed);
    return;
  }

  lblMsg.SetFontColor(clNavy);
  lblMsg.SetText(texts::kDone);
  application.ShowMessage(MessageKind::Information, MessageButtons::Ok, texts::kFlashSucceeded);
  lblMsg.SetText("");
  ShowSelectedDrive();  // the list's change handler, which stays inert until this end returns
  lblPercent.SetText(texts::kZeroPercent);
  pbar.SetPosition(0);

  if (options.reboot != 0) {
    osInfo.RestartSystem();
    EndProgram(Ending::Normal);
  } else if (options.closeAp != 0) {
    EndProgram(Ending::Normal);
  }
}

}  // namespace app
