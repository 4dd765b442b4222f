#include "app/MovrelMain.h"

#include <cstdio>
#include <cstring>

#include "app/TextCompare.h"
#include "device/AtapiDevice.h"
#include "flash/Parser.h"
#include "package/PackageLayout.h"
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

// The start-up sequence. A failed check ends the program and leaves it at once.
void TMovrelMain::StartUp() {
  // The form and its controls are built by the member initialisers; osInfo is queried.
  detectedDrivesText.clear();
  application.SetTag(32767);
  ShowCaption();
  if (!ReadPackage() || !SystemAllowsUpdates()) return;
  ResetProgress();
  if (!CreateMainDevice()) return;
  ListDrives();
  if (!EligibleDriveFound() || !NoticeAccepted()) return;
  RemoveCloseCommand();
  if (options.autoMode != 0) cmdUpdateClick();
}

// The package's title; a template's placeholder title gives way to the name and version.
void TMovrelMain::ShowCaption() {
  caption = std::string(package.Title());
  const std::string marker(package::layout::kTitleMarker);
  if (TextEquals(caption.substr(0, marker.size()), marker)) {
    char formatted[64];
    std::snprintf(formatted, sizeof formatted, texts::kUntitledCaption,
                  std::string(package.Version()).c_str());
    caption = formatted;
  }
}

// The package's options, once its seal holds. False, the program ended, for a package that no
// longer matches its seal (it is not read any further, and no drive is touched) and for one
// that carries no firmware.
bool TMovrelMain::ReadPackage() {
  if (CheckSeal(package) == SealState::Damaged) return EndBeforeUpdate(texts::kDamaged);
  options = package.Options();
  if (osInfo.IsNT() && options.admin == 1) ShowWarning(texts::kAdministrator);
  if (options.howManyBin == 0) return EndBeforeUpdate(texts::kNoFirmware);
  return true;
}

// A process the system does not let send the firmware commands would start an update that
// every drive refuses: it says so and offers none.
bool TMovrelMain::SystemAllowsUpdates() {
  return system.MayUpdateFirmware() || EndBeforeUpdate(texts::kNeedsRoot);
}

void TMovrelMain::ResetProgress() {
  lblMsg.SetText("");
  lblPercent.SetText(texts::kZeroPercent);
  pbar.SetPosition(0);
}

// The window's device, which finds and identifies the drives.
bool TMovrelMain::CreateMainDevice() {
  mainDevice = std::make_unique<movrel::device::AtapiDevice>(system, application);
  if (mainDevice->BuffersAllocated()) return true;
  mainDevice.reset();
  application.ShowPlainError(texts::kDeviceFailed, texts::kDeviceFailedTitle);
  EndProgram(Ending::BeforeUpdate);
  application.ProcessMessages();
  return false;
}

// The drive list, matched against the package, with the first eligible drive selected and
// shown. A drive the system would not open is missing from the list: the person is told why,
// once.
void TMovrelMain::ListDrives() {
  if (mainDevice->DriveAccessDenied()) {
    application.ShowMessage(MessageKind::Warning, MessageButtons::Ok, texts::kAccessDenied);
  }
  for (std::uint16_t b = 0; b < mainDevice->BusyDriveCount(); ++b) {
    TellDriveBusy(mainDevice->BusyDriveAt(b));
  }
  FillDriveList();
  mainDevice->CloseDrive();
  cboDrivesChange();
}

bool TMovrelMain::EligibleDriveFound() {
  return CountEligibleDrives() != 0 || EndBeforeUpdate(NoMatchText());
}

// With WARNING = 1, the NOTICE; any answer but Yes ends the program.
bool TMovrelMain::NoticeAccepted() {
  if (options.warning != 1 || application.ShowMessage(MessageKind::Warning, MessageButtons::YesNo,
                                                      NoticeText()) == MessageAnswer::Yes) {
    return true;
  }
  EndProgram(Ending::BeforeUpdate);
  return false;
}

// The window cannot be closed from its title bar for the rest of the program's life.
void TMovrelMain::RemoveCloseCommand() {
  closeCommandRemoved = true;
  if (refreshView) refreshView();
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

bool TMovrelMain::EndBeforeUpdate(const std::string& text) {
  application.ShowMessage(MessageKind::Error, MessageButtons::Ok, text);
  EndProgram(Ending::BeforeUpdate);
  return false;
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
