// movrel-console: the flasher in a terminal, on this machine's optical drives.
#include "platform/linux/LinuxSystem.h"
#include "ui/console/ConsoleMain.h"
#include "ui/console/ConsoleView.h"

int main() {
  movrel::platform::LinuxSystem system;
  return movrel::ui::ConsoleMain(system, [&system](movrel::ui::ConsoleView& view) {
    system.SetMessageBoxScreen([&view](const std::string& text, const std::string& caption) {
      view.ShowPlainError(text, caption);
    });
  });
}
