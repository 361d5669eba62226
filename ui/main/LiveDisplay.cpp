#include "ui/main/LiveDisplay.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>

#include <algorithm>
#include <cstring>

#include "ui_Consultmain.h"

namespace {

// The value rows in the order the display visits them; row n is drawn by
// Label<n>, ProgressBar<n> and Label<n>_ of the form.
constexpr const char* kDisplayRowKeys[kValueCount] = {
    "coolant", "o2",       "speed", "battery", "throttle", "exhaust",
    "ignition", "aac",     "afalpha", "rpm",   "maf",      "injection",
};

const ValueColumn& ColumnByKey(const char* key) {
  for (const ValueColumn& column : kValueColumns) {
    if (std::strcmp(column.key, key) == 0) return column;
  }
  return kValueColumns[0];  // unreachable: every key above is in the table
}

}  // namespace

LiveDisplay::LiveDisplay(QWidget& window, Ui::ConsultMainForm& form) {
  // Captions and ranges come from the one value and bit table; the form
  // carries the same texts only so that it reads as designed.
  for (int n = 0; n < kValueCount; ++n) {
    const QString row = QString::number(n + 1);
    const ValueColumn& column = ColumnByKey(kDisplayRowKeys[n]);
    rows_[static_cast<size_t>(n)] =
        ValueRow{&column, window.findChild<QLabel*>("Label" + row + "_"),
                 window.findChild<QProgressBar*>("ProgressBar" + row)};
    // Each number paints its own background (and so does each bar): a new
    // value repaints it alone, not the frame and the window behind it too.
    QLabel* number = rows_[static_cast<size_t>(n)].valueLabel;
    number->setBackgroundRole(QPalette::Window);
    number->setAutoFillBackground(true);
    window.findChild<QLabel*>("Label" + row)->setText(column.caption);
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
  }
}

void LiveDisplay::Show(const SampleCell& cell) {
  uint32_t version = 0;
  const SampleRecord sample = cell.Load(version);
  if (anyShown_ && version == shownVersion_) return;  // nothing new since
  anyShown_ = true;
  shownVersion_ = version;
  for (ValueRow& row : rows_) {
    int32_t max = 0;
    int32_t min = 0;
    const int32_t value = ConvertValue(*row.column, sample, max, min);
    // Compared with what the label shows, not with the bar: a bar pinned at
    // its end by an out-of-range value equals its maximum, and a later value
    // of exactly that maximum would leave the old number standing.
    if (row.shown && value == row.lastShown) continue;
    row.shown = true;
    row.lastShown = value;
    row.valueLabel->setText(QString::number(value));
    // A progress bar repaints at once when its value changes, outside the
    // one repaint of the window that follows this show; held, it only asks
    // for its part of that repaint.
    row.bar->setUpdatesEnabled(false);
    // A row's range is the same at every value: set once, it stays.
    if (row.bar->maximum() != max) row.bar->setMaximum(max);
    if (row.bar->minimum() != min) row.bar->setMinimum(min);
    // A progress bar ignores a value outside its range; the bar this display
    // was designed for pins it at the end instead, and so does this one.
    row.bar->setValue(std::clamp(value, min, max));
    row.bar->setUpdatesEnabled(true);
  }
  for (int b = 0; b < kBankCount; ++b) {
    const BitBank& bank = kBitBanks[static_cast<size_t>(b)];
    const uint8_t byte = sample[bank.recordByte];
    uint8_t& previous = previousBankBytes_[static_cast<size_t>(b)];
    if (!hexShown_ || byte != previous)
      hexFields_[static_cast<size_t>(b)]->setText(QString::asprintf("%s : 0x%02X", bank.hexField, byte));
    if (byte != previous) {
      for (Indicator& indicator : indicators_) {
        if (indicator.bit->bank == b) indicator.mark->setChecked((byte & indicator.bit->mask) != 0);
      }
    }
    previous = byte;
  }
  hexShown_ = true;
}
