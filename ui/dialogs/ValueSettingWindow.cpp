#include "ui/dialogs/ValueSettingWindow.h"

#include <QCheckBox>
#include <QSpinBox>

#include "ui/widgets/Placement.h"
#include "ui_ValueSettingWindow.h"

namespace {
enum Column { kCaption, kLowOn, kLow, kHighOn, kHigh, kPeak };
}  // namespace

TValueSettingWindow::TValueSettingWindow(Apply apply)
    : ui_(std::make_unique<Ui::ValueSettingWindow>()), apply_(std::move(apply)) {
  ui_->setupUi(this);
  // One row per value, the main window's twelve then those some ECUs have
  // beyond them, its limits within a wide margin of its range (a value may
  // read beyond it).
  QTableWidget& table = *ui_->LimitTable;
  table.setRowCount(kAllValueCount);
  for (int row = 0; row < kAllValueCount; ++row) {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(row)];
    table.setItem(row, kCaption, new QTableWidgetItem(column.caption));
    for (int c : {kLowOn, kHighOn, kPeak}) table.setCellWidget(row, c, new QCheckBox(&table));
    for (int c : {kLow, kHigh}) {
      auto* edit = new QSpinBox(&table);
      const int32_t span = column.rangeMax - column.rangeMin;
      edit->setRange(column.rangeMin - span, column.rangeMax + span);
      edit->setSuffix(QString(" ") + column.unit);
      table.setCellWidget(row, c, edit);
    }
  }
  table.resizeColumnsToContents();
  connect(ui_->OkButton, &QPushButton::clicked, this, &TValueSettingWindow::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TValueSettingWindow::CancelButtonClick);
  connect(ui_->TyreButton, &QPushButton::clicked, this, &TValueSettingWindow::TyreButtonClick);
}

TValueSettingWindow::~TValueSettingWindow() = default;

QCheckBox* TValueSettingWindow::LowBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kLowOn)); }
QSpinBox* TValueSettingWindow::LowEdit(int c) const { return qobject_cast<QSpinBox*>(ui_->LimitTable->cellWidget(c, kLow)); }
QCheckBox* TValueSettingWindow::HighBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kHighOn)); }
QSpinBox* TValueSettingWindow::HighEdit(int c) const { return qobject_cast<QSpinBox*>(ui_->LimitTable->cellWidget(c, kHigh)); }
QCheckBox* TValueSettingWindow::PeakBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kPeak)); }

void TValueSettingWindow::ShowWindow(const ValueSettings& settings) {
  for (int c = 0; c < kAllValueCount; ++c) {
    const ValueLimit& limit = settings.LimitOf(c);
    LowBox(c)->setChecked(limit.lowOn);
    LowEdit(c)->setValue(limit.low);
    HighBox(c)->setChecked(limit.highOn);
    HighEdit(c)->setValue(limit.high);
    PeakBox(c)->setChecked(limit.peakHold);
  }
  (settings.speedUnit == SpeedUnit::kMph ? ui_->MphButton : ui_->KmhButton)->setChecked(true);
  (settings.temperatureUnit == TemperatureUnit::kFahrenheit ? ui_->FahrenheitButton : ui_->CelsiusButton)
      ->setChecked(true);
  ui_->FactorEdit->setValue(settings.speedFactor);
  ShowInFront(*this);
}

ValueSettings TValueSettingWindow::Chosen() const {
  ValueSettings settings;
  for (int c = 0; c < kAllValueCount; ++c) {
    settings.LimitOf(c) = ValueLimit{LowBox(c)->isChecked(), LowEdit(c)->value(), HighBox(c)->isChecked(),
                                     HighEdit(c)->value(), PeakBox(c)->isChecked()};
  }
  settings.speedUnit = ui_->MphButton->isChecked() ? SpeedUnit::kMph : SpeedUnit::kKmh;
  settings.temperatureUnit =
      ui_->FahrenheitButton->isChecked() ? TemperatureUnit::kFahrenheit : TemperatureUnit::kCelsius;
  settings.speedFactor = ui_->FactorEdit->value();
  return settings;
}

void TValueSettingWindow::OkButtonClick() {
  apply_(Chosen());
  hide();
}

void TValueSettingWindow::CancelButtonClick() { hide(); }

void TValueSettingWindow::TyreButtonClick() {
  double factor = 1.0;
  if (!TyreSpeedFactor(ui_->StockTyreEdit->text().trimmed().toStdString(),
                       ui_->FittedTyreEdit->text().trimmed().toStdString(), factor)) {
    ui_->TyreNote->setText("Give both sizes as width/aspect R rim, for example 205/55R16 and 225/45R17.");
    return;
  }
  ui_->FactorEdit->setValue(factor);
  ui_->TyreNote->setText(QString("The fitted tyres turn %1 times as far per turn as the stock ones: factor %2.")
                             .arg(factor, 0, 'f', 4)
                             .arg(factor, 0, 'f', 3));
}
