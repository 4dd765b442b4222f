// box-answerer.exe [--timeout SECONDS] [--answer ok|cancel|yes|no|retry|abort|ignore]...
//                  -- PROGRAM [ARGS...]
//
// Starts PROGRAM, answers each of its message boxes and reports what it saw on standard output:
//
//   WINDOW <caption>            once for each visible top-level window that is not a message box
//   SIZE <w>x<h> <W>x<H>        its client and outer size
//   BOX <caption>               a message box appeared; its text follows, one "| " line per line
//   | <line of text>
//   BUTTONS <labels>            the buttons it offers, e.g. "OK" or "Yes No"
//   ANSWER <label>              the button this program pressed
//   EXIT <code>                 PROGRAM ended with <code>; this program then exits with it too
//
// Boxes are answered in order with the --answer values; once those are used up, a box is answered
// with No, else Cancel, else OK (the answer that changes nothing). A message box is a dialog
// (#32770) holding only statics and buttons. An answer naming a button the box lacks ends PROGRAM
// and exits 125 ("ERROR ..."), as does a PROGRAM that cannot start; PROGRAM still running after
// the timeout (default 60 s) is ended and this program exits 124 ("TIMEOUT"). A box is answered
// with the button's WM_COMMAND, never with Escape or WM_CLOSE: those mean Cancel, which a Yes/No
// box under Wine returns as IDCANCEL rather than IDNO.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Button {
  int id;
  const char* name;   // as given to --answer
  const char* label;  // as reported
};
// In the order the labels are reported.
constexpr std::array<Button, 7> kButtons{{{IDOK, "ok", "OK"},
                                          {IDYES, "yes", "Yes"},
                                          {IDNO, "no", "No"},
                                          {IDABORT, "abort", "Abort"},
                                          {IDRETRY, "retry", "Retry"},
                                          {IDIGNORE, "ignore", "Ignore"},
                                          {IDCANCEL, "cancel", "Cancel"}}};
// The message text's static control: 0xFFFF on Windows and current Wine, 100 on older Wine.
constexpr std::array<int, 2> kTextIds{0xFFFF, 100};

struct Run {
  DWORD pid = 0;
  std::vector<int> answers;  // button ids, in order
  std::size_t next_answer = 0;
  std::set<HWND> seen;      // windows already reported
  std::vector<HWND> fresh;  // windows new in this poll, top of the Z order first
};

std::string WindowText(HWND hwnd) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), int(text.size()))));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// A dialog whose controls are only statics and buttons: what MessageBox creates.
bool IsMessageBox(HWND hwnd) {
  if (ClassOf(hwnd) != "#32770") return false;
  for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string name = ClassOf(child);
    if (_stricmp(name.c_str(), "Static") != 0 && _stricmp(name.c_str(), "Button") != 0)
      return false;
  }
  return true;
}

bool HasButton(HWND box, int id) {
  return GetDlgItem(box, id) != nullptr;
}

void ReportWindow(HWND hwnd) {
  RECT client{}, outer{};
  GetClientRect(hwnd, &client);
  GetWindowRect(hwnd, &outer);
  std::printf("WINDOW %s\nSIZE %ldx%ld %ldx%ld\n", WindowText(hwnd).c_str(), client.right,
              client.bottom, outer.right - outer.left, outer.bottom - outer.top);
}

// Reports the box and presses the next answer; false when the answer is not on the box.
bool AnswerBox(Run& run, HWND box) {
  std::printf("BOX %s\n", WindowText(box).c_str());
  for (int id : kTextIds) {
    HWND control = GetDlgItem(box, id);
    if (!control || ClassOf(control) != "Static") continue;
    char text[4096] = {};
    GetDlgItemTextA(box, id, text, sizeof text);  // WM_GETTEXT, which reaches another process
    std::string_view rest = text;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::printf("| %.*s\n", int(line.size()), line.data());
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    break;
  }
  std::string labels;
  for (const Button& b : kButtons)
    if (HasButton(box, b.id)) labels += (labels.empty() ? "" : " ") + std::string(b.label);
  std::printf("BUTTONS %s\n", labels.c_str());

  int answer = 0;
  if (run.next_answer < run.answers.size()) {
    answer = run.answers[run.next_answer++];
  } else {
    for (int id : {IDNO, IDCANCEL, IDOK})
      if (!answer && HasButton(box, id)) answer = id;
  }
  const auto it = std::find_if(kButtons.begin(), kButtons.end(),
                               [&](const Button& b) { return b.id == answer; });
  if (answer == 0 || !HasButton(box, answer)) {
    std::printf("ERROR the box has no %s button\n", answer ? it->label : "known");
    return false;
  }
  std::printf("ANSWER %s\n", it->label);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
  return true;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  Run& run = *reinterpret_cast<Run*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == run.pid && IsWindowVisible(hwnd) && run.seen.insert(hwnd).second)
    run.fresh.push_back(hwnd);
  return TRUE;
}

// Reports the child's windows that appeared since the last poll and answers its new boxes; false
// when a box could not be answered. Windows that appeared together are taken from the bottom of
// the Z order up, so a main window comes before the box it owns.
bool Poll(Run& run) {
  for (auto it = run.seen.begin(); it != run.seen.end();)
    it = IsWindow(*it) ? std::next(it) : run.seen.erase(it);
  run.fresh.clear();
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&run));
  for (auto it = run.fresh.rbegin(); it != run.fresh.rend(); ++it) {
    if (!IsMessageBox(*it))
      ReportWindow(*it);
    else if (!AnswerBox(run, *it))
      return false;
    std::fflush(stdout);
  }
  return true;
}

// Quotes one argument so that the child's command-line parser gives it back unchanged.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + '"';
}

int Usage() {
  std::fprintf(stderr,
               "usage: box-answerer.exe [--timeout SECONDS] [--answer ok|cancel|yes|no|retry|"
               "abort|ignore]... -- PROGRAM [ARGS...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Run run;
  double timeout_s = 60;
  int i = 1;
  for (; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view option = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string_view value = argv[++i];
    if (option == "--timeout") {
      timeout_s = std::atof(argv[i]);
      if (timeout_s <= 0) return Usage();
    } else if (option == "--answer") {
      const auto it = std::find_if(kButtons.begin(), kButtons.end(),
                                   [&](const Button& b) { return value == b.name; });
      if (it == kButtons.end()) return Usage();
      run.answers.push_back(it->id);
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  std::string command;
  for (++i; i < argc; ++i) command += (command.empty() ? "" : " ") + Quote(argv[i]);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    std::printf("ERROR cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return 125;
  }
  CloseHandle(child.hThread);
  run.pid = child.dwProcessId;

  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_s * 1000);
  while (WaitForSingleObject(child.hProcess, 20) == WAIT_TIMEOUT) {
    const bool answered = Poll(run);
    const bool timed_out = GetTickCount64() >= deadline;
    if (!answered || timed_out) {
      if (timed_out) std::printf("TIMEOUT\n");
      std::fflush(stdout);
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, 5000);
      return timed_out ? 124 : 125;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  std::printf("EXIT %lu\n", code);
  return static_cast<int>(code);
}
