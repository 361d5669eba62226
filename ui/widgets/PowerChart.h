// A power curve against engine speed: kW and PS on the left scale, the
// torque at the wheels on the right one, the peak marked.
#pragma once

#include <QWidget>

#include <vector>

#include "analysis/PowerMeter.h"

class PowerChart : public QWidget {
  Q_OBJECT

 public:
  explicit PowerChart(QWidget* parent = nullptr);
  void SetCurve(const std::vector<PowerPoint>& curve);
  // A second curve drawn in paler colours under the first (empty: none).
  void SetCompareCurve(const std::vector<PowerPoint>& curve);
  const std::vector<PowerPoint>& CompareCurve() const { return compare_; }
  const std::vector<PowerPoint>& Curve() const { return curve_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<PowerPoint> curve_;
  std::vector<PowerPoint> compare_;
};
