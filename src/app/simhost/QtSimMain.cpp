// movrel-sim: the flasher's desktop window, on the simulated machine.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <exception>
#include <iostream>

#include "app/PackageBlock.h"
#include "app/qt/FrmMovrel.h"
#include "app/qt/QtApplication.h"
#include "app/simhost/SimMachine.h"

namespace {

// Message boxes reach the person at the simulated machine as well as the user.
class SimQtApplication : public app::QtApplication {
 public:
  explicit SimQtApplication(app::SimMachine& machine) : machine(machine) {}
  platform::MessageAnswer ShowMessage(platform::MessageKind kind, platform::MessageButtons buttons,
                                      const std::string& text) override {
    machine.MessageShown(text);
    return QtApplication::ShowMessage(kind, buttons, text);
  }

 private:
  app::SimMachine& machine;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  std::setlocale(LC_ALL, "");
  std::unique_ptr<app::SimMachine> machine;
  try {
    machine = app::SimMachine::FromEnvironment();
  } catch (const std::exception& error) {
    std::cerr << "movrel-sim: the simulated machine cannot start: " << error.what() << '\n';
    return 3;
  }
  int status = 0;
  try {
    SimQtApplication application(*machine);
    machine->System().SetMessageBoxScreen(
        [&application](const std::string& text, const std::string& caption) {
          application.ShowPlainError(text, caption);
        });
    app::FrmMovrel form(machine->System(), application, app::EmbeddedPackage());
    if (!application.Terminated()) {
      form.show();
      status = QApplication::exec();
    }
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, "Movrel", QString::fromLocal8Bit(error.what()));
    status = 1;
  } catch (...) {
    QMessageBox::critical(nullptr, "Movrel", QString());  // no exception: an empty message
    status = 1;
  }
  return status;
}
