#include "ui/console/ConsoleView.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <istream>
#include <ostream>
#include <thread>

#include "app/MovrelMain.h"
#include "platform/ShownText.h"

namespace movrel::ui {

using app::TMovrelMain;
using package::PackageView;

using platform::LineFeeds;
using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;
using platform::ShownText;

namespace {

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Whatever the terminal is given to print is text, never a command to it: the drive's and the
// package's bytes are shown safely (messages keep their lines).
std::string Shown(const std::string& text) {
  return ShownText(text, LineFeeds::Keep);
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

ConsoleView::ConsoleView(std::istream& input, std::ostream& output, bool inputIsTerminal,
                         bool outputIsTerminal)
    : input(input),
      output(output),
      inputIsTerminal(inputIsTerminal),
      outputIsTerminal(outputIsTerminal) {}

bool ConsoleView::ReadLine(std::string& line) {
  const bool read = static_cast<bool>(std::getline(input, line));
  line = read ? Trimmed(line) : "";
  // A terminal echoes what is typed; a transcript of piped input shows it here.
  if (!inputIsTerminal) output << Shown(line) << std::endl;
  return read;
}

bool ConsoleView::ReadAnswer(std::string& line) {
  if (inputIsTerminal && discardTypeAhead) discardTypeAhead();
  return ReadLine(line);
}

MessageAnswer ConsoleView::ShowMessage(MessageKind kind, MessageButtons buttons,
                                       const std::string& text) {
  EndStatusLine();
  output << '[' << platform::MessageTitle(kind) << "] " << Shown(text) << std::endl;
  if (messageListener) messageListener(text);
  std::string line;
  if (buttons == MessageButtons::YesNo) {
    output << "(y/n) " << std::flush;
    if (!ReadAnswer(line)) return MessageAnswer::No;
    const std::string answer = Lowercase(line);
    return answer == "y" || answer == "yes" ? MessageAnswer::Yes : MessageAnswer::No;
  }
  WaitForEnter();
  return MessageAnswer::Ok;
}

void ConsoleView::ShowPlainError(const std::string& text, const std::string& title) {
  EndStatusLine();
  output << '[' << Shown(title) << "] " << Shown(text) << std::endl;
  if (messageListener) messageListener(text);
  WaitForEnter();
}

bool ConsoleView::AskToAct(MessageKind kind, const std::string& text) {
  EndStatusLine();
  output << '[' << platform::MessageTitle(kind) << "] " << Shown(text) << std::endl;
  if (messageListener) messageListener(text);
  output << "(press Enter when done) " << std::flush;
  std::string line;
  return ReadAnswer(line);
}

// An OK box waits for Enter on a terminal; piped input is not read for it.
void ConsoleView::WaitForEnter() {
  if (!inputIsTerminal) return;
  output << "(press Enter) " << std::flush;
  std::string line;
  ReadAnswer(line);
}

void ConsoleView::ShowList(const TMovrelMain& shown) {
  const auto& items = shown.cboDrives.Items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const bool selected = static_cast<int>(i) == shown.cboDrives.ItemIndex();
    output << (selected ? "> " : "  ") << (i + 1) << ") " << ShownText(items[i]) << '\n';
  }
  if (shown.lblOldFW.Visible()) {
    output << ShownText(shown.lblUpdateMsg.Text()) << ' ' << ShownText(shown.lblOldFW.Text()) << ' '
           << ShownText(shown.lblTo.Text()) << ' ' << ShownText(shown.lblNewFW.Text()) << '\n';
  } else {
    output << ShownText(shown.lblUpdateMsg.Text()) << '\n';
  }
  output << std::flush;
}

void ConsoleView::EndStatusLine() {
  if (statusOnScreen && outputIsTerminal) output << '\n';
  statusOnScreen = false;
}

void ConsoleView::ShowStatus(const TMovrelMain& shown) {
  // One line per status text; the percent shown with it is the one of the same moment.
  if (shown.lblMsg.Text().empty() || shown.lblMsg.Text() == shownMessage) return;
  shownMessage = shown.lblMsg.Text();
  const std::string status = ShownText(shownMessage + "  " + shown.lblPercent.Text());
  statusOnScreen = true;
  if (outputIsTerminal) {
    output << "\r\x1b[K" << status << std::flush;
  } else {
    output << status << std::endl;
  }
}

bool ConsoleView::Handle(TMovrelMain& shown, const std::string& command) {
  if (command == "u") {
    if (shown.cmdUpdate.Enabled()) {
      shown.cmdUpdateClick();
      return true;
    }
    output << ShownText(shown.lblUpdateMsg.Text()) << std::endl;  // why this drive is not updated
    return false;
  }
  const bool number = !command.empty() && command.size() <= 2 &&
                      std::all_of(command.begin(), command.end(),
                                  [](unsigned char c) { return std::isdigit(c) != 0; });
  if (!number) {
    output << "Type a line number, u to update, or q to close." << std::endl;
    return true;
  }
  const int line = std::stoi(command);
  if (line < 1 || line > static_cast<int>(shown.cboDrives.Items().size())) {
    output << "There is no line " << line << '.' << std::endl;
    return true;
  }
  shown.cboDrives.SetItemIndex(line - 1);
  shown.cboDrivesChange(&shown.cboDrives);
  return true;
}

int ConsoleView::Run(platform::System& system, PackageView package) {
  TMovrelMain window(system, *this, package, [this, &window] { ShowStatus(window); });
  bool listShown = false;
  while (!Terminated()) {
    if (window.RunInProgress()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(window.tmr.Interval()));
      if (window.tmr.Enabled()) window.tmrTimer(&window.tmr);
      ProcessMessages();
      listShown = false;
      continue;
    }
    if (!listShown) {
      EndStatusLine();
      output << ShownText(window.Caption()) << '\n';
      ShowList(window);
      listShown = true;
    }
    output << "Select a line, u = "
           << "Update"
           << ", q = "
           << "Close"
           << ": " << std::flush;
    std::string command;
    if (!ReadLine(command) || Lowercase(command) == "q") {
      window.cmdCloseClick(&window.cmdClose);
      break;
    }
    if (Handle(window, Lowercase(command)) && !window.RunInProgress()) listShown = false;
  }
  return window.ExitStatus();
}

}  // namespace movrel::ui
