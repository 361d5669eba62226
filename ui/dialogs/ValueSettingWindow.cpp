#include "ui/dialogs/ValueSettingWindow.h"

#include <QCheckBox>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <string>

#include "ui/widgets/Placement.h"
#include "ui_ValueSettingWindow.h"

namespace {
enum Column { kCaption, kLowOn, kLow, kHighOn, kHigh, kPeak };

// A limit may lie within a wide margin of its value's range (a value may
// read beyond it), whatever the speed correction: a box that clamped a
// limit would move it.
void SetLimitRange(QSpinBox& edit, int column, const ValueSettings& units) {
  const ValueColumn& c = kAllValueColumns[static_cast<size_t>(column)];
  const int32_t span = c.rangeMax - c.rangeMin;
  ValueSettings settings = units;
  long low = 0;
  long high = 0;
  for (double factor : {ValueSettings::kMinSpeedFactor, ValueSettings::kMaxSpeedFactor}) {
    settings.speedFactor = factor;
    for (int32_t end : {c.rangeMin - span, c.rangeMax + span}) {
      const long shown = std::lround(ShownValue(column, end, settings));
      low = std::min(low, shown);
      high = std::max(high, shown);
    }
  }
  edit.setRange(static_cast<int>(low), static_cast<int>(high));
}

}  // namespace

TValueSettingWindow::TValueSettingWindow(Apply apply)
    : ui_(std::make_unique<Ui::ValueSettingWindow>()), apply_(std::move(apply)) {
  ui_->setupUi(this);
  // One row per value, the main window's twelve then those some ECUs have
  // beyond them.
  QTableWidget& table = *ui_->LimitTable;
  table.setRowCount(kAllValueCount);
  for (int row = 0; row < kAllValueCount; ++row) {
    table.setItem(row, kCaption, new QTableWidgetItem);
    for (int c : {kLowOn, kHighOn, kPeak}) table.setCellWidget(row, c, new QCheckBox(&table));
    for (int c : {kLow, kHigh}) table.setCellWidget(row, c, new QSpinBox(&table));
  }
  ShowLimits();
  connect(ui_->OkButton, &QPushButton::clicked, this, &TValueSettingWindow::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TValueSettingWindow::CancelButtonClick);
  connect(ui_->TyreButton, &QPushButton::clicked, this, &TValueSettingWindow::TyreButtonClick);
  // Each toggles as its group changes either way.
  connect(ui_->MphButton, &QRadioButton::toggled, this, &TValueSettingWindow::UnitButtonClick);
  connect(ui_->FahrenheitButton, &QRadioButton::toggled, this, &TValueSettingWindow::UnitButtonClick);
}

TValueSettingWindow::~TValueSettingWindow() = default;

QCheckBox* TValueSettingWindow::LowBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kLowOn)); }
QSpinBox* TValueSettingWindow::LowEdit(int c) const { return qobject_cast<QSpinBox*>(ui_->LimitTable->cellWidget(c, kLow)); }
QCheckBox* TValueSettingWindow::HighBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kHighOn)); }
QSpinBox* TValueSettingWindow::HighEdit(int c) const { return qobject_cast<QSpinBox*>(ui_->LimitTable->cellWidget(c, kHigh)); }
QCheckBox* TValueSettingWindow::PeakBox(int c) const { return qobject_cast<QCheckBox*>(ui_->LimitTable->cellWidget(c, kPeak)); }

void TValueSettingWindow::ShowWindow(const ValueSettings& settings) {
  (settings.speedUnit == SpeedUnit::kMph ? ui_->MphButton : ui_->KmhButton)->setChecked(true);
  (settings.temperatureUnit == TemperatureUnit::kFahrenheit ? ui_->FahrenheitButton : ui_->CelsiusButton)
      ->setChecked(true);
  ui_->FactorEdit->setValue(settings.speedFactor);
  shown_ = settings;
  ShowLimits();
  ShowInFront(*this);
}

void TValueSettingWindow::ShowLimits() {
  QTableWidget& table = *ui_->LimitTable;
  for (int c = 0; c < kAllValueCount; ++c) {
    const ValueLimit& limit = shown_.LimitOf(c);
    table.item(c, kCaption)->setText(QString::fromStdString(ShownCaption(c, shown_)));
    const QString suffix = QString::fromStdString(" " + ShownUnit(c, shown_));
    for (QSpinBox* edit : {LowEdit(c), HighEdit(c)}) {
      SetLimitRange(*edit, c, shown_);
      edit->setSuffix(suffix);
    }
    LowBox(c)->setChecked(limit.lowOn);
    LowEdit(c)->setValue(static_cast<int>(std::lround(ShownValue(c, limit.low, shown_))));
    HighBox(c)->setChecked(limit.highOn);
    HighEdit(c)->setValue(static_cast<int>(std::lround(ShownValue(c, limit.high, shown_))));
    PeakBox(c)->setChecked(limit.peakHold);
  }
  table.resizeColumnsToContents();
}

ValueSettings TValueSettingWindow::Chosen() const {
  // In the units the boxes show, which are those chosen but while a unit
  // button turns them.
  ValueSettings settings = shown_;
  settings.speedFactor = ui_->FactorEdit->value();
  for (int c = 0; c < kAllValueCount; ++c) {
    const ValueLimit& before = shown_.LimitOf(c);
    ValueLimit& limit = settings.LimitOf(c);
    limit.lowOn = LowBox(c)->isChecked();
    limit.low = LimitFromShown(c, LowEdit(c)->value(), before.low, settings);
    limit.highOn = HighBox(c)->isChecked();
    limit.high = LimitFromShown(c, HighEdit(c)->value(), before.high, settings);
    limit.peakHold = PeakBox(c)->isChecked();
  }
  return settings;
}

void TValueSettingWindow::UnitButtonClick() {
  // The limits as typed, in the units they were typed in, shown in the new.
  shown_ = Chosen();
  shown_.speedUnit = ui_->MphButton->isChecked() ? SpeedUnit::kMph : SpeedUnit::kKmh;
  shown_.temperatureUnit =
      ui_->FahrenheitButton->isChecked() ? TemperatureUnit::kFahrenheit : TemperatureUnit::kCelsius;
  ShowLimits();
}

void TValueSettingWindow::OkButtonClick() {
  apply_(Chosen());
  hide();
}

void TValueSettingWindow::CancelButtonClick() { hide(); }

void TValueSettingWindow::TyreButtonClick() {
  const std::string stock = ui_->StockTyreEdit->text().trimmed().toStdString();
  const std::string fitted = ui_->FittedTyreEdit->text().trimmed().toStdString();
  double stockMm = 0;
  double fittedMm = 0;
  if (!TyreDiameterMm(stock, stockMm) || !TyreDiameterMm(fitted, fittedMm)) {
    ui_->TyreNote->setText("Give both sizes as width/aspect R rim, for example 205/55R16 and 225/45R17.");
    return;
  }
  double factor = 1.0;
  if (!TyreSpeedFactor(stock, fitted, factor)) {
    ui_->TyreNote->setText(QString("These sizes give a factor of %1, outside the %2 to %3 a correction may be: "
                                   "check both sizes.")
                               .arg(fittedMm / stockMm, 0, 'f', 3)
                               .arg(ValueSettings::kMinSpeedFactor, 0, 'f', 1)
                               .arg(ValueSettings::kMaxSpeedFactor, 0, 'f', 1));
    return;
  }
  ui_->FactorEdit->setValue(factor);
  ui_->TyreNote->setText(QString("The fitted tyres turn %1 times as far per turn as the stock ones: factor %2.")
                             .arg(factor, 0, 'f', 4)
                             .arg(factor, 0, 'f', 3));
}
