#include "ui/widgets/ScatterChart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "data/Registers.h"

namespace {

constexpr int kLeft = 56, kRight = 10, kBottom = 34;
constexpr int kLegendTop = 4, kLegendHeight = 16;  // the legend's line above the plot
constexpr int kTop = kLegendTop + kLegendHeight + 6;
constexpr int kTickLength = 4;
// The room a tick's number needs beside the next one.
constexpr int kTickSpacingX = 70, kTickSpacingY = 36;

// A cell's colour: its hue says where its mean colour value lies in that
// value's range (0 the low end, blue; 1 the high end, red), its brightness
// how many records it holds.
QColor CellColour(double at, double density) {
  return QColor::fromHsvF(static_cast<float>((1 - at) * 240.0 / 360.0), 1.0f,
                          static_cast<float>(0.45 + 0.55 * density));
}

QString NumberText(double value) { return QString::number(value, 'g', 6); }

}  // namespace

ScatterChart::ScatterChart(QWidget* parent) : QWidget(parent) { setMinimumSize(320, 240); }

QRect ScatterChart::PlotRect() const {
  return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height() - kTop - kBottom));
}

QSize ScatterChart::PlotSize() const { return PlotRect().size(); }

std::vector<double> ScatterChart::Ticks(double low, double high, int most) {
  std::vector<double> ticks;
  if (!(high > low) || most < 1) return ticks;
  // The smallest round step that gives no more than `most` ticks.
  const double rough = (high - low) / (most + 1);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10 * power;
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= rough) {
      step = factor * power;
      break;
    }
  }
  // Counted in steps, so that no rounding error piles up along the axis;
  // a value that only rounding sets apart from an end is that end.
  const double nearly = step * 1e-9;
  for (double k = std::floor(low / step); k * step < high - nearly; ++k) {
    const double value = k * step;
    if (value > low + nearly) ticks.push_back(std::abs(value) < nearly ? 0.0 : value);
  }
  return ticks;
}

QRect ScatterChart::ColourScaleRect() const {
  if (grid_.colourColumn < 0) return {};
  const ValueColumn& colour = kAllValueColumns[static_cast<size_t>(grid_.colourColumn)];
  const QRect plot = PlotRect();
  const int highWidth = fontMetrics().horizontalAdvance(NumberText(colour.rangeMax));
  const int width = std::clamp(plot.width() / 3, 60, 200);
  return QRect(plot.right() - highWidth - 6 - width, kLegendTop + 3, width, kLegendHeight - 6);
}

void ScatterChart::SetGrid(ScatterGrid grid) {
  grid_ = std::move(grid);
  image_ = QImage(std::max(grid_.width, 1), std::max(grid_.height, 1), QImage::Format_RGB32);
  image_.fill(Qt::white);
  const uint32_t most = grid_.counts.empty() ? 0 : *std::max_element(grid_.counts.begin(), grid_.counts.end());
  const ValueColumn* colour =
      grid_.colourColumn >= 0 ? &kAllValueColumns[static_cast<size_t>(grid_.colourColumn)] : nullptr;
  for (int y = 0; y < grid_.height; ++y) {
    for (int x = 0; x < grid_.width; ++x) {
      const uint32_t n = grid_.Count(x, y);
      if (n == 0) continue;
      // Density on a logarithmic scale: a cell passed once still shows.
      const double density = 0.35 + 0.65 * std::log1p(n) / std::log1p(std::max<uint32_t>(most, 1));
      QColor c;
      if (colour != nullptr) {
        const double at = std::clamp((grid_.MeanColour(x, y) - colour->rangeMin) /
                                         std::max(1, colour->rangeMax - colour->rangeMin),
                                     0.0, 1.0);
        c = CellColour(at, density);
      } else {
        const int level = static_cast<int>(230 * (1 - density));
        c = QColor(level, level, std::min(255, level + 60));
      }
      image_.setPixel(x, y, c.rgb());
    }
  }
  update();
}

void ScatterChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect plot = PlotRect();
  if (grid_.records == 0) {
    painter.setPen(QColor(120, 120, 120));
    painter.drawText(plot, Qt::AlignCenter, "No records");
  } else {
    painter.drawImage(plot, image_);
  }
  painter.setPen(QColor(160, 160, 160));
  painter.drawRect(plot.adjusted(0, 0, -1, -1));
  DrawAxes(painter, plot);
  DrawLegend(painter, plot);
}

// The ends of each axis, its caption, and round ticks between the ends;
// a tick's number is left out where it would run into another.
void ScatterChart::DrawAxes(QPainter& painter, const QRect& plot) {
  const ValueColumn& x = kAllValueColumns[static_cast<size_t>(grid_.xColumn)];
  const ValueColumn& y = kAllValueColumns[static_cast<size_t>(grid_.yColumn)];
  const QFontMetrics metrics = fontMetrics();
  std::vector<QRect> taken;
  auto label = [&](const QRect& place, int alignment, const QString& text) {
    const QRect used = metrics.boundingRect(place, alignment, text).adjusted(-3, 0, 3, 0);
    for (const QRect& other : taken)
      if (used.intersects(other)) return;
    taken.push_back(used);
    painter.drawText(place, alignment, text);
  };
  painter.setPen(Qt::black);
  const int below = plot.bottom() + 2;
  label(QRect(plot.left(), below, 80, 14), Qt::AlignLeft, NumberText(x.rangeMin));
  label(QRect(plot.right() - 80, below, 80, 14), Qt::AlignRight, NumberText(x.rangeMax));
  label(QRect(0, plot.top(), kLeft - 4, 14), Qt::AlignRight, NumberText(y.rangeMax));
  label(QRect(0, plot.bottom() - 14, kLeft - 4, 14), Qt::AlignRight, NumberText(y.rangeMin));
  const double xSpan = x.rangeMax - x.rangeMin;
  for (const double value : Ticks(x.rangeMin, x.rangeMax, plot.width() / kTickSpacingX)) {
    const int at = plot.left() + static_cast<int>(std::lround((value - x.rangeMin) / xSpan * (plot.width() - 1)));
    painter.drawLine(at, plot.bottom() + 1, at, plot.bottom() + kTickLength);
    label(QRect(at - 40, below, 80, 14), Qt::AlignHCenter, NumberText(value));
  }
  const double ySpan = y.rangeMax - y.rangeMin;
  for (const double value : Ticks(y.rangeMin, y.rangeMax, plot.height() / kTickSpacingY)) {
    const int at = plot.bottom() - static_cast<int>(std::lround((value - y.rangeMin) / ySpan * (plot.height() - 1)));
    painter.drawLine(plot.left() - kTickLength, at, plot.left() - 1, at);
    label(QRect(0, at - 7, kLeft - kTickLength - 2, 14), Qt::AlignRight | Qt::AlignVCenter, NumberText(value));
  }
  painter.drawText(QRect(plot.left(), plot.bottom() + 16, plot.width(), 16), Qt::AlignHCenter, x.caption);
  painter.save();
  painter.translate(12, plot.center().y());
  painter.rotate(-90);
  painter.drawText(QRect(-plot.height() / 2, -10, plot.height(), 16), Qt::AlignHCenter, y.caption);
  painter.restore();
}

// Above the plot: the colour value's name and its scale from the low end
// to the high one; without a colour value, what the shades mean.
void ScatterChart::DrawLegend(QPainter& painter, const QRect& plot) {
  const QRect line(plot.left(), kLegendTop, plot.width(), kLegendHeight);
  if (grid_.colourColumn < 0) {
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, "Darker: more records");
    return;
  }
  const ValueColumn& colour = kAllValueColumns[static_cast<size_t>(grid_.colourColumn)];
  const QRect scale = ColourScaleRect();
  for (int x = scale.left(); x <= scale.right(); ++x)
    painter.fillRect(QRect(x, scale.top(), 1, scale.height()),
                     CellColour(static_cast<double>(x - scale.left()) / std::max(1, scale.width() - 1), 1.0));
  painter.setPen(Qt::black);
  painter.drawText(QRect(scale.right() + 4, line.top(), plot.right() - scale.right() - 3, line.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, NumberText(colour.rangeMax));
  const QString low = NumberText(colour.rangeMin);
  const int lowWidth = fontMetrics().horizontalAdvance(low);
  painter.drawText(QRect(scale.left() - 4 - lowWidth, line.top(), lowWidth, line.height()),
                   Qt::AlignRight | Qt::AlignVCenter, low);
  painter.drawText(QRect(line.left(), line.top(), scale.left() - 12 - lowWidth - line.left(), line.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QString("Colour: %1").arg(colour.caption));
}
