// "Value Setting": per value a low and a high warning limit and peak hold,
// the units shown, and the speed correction (a factor, or one worked out
// from the stock and fitted tyre sizes). OK hands the settings to whoever
// applies them; Cancel leaves them as they were. The limits are typed in
// the units chosen, a speed limit as the speed shows with the correction
// (true road speed): a new correction leaves the number as it is.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "analysis/ValueSettings.h"

namespace Ui {
class ValueSettingWindow;
}
class QCheckBox;
class QSpinBox;

class TValueSettingWindow : public QWidget {
  Q_OBJECT

 public:
  using Apply = std::function<void(const ValueSettings&)>;
  explicit TValueSettingWindow(Apply apply);
  ~TValueSettingWindow() override;

  Ui::ValueSettingWindow* Form() const { return ui_.get(); }
  // Shows the window with these settings in its controls.
  void ShowWindow(const ValueSettings& settings);
  // What the controls say now.
  ValueSettings Chosen() const;
  // The controls of one value's row (for tests).
  QCheckBox* LowBox(int column) const;
  QSpinBox* LowEdit(int column) const;
  QCheckBox* HighBox(int column) const;
  QSpinBox* HighEdit(int column) const;
  QCheckBox* PeakBox(int column) const;

 public slots:
  void OkButtonClick();
  void CancelButtonClick();
  void TyreButtonClick();
  void UnitButtonClick();

 private:
  void ShowLimits();

  std::unique_ptr<Ui::ValueSettingWindow> ui_;
  Apply apply_;
  ValueSettings shown_;  // the limits the boxes were filled from, and their units
};
