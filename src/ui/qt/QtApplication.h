// The application object bound to Qt: work posted from other threads runs through Qt's queued
// calls in the window's thread; message boxes are QMessageBox dialogs.
#pragma once

#include <QWidget>

#include "platform/Application.h"

namespace movrel::ui {

class QtApplication : public platform::Application {
 public:
  // The owner of the message boxes (may be set once the window exists).
  void SetDialogOwner(QWidget* owner) { dialogOwner = owner; }

  platform::MessageAnswer ShowMessage(platform::MessageKind kind, platform::MessageButtons buttons,
                                      const std::string& text) override;
  void ShowPlainError(const std::string& text, const std::string& title) override;

 protected:
  void WorkPosted() override;
  void ProcessToolkitMessages() override;
  void OnTerminate() override;

 private:
  QWidget* dialogOwner = nullptr;
};

}  // namespace movrel::ui
