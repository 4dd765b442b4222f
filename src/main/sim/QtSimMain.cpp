// movrel-sim: the flasher's desktop window, on the simulated machine.
#include <QApplication>
#include <exception>
#include <iostream>

#include "main/sim/SimMachine.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtMain.h"

namespace {

// Message boxes reach the person at the simulated machine as well as the user.
class SimQtApplication : public movrel::ui::QtApplication {
 public:
  explicit SimQtApplication(movrel::main::SimMachine& machine) : machine(machine) {}
  movrel::platform::MessageAnswer ShowMessage(movrel::platform::MessageKind kind,
                                              movrel::platform::MessageButtons buttons,
                                              const std::string& text) override {
    machine.MessageShown(text);
    return QtApplication::ShowMessage(kind, buttons, text);
  }

 private:
  movrel::main::SimMachine& machine;
};

}  // namespace

int main(int, char** argv) {
  movrel::ui::EndOnFatalQtMessage();
  // Qt is given the program's name only, so that none of its own options (-stylesheet FILE,
  // -platform NAME, ...) on the flasher's command line is ever obeyed.
  int qtCount = 1;
  char* qtArguments[] = {argv[0], nullptr};
  QApplication qt(qtCount, qtArguments);
  std::unique_ptr<movrel::main::SimMachine> machine;
  try {
    machine = movrel::main::SimMachine::FromEnvironment();
  } catch (const std::exception& error) {
    std::cerr << "movrel-sim: the simulated machine cannot start: " << error.what() << '\n';
    return 3;
  }
  SimQtApplication application(*machine);
  machine->System().SetMessageBoxScreen(
      [&application](const std::string& text, const std::string& caption) {
        application.ShowPlainError(text, caption);
      });
  return movrel::ui::QtMain(machine->System(), application);
}
