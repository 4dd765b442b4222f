// The desktop window on a real Qt platform (offscreen, or X under Xvfb): its controls, bounds,
// texts and the title bar without Close, and a screenshot of the window as the program draws it.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <cstdlib>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "sim/SimSystem.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtForm.h"

namespace movrel::test {

namespace {

// Answers every box at once, so that no dialog waits for a person.
class AnsweringApplication : public ui::QtApplication {
 public:
  std::vector<std::string> texts;
  platform::MessageAnswer ShowMessage(platform::MessageKind, platform::MessageButtons buttons,
                                      const std::string& text) override {
    texts.push_back(text);
    return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::Yes
                                                      : platform::MessageAnswer::Ok;
  }
};

QWidget* ChildAt(QWidget& form, int x, int y) {
  return form.childAt(x, y);
}

// Whether the widget, as drawn, shows text in the colour: its darkest pixel has that hue.
bool DrawnIn(QWidget& widget, const QColor& color) {
  const QImage image = widget.grab().toImage();
  QColor darkest(Qt::white);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel.lightness() < darkest.lightness()) darkest = pixel;
    }
  }
  const int tolerance = 48;
  return std::abs(darkest.red() - color.red()) < tolerance &&
         std::abs(darkest.green() - color.green()) < tolerance &&
         std::abs(darkest.blue() - color.blue()) < tolerance;
}

TEST(QtForm, ShowsTheDriveListAndPanelAtTheirPlaces) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0}), Drive('E', {1, 0, 0, 0}, "Othermak", "CD-ROM X", "1.00")};
  sim::SimSystem system(bay);
  AnsweringApplication application;
  const auto package = MakePackage(StandardRequest());
  ui::QtForm form(system, application, package.View());
  form.show();
  QApplication::processEvents();

  EXPECT_EQ(form.windowTitle(), "Flash Program for Dornavex DVDRW KTR-207M");
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(form.frameGeometry().size(), QSize(460, 167));

  auto* combo = qobject_cast<QComboBox*>(ChildAt(form, 20, 30));
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->geometry(), QRect(8, 24, 353, 24));
  EXPECT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentText(), " 0-0-0-0 D:DornavexDVDRW KTR-207M   RV05");
  EXPECT_TRUE(QFontInfo(combo->font()).fixedPitch());
  EXPECT_EQ(combo->view()->sizeHintForRow(0), 16);

  auto* update = qobject_cast<QPushButton*>(ChildAt(form, 400, 30));
  ASSERT_NE(update, nullptr);
  EXPECT_EQ(update->text(), "&Update");
  EXPECT_EQ(update->geometry(), QRect(368, 24, 77, 25));
  EXPECT_FALSE(update->icon().isNull());
  auto* close = qobject_cast<QPushButton*>(ChildAt(form, 400, 60));
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->text(), "&Close");

  auto* oldRevision = qobject_cast<QLabel*>(ChildAt(form, 145, 60));
  ASSERT_NE(oldRevision, nullptr);
  EXPECT_EQ(oldRevision->text(), "RV05");
  EXPECT_TRUE(DrawnIn(*oldRevision, QColor(0, 0, 128)));
  // Labels carry the drive's and the package's bytes: never read as rich text.
  for (const QLabel* label : form.findChildren<QLabel*>()) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
  }

  // Choosing the other drive in the list shows that it may not be updated.
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  EXPECT_FALSE(update->isEnabled());
  EXPECT_EQ(form.Main().lblUpdateMsg.Text(), "This drive is not allowed to be updated.");
  EXPECT_FALSE(oldRevision->isVisible());
  auto* updateMessage = qobject_cast<QLabel*>(ChildAt(form, 20, 60));
  ASSERT_NE(updateMessage, nullptr);
  EXPECT_TRUE(DrawnIn(*updateMessage, QColor(128, 0, 0)));

  // The title bar cannot close the window.
  QCloseEvent event;
  QApplication::sendEvent(&form, &event);
  EXPECT_FALSE(event.isAccepted());

  const QString shot =
      QString(std::getenv("MOVREL_SCREENSHOT_DIR") ? std::getenv("MOVREL_SCREENSHOT_DIR") : ".") +
      "/movrel-window-" + QGuiApplication::platformName() + ".png";
  const QPixmap picture = form.grab();
  EXPECT_EQ(picture.size(), form.size());
  EXPECT_TRUE(picture.save(shot));
}

// Under a window manager, the form's bounds are its outer size: title bar and frame included.
TEST(QtForm, BoundsIncludeTheWindowManagersFrame) {
  const char* manager = std::getenv("MOVREL_WINDOW_MANAGER");
  if (manager == nullptr) GTEST_SKIP() << "no window manager named";
  QProcess wm;
  wm.start(manager, {});
  ASSERT_TRUE(wm.waitForStarted());
  // The manager frames the windows shown once it runs.
  const auto framed = [](QWidget& window, int milliseconds) {
    QElapsedTimer waited;
    waited.start();
    while (window.frameGeometry().size() == window.size() && waited.elapsed() < milliseconds) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return window.frameGeometry().size() != window.size();
  };
  bool running = false;
  for (int attempt = 0; attempt < 20 && !running; ++attempt) {
    QWidget probe;
    probe.show();
    running = framed(probe, 1000);
  }
  ASSERT_TRUE(running) << "the window manager did not start";

  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  sim::SimSystem system(bay);
  AnsweringApplication application;
  const auto package = MakePackage(StandardRequest());
  ui::QtForm form(system, application, package.View());
  form.show();
  ASSERT_TRUE(framed(form, 20000));
  for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(form.frameGeometry().size(), QSize(460, 167));
  wm.terminate();
  wm.waitForFinished();
}

}  // namespace

}  // namespace movrel::test

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
