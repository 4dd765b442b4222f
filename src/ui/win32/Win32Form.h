// frmMovrel on Windows: the main window, made with the Windows calls themselves. It lays out the
// controls, shows the state of the window's models after every change and forwards the user's
// actions to TMovrelMain.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "app/Controls.h"
#include "package/PackageBlock.h"

namespace movrel::platform {
class System;
}

namespace movrel::app {
class TMovrelMain;
}  // namespace movrel::app

namespace movrel::ui {

class Win32Application;

// The fonts of the form and its controls.
enum class FormFont { Form, Arial, TahomaBold, VerdanaBold, CourierNew, Count };

class Win32Form {
 public:
  // Creates the window (hidden) and its controls, then the form's logic on them, which runs the
  // start-up checks; the application may be terminated when this returns.
  Win32Form(platform::System& system, Win32Application& application, package::PackageView package);
  ~Win32Form();
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  app::TMovrelMain& Main() { return *main; }
  // The form's window; null once the Close button has destroyed it.
  HWND Window() const { return form.get(); }
  // Shows the window with the focus on the drive list.
  void Show();

 private:
  static constexpr int kLabelCount = 7;
  static constexpr int kFontCount = static_cast<int>(FormFont::Count);

  struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
  };
  struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateFonts();
  void CreateForm();
  HWND CreateChild(const char* windowClass, DWORD style, int left, int top, int width, int height,
                   FormFont font);
  void FitDriveList();
  int Scaled(int pixels) const;
  void OnCommand(HWND control, int code);
  LRESULT LabelColours(HWND window, WPARAM wParam, LPARAM lParam);
  void DrawListLine(const DRAWITEMSTRUCT& item) const;
  void DrawButton(const DRAWITEMSTRUCT& item) const;

  void ShowState();
  void ShowLabel(int index);
  void ShowList();
  void ShowProgress();
  void ShowTimer();
  void ShowShutdownBlock();
  void RemoveCloseCommand();

  Win32Application& application;
  std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter> fonts[kFontCount];
  HWND cboDrives = nullptr;
  HWND pbar = nullptr;
  HWND cmdUpdate = nullptr;
  HWND cmdClose = nullptr;
  HWND labels[kLabelCount] = {};
  app::Color labelColours[kLabelCount] = {};
  std::vector<std::string> listedItems;
  bool timerRunning = false;
  bool closeCommandRemoved = false;
  int pixelsPerInch = 96;        // the system's, read when the fonts are made
  bool shutdownBlocked = false;  // the session's end is refused with a reason while a run lasts
  std::unique_ptr<app::TMovrelMain> main;
  // Declared last: destroyed first, while the logic and the fonts it uses still exist.
  std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer> form;
};

}  // namespace movrel::ui
