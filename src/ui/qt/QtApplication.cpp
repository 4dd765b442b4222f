#include "ui/qt/QtApplication.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>

namespace movrel::ui {

namespace {

QMessageBox::Icon IconOf(platform::MessageKind kind) {
  switch (kind) {
    case platform::MessageKind::Warning:
      return QMessageBox::Warning;
    case platform::MessageKind::Error:
      return QMessageBox::Critical;
    case platform::MessageKind::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

platform::MessageAnswer QtApplication::ShowMessage(platform::MessageKind kind,
                                                   platform::MessageButtons buttons,
                                                   const std::string& text) {
  QMessageBox box(IconOf(kind), platform::MessageTitle(kind), QString::fromStdString(text),
                  QMessageBox::NoButton, dialogOwner);
  box.setTextFormat(Qt::PlainText);  // texts carry the drive's and the package's bytes
  if (buttons == platform::MessageButtons::YesNo) {
    QAbstractButton* yes = box.addButton("&Yes", QMessageBox::YesRole);
    box.addButton("&No", QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes ? platform::MessageAnswer::Yes : platform::MessageAnswer::No;
  }
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
  return platform::MessageAnswer::Ok;
}

void QtApplication::ShowPlainError(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(title),
                  QString::fromStdString(text), QMessageBox::NoButton, dialogOwner);
  box.setTextFormat(Qt::PlainText);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
}

void QtApplication::WorkPosted() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [this] { RunPosted(); }, Qt::QueuedConnection);
}

void QtApplication::ProcessToolkitMessages() {
  QCoreApplication::processEvents();
}

void QtApplication::OnTerminate() {
  QCoreApplication::exit(0);
}

}  // namespace movrel::ui
