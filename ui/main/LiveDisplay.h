// The main window's values: twelve rows of a number and a bar, the bit
// indicators of the three banks and their hexadecimal fields, all shown
// from the current sample. A row, field or indicator whose value did not
// change is not touched, and a sample already shown costs nothing.
#pragma once

#include <array>
#include <cstdint>

#include "data/SampleCell.h"

namespace Ui {
class ConsultMainForm;
}
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QWidget;

class LiveDisplay {
 public:
  // Finds the rows' controls in the form and gives them their captions
  // from the value and bit tables.
  LiveDisplay(QWidget& window, Ui::ConsultMainForm& form);

  // Every value label reads "-" until its row first shows a value.
  void Clear();
  // Shows the sample in the cell, unless it is the one shown last.
  void Show(const SampleCell& cell);

 private:
  struct ValueRow {
    const ValueColumn* column;
    QLabel* valueLabel;
    QProgressBar* bar;
    // The value the label shows; none while it shows "-".
    bool shown = false;
    int32_t lastShown = 0;
  };
  struct Indicator {
    const BitColumn* bit;
    QRadioButton* mark;
  };

  std::array<ValueRow, kValueCount> rows_{};
  std::array<Indicator, kBitCount> indicators_{};
  std::array<QLineEdit*, kBankCount> hexFields_{};
  std::array<uint8_t, kBankCount> previousBankBytes_{};
  bool hexShown_ = false;  // the hex fields still show their design texts
  bool anyShown_ = false;
  uint32_t shownVersion_ = 0;
};
