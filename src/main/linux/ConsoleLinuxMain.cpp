// movrel-console: the flasher in a terminal, on this machine's optical drives.
#include "platform/linux/LinuxSystem.h"
#include "ui/console/ConsoleMain.h"
#include "ui/console/ConsoleView.h"

int main() {
  platform::LinuxSystem system;
  return app::ConsoleMain(system, [&system](app::ConsoleView& view) {
    system.SetMessageBoxScreen([&view](const std::string& text, const std::string& caption) {
      view.ShowPlainError(text, caption);
    });
  });
}
