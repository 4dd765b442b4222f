#include "ui/qt/QtMain.h"

#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdlib>
#include <exception>

#include "app/MovrelMain.h"
#include "package/PackageBlock.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtForm.h"

namespace movrel::ui {

using package::EmbeddedPackage;

namespace {

QtMessageHandler printMessage = nullptr;  // Qt's own handler, which prints and returns

void EndOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  printMessage(type, context, message);
  if (type == QtFatalMsg) std::_Exit(1);
}

}  // namespace

void EndOnFatalQtMessage() {
  printMessage = qInstallMessageHandler(EndOnFatal);
}

int QtMain(platform::System& system, QtApplication& application) {
  std::setlocale(LC_ALL, "");
  try {
    QtForm form(system, application, EmbeddedPackage());
    // A start-up that ended the program (a damaged package, no drive to update, No to the NOTICE)
    // ends it before any update, as the terminal view says with its status.
    if (application.Terminated()) return form.Main().ExitStatus();
    form.show();
    QApplication::exec();
    return form.Main().ExitStatus();
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, "Movrel", QString::fromLocal8Bit(error.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "Movrel", QString());  // no exception: an empty message
  }
  return 1;
}

}  // namespace movrel::ui
