// movrel-console-sim: the flasher in a terminal, on the simulated machine.
#include <exception>
#include <iostream>

#include "main/sim/SimMachine.h"
#include "ui/console/ConsoleMain.h"
#include "ui/console/ConsoleView.h"

int main() {
  std::unique_ptr<movrel::main::SimMachine> machine;
  try {
    machine = movrel::main::SimMachine::FromEnvironment();
  } catch (const std::exception& error) {
    std::cerr << "movrel-console-sim: the simulated machine cannot start: " << error.what() << '\n';
    return 3;
  }
  return movrel::ui::ConsoleMain(machine->System(), [&](movrel::ui::ConsoleView& view) {
    view.SetMessageListener([&](const std::string& text) { machine->MessageShown(text); });
    machine->System().SetMessageBoxScreen(
        [&view](const std::string& text, const std::string& caption) {
          view.ShowPlainError(text, caption);
        });
  });
}
