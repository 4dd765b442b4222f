#include "ui/win32/Win32Application.h"

#include <stdexcept>

namespace movrel::ui {

namespace {

constexpr char kPostedWorkClass[] = "MovrelPostedWork";
// Posted to the hidden window with the application in lParam: run the posted work.
constexpr UINT kRunPosted = WM_APP + 1;

UINT IconOf(platform::MessageKind kind) {
  switch (kind) {
    case platform::MessageKind::Warning:
      return MB_ICONWARNING;
    case platform::MessageKind::Error:
      return MB_ICONERROR;
    case platform::MessageKind::Information:
      return MB_ICONINFORMATION;
  }
  return 0;
}

}  // namespace

Win32Application::Win32Application() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PostedWorkProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kPostedWorkClass;
  RegisterClassA(&windowClass);  // fails harmlessly when an earlier application registered it
  // A hidden top-level window: message-only windows (HWND_MESSAGE) are missing from the older
  // systems.
  postedWorkWindow = CreateWindowExA(0, kPostedWorkClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                     nullptr, windowClass.hInstance, nullptr);
  if (postedWorkWindow == nullptr) throw std::runtime_error("Cannot create the message window");
}

Win32Application::~Win32Application() {
  DestroyWindow(postedWorkWindow);
}

LRESULT CALLBACK Win32Application::PostedWorkProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == kRunPosted) {
    auto* application = reinterpret_cast<Win32Application*>(lParam);
    try {
      application->RunPosted();
    } catch (...) {
      application->Fail(std::current_exception());
      application->WorkPosted();  // the work after the one that failed still runs
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void Win32Application::WorkPosted() {
  PostMessageA(postedWorkWindow, kRunPosted, 0, reinterpret_cast<LPARAM>(this));
}

// Wakes the message loop, which then sees that the application has ended.
void Win32Application::OnTerminate() {
  PostMessageA(postedWorkWindow, WM_NULL, 0, 0);
}

void Win32Application::Dispatch(MSG& message) {
  if (dialogOwner != nullptr && IsDialogMessageA(dialogOwner, &message)) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32Application::Run() {
  MSG message;
  while (!Terminated() && GetMessageA(&message, nullptr, 0, 0) > 0) {
    Dispatch(message);
    EndAfterFailure();
  }
}

void Win32Application::Fail(std::exception_ptr caught) {
  if (!failure) failure = std::move(caught);
  EndAfterFailure();
}

void Win32Application::EndAfterFailure() {
  if (failure && !Terminated() && !(updateRunning && updateRunning())) Terminate();
}

void Win32Application::ProcessToolkitMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) Dispatch(message);
}

platform::MessageAnswer Win32Application::ShowMessage(platform::MessageKind kind,
                                                      platform::MessageButtons buttons,
                                                      const std::string& text) {
  const bool yesNo = buttons == platform::MessageButtons::YesNo;
  const int answer = MessageBoxA(dialogOwner, text.c_str(), platform::MessageTitle(kind),
                                 IconOf(kind) | (yesNo ? MB_YESNO : MB_OK));
  if (!yesNo) return platform::MessageAnswer::Ok;
  return answer == IDYES ? platform::MessageAnswer::Yes : platform::MessageAnswer::No;
}

void Win32Application::ShowPlainError(const std::string& text, const std::string& title) {
  MessageBoxA(dialogOwner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace movrel::ui
