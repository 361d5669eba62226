// The main window's values: twelve rows of a number and a bar, the bit
// indicators of the three banks and their hexadecimal fields, all shown
// from the current sample. A row, field or indicator whose value did not
// change is not touched, and a sample already shown costs nothing. A value
// or bank the sample does not hold (a register the ECU lacks, a lost line)
// reads "n/a", greyed, with an empty bar: never a number it did not send.
#pragma once

#include <QPalette>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/ValueSettings.h"
#include "data/SampleCell.h"

namespace Ui {
class ConsultMainForm;
}
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QWidget;
class ValueBar;

class LiveDisplay {
 public:
  // Finds the rows' controls in the form and gives them their captions
  // from the value and bit tables.
  LiveDisplay(QWidget& window, Ui::ConsultMainForm& form);

  // Every value label reads "-" until its row first shows a value.
  void Clear();
  // Shows the sample in the cell, unless it is the one shown last. A value
  // that crosses one of its limits turns its row red (and back when it
  // returns) and adds its warning line to warnings.
  void Show(const SampleCell& cell, std::vector<std::string>& warnings);
  void Show(const SampleCell& cell) {
    std::vector<std::string> ignored;
    Show(cell, ignored);
  }

  // The units, limits and peak hold from now on; every row is shown again.
  void SetValueSettings(const ValueSettings& settings);
  const ValueSettings& Settings() const { return settings_; }
  // A Start: the peaks held start again, and so do the warnings.
  void StartAgain();
  // Whether a row warns now (for tests).
  bool Warning(int column) const { return watch_.Warning(column); }
  // Whether a value shown is beyond one of its limits now.
  bool AnyWarning() const { return watch_.AnyWarning(); }

 private:
  struct ValueRow {
    const ValueColumn* column = nullptr;
    int index = 0;  // in kValueColumns
    QLabel* caption = nullptr;
    QLabel* valueLabel = nullptr;
    ValueBar* bar = nullptr;
    QString labelStyle;  // as designed, for a row back from a warning
    QPalette barPalette;
    // The value the label shows; none while it shows "-" or "n/a".
    bool shown = false;
    int32_t lastShown = 0;
    bool absent = false;  // shows "n/a"
  };
  struct Indicator {
    const BitColumn* bit;
    QRadioButton* mark;
  };

  void ShowRow(ValueRow& row, int32_t value, int32_t max, int32_t min);
  void ShowAbsent(ValueRow& row);
  void ShowPeak(ValueRow& row);
  void ShowWarning(ValueRow& row);
  void ShowBank(int bank, const SampleRecord& sample);

  std::array<ValueRow, kValueCount> rows_{};
  ValueSettings settings_;
  WarningWatch watch_;
  PeakHold peaks_;
  enum class Look : uint8_t { kPlain, kWarning, kAbsent };
  std::array<Look, kValueCount> looks_{};  // how the row's number is coloured
  std::array<Indicator, kBitCount> indicators_{};
  std::array<QLineEdit*, kBankCount> hexFields_{};
  std::array<uint8_t, kBankCount> previousBankBytes_{};
  std::array<bool, kBankCount> bankAbsent_{};  // its indicators greyed, its field "n/a"
  bool hexShown_ = false;  // the hex fields still show their design texts
  bool anyShown_ = false;
  uint32_t shownVersion_ = 0;
};
