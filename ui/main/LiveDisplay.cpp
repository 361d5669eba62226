#include "ui/main/LiveDisplay.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>

#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/widgets/ValueBar.h"
#include "ui_Consultmain.h"

namespace {

// The value rows in the order the display visits them; row n is drawn by
// Label<n>, ProgressBar<n> and Label<n>_ of the form.
constexpr int kDisplayRows[kValueCount] = {
    ValueIndexOf("coolant"),  ValueIndexOf("o2"),      ValueIndexOf("speed"), ValueIndexOf("battery"),
    ValueIndexOf("throttle"), ValueIndexOf("exhaust"), ValueIndexOf("ignition"), ValueIndexOf("aac"),
    ValueIndexOf("afalpha"),  ValueIndexOf("rpm"),     ValueIndexOf("maf"),   ValueIndexOf("injection"),
};
static_assert(std::ranges::all_of(kDisplayRows, [](int i) { return i < kValueCount; }),
              "the main window shows the eighteen's values only");

}  // namespace

LiveDisplay::LiveDisplay(QWidget& window, Ui::ConsultMainForm& form) {
  // Captions and ranges come from the one value and bit table; the form
  // carries the same texts only so that it reads as designed.
  for (int n = 0; n < kValueCount; ++n) {
    const QString row = QString::number(n + 1);
    ValueRow& r = rows_[static_cast<size_t>(n)];
    r.index = kDisplayRows[n];
    r.column = &kValueColumns[static_cast<size_t>(r.index)];
    r.caption = window.findChild<QLabel*>("Label" + row);
    r.valueLabel = window.findChild<QLabel*>("Label" + row + "_");
    r.bar = window.findChild<ValueBar*>("ProgressBar" + row);
    r.labelStyle = r.valueLabel->styleSheet();
    r.barPalette = r.bar->palette();
    // A right-click on a bar lets its peak go; the next sample starts it again.
    const int index = r.index;
    ValueBar* bar = r.bar;
    QObject::connect(bar, &ValueBar::MarkClearRequested, bar, [this, index, bar] {
      peaks_.Reset(index);
      bar->SetMark(false);
    });
    // Each number paints its own background (and so does each bar): a new
    // value repaints it alone, not the frame and the window behind it too.
    QLabel* number = rows_[static_cast<size_t>(n)].valueLabel;
    number->setBackgroundRole(QPalette::Window);
    number->setAutoFillBackground(true);
    r.caption->setText(r.column->caption);
  }
  for (int b = 0; b < kBankCount; ++b) {
    const BitBank& bank = kBitBanks[static_cast<size_t>(b)];
    window.findChild<QGroupBox*>("GroupBox" + QString::number(b + 1))->setTitle(bank.groupCaption);
    hexFields_[static_cast<size_t>(b)] = window.findChild<QLineEdit*>(bank.hexField);
  }
  for (size_t i = 0; i < kBitColumns.size(); ++i) {
    QRadioButton* mark = window.findChild<QRadioButton*>(kBitColumns[i].indicator);
    mark->setText(kBitColumns[i].caption);
    indicators_[i] = Indicator{&kBitColumns[i], mark};
  }
  // The indicators show bits; the user does not toggle them.
  for (QRadioButton* mark : form.ClientArea->findChildren<QRadioButton*>()) {
    mark->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
}

void LiveDisplay::Clear() {
  for (ValueRow& row : rows_) {
    row.valueLabel->setText("-");
    row.shown = false;
    row.absent = false;
    ShowWarning(row);
  }
}

void LiveDisplay::SetValueSettings(const ValueSettings& settings) {
  settings_ = settings;
  for (ValueRow& row : rows_) {
    row.caption->setText(QString::fromStdString(ShownCaption(row.index, settings_)));
    row.shown = false;  // shown again in the units now chosen
    if (!settings_.limits[static_cast<size_t>(row.index)].peakHold) row.bar->SetMark(false);
  }
  anyShown_ = false;
}

void LiveDisplay::StartAgain() {
  peaks_.Reset();
  watch_.Reset();
  for (ValueRow& row : rows_) {
    row.bar->SetMark(false);
    ShowWarning(row);
  }
}

void LiveDisplay::Show(const SampleCell& cell, std::vector<std::string>& warnings) {
  uint32_t version = 0;
  const SampleRecord sample = cell.Load(version);
  if (anyShown_ && version == shownVersion_) return;  // nothing new since
  anyShown_ = true;
  shownVersion_ = version;
  // Every value the sample holds, the twelve shown here and those beyond:
  // a limit set on any of them warns, and one the sample lacks neither
  // warns nor moves its peak.
  const ValueReadings readings = ReadingsOf(sample);
  std::vector<WarningWatch::Crossing> crossed;
  watch_.Feed(readings, settings_, crossed);
  for (const WarningWatch::Crossing& crossing : crossed) warnings.push_back(WarningLine(crossing, settings_));
  peaks_.Feed(readings);
  for (ValueRow& row : rows_) {
    const size_t i = static_cast<size_t>(row.index);
    if (readings[i]) {
      int32_t max = 0;
      int32_t min = 0;
      const int32_t value = ConvertValue(*row.column, sample, max, min);
      ShowRow(row, value, max, min);
    } else {
      ShowAbsent(row);
    }
    ShowWarning(row);
    if (settings_.limits[i].peakHold) ShowPeak(row);
  }
  for (int b = 0; b < kBankCount; ++b) ShowBank(b, sample);
  hexShown_ = true;
}

void LiveDisplay::ShowBank(int b, const SampleRecord& sample) {
  const size_t at = static_cast<size_t>(b);
  const BitBank& bank = kBitBanks[at];
  QLineEdit& field = *hexFields_[at];
  const bool held = (PresentRegisters(sample) >> CatalogueIndexOf(bank.registerNumber) & 1) != 0;
  if (!held) {
    if (bankAbsent_[at] && hexShown_) return;
    bankAbsent_[at] = true;
    field.setText(QString("%1 : n/a").arg(bank.hexField));
    for (Indicator& indicator : indicators_) {
      if (indicator.bit->bank != b) continue;
      indicator.mark->setChecked(false);
      indicator.mark->setEnabled(false);
    }
    return;
  }
  const uint8_t byte = sample[bank.recordByte];
  uint8_t& previous = previousBankBytes_[at];
  // A bank back after a gap shows its bits whatever they were before.
  const bool back = std::exchange(bankAbsent_[at], false);
  if (!hexShown_ || back || byte != previous) field.setText(QString::asprintf("%s : 0x%02X", bank.hexField, byte));
  if (back || byte != previous) {
    for (Indicator& indicator : indicators_) {
      if (indicator.bit->bank != b) continue;
      if (back) indicator.mark->setEnabled(true);
      indicator.mark->setChecked((byte & indicator.bit->mask) != 0);
    }
  }
  previous = byte;
}

void LiveDisplay::ShowRow(ValueRow& row, int32_t value, int32_t max, int32_t min) {
  row.absent = false;
  // Compared with what the label shows, not with the bar: a bar pinned at
  // its end by an out-of-range value equals its maximum, and a later value
  // of exactly that maximum would leave the old number standing.
  if (row.shown && value == row.lastShown) return;
  row.shown = true;
  row.lastShown = value;
  // In the units chosen; the table's own numbers where they agree.
  auto shown = [&](int32_t v) {
    return static_cast<int32_t>(std::lround(ShownValue(row.index, v, settings_)));
  };
  row.valueLabel->setText(QString::number(shown(value)));
  // A progress bar repaints at once when its value changes, outside the
  // one repaint of the window that follows this show; held, it only asks
  // for its part of that repaint.
  row.bar->setUpdatesEnabled(false);
  // A row's range is the same at every value: set once, it stays.
  if (row.bar->maximum() != shown(max)) row.bar->setMaximum(shown(max));
  if (row.bar->minimum() != shown(min)) row.bar->setMinimum(shown(min));
  // A progress bar ignores a value outside its range; the bar this display
  // was designed for pins it at the end instead, and so does this one.
  row.bar->setValue(std::clamp(shown(value), shown(min), shown(max)));
  row.bar->setUpdatesEnabled(true);
}

void LiveDisplay::ShowPeak(ValueRow& row) {
  if (!peaks_.Has(row.index)) return;
  const int32_t peak = static_cast<int32_t>(std::lround(ShownValue(row.index, peaks_.Peak(row.index), settings_)));
  row.bar->SetMark(true, peak, QString("max %1").arg(peak));
}

// The row of a value the sample lacks: no number, and an empty bar rather
// than one standing at a value that was never sent.
void LiveDisplay::ShowAbsent(ValueRow& row) {
  if (row.absent) return;
  row.absent = true;
  row.shown = false;  // the value shows again when it comes back, whatever it is
  row.valueLabel->setText("n/a");
  row.bar->setUpdatesEnabled(false);
  row.bar->setValue(row.bar->minimum());
  row.bar->setUpdatesEnabled(true);
}

void LiveDisplay::ShowWarning(ValueRow& row) {
  const size_t i = static_cast<size_t>(row.index);
  const bool warning = watch_.Warning(row.index);
  const Look look = row.absent ? Look::kAbsent : warning ? Look::kWarning : Look::kPlain;
  if (look == looks_[i]) return;
  const bool wasWarning = looks_[i] == Look::kWarning;
  looks_[i] = look;
  // The number's colour comes from its style sheet; the last colour given wins.
  row.valueLabel->setStyleSheet(look == Look::kWarning  ? row.labelStyle + " color: red;"
                                : look == Look::kAbsent ? row.labelStyle + " color: gray;"
                                                        : row.labelStyle);
  if (warning == wasWarning) return;
  QPalette bar = row.barPalette;
  if (warning) bar.setColor(QPalette::Highlight, Qt::red);
  row.bar->setPalette(bar);
}
