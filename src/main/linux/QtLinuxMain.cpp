// movrel: the flasher's desktop window, on this machine's optical drives.
#include <QApplication>

#include "platform/linux/LinuxSystem.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtMain.h"

int main(int argc, char** argv) {
  app::EndOnFatalQtMessage();
  QApplication qt(argc, argv);
  platform::LinuxSystem system;
  app::QtApplication application;
  system.SetMessageBoxScreen([&application](const std::string& text, const std::string& caption) {
    application.ShowPlainError(text, caption);
  });
  return app::QtMain(system, application);
}
