#include "ui/win32/Win32Form.h"

// After <windows.h>, which the form's header brings.
#include <commctrl.h>

#include <span>
#include <stdexcept>

#include "app/MovrelMain.h"
#include "platform/win32/SystemLibrary.h"
#include "ui/win32/Win32Application.h"

namespace movrel::ui {

using app::Color;
using app::ComboBox;
using app::Control;
using app::Label;
using app::ProgressBar;
using app::Timer;
using app::TMovrelMain;
namespace texts = app::texts;
using package::PackageView;

namespace {

constexpr char kFormClass[] = "TMovrelMain";
// The form's client area. The design's bounds, 460 by 167 with the title bar and the frame, had a
// 19-pixel title bar and a 4-pixel sizeable frame; the window is sized from the area inside them,
// so that a taller title bar or a wider frame (Windows XP's styles, Windows 10's metrics) takes
// nothing from the controls.
constexpr int kClientWidth = 452;
constexpr int kClientHeight = 140;
constexpr UINT_PTR kTimerId = 1;
// The drop-down list: its closed height, the height of its lines and how many it shows open.
constexpr int kListHeight = 24;
constexpr int kListItemHeight = 16;
constexpr int kListLinesShown = 8;

struct FontChoice {
  const char* face;
  int points;
  bool bold;
  BYTE pitchAndFamily;
};

// In the order of FormFont.
constexpr FontChoice kFonts[] = {
    {"MS Sans Serif", 8, false, VARIABLE_PITCH | FF_SWISS},
    {"Arial", 8, false, VARIABLE_PITCH | FF_SWISS},
    {"Tahoma", 8, true, VARIABLE_PITCH | FF_SWISS},
    {"Verdana", 8, true, VARIABLE_PITCH | FF_SWISS},
    {"Courier New", 10, false, FIXED_PITCH | FF_MODERN},
};

struct LabelPlace {
  Label TMovrelMain::*model;
  int left;
  int top;
  FormFont font;
};

// In creation order, which is the order in which siblings cover each other: the longer
// not-allowed text of lblUpdateMsg covers "to".
constexpr LabelPlace kLabels[] = {
    {&TMovrelMain::Label1, 12, 4, FormFont::Arial},
    {&TMovrelMain::lblUpdateMsg, 11, 56, FormFont::Arial},
    {&TMovrelMain::lblOldFW, 143, 56, FormFont::TahomaBold},
    {&TMovrelMain::lblTo, 186, 56, FormFont::Arial},
    {&TMovrelMain::lblNewFW, 208, 56, FormFont::TahomaBold},
    {&TMovrelMain::lblMsg, 16, 92, FormFont::VerdanaBold},
    {&TMovrelMain::lblPercent, 400, 112, FormFont::TahomaBold},
};

// A button's glyph: filled polygons in a 16 by 16 square at 96 pixels per inch, scaled with the
// fonts, in their colours when the button is enabled and in the grey of disabled text otherwise.
constexpr int kGlyphSize = 16;
constexpr int kGlyphGap = 4;

struct GlyphShape {
  COLORREF colour;
  int count;
  POINT points[7];
};

// A chip with an arrow into it.
constexpr GlyphShape kUpdateGlyph[] = {
    {RGB(64, 64, 64), 4, {{3, 9}, {13, 9}, {13, 15}, {3, 15}}},
    {RGB(0, 128, 0), 7, {{8, 9}, {3, 4}, {6, 4}, {6, 0}, {10, 0}, {10, 4}, {13, 4}}},
};
// A cross.
constexpr GlyphShape kCloseGlyph[] = {
    {RGB(192, 0, 0), 4, {{2, 3}, {3, 2}, {14, 13}, {13, 14}}},
    {RGB(192, 0, 0), 4, {{13, 2}, {14, 3}, {3, 14}, {2, 13}}},
};

// Drawn at `scale` pixels per inch, the glyph's design being at 96.
void DrawGlyph(HDC dc, std::span<const GlyphShape> glyph, int left, int top, int scale,
               bool enabled) {
  for (const GlyphShape& shape : glyph) {
    const COLORREF colour = enabled ? shape.colour : GetSysColor(COLOR_GRAYTEXT);
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    POINT points[7];
    for (int i = 0; i < shape.count; ++i) {
      points[i] = {left + MulDiv(shape.points[i].x, scale, 96),
                   top + MulDiv(shape.points[i].y, scale, 96)};
    }
    Polygon(dc, points, shape.count);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), text.size())));
  return text;
}

void SetText(HWND window, const std::string& text) {
  if (WindowText(window) != text) SetWindowTextA(window, text.c_str());
}

// The size of a single line of text in the window's font.
SIZE TextSize(HWND window, const std::string& text) {
  HDC dc = GetDC(window);
  HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  size.cy = metrics.tmHeight;
  SelectObject(dc, oldFont);
  ReleaseDC(window, dc);
  return size;
}

void ShowControl(HWND window, const Control& model) {
  EnableWindow(window, model.Enabled());
  ShowWindow(window, model.Visible() ? SW_SHOWNA : SW_HIDE);
}

COLORREF ColourRef(Color colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

}  // namespace

Win32Form::Win32Form(platform::System& system, Win32Application& application, PackageView package)
    : application(application) {
  CreateFonts();
  CreateForm();
  application.SetDialogOwner(form.get());
  main = std::make_unique<TMovrelMain>(system, application, package, [this] { ShowState(); });
  application.SetUpdateRunning([this] { return main && main->RunInProgress(); });
  ShowState();
}

Win32Form::~Win32Form() {
  application.SetUpdateRunning(nullptr);
}

void Win32Form::CreateFonts() {
  HDC screen = GetDC(nullptr);
  pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  for (int i = 0; i < kFontCount; ++i) {
    const FontChoice& choice = kFonts[i];
    fonts[i].reset(CreateFontA(-MulDiv(choice.points, pixelsPerInch, 72), 0, 0, 0,
                               choice.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               choice.pitchAndFamily, choice.face));
    if (!fonts[i]) throw std::runtime_error("Cannot create the window's fonts");
  }
}

namespace {

// The progress bar is comctl32's. COMCTL32.DLL is not one of the KnownDLLs, so it is loaded from
// the system directory by its full path rather than imported, and kept loaded for the window's
// life.
void RegisterProgressBarClass() {
  const HMODULE library = platform::win32::LoadSystemLibrary("COMCTL32.DLL");
  if (library == nullptr) return;  // the progress bar's creation then says so
  using Initialise = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initialise = reinterpret_cast<Initialise>(
      reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
  const INITCOMMONCONTROLSEX progressBar{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  if (initialise != nullptr) initialise(&progressBar);
}

}  // namespace

void Win32Form::CreateForm() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kFormClass;
  RegisterClassA(&windowClass);  // fails harmlessly when an earlier form registered it

  RegisterProgressBarClass();

  // A caption with the system menu and a sizeable border; no minimise or maximise button.
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
  const DWORD extendedStyle = WS_EX_CONTROLPARENT;
  RECT bounds{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
  AdjustWindowRectEx(&bounds, style, FALSE, extendedStyle);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  form.reset(CreateWindowExA(extendedStyle, kFormClass, texts::kInitialCaption, style,
                             (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                             nullptr, instance, this));
  if (!form) throw std::runtime_error("Cannot create the window");

  // Created in tab order: cboDrives, pbar, cmdUpdate, cmdClose; then the labels, and the frame
  // under them all. The form draws the list's lines, so that they take the height given to them
  // on every system.
  cboDrives = CreateChild(
      WC_COMBOBOXA,
      CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, 8, 24, 353,
      kListHeight + kListLinesShown * kListItemHeight, FormFont::CourierNew);
  FitDriveList();
  pbar = CreateChild(PROGRESS_CLASSA, PBS_SMOOTH, 16, 112, 373, 13, FormFont::Form);
  cmdUpdate =
      CreateChild(WC_BUTTONA, BS_OWNERDRAW | WS_TABSTOP, 368, 24, 77, 25, FormFont::TahomaBold);
  cmdClose =
      CreateChild(WC_BUTTONA, BS_OWNERDRAW | WS_TABSTOP, 368, 52, 77, 25, FormFont::TahomaBold);
  for (int i = 0; i < kLabelCount; ++i) {
    labels[i] = CreateChild(WC_STATICA, SS_LEFTNOWORDWRAP | SS_NOPREFIX, kLabels[i].left,
                            kLabels[i].top, 0, 0, kLabels[i].font);
  }
  CreateChild(WC_STATICA, SS_SUNKEN, 8, 84, 437, 49, FormFont::Form);  // Bevel1
}

// Places and sizes are given at 96 pixels per inch, the form's design; the fonts follow the
// system's setting, and so does every place and size, so that nothing is cut off at 120 or 144.
int Win32Form::Scaled(int pixels) const {
  return MulDiv(pixels, pixelsPerInch, 96);
}

HWND Win32Form::CreateChild(const char* windowClass, DWORD style, int left, int top, int width,
                            int height, FormFont font) {
  HWND child = CreateWindowExA(0, windowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
                               Scaled(left), Scaled(top), Scaled(width), Scaled(height), form.get(),
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  if (child == nullptr) throw std::runtime_error("Cannot create the window's controls");
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[static_cast<int>(font)].get()),
               FALSE);
  return child;
}

// The closed list is kListHeight high and its lines kListItemHeight. The selection field is
// what the height set covers; the list's frame around it differs between systems, and one trial
// height tells it. (The font, set before, would reset both.)
void Win32Form::FitDriveList() {
  const auto setHeight = [this](WPARAM item, int height) {
    SendMessageA(cboDrives, CB_SETITEMHEIGHT, item, height);
  };
  const auto closedHeight = [this] {
    RECT bounds;
    GetWindowRect(cboDrives, &bounds);
    return static_cast<int>(bounds.bottom - bounds.top);
  };
  setHeight(static_cast<WPARAM>(-1), Scaled(kListItemHeight));
  const int frame = closedHeight() - Scaled(kListItemHeight);
  setHeight(static_cast<WPARAM>(-1), Scaled(kListHeight) - frame);
  setHeight(0, Scaled(kListItemHeight));
}

void Win32Form::Show() {
  ShowWindow(form.get(), SW_SHOW);
  UpdateWindow(form.get());
  SetFocus(cboDrives);
}

LRESULT CALLBACK Win32Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return self->OnMessage(window, message, wParam, lParam);
  } catch (...) {
    self->application.Fail(std::current_exception());
    return 0;
  }
}

LRESULT Win32Form::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    if (main) main->FormDestroy();
    application.SetDialogOwner(nullptr);
    return 0;
  }
  if (!main) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_COMMAND:
      OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:  // the form's only timer: tmr
      main->tmrTimer(window);
      return 0;
    case WM_CTLCOLORSTATIC:
      return LabelColours(window, wParam, lParam);
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_COMBOBOX) {
        DrawListLine(item);
      } else {
        DrawButton(item);
      }
      return TRUE;
    }
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(fonts[static_cast<int>(FormFont::Form)].get());
    case WM_CLOSE:
      return 0;  // the title bar offers no Close: only the Close button ends the program
    // A shutdown, log-off or sleep in the middle of a flash leaves a drive half programmed: while
    // a run lasts, the session's end and a suspend asked of the applications are refused. Only
    // Windows up to XP asks before a suspend; from Vista on it sleeps without asking.
    case WM_QUERYENDSESSION:
      return main->RunInProgress() ? FALSE : TRUE;
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMQUERYSUSPEND && main->RunInProgress()) return BROADCAST_QUERY_DENY;
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void Win32Form::OnCommand(HWND control, int code) {
  if (control == cboDrives && code == CBN_SELCHANGE) {
    main->cboDrives.SetItemIndex(static_cast<int>(SendMessageA(cboDrives, CB_GETCURSEL, 0, 0)));
    main->cboDrivesChange(cboDrives);
  } else if (control == cmdUpdate && code == BN_CLICKED) {
    main->cmdUpdateClick(cmdUpdate);
  } else if (control == cmdClose && code == BN_CLICKED) {
    main->cmdCloseClick(cmdClose);
    form.reset();  // the application is terminated: the message loop ends
  }
}

LRESULT Win32Form::LabelColours(HWND window, WPARAM wParam, LPARAM lParam) {
  const HDC dc = reinterpret_cast<HDC>(wParam);
  for (int i = 0; i < kLabelCount; ++i) {
    if (labels[i] != reinterpret_cast<HWND>(lParam)) continue;
    SetTextColor(dc, ColourRef(((*main).*kLabels[i].model).FontColor()));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  return DefWindowProcA(window, WM_CTLCOLORSTATIC, wParam, lParam);
}

// A line of the drive list, or its selection field (item -1 when nothing is selected).
void Win32Form::DrawListLine(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool enabled = (item.itemState & ODS_DISABLED) == 0;
  FillRect(dc, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID < listedItems.size()) {
    const std::string& line = listedItems[item.itemID];
    HGDIOBJ oldFont = SelectObject(dc, fonts[static_cast<int>(FormFont::CourierNew)].get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(!enabled   ? COLOR_GRAYTEXT
                                 : selected ? COLOR_HIGHLIGHTTEXT
                                            : COLOR_WINDOWTEXT));
    RECT text = item.rcItem;
    text.left += 2;
    DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, oldFont);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(dc, &item.rcItem);
}

void Win32Form::DrawButton(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  const RECT bounds = item.rcItem;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  const bool enabled = (item.itemState & ODS_DISABLED) == 0;
  RECT frame = bounds;
  DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));

  // The glyph and the caption side by side, centred together; pushed, both move by a pixel.
  const std::string caption = WindowText(item.hwndItem);
  HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(item.hwndItem, WM_GETFONT, 0, 0)));
  RECT measured{};
  DrawTextA(dc, caption.c_str(), -1, &measured, DT_CALCRECT | DT_SINGLELINE);
  const int shift = pushed ? 1 : 0;
  const int glyphSize = Scaled(kGlyphSize);
  const int glyphGap = Scaled(kGlyphGap);
  const int left = (bounds.left + bounds.right - glyphSize - glyphGap - measured.right) / 2 + shift;
  const int top = (bounds.top + bounds.bottom - glyphSize) / 2 + shift;
  DrawGlyph(dc, item.hwndItem == cmdUpdate ? kUpdateGlyph : kCloseGlyph, left, top, pixelsPerInch,
            enabled);

  RECT text{left + glyphSize + glyphGap, bounds.top + shift, bounds.right, bounds.bottom + shift};
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  DrawTextA(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  SelectObject(dc, oldFont);

  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = bounds;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
}

void Win32Form::ShowState() {
  if (!main || !form) return;
  const TMovrelMain& m = *main;
  SetText(form.get(), m.Caption());
  for (int i = 0; i < kLabelCount; ++i) ShowLabel(i);
  ShowList();
  SetText(cmdUpdate, m.cmdUpdate.Caption());
  ShowControl(cmdUpdate, m.cmdUpdate);
  SetText(cmdClose, m.cmdClose.Caption());
  ShowControl(cmdClose, m.cmdClose);
  ShowProgress();
  ShowTimer();
  ShowShutdownBlock();
  if (m.CloseCommandRemoved() && !closeCommandRemoved) RemoveCloseCommand();
}

// Windows Vista and later tell the person why the session does not end; the call is looked up,
// since older systems lack it (they only ask WM_QUERYENDSESSION).
void Win32Form::ShowShutdownBlock() {
  if (main->RunInProgress() == shutdownBlocked) return;
  shutdownBlocked = main->RunInProgress();
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  if (user32 == nullptr) return;
  if (shutdownBlocked) {
    using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
    const auto create = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
    if (create != nullptr) create(form.get(), L"Drive firmware update in progress");
  } else {
    using Destroy = BOOL(WINAPI*)(HWND);
    const auto destroy = reinterpret_cast<Destroy>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
    if (destroy != nullptr) destroy(form.get());
  }
}

void Win32Form::ShowLabel(int index) {
  const LabelPlace& place = kLabels[index];
  const Label& model = (*main).*place.model;
  HWND label = labels[index];
  SetText(label, model.Text());
  const SIZE size = TextSize(label, model.Text());
  SetWindowPos(label, nullptr, Scaled(place.left), Scaled(place.top), size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (model.FontColor() != labelColours[index]) {
    labelColours[index] = model.FontColor();
    InvalidateRect(label, nullptr, TRUE);
  }
  ShowControl(label, model);
}

void Win32Form::ShowList() {
  const ComboBox& model = main->cboDrives;
  if (model.Items() != listedItems) {
    SendMessageA(cboDrives, CB_RESETCONTENT, 0, 0);
    for (const std::string& line : model.Items()) {
      SendMessageA(cboDrives, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    listedItems = model.Items();
  }
  if (SendMessageA(cboDrives, CB_GETCURSEL, 0, 0) != model.ItemIndex()) {
    SendMessageA(cboDrives, CB_SETCURSEL, static_cast<WPARAM>(model.ItemIndex()), 0);
  }
  ShowControl(cboDrives, model);
}

void Win32Form::ShowProgress() {
  const ProgressBar& model = main->pbar;
  PBRANGE range{};
  SendMessageA(pbar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  if (range.iLow != model.Min() || range.iHigh != model.Max()) {
    SendMessageA(pbar, PBM_SETRANGE32, static_cast<WPARAM>(model.Min()), model.Max());
  }
  SendMessageA(pbar, PBM_SETPOS, static_cast<WPARAM>(model.Position()), 0);
  ShowControl(pbar, model);
}

void Win32Form::ShowTimer() {
  const Timer& model = main->tmr;
  if (model.Enabled() == timerRunning) return;
  timerRunning = model.Enabled();
  if (timerRunning) {
    SetTimer(form.get(), kTimerId, model.Interval(), nullptr);
  } else {
    KillTimer(form.get(), kTimerId);
  }
}

// Takes the separator and the Close command (positions 5 and 6 of the standard menu) away: the
// window cannot be closed from its title bar or its menu.
void Win32Form::RemoveCloseCommand() {
  closeCommandRemoved = true;
  if (HMENU menu = GetSystemMenu(form.get(), FALSE)) {
    RemoveMenu(menu, 5, MF_BYPOSITION);
    RemoveMenu(menu, 5, MF_BYPOSITION);
  }
}

}  // namespace movrel::ui
