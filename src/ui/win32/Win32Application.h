// The application object bound to Windows. Work posted from other threads reaches the window's
// thread as a message to the application's own hidden window, which every message loop
// delivers (the modal loops of message boxes too); message boxes are MessageBoxA boxes owned by
// the form; the message loop runs until the application is terminated.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "platform/Application.h"

namespace movrel::ui {

class Win32Application : public platform::Application {
 public:
  // Creates the window that runs posted work, in the constructing thread: the window's thread.
  Win32Application();
  ~Win32Application() override;

  // The owner of the message boxes and the window whose keys go through dialog navigation (Tab,
  // mnemonics); none before the form exists and after it is gone.
  void SetDialogOwner(HWND owner) { dialogOwner = owner; }

  // The message loop: dispatches the thread's messages until the application is terminated.
  void Run();

  // An exception that a window procedure or posted work caught: it must not cross the system's
  // frames (the toolchain's unwinder cannot pass them, and the process would end at once, in the
  // middle of other drives' updates). The first one is kept, and the application is terminated
  // as soon as no update is running; the process entry then reports it.
  void Fail(std::exception_ptr failure);
  std::exception_ptr Failure() const { return failure; }
  // Whether an update is running, which a failure must not end; none until set.
  void SetUpdateRunning(std::function<bool()> running) { updateRunning = std::move(running); }

  platform::MessageAnswer ShowMessage(platform::MessageKind kind, platform::MessageButtons buttons,
                                      const std::string& text) override;
  void ShowPlainError(const std::string& text, const std::string& title) override;

 protected:
  void WorkPosted() override;
  void ProcessToolkitMessages() override;
  void OnTerminate() override;

 private:
  static LRESULT CALLBACK PostedWorkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Dispatch(MSG& message);
  void EndAfterFailure();

  HWND dialogOwner = nullptr;
  HWND postedWorkWindow = nullptr;
  std::exception_ptr failure;
  std::function<bool()> updateRunning;
};

}  // namespace movrel::ui
