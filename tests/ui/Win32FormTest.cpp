// The Windows window on a simulated machine: its controls (class, bounds, text, font, colour), the
// title bar without minimise, maximise and Close, the message boxes as a person answers them, and
// a whole update run through the message loop, the workers' end reaching the window's thread.
#include <gtest/gtest.h>

// <windows.h> first: the headers after it build on it.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "sim/SimSystem.h"
#include "ui/win32/Win32Application.h"
#include "ui/win32/Win32Form.h"
#include "ui/win32/Win32Main.h"

namespace movrel::test {

namespace {

using Answer = platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

// --- Message boxes, answered through a hook on this thread's windows --------------------------

struct SeenBox {
  std::string title;
  std::string text;
  HICON icon;
  HWND owner;
  std::string buttons;  // "OK", "Yes No"
};

std::vector<SeenBox> seenBoxes;
int yesNoAnswer = IDYES;

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ButtonsOf(HWND box) {
  std::string buttons;
  for (const auto& [id, name] : {std::pair{IDOK, "OK"}, {IDYES, "Yes"}, {IDNO, "No"}}) {
    HWND button = GetDlgItem(box, id);
    if (button && (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE)) {
      buttons += (buttons.empty() ? "" : " ") + std::string(name);
    }
  }
  return buttons;
}

HICON IconOf(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    }
  }
  return nullptr;
}

// Notes each box when it is first activated and presses a button: OK, or the Yes/No answer.
LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = reinterpret_cast<HWND>(wParam);
  char windowClass[16] = {};
  if (code == HCBT_ACTIVATE && GetClassNameA(box, windowClass, sizeof windowClass) &&
      std::string(windowClass) == "#32770" && GetPropA(box, "seen") == nullptr) {
    SetPropA(box, "seen", box);
    seenBoxes.push_back({TextOf(box), TextOf(GetDlgItem(box, 0xFFFF)), IconOf(box),
                         GetWindow(box, GW_OWNER), ButtonsOf(box)});
    PostMessageA(box, WM_COMMAND, seenBoxes.back().buttons == "OK" ? IDOK : yesNoAnswer, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// --- Reading the window -----------------------------------------------------------------------

// The child whose client bounds start at (left, top).
HWND ChildAt(HWND form, int left, int top) {
  for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT bounds;
    GetWindowRect(child, &bounds);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&bounds), 2);
    if (bounds.left == left && bounds.top == top) return child;
  }
  return nullptr;
}

SIZE SizeOf(HWND window) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

// "Tahoma 8 bold": face, points and weight of the window's font.
std::string FontOf(HWND window) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
  HDC screen = GetDC(nullptr);
  const int points = MulDiv(-font.lfHeight, 72, GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  return font.lfFaceName + (" " + std::to_string(points)) +
         (font.lfWeight >= FW_BOLD ? " bold" : "");
}

// The size of the window's text in its font, on a single line.
SIZE TextExtent(HWND window) {
  HDC dc = GetDC(window);
  SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
  const std::string text = TextOf(window);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  ReleaseDC(window, dc);
  return {size.cx, metrics.tmHeight};
}

// The colour in which the form has a static control draw its text.
COLORREF TextColourOf(HWND form, HWND control) {
  HDC dc = CreateCompatibleDC(nullptr);
  SendMessageA(form, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(control));
  const COLORREF colour = GetTextColor(dc);
  DeleteDC(dc);
  return colour;
}

class Win32Form : public ::testing::Test {
 protected:
  sim::BayConfig bay;
  ui::Win32Application application;
  HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
  std::unique_ptr<sim::SimSystem> system;
  Package package;
  std::unique_ptr<ui::Win32Form> form;

  Win32Form() {
    bay.drives = {Drive('D', {0, 0, 0, 0}),
                  Drive('E', {1, 0, 0, 0}, "Othermak", "CD-ROM X", "1.00")};
    seenBoxes.clear();
    yesNoAnswer = IDYES;
  }
  ~Win32Form() override {
    form.reset();
    UnhookWindowsHookEx(hook);
  }

  HWND Open(const pack::PackRequest& request = StandardRequest()) {
    system = std::make_unique<sim::SimSystem>(bay);
    package = MakePackage(request);
    form = std::make_unique<ui::Win32Form>(*system, application, package.View());
    return form->Window();
  }
};

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kNone = CLR_INVALID;
constexpr char kFirstLine[] = " 0-0-0-0 D:DornavexDVDRW KTR-207M   RV05";

struct ExpectedControl {
  int left, top;
  const char* windowClass;
  DWORD style;        // bits the control's style has
  int width, height;  // 0: sized to its text
  const char* text;
  const char* font;
  COLORREF colour;  // a label's text colour
};

const ExpectedControl kControls[] = {
    {12, 4, "Static", 0, 0, 0, "Please select target drive :", "Arial 8", kBlack},
    {8, 24, "ComboBox", CBS_DROPDOWNLIST, 353, 24, kFirstLine, "Courier New 10", kNone},
    {368, 24, "Button", BS_OWNERDRAW | WS_TABSTOP, 77, 25, "&Update", "Tahoma 8 bold", kNone},
    {368, 52, "Button", BS_OWNERDRAW | WS_TABSTOP, 77, 25, "&Close", "Tahoma 8 bold", kNone},
    {11, 56, "Static", 0, 0, 0, "It will be updated from", "Arial 8", kBlack},
    {143, 56, "Static", 0, 0, 0, "RV05", "Tahoma 8 bold", kNavy},
    {186, 56, "Static", 0, 0, 0, "to", "Arial 8", kBlack},
    {208, 56, "Static", 0, 0, 0, "RV0D", "Tahoma 8 bold", kNavy},
    {8, 84, "Static", SS_SUNKEN, 437, 49, "", "MS Sans Serif 8", kNone},
    {16, 92, "Static", 0, 0, 0, "", "Verdana 8 bold", kNavy},
    {16, 112, PROGRESS_CLASSA, PBS_SMOOTH, 373, 13, "", "MS Sans Serif 8", kNone},
    {400, 112, "Static", 0, 0, 0, "0 %", "Tahoma 8 bold", kNavy},
};

TEST_F(Win32Form, ControlsStandAtTheirPlacesWithTheirTextsFontsAndColours) {
  HWND window = Open();
  for (const ExpectedControl& expected : kControls) {
    SCOPED_TRACE(std::to_string(expected.left) + "," + std::to_string(expected.top));
    HWND control = ChildAt(window, expected.left, expected.top);
    ASSERT_NE(control, nullptr);
    char windowClass[64] = {};
    GetClassNameA(control, windowClass, sizeof windowClass);
    EXPECT_STRCASEEQ(windowClass, expected.windowClass);
    EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) & expected.style, expected.style);
    const SIZE size = SizeOf(control);
    const SIZE wanted =
        expected.width ? SIZE{expected.width, expected.height} : TextExtent(control);
    EXPECT_EQ(size.cx, wanted.cx);
    EXPECT_EQ(size.cy, wanted.cy);
    EXPECT_EQ(TextOf(control), expected.text);
    EXPECT_EQ(FontOf(control), expected.font);
    if (expected.colour != kNone) {
      EXPECT_EQ(TextColourOf(window, control), expected.colour);
    }
  }
  HWND list = ChildAt(window, 8, 24);
  HWND progress = ChildAt(window, 16, 112);
  HWND update = ChildAt(window, 368, 24);
  EXPECT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageA(list, CB_GETITEMHEIGHT, 0, 0), 16);
  EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 100);

  // Tab order: the list, the progress bar, Update, Close.
  std::vector<HWND> order;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (child == list || child == progress || TextOf(child).starts_with("&"))
      order.push_back(child);
  }
  EXPECT_EQ(order, (std::vector<HWND>{list, progress, update, ChildAt(window, 368, 52)}));

  // The list tells the form that the drive that may not be updated was chosen.
  SendMessageA(list, CB_SETCURSEL, 1, 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  EXPECT_FALSE(IsWindowEnabled(update));
  EXPECT_FALSE(GetWindowLongA(ChildAt(window, 143, 56), GWL_STYLE) & WS_VISIBLE);
  HWND updateMessage = ChildAt(window, 11, 56);
  EXPECT_EQ(TextOf(updateMessage), "This drive is not allowed to be updated.");
  EXPECT_EQ(SizeOf(updateMessage).cx, TextExtent(updateMessage).cx);
  EXPECT_EQ(TextColourOf(window, updateMessage), RGB(128, 0, 0));
}

// At the system's pixels per inch (96 here; 120 and 144 in their own Wine scenarios) and title bar
// (Windows 10's, taller, in its own) every place and size of the form's design grows with the
// fonts: the form's client area keeps its proportions whatever the title bar, each control
// stands at its place with its size, inside the form, and the revision panel's texts do not run
// into each other.
TEST_F(Win32Form, NothingIsCutOffAtTheSystemsDpi) {
  HWND window = Open();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  std::printf("pixels per inch: %d\n", dpi);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, scaled(452));
  EXPECT_EQ(client.bottom, scaled(140));
  for (const ExpectedControl& expected : kControls) {
    SCOPED_TRACE(std::to_string(expected.left) + "," + std::to_string(expected.top));
    HWND control = ChildAt(window, scaled(expected.left), scaled(expected.top));
    ASSERT_NE(control, nullptr);
    const SIZE size = SizeOf(control);
    if (expected.width != 0) {
      EXPECT_EQ(size.cx, scaled(expected.width));
      EXPECT_EQ(size.cy, scaled(expected.height));
    }
    EXPECT_LE(scaled(expected.left) + size.cx, client.right);
    EXPECT_LE(scaled(expected.top) + size.cy, client.bottom);
  }
  EXPECT_EQ(SendMessageA(ChildAt(window, scaled(8), scaled(24)), CB_GETITEMHEIGHT, 0, 0),
            scaled(16));
  const int panel[] = {11, 143, 186, 208};
  for (int i = 0; i + 1 < 4; ++i) {
    HWND label = ChildAt(window, scaled(panel[i]), scaled(56));
    ASSERT_NE(label, nullptr);
    EXPECT_LE(scaled(panel[i]) + SizeOf(label).cx, scaled(panel[i + 1])) << TextOf(label);
  }
}

// The Update button's glyph has its colours only while the button is enabled, and grows with the
// system's pixels per inch: its arrow spans 3 to 13 across and 0 to 9 down at 96.
TEST_F(Win32Form, UpdateGlyphIsGreyWhenDisabled) {
  HWND window = Open();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  const int width = scaled(77), height = scaled(25);
  for (const UINT state : {0u, static_cast<UINT>(ODS_DISABLED)}) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
    SelectObject(dc, bitmap);
    DRAWITEMSTRUCT item{ODT_BUTTON, 0,
                        0,          ODA_DRAWENTIRE,
                        state,      ChildAt(window, scaled(368), scaled(24)),
                        dc,         {0, 0, width, height},
                        0};
    SendMessageA(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    RECT green{width, height, -1, -1};
    for (int i = 0; i < width * height; ++i) {
      if (GetPixel(dc, i % width, i / width) != RGB(0, 128, 0)) continue;
      green = {std::min<LONG>(green.left, i % width), std::min<LONG>(green.top, i / width),
               std::max<LONG>(green.right, i % width), std::max<LONG>(green.bottom, i / width)};
    }
    EXPECT_EQ(green.right >= 0, state == 0) << "state " << state;
    if (state == 0) {
      EXPECT_EQ(green.right - green.left, scaled(13) - scaled(3));
      EXPECT_EQ(green.bottom - green.top, scaled(9));
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
}

std::vector<UINT> MenuIds(HMENU menu) {
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(GetMenuItemID(menu, i));
  return ids;
}

TEST_F(Win32Form, TitleBarHasNeitherMinimiseNorMaximiseNorClose) {
  HWND window = Open();
  EXPECT_EQ(TextOf(window), "Flash Program for Dornavex DVDRW KTR-207M");
  EXPECT_EQ(SizeOf(window).cx, 460);
  EXPECT_EQ(SizeOf(window).cy, 167);
  const LONG wanted = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
  const LONG unwanted = WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (wanted | unwanted), wanted);
  EXPECT_EQ(FontOf(window), "MS Sans Serif 8");

  // The system menu lost the items at positions 5 and 6 of the standard one: separator, Close.
  const std::vector<UINT> trimmed = MenuIds(GetSystemMenu(window, FALSE));
  GetSystemMenu(window, TRUE);
  std::vector<UINT> standard = MenuIds(GetSystemMenu(window, FALSE));
  ASSERT_GE(standard.size(), 7u);
  EXPECT_EQ(standard[5], 0u);
  EXPECT_EQ(standard[6], static_cast<UINT>(SC_CLOSE));
  standard.erase(standard.begin() + 5, standard.begin() + 7);
  EXPECT_EQ(trimmed, standard);

  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(Win32Form, MessageBoxesShowTheirKindAndReturnTheButtonPressed) {
  HWND window = Open();
  const struct {
    MessageKind kind;
    MessageButtons buttons;
    int press;
    LPCSTR icon;
    const char* title;
    Answer answer;
  } cases[] = {
      {MessageKind::Warning, MessageButtons::YesNo, IDYES, IDI_WARNING, "Warning", Answer::Yes},
      {MessageKind::Warning, MessageButtons::YesNo, IDNO, IDI_WARNING, "Warning", Answer::No},
      {MessageKind::Error, MessageButtons::Ok, IDOK, IDI_ERROR, "Error", Answer::Ok},
      {MessageKind::Information, MessageButtons::Ok, IDOK, IDI_INFORMATION, "Information",
       Answer::Ok},
  };
  for (const auto& c : cases) {
    seenBoxes.clear();
    yesNoAnswer = c.press;
    EXPECT_EQ(application.ShowMessage(c.kind, c.buttons, "Go on ?"), c.answer);
    ASSERT_EQ(seenBoxes.size(), 1u);
    const SeenBox& box = seenBoxes[0];
    EXPECT_EQ(box.title, c.title);
    EXPECT_EQ(box.text, "Go on ?");
    EXPECT_EQ(box.icon, LoadIconA(nullptr, c.icon));
    EXPECT_EQ(box.owner, window);
    EXPECT_EQ(box.buttons, c.buttons == MessageButtons::YesNo ? "Yes No" : "OK");
  }
  seenBoxes.clear();
  application.ShowPlainError("Device object initialize failed !", "Error ...");
  ASSERT_EQ(seenBoxes.size(), 1u);
  EXPECT_EQ(seenBoxes[0].title, "Error ...");
  EXPECT_EQ(seenBoxes[0].icon, LoadIconA(nullptr, IDI_ERROR));
  EXPECT_EQ(seenBoxes[0].buttons, "OK");
}

// This test program's own package is the unfilled template, which matches no drive: start-up stops
// before the window shows, and the program ends before any update.
TEST_F(Win32Form, ProcessEntryEndsAfterAFailedStartUpCheck) {
  sim::SimSystem machine(bay);
  EXPECT_EQ(ui::Win32Main(machine, application), 2);
  ASSERT_EQ(seenBoxes.size(), 1u);
  EXPECT_TRUE(seenBoxes[0].text.starts_with("No matched drive detected !"));
}

// Ends the application's message loop after ten seconds if nothing else did: a broken window
// fails its test instead of hanging it.
platform::Application* guarded = nullptr;
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
  guarded->Terminate();
}

void RunLoop(ui::Win32Application& application) {
  guarded = &application;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10000, GiveUp);
  application.Run();
  KillTimer(nullptr, timer);
}

// A machine whose power query throws: the Update button's handler fails inside the window
// procedure.
class PowerQueryThrows : public sim::SimSystem {
 public:
  using SimSystem::SimSystem;
  PowerSource GetPowerSource() override { throw std::runtime_error("power query broke"); }
};

// An exception in a handler or in posted work never crosses the system's frames (the process would
// end there, with other drives in the middle of their update): the loop ends with it kept for the
// process entry, and no drive was sent anything.
TEST_F(Win32Form, AnExceptionInAHandlerEndsTheLoopAndIsKeptForTheEntry) {
  system = std::make_unique<PowerQueryThrows>(bay);
  package = MakePackage(StandardRequest());
  form = std::make_unique<ui::Win32Form>(*system, application, package.View());
  form->Show();
  system->ClearTrace();
  PostMessageA(ChildAt(form->Window(), 368, 24), BM_CLICK, 0, 0);
  RunLoop(application);
  ASSERT_NE(application.Failure(), nullptr);
  EXPECT_THROW(std::rethrow_exception(application.Failure()), std::runtime_error);
  EXPECT_TRUE(system->Trace().empty());

  // Work handed to the window's thread that throws (a worker's end), the same.
  ui::Win32Application another;
  another.Post([] { throw std::logic_error("posted work broke"); });
  RunLoop(another);
  ASSERT_NE(another.Failure(), nullptr);
  EXPECT_THROW(std::rethrow_exception(another.Failure()), std::logic_error);
}

TEST_F(Win32Form, UpdateRunTicksThroughTheMessageLoopAndEndsWithTheSuccessBox) {
  // The first programming write waits until the window's timer has moved the bar three steps.
  std::atomic<HWND> progress = nullptr, shown = nullptr;
  std::atomic<LRESULT> stepsSeen = 0, endSession = -1, suspend = -1;
  bay.drives.resize(1);
  bay.drives[0].responder = [&](const sim::CommandBytes& command, const sim::DataPhase&,
                                sim::Answer&) {
    const DWORD start = GetTickCount();
    while (command[0] == 0x3B && stepsSeen < 3 && GetTickCount() - start < 10000) {
      stepsSeen = SendMessageA(progress, PBM_GETPOS, 0, 0);
      Sleep(5);
    }
    // In the middle of the flash, the form refuses the session's end and a suspend.
    if (command[0] == 0x3B && endSession == -1) {
      endSession = SendMessageA(shown, WM_QUERYENDSESSION, 0, 0);
      suspend = SendMessageA(shown, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0);
    }
    return false;
  };
  auto request = StandardRequest();
  request.options[static_cast<std::size_t>(package::layout::Option::CloseAp)] = '1';
  HWND window = Open(request);
  form->Show();
  progress = ChildAt(window, 16, 112);
  shown = window;
  EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), TRUE);
  PostMessageA(ChildAt(window, 368, 24), BM_CLICK, 0, 0);
  RunLoop(application);

  // The workers' end reached this thread through its messages: the hook sees this thread's boxes.
  EXPECT_GE(stepsSeen, 3);
  EXPECT_EQ(endSession, FALSE);
  EXPECT_EQ(suspend, BROADCAST_QUERY_DENY);
  ASSERT_EQ(seenBoxes.size(), 1u);
  EXPECT_EQ(seenBoxes[0].title, "Information");
  EXPECT_EQ(seenBoxes[0].text, "Firmware has been updated successfully !");
  EXPECT_EQ(form->Main().GetEnding(), app::Ending::Normal);
  EXPECT_EQ(system->Drive("D").revision, "RV0D");
  EXPECT_EQ(TextOf(ChildAt(window, 143, 56)), "RV0D");
}

}  // namespace
}  // namespace movrel::test
