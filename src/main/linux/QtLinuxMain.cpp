// movrel: the flasher's desktop window, on this machine's optical drives.
#include <QApplication>

#include "ui/qt/QtApplication.h"
#include "ui/qt/QtMain.h"
#include "platform/linux/LinuxSystem.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  platform::LinuxSystem system;
  app::QtApplication application;
  system.SetMessageBoxScreen([&application](const std::string& text, const std::string& caption) {
    application.ShowPlainError(text, caption);
  });
  return app::QtMain(system, application);
}
