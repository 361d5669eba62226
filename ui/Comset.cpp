#include "ui/Comset.h"

#include <QCloseEvent>

#include "ui/IniFile.h"
#include "ui/Settings.h"
#include "ui_Comset.h"

TCom_set_Form::TCom_set_Form(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Com_set_Form>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  connect(ui_->Com_OK, &QPushButton::clicked, this, &TCom_set_Form::Com_OKClick);
  connect(ui_->Com_Cancel, &QPushButton::clicked, this, &TCom_set_Form::Com_CancelClick);
  connect(ui_->Auto_set, &QPushButton::clicked, this, &TCom_set_Form::Auto_setClick);
  FormCreate();
}

TCom_set_Form::~TCom_set_Form() = default;

void TCom_set_Form::FormCreate() {
  const IniFile ini(SettingsPath());
  move(ini.ReadInteger("Environment", "COMWindowLeft", 0),
       ini.ReadInteger("Environment", "COMWindowTop", 0));
  const int32_t comNo = ini.ReadInteger("SET", "com_no", 0);
  // No port chosen yet: nothing selected, the edit field as designed.
  ui_->Com_box->setCurrentIndex(-1);
  ui_->Com_box->setEditText("COM1");
  if (comNo >= 1 && comNo <= ui_->Com_box->count()) ui_->Com_box->setCurrentIndex(comNo - 1);
}

int32_t TCom_set_Form::PortNumber() const { return ui_->Com_box->currentIndex() + 1; }

void TCom_set_Form::Com_OKClick() { hide(); }

void TCom_set_Form::Com_CancelClick() {
  ui_->Com_box->setCurrentIndex(SavedComIndex);
  hide();
}

void TCom_set_Form::Auto_setClick() {}

void TCom_set_Form::closeEvent(QCloseEvent* event) {
  Com_CancelClick();
  event->accept();
}
