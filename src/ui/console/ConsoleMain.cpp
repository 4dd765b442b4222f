#include "ui/console/ConsoleMain.h"

#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <exception>
#include <iostream>

#include "package/PackageBlock.h"
#include "ui/console/ConsoleView.h"

namespace movrel::ui {

using package::EmbeddedPackage;

int ConsoleMain(platform::System& system, const std::function<void(ConsoleView&)>& bind) {
  std::setlocale(LC_ALL, "");
  try {
    ConsoleView view(std::cin, std::cout, isatty(STDIN_FILENO) != 0, isatty(STDOUT_FILENO) != 0);
    view.SetTypeAheadDiscard([] { tcflush(STDIN_FILENO, TCIFLUSH); });
    if (bind) bind(view);
    return view.Run(system, EmbeddedPackage());
  } catch (const std::exception& error) {
    std::cout << "[Error] " << error.what() << std::endl;
    return 1;
  } catch (...) {
    std::cout << "[Error] " << std::endl;  // a thrown object that is no exception has no text
    return 1;
  }
}

}  // namespace movrel::ui
