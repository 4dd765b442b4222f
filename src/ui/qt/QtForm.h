// frmMovrel: the main window on the desktop. It lays out the controls, shows the state of the
// window's models after every change and forwards the user's actions to TMovrelMain.
#pragma once

#include <QWidget>
#include <memory>

#include "package/PackageBlock.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace movrel::platform {
class System;
}

namespace movrel::app {
class TMovrelMain;
}  // namespace movrel::app

namespace movrel::app {
class Label;
}  // namespace movrel::app

namespace movrel::ui {

class QtApplication;

class QtForm : public QWidget {
 public:
  QtForm(platform::System& system, QtApplication& application, package::PackageView package);
  ~QtForm() override;

  app::TMovrelMain& Main() { return *main; }

 protected:
  // The title bar offers no Close; only the Close button ends the program.
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BuildControls();
  void FitOuterSize();
  void ShowState();
  static void ShowLabel(QLabel* widget, const app::Label& model, int left, int top);

  QLabel* label1 = nullptr;
  QComboBox* cboDrives = nullptr;
  QPushButton* cmdUpdate = nullptr;
  QPushButton* cmdClose = nullptr;
  QLabel* lblUpdateMsg = nullptr;
  QLabel* lblOldFW = nullptr;
  QLabel* lblTo = nullptr;
  QLabel* lblNewFW = nullptr;
  QFrame* bevel1 = nullptr;
  QLabel* lblMsg = nullptr;
  QProgressBar* pbar = nullptr;
  QLabel* lblPercent = nullptr;
  QTimer* tmr = nullptr;
  bool closing = false;
  bool outerSizeFitted = false;  // the window system's frame was known and taken off
  bool showingState = false;
  std::unique_ptr<app::TMovrelMain> main;
};

}  // namespace movrel::ui
