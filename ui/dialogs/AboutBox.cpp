#include "ui/dialogs/AboutBox.h"

#include <QCloseEvent>

#include "ui/widgets/Placement.h"
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
  ShowCentredOnScreen(*this);
  ui_->OKButton->setFocus();
}

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::closeEvent(QCloseEvent* event) {
  OKButtonClick();
  event->accept();
}

void TAboutBox::reject() { OKButtonClick(); }
