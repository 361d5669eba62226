#include "ui/ecu/ActiveTestWindow.h"

#include <QCloseEvent>

#include "link/ActiveTests.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/widgets/Placement.h"
#include "ui_ActiveTestWindow.h"

TActiveTestWindow::TActiveTestWindow(Session& session, UserDialogs& dialogs, Report report)
    : ui_(std::make_unique<Ui::ActiveTestWindow>()), session_(session), dialogs_(dialogs), report_(std::move(report)) {
  ui_->setupUi(this);
  for (const ActiveTest& test : kActiveTests) ui_->TestBox->addItem(QString::fromUtf8(test.caption));
  ui_->TestBox->setCurrentIndex(FindActiveTest("aac"));
  checkTimer_.setInterval(kCheckMs);
  connect(ui_->TestBox, &QComboBox::currentIndexChanged, this, &TActiveTestWindow::TestBoxChange);
  connect(ui_->ApplyButton, &QPushButton::clicked, this, &TActiveTestWindow::ApplyButtonClick);
  connect(ui_->ReleaseButton, &QPushButton::clicked, this, &TActiveTestWindow::ReleaseButtonClick);
  connect(&checkTimer_, &QTimer::timeout, this, &TActiveTestWindow::CheckTimerTimer);
  TestBoxChange();
  SetAllowed(false);
}

TActiveTestWindow::~TActiveTestWindow() = default;

void TActiveTestWindow::ShowWindow() { ShowInFront(*this); }

void TActiveTestWindow::SetAllowed(bool allowed) {
  allowed_ = allowed;
  ui_->ApplyButton->setEnabled(allowed);
  // A number of seconds and its "s" are joined by a no-break space: the
  // wrapped text never leaves the unit alone at the start of a line.
  ui_->NoteLabel->setText(allowed ? QString("The main window goes on showing the engine while the test holds. A test is "
                                            "released after %1\u00a0s unless applied again.")
                                        .arg(Session::kTestHoldLimit.count())
                                  : QString("Press Start first: a test rides on the live reading, so that the values "
                                            "stay on the screen while it holds."));
  ShowHeld();
}

namespace {

// Tests whose values have names ("off", "low", "high") offer the names;
// the others a number in the test's unit.
bool NamedValues(const ActiveTest& test) {
  return test.encoding == TestEncoding::kOnOff || test.encoding == TestEncoding::kFanSpeed;
}

}  // namespace

void TActiveTestWindow::TestBoxChange() {
  const int index = ui_->TestBox->currentIndex();
  if (index < 0) return;
  const ActiveTest& test = kActiveTests[static_cast<size_t>(index)];
  // The controls offer the table's values only.
  ui_->ValueEdit->setRange(test.minValue, test.maxValue);
  ui_->ValueEdit->setSingleStep(test.step);
  ui_->ValueEdit->setValue(test.restValue);
  ui_->ValueEdit->setSuffix(test.unit[0] != '\0' && test.encoding != TestEncoding::kCylinder
                                ? QString(" ") + test.unit
                                : QString());
  ui_->ValueEdit->setEnabled(test.minValue != test.maxValue);
  ui_->ValueChoice->clear();
  if (NamedValues(test)) {
    for (int value = test.minValue; value <= test.maxValue; value += test.step)
      ui_->ValueChoice->addItem(QString::fromStdString(ActiveTestValueText(test, value)), value);
    ui_->ValueChoice->setCurrentIndex(ui_->ValueChoice->findData(test.restValue));
  }
  ui_->ValueEdit->setVisible(!NamedValues(test));
  ui_->ValueChoice->setVisible(NamedValues(test));
  ui_->ValueCaption->setText(test.encoding == TestEncoding::kCylinder ? "Cylinder to cut"
                             : test.encoding == TestEncoding::kFanSpeed ? "Speed"
                             : test.encoding == TestEncoding::kOnOff    ? "Relay"
                                                                        : "Value");
  ui_->WhatLabel->setText(QString::fromUtf8(test.whatItDoes));
}

int TActiveTestWindow::ChosenValue() const {
  return ui_->ValueChoice->isVisibleTo(this) ? ui_->ValueChoice->currentData().toInt() : ui_->ValueEdit->value();
}

void TActiveTestWindow::ApplyButtonClick() {
  if (!allowed_) return;
  const int index = ui_->TestBox->currentIndex();
  if (index < 0) return;
  const ActiveTest& test = kActiveTests[static_cast<size_t>(index)];
  const int value = ChosenValue();
  const std::string shown = ActiveTestValueText(test, value);
  const QString question = QString("Apply \"%1\"%2?\n\n%3\n\nRelease ends it; so do Stop, closing this window and "
                                   "%4\u00a0s without applying it again.")
                               .arg(QString::fromUtf8(test.caption))
                               .arg(shown.empty() ? QString() : QString(" at ") + QString::fromStdString(shown))
                               .arg(QString::fromUtf8(test.whatItDoes))
                               .arg(Session::kTestHoldLimit.count());
  if (!dialogs_.Question(this, question, "Active Test")) return;
  report_(session_.ApplyActiveTest(index, value));
  ShowHeld();
}

void TActiveTestWindow::ReleaseButtonClick() {
  report_(session_.ReleaseActiveTest());
  ShowHeld();
}

void TActiveTestWindow::CheckTimerTimer() {
  const CommandOutcome checked = session_.CheckActiveTest();
  if (!checked.lines.empty()) report_(checked);
  ShowHeld();
}

void TActiveTestWindow::closeEvent(QCloseEvent* event) {
  if (session_.ActiveTestHeld().index >= 0) report_(session_.ReleaseActiveTest());
  ShowHeld();
  QWidget::closeEvent(event);
}

void TActiveTestWindow::ShowHeld() {
  const HeldTest& held = session_.ActiveTestHeld();
  ui_->ReleaseButton->setEnabled(held.index >= 0);
  if (held.index < 0) {
    checkTimer_.stop();
    ui_->HoldLabel->setText("No test held.");
    return;
  }
  if (!checkTimer_.isActive()) checkTimer_.start();
  const ActiveTest& test = kActiveTests[static_cast<size_t>(held.index)];
  const std::string shown = ActiveTestValueText(test, held.value);
  ui_->HoldLabel->setText(QString("Holding: %1%2 (released in %3\u00a0s)")
                              .arg(QString::fromUtf8(test.caption))
                              .arg(shown.empty() ? QString() : QString(" at ") + QString::fromStdString(shown))
                              .arg(session_.ActiveTestSecondsLeft()));
}
