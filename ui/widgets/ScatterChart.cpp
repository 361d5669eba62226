#include "ui/widgets/ScatterChart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "data/Registers.h"

namespace {
constexpr int kLeft = 56, kRight = 10, kTop = 10, kBottom = 34;
}  // namespace

ScatterChart::ScatterChart(QWidget* parent) : QWidget(parent) { setMinimumSize(320, 240); }

QRect ScatterChart::PlotRect() const {
  return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height() - kTop - kBottom));
}

QSize ScatterChart::PlotSize() const { return PlotRect().size(); }

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
        c = QColor::fromHsvF(static_cast<float>((1 - at) * 240.0 / 360.0), 1.0f, static_cast<float>(0.45 + 0.55 * density));
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
  painter.setPen(Qt::black);
  const ValueColumn& x = kAllValueColumns[static_cast<size_t>(grid_.xColumn)];
  const ValueColumn& y = kAllValueColumns[static_cast<size_t>(grid_.yColumn)];
  const int below = plot.bottom() + 14;
  painter.drawText(QRect(plot.left(), plot.bottom() + 2, 80, 14), Qt::AlignLeft, QString::number(x.rangeMin));
  painter.drawText(QRect(plot.right() - 80, plot.bottom() + 2, 80, 14), Qt::AlignRight, QString::number(x.rangeMax));
  painter.drawText(QRect(plot.left(), below, plot.width(), 16), Qt::AlignHCenter, x.caption);
  painter.drawText(QRect(0, plot.top(), kLeft - 4, 14), Qt::AlignRight, QString::number(y.rangeMax));
  painter.drawText(QRect(0, plot.bottom() - 14, kLeft - 4, 14), Qt::AlignRight, QString::number(y.rangeMin));
  painter.save();
  painter.translate(12, plot.center().y());
  painter.rotate(-90);
  painter.drawText(QRect(-plot.height() / 2, -10, plot.height(), 16), Qt::AlignHCenter, y.caption);
  painter.restore();
}
