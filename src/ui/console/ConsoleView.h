// The window in a terminal: message boxes as lines, the drive list with its selection and the
// revision panel, a prompt for the list and the two buttons, and the run's status line.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "package/PackageBlock.h"
#include "platform/Application.h"

namespace movrel::platform {
class System;
}

namespace movrel::app {
class TMovrelMain;
}  // namespace movrel::app

namespace movrel::ui {

class ConsoleView : public platform::Application {
 public:
  // On a terminal input, OK boxes wait for Enter (elsewhere the answers read are echoed); on a
  // terminal output, the run's status is one line rewritten in place.
  ConsoleView(std::istream& input, std::ostream& output, bool inputIsTerminal,
              bool outputIsTerminal);

  // Runs the window until the program ends; returns the exit status: 0 normal end, 1 after a
  // failed update, 2 when the program ended before any update.
  int Run(platform::System& system, package::PackageView package);

  // On a terminal input, called before a message box reads its answer: it throws away what was
  // typed while the program was busy, so that no key pressed during a run answers a box unseen.
  void SetTypeAheadDiscard(std::function<void()> discard) { discardTypeAhead = std::move(discard); }

  // Called with the text of every message box before it is answered (the simulated machine's
  // person at the machine reacts to them).
  void SetMessageListener(std::function<void(const std::string&)> listener) {
    messageListener = std::move(listener);
  }

  platform::MessageAnswer ShowMessage(platform::MessageKind kind, platform::MessageButtons buttons,
                                      const std::string& text) override;
  void ShowPlainError(const std::string& text, const std::string& title) override;
  // Waits for a line, from a terminal or a pipe alike: the person says the drive is ready. The
  // end of input means nobody is there: false.
  bool AskToAct(platform::MessageKind kind, const std::string& text) override;

 private:
  void ShowList(const app::TMovrelMain& form);
  void ShowStatus(const app::TMovrelMain& form);
  void EndStatusLine();
  bool ReadLine(std::string& line);
  bool ReadAnswer(std::string& line);
  void WaitForEnter();
  // Returns whether the list is to be shown again.
  bool Handle(app::TMovrelMain& form, const std::string& command);

  std::istream& input;
  std::ostream& output;
  bool inputIsTerminal;
  bool outputIsTerminal;
  bool statusOnScreen = false;  // a terminal's status line waits to be ended
  std::string shownMessage;
  std::function<void(const std::string&)> messageListener;
  std::function<void()> discardTypeAhead;
};

}  // namespace movrel::ui
