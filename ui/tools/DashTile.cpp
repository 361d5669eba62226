#include "ui/tools/DashTile.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace {

// Colours of a look: by day dark on light, by night dim on black, so that
// the screen does not dazzle the driver; red is red either way.
struct Colours {
  QColor background, caption, digits, none, groove, fill, mark;
};

Colours ColoursOf(DashTile::Look look, bool night) {
  if (night) {
    switch (look) {
      case DashTile::Look::kWarning:
        return {QColor(0x5c, 0x00, 0x00), QColor(0xb0, 0x80, 0x80), QColor(0xf0, 0xc8, 0xc8),
                QColor(0xb0, 0x80, 0x80), QColor(0x38, 0x00, 0x00), QColor(0xd0, 0x50, 0x50),
                QColor(0xf0, 0xc8, 0xc8)};
      case DashTile::Look::kLost:
        return {QColor(0x0c, 0x0c, 0x0c), QColor(0x50, 0x50, 0x50), QColor(0x5a, 0x5a, 0x5a),
                QColor(0x50, 0x50, 0x50), QColor(0x22, 0x22, 0x22), QColor(0x40, 0x40, 0x40),
                QColor(0x5a, 0x5a, 0x5a)};
      case DashTile::Look::kPlain:
        break;
    }
    return {QColor(0x0c, 0x0c, 0x0c), QColor(0x78, 0x78, 0x70), QColor(0xb4, 0xb0, 0xa0),
            QColor(0x60, 0x60, 0x5a), QColor(0x24, 0x24, 0x24), QColor(0x40, 0x5c, 0x80),
            QColor(0xb0, 0x70, 0x30)};
  }
  switch (look) {
    case DashTile::Look::kWarning:
      return {QColor(0xd0, 0x10, 0x10), QColor(0xff, 0xd8, 0xd8), QColor(0xff, 0xff, 0xff),
              QColor(0xff, 0xd8, 0xd8), QColor(0x90, 0x00, 0x00), QColor(0xff, 0xff, 0xff),
              QColor(0xff, 0xe0, 0x40)};
    case DashTile::Look::kLost:
      return {QColor(0xf4, 0xf4, 0xf0), QColor(0xa8, 0xa8, 0xa8), QColor(0xa8, 0xa8, 0xa8),
              QColor(0xa8, 0xa8, 0xa8), QColor(0xe0, 0xe0, 0xe0), QColor(0xb8, 0xb8, 0xb8),
              QColor(0xa8, 0xa8, 0xa8)};
    case DashTile::Look::kPlain:
      break;
  }
  return {QColor(0xf4, 0xf4, 0xf0), QColor(0x40, 0x40, 0x40), QColor(0x10, 0x10, 0x10),
          QColor(0x90, 0x90, 0x90), QColor(0xd8, 0xd8, 0xd4), QColor(0x1f, 0x5f, 0xbf),
          QColor(0xd0, 0x40, 0x00)};
}

constexpr int kMarkWidth = 3;

}  // namespace

class DashTile::Part : public QWidget {
 public:
  Part(DashTile& tile, Stretch stretch) : QWidget(&tile), tile_(tile), stretch_(stretch) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A tap anywhere on the tile is the tile's.
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  // A rectangle in the tile's coordinates.
  void Repaint(const QRect& area) { update(area.translated(-pos()) & rect()); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.translate(-pos());
    tile_.PaintPart(stretch_, painter, event->region().translated(pos()));
  }

 private:
  DashTile& tile_;
  Stretch stretch_;
};

DashTile::DashTile(QWidget* parent) : QWidget(parent) {
  // Every pixel is the tile's own: nothing behind it is drawn for a new number.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(120, 90);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setCursor(Qt::PointingHandCursor);
  smallFont_.setFamily("Arial");
  digitsFont_.setFamily("Arial");
  digitsFont_.setBold(true);
  digitsPart_ = new Part(*this, Stretch::kDigits);
  barPart_ = new Part(*this, Stretch::kBar);
  peakPart_ = new Part(*this, Stretch::kPeak);
  Layout();
}

void DashTile::SetValue(const QString& caption, const QString& unit, const QString& widest, double low,
                        double high) {
  caption_ = caption;
  unit_ = unit;
  widest_ = widest;
  low_ = low;
  high_ = high > low ? high : low + 1;
  Layout();
  update();
}

void DashTile::SetReading(const QString& digits, std::optional<double> value) {
  if (digits != digits_ || value.has_value() != value_.has_value()) {
    const std::vector<int> before = CharacterEdges(digits_);
    const std::vector<int> after = CharacterEdges(digits);
    if (before == after && value.has_value() == value_.has_value() && !before.empty()) {
      // The characters stand where they stood: only those that changed,
      // as one rectangle.
      size_t first = after.size();
      size_t last = 0;
      for (qsizetype k = 0; k < digits.size(); ++k) {
        if (digits[k] == digits_[k]) continue;
        first = std::min(first, static_cast<size_t>(k));
        last = static_cast<size_t>(k) + 1;
      }
      const QRect band = DigitsRect(digits);
      digitsPart_->Repaint(QRect(after[first], band.top(), after[last] - after[first] + 1, band.height()));
    } else {
      digitsPart_->Repaint(DigitsRect(digits_) | DigitsRect(digits));
    }
    digits_ = digits;
  }
  value_ = value;
  const int fill = FillWidth(value);
  if (fill != fill_) {
    // Only the stretch of the bar between the old end and the new one.
    const int from = std::min(fill, fill_);
    barPart_->Repaint(QRect(barRect_.left() + from, barRect_.top(), std::abs(fill - fill_), barRect_.height()));
    fill_ = fill;
  }
}

void DashTile::SetPeak(const QString& text, std::optional<double> value) {
  if (text != peakText_) {
    peakText_ = text;
    peakPart_->Repaint(peakRect_);
  }
  const bool moved = value.has_value() != peak_.has_value() || (value && MarkX(*value) != MarkX(*peak_));
  if (moved) {
    for (const std::optional<double>& at : {peak_, value})
      if (at) barPart_->Repaint(QRect(MarkX(*at) - kMarkWidth, barRect_.top(), 2 * kMarkWidth + 1, barRect_.height()));
  }
  peak_ = value;
}

// The parts paint only what changes; a new colour is everything: the
// tile's update alone leaves them as they were.
void DashTile::RepaintAll() {
  update();
  for (QWidget* part : {static_cast<QWidget*>(digitsPart_), static_cast<QWidget*>(barPart_),
                        static_cast<QWidget*>(peakPart_)})
    if (part != nullptr) part->update();
}

void DashTile::SetLook(Look look) {
  if (look == look_) return;
  look_ = look;
  RepaintAll();
}

void DashTile::SetNight(bool night) {
  if (night == night_) return;
  night_ = night;
  RepaintAll();
}

QColor DashTile::Background() const { return ColoursOf(look_, night_).background; }
QColor DashTile::DigitsColour() const {
  const Colours colours = ColoursOf(look_, night_);
  return value_ ? colours.digits : colours.none;
}

void DashTile::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

// Top to bottom: caption and peak, the digits as big as the room between
// allows (never under a fifth of the tile's height), the unit, the bar.
void DashTile::Layout() {
  const int w = width();
  const int h = height();
  const int margin = std::max(4, h / 30);
  const int small = std::clamp(h / 11, 10, 32);
  smallFont_.setPixelSize(small);
  const int line = small * 5 / 4;
  const int split = w * 3 / 5;
  captionRect_ = QRect(margin, margin, split - margin, line);
  peakRect_ = QRect(split, margin, w - margin - split, line);
  const int barHeight = std::max(6, h / 9);
  barRect_ = QRect(margin, h - margin - barHeight, w - 2 * margin, barHeight);
  unitRect_ = QRect(margin, barRect_.top() - margin / 2 - line, w - 2 * margin, line);
  const int top = captionRect_.bottom() + 1;
  digitsBand_ = QRect(margin, top, w - 2 * margin, std::max(1, unitRect_.top() - top));

  // The digits' cap height fills most of the band, unless the widest
  // number the value has would not fit across it.
  QFont probe = digitsFont_;
  probe.setPixelSize(100);
  const double widest = std::max(1.0, QFontMetricsF(probe).horizontalAdvance(widest_));
  const double acrossPx = 100.0 * digitsBand_.width() / widest;
  const double downPx = digitsBand_.height() * 1.1;
  const int fifth = (h + 4) / 5;
  digitsFont_.setPixelSize(std::max(fifth, static_cast<int>(std::min(acrossPx, downPx))));
  const QFontMetrics metrics(digitsFont_);
  ascent_ = metrics.ascent();
  descent_ = metrics.descent();
  // The digits' own height (the cap height) centred in the band.
  baseline_ = digitsBand_.center().y() + metrics.capHeight() / 2;
  elidedCaption_ = QFontMetrics(smallFont_).elidedText(caption_, Qt::ElideRight, captionRect_.width());
  advances_.clear();
  pictures_.clear();
  fill_ = FillWidth(value_);
  digitsPart_->setGeometry(digitsBand_);
  barPart_->setGeometry(barRect_);
  peakPart_->setGeometry(peakRect_);
}

double DashTile::Advance(QChar c) {
  auto found = advances_.constFind(c);
  if (found != advances_.constEnd()) return *found;
  return *advances_.insert(c, QFontMetricsF(digitsFont_).horizontalAdvance(c));
}

double DashTile::TextWidth(const QString& text) {
  double width = 0;
  for (const QChar c : text) width += Advance(c);
  return width;
}

// Empty for a number wider than the band, which is drawn whole.
std::vector<int> DashTile::CharacterEdges(const QString& text) {
  const double width = TextWidth(text);
  std::vector<int> edges;
  if (width > digitsBand_.width()) return edges;
  double x = digitsBand_.left() + (digitsBand_.width() - width) / 2;
  edges.push_back(static_cast<int>(std::lround(x)));
  for (const QChar c : text) {
    x += Advance(c);
    edges.push_back(static_cast<int>(std::lround(x)));
  }
  return edges;
}

QRect DashTile::DigitsRect(const QString& text) {
  const std::vector<int> edges = CharacterEdges(text);
  if (edges.empty()) return digitsBand_;
  // A character's picture may reach a pixel into the next one's place.
  return QRect(edges.front(), digitsBand_.top(), edges.back() - edges.front() + 1, digitsBand_.height());
}

const QImage& DashTile::Picture(QChar c, const QColor& ink, const QColor& ground) {
  if (ink.rgb() != pictureInk_ || ground.rgb() != pictureGround_) {
    pictures_.clear();
    pictureInk_ = ink.rgb();
    pictureGround_ = ground.rgb();
  }
  auto found = pictures_.constFind(c);
  if (found != pictures_.constEnd()) return *found;
  const qreal ratio = devicePixelRatioF();
  const QSize size(static_cast<int>(std::ceil(Advance(c))) + 1, ascent_ + descent_);
  // Opaque, in the format windows are painted in: copied, not blended.
  QImage picture(size * ratio, QImage::Format_ARGB32_Premultiplied);
  picture.setDevicePixelRatio(ratio);
  picture.fill(ground);
  QPainter painter(&picture);
  painter.setFont(digitsFont_);
  painter.setPen(ink);
  painter.drawText(QPointF(0, ascent_), QString(c));
  painter.end();
  return *pictures_.insert(c, picture);
}

int DashTile::FillWidth(std::optional<double> value) const {
  if (!value) return 0;
  const double share = std::clamp((*value - low_) / (high_ - low_), 0.0, 1.0);
  return static_cast<int>(std::lround(share * barRect_.width()));
}

int DashTile::MarkX(double value) const {
  const double share = std::clamp((value - low_) / (high_ - low_), 0.0, 1.0);
  return barRect_.left() + static_cast<int>(std::lround(share * (barRect_.width() - 1)));
}

// The caption and the unit; the parts paint the rest.
void DashTile::paintEvent(QPaintEvent* event) {
  const Colours colours = ColoursOf(look_, night_);
  const QRegion& dirty = event->region();
  QPainter painter(this);
  for (const QRect& area : dirty) painter.fillRect(area, colours.background);
  painter.setFont(smallFont_);
  painter.setPen(colours.caption);
  if (dirty.intersects(captionRect_))
    painter.drawText(captionRect_, Qt::AlignLeft | Qt::AlignVCenter, elidedCaption_);
  if (dirty.intersects(unitRect_)) painter.drawText(unitRect_, Qt::AlignRight | Qt::AlignVCenter, unit_);
}

void DashTile::PaintPart(Stretch stretch, QPainter& painter, const QRegion& dirty) {
  const Colours colours = ColoursOf(look_, night_);
  for (const QRect& area : dirty) painter.fillRect(area, colours.background);
  switch (stretch) {
    case Stretch::kDigits: {
      const QColor ink = value_ ? colours.digits : colours.none;
      const std::vector<int> edges = CharacterEdges(digits_);
      const int top = baseline_ - ascent_;
      if (edges.empty()) {
        // Wider than the tile (a value far beyond its range): narrowed.
        painter.setFont(digitsFont_);
        painter.setPen(ink);
        painter.translate(digitsBand_.left(), baseline_);
        painter.scale(digitsBand_.width() / TextWidth(digits_), 1.0);
        painter.drawText(QPointF(0, 0), digits_);
        return;
      }
      for (qsizetype k = 0; k < digits_.size(); ++k) {
        const int left = edges[static_cast<size_t>(k)];
        const QRect place(left, digitsBand_.top(), edges[static_cast<size_t>(k) + 1] - left + 1, digitsBand_.height());
        if (dirty.intersects(place)) painter.drawImage(QPoint(left, top), Picture(digits_[k], ink, colours.background));
      }
      return;
    }
    case Stretch::kBar:
      painter.fillRect(barRect_, colours.groove);
      if (fill_ > 0) painter.fillRect(QRect(barRect_.topLeft(), QSize(fill_, barRect_.height())), colours.fill);
      if (peak_)
        painter.fillRect(QRect(MarkX(*peak_) - kMarkWidth / 2, barRect_.top(), kMarkWidth, barRect_.height()),
                         colours.mark);
      return;
    case Stretch::kPeak:
      if (peakText_.isEmpty()) return;
      painter.setFont(smallFont_);
      painter.setPen(colours.caption);
      painter.drawText(peakRect_, Qt::AlignRight | Qt::AlignVCenter, peakText_);
      return;
  }
}

void DashTile::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Tapped();
  QWidget::mouseReleaseEvent(event);
}
