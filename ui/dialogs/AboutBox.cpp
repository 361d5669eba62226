#include "ui/dialogs/AboutBox.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "ui_AboutBox.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutBox>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  connect(ui_->OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::ShowCentred() {
  if (!isVisible()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  show();
  raise();
  ui_->OKButton->setFocus();
}

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::closeEvent(QCloseEvent* event) {
  OKButtonClick();
  event->accept();
}

void TAboutBox::reject() { OKButtonClick(); }
