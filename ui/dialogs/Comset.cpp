#include "ui/dialogs/Comset.h"

#include <QCloseEvent>
#include <QLineEdit>

#include "data/IniFile.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/widgets/Placement.h"
#include "ui_Comset.h"

TCom_set_Form::TCom_set_Form(QWidget* owner, std::function<int32_t()> findCable,
                             const WindowContext& context)
    : QWidget(nullptr),
      ui_(std::make_unique<Ui::Com_set_Form>()),
      owner_(owner),
      findCable_(std::move(findCable)),
      context_(context) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  // The list is the ten ports and nothing else: a typed text never becomes
  // an entry (which would make port numbers above ten), and no completion
  // changes what the user typed behind their back.
  ui_->Com_box->setInsertPolicy(QComboBox::NoInsert);
  ui_->Com_box->setCompleter(nullptr);
  connect(ui_->Com_box->lineEdit(), &QLineEdit::textEdited, this,
          &TCom_set_Form::Com_boxTextEdited);
  connect(ui_->Com_OK, &QPushButton::clicked, this, &TCom_set_Form::Com_OKClick);
  connect(ui_->Com_Cancel, &QPushButton::clicked, this, &TCom_set_Form::Com_CancelClick);
  connect(ui_->Auto_set, &QPushButton::clicked, this, &TCom_set_Form::Auto_setClick);
  FormCreate();
}

TCom_set_Form::~TCom_set_Form() = default;

void TCom_set_Form::FormCreate() {
  const IniFile ini(context_.settingsPath);
  move(ini.ReadInteger("Environment", "COMWindowLeft", 0),
       ini.ReadInteger("Environment", "COMWindowTop", 0));
  const int32_t comNo = ini.ReadInteger("SET", "com_no", 0);
  filePort_ = comNo;
  // No port chosen yet: nothing selected, the edit field as designed.
  ui_->Com_box->setCurrentIndex(-1);
  ui_->Com_box->setEditText("COM1");
  if (comNo != 0) SelectPort(comNo);
}

int32_t TCom_set_Form::PortNumber() const { return ui_->Com_box->currentIndex() + 1; }

void TCom_set_Form::ShowDialog() {
  ShowInFront(*this);
  SavedComIndex = ui_->Com_box->currentIndex();
}

void TCom_set_Form::SelectPort(int32_t n) {
  const bool hasEntry = n >= 1 && n <= ui_->Com_box->count();
  ui_->Com_box->setCurrentIndex(hasEntry ? n - 1 : -1);
}

void TCom_set_Form::SelectPortForThisRun(int32_t n) {
  SelectPort(n);
  runPort_ = PortNumber();
}

int32_t TCom_set_Form::PortToKeep() const {
  const int32_t selected = PortNumber();
  return runPort_ != 0 && selected == runPort_ ? filePort_ : selected;
}

void TCom_set_Form::Com_boxTextEdited(const QString& text) {
  // Only an entry counts: the typed text selects the entry it names, or
  // none (port 0). The user's text stays as typed either way.
  int match = -1;
  const QString name = text.trimmed();
  for (int i = 0; i < ui_->Com_box->count() && !name.isEmpty(); ++i) {
    if (QString::compare(ui_->Com_box->itemText(i), name, Qt::CaseInsensitive) == 0) match = i;
  }
  if (ui_->Com_box->currentIndex() == match) return;
  QLineEdit* edit = ui_->Com_box->lineEdit();
  const int cursor = edit->cursorPosition();
  ui_->Com_box->setCurrentIndex(match);
  edit->setText(text);
  edit->setCursorPosition(cursor);
}

void TCom_set_Form::Com_OKClick() {
  runPort_ = 0;  // the user's own choice from now on
  const int32_t n = PortNumber();
  if (n < 1 || n > 10) {
    Dialogs().Plain(owner_, "Com No Error", "Set Error");
    ui_->Com_box->setCurrentIndex(0);
  }
  hide();
}

void TCom_set_Form::Com_CancelClick() {
  ui_->Com_box->setCurrentIndex(SavedComIndex);
  hide();
}

void TCom_set_Form::Auto_setClick() {
  const int32_t n = findCable_ ? findCable_() : 0;
  if (n == 0) {
    Dialogs().Warning(this, "Vranok Nissan DID-Uzorari Cable  \nis NOT Found.", "Search");
    return;
  }
  Dialogs().Information(
      this, "Vranok Nissan DID-Uzorari Cable  \nis Found.\nCOM : " + QString::number(n) + "\n",
      "Search");
  SelectPort(n);
}

void TCom_set_Form::closeEvent(QCloseEvent* event) {
  Com_CancelClick();
  event->accept();
}
