// The application object bound to Windows. Work posted from other threads reaches the window's
// thread as a message to the application's own hidden window, which every message loop
// delivers (the modal loops of message boxes too); message boxes are MessageBoxA boxes owned by
// the form; the message loop runs until the application is terminated.
#pragma once

#include <windows.h>

#include "platform/Application.h"

namespace app {

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

  HWND dialogOwner = nullptr;
  HWND postedWorkWindow = nullptr;
};

}  // namespace app
