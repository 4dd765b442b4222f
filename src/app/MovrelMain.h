// The main window's behaviour, free of any toolkit: start-up checks, the drive list and its
// matching against the package, the update run and its progress display. A view (the Qt form,
// the terminal) shows the controls and calls the handlers.
#pragma once

#include <memory>
#include <string>

#include "app/Controls.h"
#include "app/WindowTexts.h"
#include "device/DriveLock.h"
#include "package/PackageBlock.h"
#include "platform/OSInfo.h"

namespace movrel::platform {
class Application;
class System;
}  // namespace movrel::platform

namespace movrel::flash {
class Parser;
struct FlashRequest;
}  // namespace movrel::flash

namespace movrel::device {
class AtapiDevice;
struct DriveEntry;
}  // namespace movrel::device

namespace movrel::app {

// How the program ended, for the exit status of a terminal view.
enum class Ending {
  Running = -1,
  Normal = 0,        // Close, or the end after a successful run
  FlashFailed = 1,   // after "Unable to flash firmware. ..."
  BeforeUpdate = 2,  // a failed start-up check, No to a question, or a machine on battery
};

class TMovrelMain {
 public:
  static constexpr int kMaxRunDrives = 16;

  // Builds the form and runs the start-up sequence; a failed check terminates the application.
  // The view's refresh, run after any control's state changed, is bound before start-up runs.
  TMovrelMain(platform::System& system, platform::Application& application,
              package::PackageView package, ViewRefresh refresh = {});
  ~TMovrelMain();
  TMovrelMain(const TMovrelMain&) = delete;
  TMovrelMain& operator=(const TMovrelMain&) = delete;

  // Handlers, as the controls call them. The sender is not used.
  void cboDrivesChange(const void* sender = nullptr);
  void cmdUpdateClick(const void* sender = nullptr);
  void cmdCloseClick(const void* sender = nullptr);
  void tmrTimer(const void* sender = nullptr);
  void FlashDone(const void* sender = nullptr);
  void FormDestroy();

  const std::string& Caption() const { return caption; }
  bool CloseCommandRemoved() const { return closeCommandRemoved; }
  // From the preparation of the drives until the end of the run has returned.
  bool RunInProgress() const { return runningWorkers != 0 || finishingRun; }
  Ending GetEnding() const { return ending; }
  // The process's exit status for how the program ended: 0 while it runs or after a normal end,
  // 1 after a failed update, 2 when it ended before any update.
  int ExitStatus() const { return ending == Ending::Running ? 0 : static_cast<int>(ending); }
  movrel::device::AtapiDevice* MainDevice() const { return mainDevice.get(); }

 private:
  // Declared before the controls, which keep its address: it is bound before any of them.
  ViewRefresh refreshView;

 public:
  // The controls, in tab order where they have one. Public, as a form's controls are: the view
  // reads them and the handlers' callers set the list's selection.
  Label Label1{&refreshView, texts::kSelectDrive};
  ComboBox cboDrives{&refreshView};
  Button cmdUpdate{&refreshView, texts::kUpdate};
  Button cmdClose{&refreshView, texts::kClose};
  Label lblUpdateMsg{&refreshView, texts::kInitialUpdateMsg};
  Label lblOldFW{&refreshView, texts::kRevisionPlaceholder, clNavy};
  Label lblTo{&refreshView, texts::kTo};
  Label lblNewFW{&refreshView, texts::kRevisionPlaceholder, clNavy};
  Label lblMsg{&refreshView, texts::kInitialMessage, clNavy};
  ProgressBar pbar{&refreshView};
  Label lblPercent{&refreshView, texts::kInitialPercent, clNavy};
  Timer tmr{&refreshView};

 private:
  // Start-up, step by step; a step that returns false has ended the program.
  void StartUp();
  void ShowCaption();
  bool ReadPackage();
  bool SystemAllowsUpdates();
  void ResetProgress();
  bool CreateMainDevice();
  void ListDrives();
  bool EligibleDriveFound();
  bool NoticeAccepted();
  void RemoveCloseCommand();

  void FillDriveList();
  void MatchDrives();
  void ShowSelectedDrive();
  // The start of an update run, step by step.
  bool ChooseSelectedDrive();
  void ChooseEligibleDrives();
  void OpenRunDrives();
  movrel::flash::FlashRequest PrepareRunDrive(int j);
  void StartWorker(int j, const movrel::flash::FlashRequest& request);
  void ShowRunProgress();
  void SelectRunDrive(int j, std::int16_t i);
  bool TakeRunDrive(int j, const movrel::device::DriveEntry& entry, bool checkDisc);
  // False, after telling the person and ending the program, when the machine runs on battery.
  bool PowerAllowsRun();
  bool CheckDiscAndTray(movrel::device::AtapiDevice& device);
  // The end of an update run, step by step.
  struct RunEnd;
  void CollectOutcomes(RunEnd& end);
  void ShowIdentifying();
  void IdentifyDrivesAgain();
  void ReleaseAndRecord(RunEnd& end);
  void ReportFailure(const RunEnd& end);
  void ReportSuccess();
  void EndAsPackageSays();
  bool MayIdentifyAfterRun(std::int16_t i);
  void IdentifyAfterRun(std::int16_t i);
  // One box naming the drive: `text` has a %s for it.
  void TellAboutDrive(const char* text, const movrel::device::DriveEntry& entry);
  void TellDriveBusy(const movrel::device::DriveEntry& entry) {
    TellAboutDrive(texts::kDriveBusy, entry);
  }
  int CountEligibleDrives();
  std::string NoMatchText() const;
  std::string NoticeText() const;
  // Shows the error, ends the program before any update, and returns false.
  bool EndBeforeUpdate(const std::string& text);
  void EndProgram(Ending reason);
  void ShowWarning(const char* text);
  bool AskToAct(const char* text);

  platform::System& system;
  platform::Application& application;
  package::PackageView package;
  package::PackageOptions options;
  std::string caption = texts::kInitialCaption;
  bool closeCommandRemoved = false;
  Ending ending = Ending::Running;

  std::unique_ptr<movrel::device::AtapiDevice> mainDevice;
  std::unique_ptr<movrel::device::AtapiDevice> flashDevices[kMaxRunDrives];
  movrel::flash::Parser* workers[kMaxRunDrives] = {};
  // The drive-table index each device of the run was given, that drive's lock, and whether
  // another flasher held it.
  std::int16_t flashDriveIndex[kMaxRunDrives] = {};
  movrel::device::DriveLock runLocks[kMaxRunDrives];
  bool runDriveBusy[kMaxRunDrives] = {};
  int flashDeviceCount = 0;
  int runningWorkers = 0;
  // The end of a run lets the window's messages through; until it has returned, Update and the
  // list's change handler do nothing.
  bool finishingRun = false;
  bool allSucceeded = false;
  platform::OSInfo osInfo;
  std::string detectedDrivesText;
};

}  // namespace movrel::app
