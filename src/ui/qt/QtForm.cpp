#include "ui/qt/QtForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include "app/MovrelMain.h"
#include "ui/qt/QtApplication.h"

namespace movrel::ui {

using app::Color;
using app::Label;
using app::TMovrelMain;
using package::PackageView;

namespace {

// The form's bounds on the screen, title bar and frame included.
constexpr QSize kFormSize(460, 167);

QFont Font(const char* family, int points, bool bold, QFont::StyleHint hint) {
  QFont font(family, points, bold ? QFont::Bold : QFont::Normal);
  font.setStyleHint(hint);
  return font;
}

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The Update button's glyph: a chip with an arrow into it, normal and disabled.
QIcon UpdateGlyph() {
  QPixmap normal(16, 16);
  normal.fill(Qt::transparent);
  QPainter painter(&normal);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0, 0, 128), 1));
  painter.setBrush(QColor(64, 64, 64));
  painter.drawRect(3, 9, 10, 6);
  painter.setBrush(QColor(0, 128, 0));
  painter.setPen(Qt::NoPen);
  const QPoint arrow[] = {{8, 9}, {3, 4}, {6, 4}, {6, 0}, {10, 0}, {10, 4}, {13, 4}};
  painter.drawPolygon(arrow, 7);
  painter.end();
  QIcon icon(normal);
  return icon;
}

// The drop-down list's lines are 16 pixels high.
class FixedHeightItems : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(16);
    return size;
  }
};

void Place(QWidget* widget, int left, int top, int width = -1, int height = -1) {
  if (width < 0) {
    widget->adjustSize();
    widget->move(left, top);
  } else {
    widget->setGeometry(left, top, width, height);
  }
}

}  // namespace

QtForm::QtForm(platform::System& system, QtApplication& application, PackageView package)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  BuildControls();
  application.SetDialogOwner(this);
  main = std::make_unique<TMovrelMain>(system, application, package, [this] { ShowState(); });
  ShowState();

  connect(cboDrives, &QComboBox::activated, this, [this](int index) {
    main->cboDrives.SetItemIndex(index);
    main->cboDrivesChange(cboDrives);
  });
  connect(cmdUpdate, &QPushButton::clicked, this, [this] { main->cmdUpdateClick(cmdUpdate); });
  connect(cmdClose, &QPushButton::clicked, this, [this] {
    main->cmdCloseClick(cmdClose);
    closing = true;
    close();
  });
  connect(tmr, &QTimer::timeout, this, [this] { main->tmrTimer(tmr); });
}

QtForm::~QtForm() {
  if (main) main->FormDestroy();
}

void QtForm::BuildControls() {
  setWindowTitle("Movrel");
  setFont(Font("MS Sans Serif", 8, false, QFont::SansSerif));
  resize(kFormSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QRect(QPoint(), kFormSize).center());
  }
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);

  const QFont arial = Font("Arial", 8, false, QFont::SansSerif);
  const QFont tahomaBold = Font("Tahoma", 8, true, QFont::SansSerif);
  const QFont verdanaBold = Font("Verdana", 8, true, QFont::SansSerif);

  label1 = new QLabel(this);
  label1->setFont(arial);
  lblTo = new QLabel(this);
  lblTo->setFont(arial);
  // Created after "to", with its own background: the longer not-allowed text covers it.
  lblUpdateMsg = new QLabel(this);
  lblUpdateMsg->setFont(arial);
  lblUpdateMsg->setAutoFillBackground(true);
  lblOldFW = new QLabel(this);
  lblOldFW->setFont(tahomaBold);
  lblNewFW = new QLabel(this);
  lblNewFW->setFont(tahomaBold);
  lblPercent = new QLabel(this);
  lblPercent->setFont(tahomaBold);

  cboDrives = new QComboBox(this);
  cboDrives->setEditable(false);
  cboDrives->setFont(Font("Courier New", 10, false, QFont::Monospace));
  cboDrives->setItemDelegate(new FixedHeightItems(cboDrives));
  Place(cboDrives, 8, 24, 353, 24);

  cmdUpdate = new QPushButton(UpdateGlyph(), "", this);
  cmdUpdate->setFont(tahomaBold);
  Place(cmdUpdate, 368, 24, 77, 25);
  cmdClose = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), "", this);
  cmdClose->setFont(tahomaBold);
  Place(cmdClose, 368, 52, 77, 25);

  bevel1 = new QFrame(this);
  bevel1->setFrameShape(QFrame::Box);
  bevel1->setFrameShadow(QFrame::Sunken);
  Place(bevel1, 8, 84, 437, 49);
  bevel1->lower();

  lblMsg = new QLabel(this);
  lblMsg->setFont(verdanaBold);
  pbar = new QProgressBar(this);
  pbar->setTextVisible(false);
  Place(pbar, 16, 112, 373, 13);

  tmr = new QTimer(this);
  tmr->setInterval(100);

  setTabOrder(cboDrives, pbar);
  setTabOrder(pbar, cmdUpdate);
  setTabOrder(cmdUpdate, cmdClose);
}

void QtForm::ShowLabel(QLabel* widget, const Label& model, int left, int top) {
  // Labels show the drive's and the package's texts: never read as rich text.
  widget->setTextFormat(Qt::PlainText);
  widget->setText(Text(model.Text()));
  // The form paints with the button face; its labels keep their own text colour.
  widget->setForegroundRole(QPalette::WindowText);
  const Color color = model.FontColor();
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, QColor(color.red, color.green, color.blue));
  widget->setPalette(palette);
  widget->setVisible(model.Visible());
  widget->adjustSize();
  widget->move(left, top);
}

void QtForm::ShowState() {
  if (!main || showingState) return;
  showingState = true;
  const TMovrelMain& m = *main;
  setWindowTitle(Text(m.Caption()));

  ShowLabel(label1, m.Label1, 12, 4);
  ShowLabel(lblUpdateMsg, m.lblUpdateMsg, 11, 56);
  ShowLabel(lblOldFW, m.lblOldFW, 143, 56);
  ShowLabel(lblTo, m.lblTo, 186, 56);
  ShowLabel(lblNewFW, m.lblNewFW, 208, 56);
  ShowLabel(lblMsg, m.lblMsg, 16, 92);
  ShowLabel(lblPercent, m.lblPercent, 400, 112);

  QStringList items;
  for (const auto& line : m.cboDrives.Items()) items << Text(line);
  QStringList shown;
  for (int i = 0; i < cboDrives->count(); ++i) shown << cboDrives->itemText(i);
  if (items != shown) {
    cboDrives->clear();
    cboDrives->addItems(items);
  }
  cboDrives->setCurrentIndex(m.cboDrives.ItemIndex());

  cmdUpdate->setText(Text(m.cmdUpdate.Caption()));
  cmdUpdate->setEnabled(m.cmdUpdate.Enabled());
  cmdClose->setText(Text(m.cmdClose.Caption()));
  cmdClose->setEnabled(m.cmdClose.Enabled());

  pbar->setRange(m.pbar.Min(), m.pbar.Max());
  pbar->setValue(m.pbar.Position());

  if (m.tmr.Enabled() && !tmr->isActive()) tmr->start();
  if (!m.tmr.Enabled() && tmr->isActive()) tmr->stop();
  showingState = false;
}

// The frame is known only once the window system has framed the shown window; the client area
// is then what is left of the form's bounds.
void QtForm::FitOuterSize() {
  const QSize frame = frameGeometry().size() - size();
  if (size() != kFormSize - frame) resize(kFormSize - frame);
  outerSizeFitted = !frame.isNull();
}

bool QtForm::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  const QEvent::Type type = event->type();
  if (!outerSizeFitted && isVisible() &&
      (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)) {
    FitOuterSize();
  }
  return handled;
}

void QtForm::closeEvent(QCloseEvent* event) {
  if (closing) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace movrel::ui
