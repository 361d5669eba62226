#include "ui/widgets/PowerChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor kKwColour(200, 30, 30);
const QColor kPsColour(230, 140, 0);
const QColor kTorqueColour(30, 90, 200);

// A round step for about `wanted` ticks over span.
double NiceStep(double span, int wanted) {
  const double raw = span / wanted;
  const double magnitude = std::pow(10, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * magnitude >= raw) return m * magnitude;
  return 10 * magnitude;
}

}  // namespace

PowerChart::PowerChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(300, 180);
}

void PowerChart::SetCurve(const std::vector<PowerPoint>& curve) {
  curve_ = curve;
  update();
}

void PowerChart::SetCompareCurve(const std::vector<PowerPoint>& curve) {
  compare_ = curve;
  update();
}

void PowerChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect plot = rect().adjusted(52, 24, -52, -26);
  painter.setPen(QColor(160, 160, 160));
  painter.drawRect(plot);
  if (curve_.size() < 2) {
    painter.setPen(QColor(120, 120, 120));
    painter.drawText(plot, Qt::AlignCenter, "No pull yet: full throttle in one gear");
    return;
  }
  double rpmLow = curve_.front().rpm;
  double rpmHigh = curve_.back().rpm;
  double psHigh = 1;
  double torqueHigh = 1;
  const PowerPoint* peak = &curve_.front();
  for (const PowerPoint& p : compare_) {  // the scales hold both
    rpmLow = std::min(rpmLow, p.rpm);
    rpmHigh = std::max(rpmHigh, p.rpm);
    psHigh = std::max(psHigh, p.ps);
    torqueHigh = std::max(torqueHigh, p.wheelTorqueNm);
  }
  for (const PowerPoint& p : curve_) {
    rpmLow = std::min(rpmLow, p.rpm);
    rpmHigh = std::max(rpmHigh, p.rpm);
    psHigh = std::max(psHigh, p.ps);
    torqueHigh = std::max(torqueHigh, p.wheelTorqueNm);
    if (p.kw > peak->kw) peak = &p;
  }
  rpmLow = std::floor(rpmLow / 500) * 500;
  rpmHigh = std::max(rpmLow + 500, std::ceil(rpmHigh / 500) * 500);
  const double powerStep = NiceStep(psHigh * 1.1, 5);
  const double powerTop = std::ceil(psHigh * 1.1 / powerStep) * powerStep;
  const double torqueStep = NiceStep(torqueHigh * 1.1, 5);
  const double torqueTop = std::ceil(torqueHigh * 1.1 / torqueStep) * torqueStep;
  auto xOf = [&](double rpm) { return plot.left() + (rpm - rpmLow) / (rpmHigh - rpmLow) * plot.width(); };
  auto yPower = [&](double v) { return plot.bottom() - v / powerTop * plot.height(); };
  auto yTorque = [&](double v) { return plot.bottom() - v / torqueTop * plot.height(); };

  const double rpmStep = NiceStep(rpmHigh - rpmLow, 8);
  for (double r = std::ceil(rpmLow / rpmStep) * rpmStep; r <= rpmHigh + 1e-9; r += rpmStep) {
    const int x = static_cast<int>(std::lround(xOf(r)));
    painter.setPen(QColor(232, 232, 232));
    painter.drawLine(x, plot.top() + 1, x, plot.bottom() - 1);
    painter.setPen(QColor(70, 70, 70));
    painter.drawText(QRect(x - 40, plot.bottom() + 3, 80, 16), Qt::AlignHCenter, QString::number(r, 'f', 0));
  }
  painter.drawText(QRect(plot.right() - 104, plot.bottom() - 18, 100, 16), Qt::AlignRight, "engine speed, rpm");
  for (double v = 0; v <= powerTop + 1e-9; v += powerStep) {
    const int y = static_cast<int>(std::lround(yPower(v)));
    painter.setPen(QColor(232, 232, 232));
    painter.drawLine(plot.left() + 1, y, plot.right() - 1, y);
    painter.setPen(QColor(70, 70, 70));
    painter.drawText(QRect(0, y - 8, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', 0));
  }
  for (double v = 0; v <= torqueTop + 1e-9; v += torqueStep) {
    const int y = static_cast<int>(std::lround(yTorque(v)));
    painter.setPen(kTorqueColour);
    painter.drawText(QRect(plot.right() + 4, y - 8, 48, 16), Qt::AlignLeft | Qt::AlignVCenter, QString::number(v, 'f', 0));
  }
  painter.setPen(QColor(70, 70, 70));
  painter.drawText(QRect(0, 4, plot.left() + 60, 16), Qt::AlignLeft, "kW / PS");
  painter.setPen(kTorqueColour);
  painter.drawText(QRect(plot.right() - 60, 4, 110, 16), Qt::AlignRight, "Nm at the wheels");

  painter.setRenderHint(QPainter::Antialiasing);
  auto drawCurve = [&](const QColor& colour, auto value, auto yOf, const std::vector<PowerPoint>& points = {}) {
    const std::vector<PowerPoint>& curve = points.empty() ? curve_ : points;
    QPainterPath path;
    for (size_t i = 0; i < curve.size(); ++i) {
      const QPointF point(xOf(curve[i].rpm), yOf(value(curve[i])));
      if (i == 0) path.moveTo(point); else path.lineTo(point);
    }
    painter.setPen(QPen(colour, 2));
    painter.drawPath(path);
  };
  if (compare_.size() >= 2) {
    drawCurve(kTorqueColour.lighter(160), [](const PowerPoint& p) { return p.wheelTorqueNm; }, yTorque, compare_);
    drawCurve(kPsColour.lighter(150), [](const PowerPoint& p) { return p.ps; }, yPower, compare_);
    drawCurve(kKwColour.lighter(170), [](const PowerPoint& p) { return p.kw; }, yPower, compare_);
  }
  drawCurve(kTorqueColour, [](const PowerPoint& p) { return p.wheelTorqueNm; }, yTorque);
  drawCurve(kPsColour, [](const PowerPoint& p) { return p.ps; }, yPower);
  drawCurve(kKwColour, [](const PowerPoint& p) { return p.kw; }, yPower);

  const QPointF top(xOf(peak->rpm), yPower(peak->kw));
  painter.setBrush(kKwColour);
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(top, 4, 4);
  painter.setPen(Qt::black);
  painter.drawText(QRectF(top.x() - 90, top.y() - 20, 180, 16), Qt::AlignCenter,
                   QString("%1 kW at %2 rpm").arg(peak->kw, 0, 'f', 1).arg(peak->rpm, 0, 'f', 0));

  // Legend.
  int x = plot.left() + 70;
  for (const auto& [colour, name] : {std::pair{kKwColour, "kW"}, std::pair{kPsColour, "PS"},
                                     std::pair{kTorqueColour, "wheel torque"}}) {
    painter.fillRect(QRect(x, 10, 16, 3), colour);
    painter.setPen(Qt::black);
    painter.drawText(QRect(x + 20, 4, 100, 16), Qt::AlignLeft, name);
    x += 110;
  }
}
