// movrel: the flasher's desktop window, on this machine's optical drives.
#include <QApplication>

#include "platform/linux/LinuxSystem.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtMain.h"

int main(int, char** argv) {
  movrel::ui::EndOnFatalQtMessage();
  // Qt is given the program's name only, so that none of its own options (-stylesheet FILE,
  // -platform NAME, ...) on the flasher's command line is ever obeyed.
  int qtCount = 1;
  char* qtArguments[] = {argv[0], nullptr};
  QApplication qt(qtCount, qtArguments);
  movrel::platform::LinuxSystem system;
  movrel::ui::QtApplication application;
  system.SetMessageBoxScreen([&application](const std::string& text, const std::string& caption) {
    application.ShowPlainError(text, caption);
  });
  return movrel::ui::QtMain(system, application);
}
