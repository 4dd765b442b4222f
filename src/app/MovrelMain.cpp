#include "app/MovrelMain.h"

#include <cstdio>
#include <cstring>

#include "app/TextCompare.h"
#include "device/AtapiDevice.h"
#include "flash/Parser.h"
#include "package/Seal.h"
#include "platform/Application.h"
#include "platform/System.h"

namespace movrel::app {

using package::CheckSeal;
using package::PackageView;
using package::SealState;

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

TMovrelMain::TMovrelMain(platform::System& system, platform::Application& application,
                         PackageView package, ViewRefresh refresh)
    : refreshView(std::move(refresh)),
      system(system),
      application(application),
      package(package),
      osInfo(system) {
  StartUp();
}

TMovrelMain::~TMovrelMain() {
  FormDestroy();
}

void TMovrelMain::StartUp() {
  // The form and its controls are built by the member initialisers; osInfo is queried.
  detectedDrivesText.clear();
  application.SetTag(32767);

  caption = std::string(package.Title());
  if (TextEquals(caption.substr(0, 14), texts::kTitleMarker)) {
    char formatted[64];
    std::snprintf(formatted, sizeof formatted, texts::kUntitledCaption,
                  std::string(package.Version()).c_str());
    caption = formatted;
  }

  // A package that no longer matches its seal is not read any further, and no drive is touched.
  if (CheckSeal(package) == SealState::Damaged) {
    application.ShowMessage(MessageKind::Error, MessageButtons::Ok, texts::kDamaged);
    EndProgram(Ending::BeforeUpdate);
    return;
  }

  options = package.Options();

  if (osInfo.IsNT() && options.admin == 1) ShowWarning(texts::kAdministrator);

  if (options.howManyBin == 0) {
    application.ShowMessage(MessageKind::Error, MessageButtons::Ok, texts::kNoFirmware);
    EndProgram(Ending::BeforeUpdate);
    return;
  }

  // A process the system does not let send the firmware commands would start an update that
  // every drive refuses: it says so and offers none.
  if (!system.MayUpdateFirmware()) {
    application.ShowMessage(MessageKind::Error, MessageButtons::Ok, texts::kNeedsRoot);
    EndProgram(Ending::BeforeUpdate);
    return;
  }

  lblMsg.SetText("");
  lblPercent.SetText(texts::kZeroPercent);
  pbar.SetPosition(0);

  mainDevice = std::make_unique<movrel::device::AtapiDevice>(system, application);
  if (!mainDevice->BuffersAllocated()) {
    mainDevice.reset();
    application.ShowPlainError(texts::kDeviceFailed, texts::kDeviceFailedTitle);
    EndProgram(Ending::BeforeUpdate);
    application.ProcessMessages();
    return;
  }

  // A drive the system would not open is missing from the list: the person is told why, once.
  if (mainDevice->DriveAccessDenied()) {
    application.ShowMessage(MessageKind::Warning, MessageButtons::Ok, texts::kAccessDenied);
  }
  for (std::uint16_t b = 0; b < mainDevice->BusyDriveCount(); ++b) {
    TellDriveBusy(mainDevice->BusyDriveAt(b));
  }
  FillDriveList();
  mainDevice->CloseDrive();
  cboDrivesChange();

  if (CountEligibleDrives() == 0) {
    application.ShowMessage(MessageKind::Error, MessageButtons::Ok, NoMatchText());
    EndProgram(Ending::BeforeUpdate);
    return;
  }

  if (options.warning == 1 && application.ShowMessage(MessageKind::Warning, MessageButtons::YesNo,
                                                      NoticeText()) != MessageAnswer::Yes) {
    EndProgram(Ending::BeforeUpdate);
    return;
  }

  // The window cannot be closed from its title bar for the rest of the program's life.
  closeCommandRemoved = true;
  if (refreshView) refreshView();

  if (options.autoMode != 0) cmdUpdateClick();
}

int TMovrelMain::CountEligibleDrives() {
  int count = 0;
  for (std::uint32_t i = 0; i < mainDevice->DriveCount(); ++i) {
    const movrel::device::DriveEntry* entry = mainDevice->EntryAt(i);
    if (entry != nullptr && entry->valid == 1 && entry->allowed == 1) ++count;
  }
  return count;
}

std::string TMovrelMain::NoMatchText() const {
  return std::string(texts::kNoMatchedDrive) + texts::kOnlyFor + std::string(package.Model()) +
         texts::kDriveSuffix + texts::kDetectedDrives + detectedDrivesText;
}

std::string TMovrelMain::NoticeText() const {
  std::string text = std::string(texts::kOnlySupports) + std::string(package.Model()) +
                     texts::kDriveSuffix + texts::kNoticeHeading +
                     texts::kRemoveDiscCloseApplications + texts::kKeepSystemOn;
  if (options.nbWarning == 1) text += texts::kKeepAdapterAndBattery;
  return text + texts::kContinueQuestion;
}

void TMovrelMain::ShowWarning(const char* text) {
  application.ShowMessage(MessageKind::Warning, MessageButtons::Ok, text);
}

// A warning that asks the person to act on the drive: false when nobody is there to do it.
bool TMovrelMain::AskToAct(const char* text) {
  return application.AskToAct(MessageKind::Warning, text);
}

void TMovrelMain::EndProgram(Ending reason) {
  if (ending == Ending::Running) ending = reason;
  application.Terminate();
}

void TMovrelMain::cmdCloseClick(const void*) {
  EndProgram(Ending::Normal);
}

void TMovrelMain::FormDestroy() {
  mainDevice.reset();
}

}  // namespace movrel::app
