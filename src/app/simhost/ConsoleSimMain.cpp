// movrel-console-sim: the flasher in a terminal, on the simulated machine.
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <exception>
#include <iostream>

#include "app/PackageBlock.h"
#include "app/console/ConsoleView.h"
#include "app/simhost/SimMachine.h"

int main() {
  std::setlocale(LC_ALL, "");
  std::unique_ptr<app::SimMachine> machine;
  try {
    machine = app::SimMachine::FromEnvironment();
  } catch (const std::exception& error) {
    std::cerr << "movrel-console-sim: the simulated machine cannot start: " << error.what() << '\n';
    return 3;
  }
  try {
    app::ConsoleView view(std::cin, std::cout, isatty(STDIN_FILENO) != 0,
                          isatty(STDOUT_FILENO) != 0);
    view.SetMessageListener([&](const std::string& text) { machine->MessageShown(text); });
    view.SetTypeAheadDiscard([] { tcflush(STDIN_FILENO, TCIFLUSH); });
    machine->System().SetMessageBoxScreen(
        [&view](const std::string& text, const std::string& caption) {
          view.ShowPlainError(text, caption);
        });
    return view.Run(machine->System(), app::EmbeddedPackage());
  } catch (const std::exception& error) {
    std::cout << "[Error] " << error.what() << std::endl;
    return 1;
  } catch (...) {
    std::cout << "[Error] " << std::endl;  // a thrown object that is no exception has no text
    return 1;
  }
}
