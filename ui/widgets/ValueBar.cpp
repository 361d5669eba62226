#include "ui/widgets/ValueBar.h"

#include <QMouseEvent>

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

bool SameColumn(const QImage& a, int xa, const QImage& b, int xb) {
  for (int y = 0; y < a.height(); ++y)
    if (reinterpret_cast<const QRgb*>(a.constScanLine(y))[xa] !=
        reinterpret_cast<const QRgb*>(b.constScanLine(y))[xb])
      return false;
  return true;
}

// Copies columns [from, from + count) of source to `to` in target.
void CopyColumns(const QImage& source, int from, int count, QImage& target, int to) {
  if (count <= 0) return;
  for (int y = 0; y < target.height(); ++y)
    std::memcpy(reinterpret_cast<QRgb*>(target.scanLine(y)) + to,
                reinterpret_cast<const QRgb*>(source.constScanLine(y)) + from,
                static_cast<size_t>(count) * sizeof(QRgb));
}

// What a picture of the bar depends on besides its chunk.
qint64 LookKey(const QWidget& bar, const QStyleOptionProgressBar& option) {
  return qHashMulti(0, bar.size().width(), bar.size().height(), bar.devicePixelRatioF(),
                    reinterpret_cast<quintptr>(bar.style()), option.palette.cacheKey(),
                    static_cast<int>(option.state));
}

}  // namespace

ValueBar::ValueBar(QWidget* parent) : QProgressBar(parent) {
  // The pictures hold the bar's background too: it paints all of itself,
  // and nothing behind it is painted when it changes.
  setBackgroundRole(QPalette::Window);
  setAutoFillBackground(true);
}

// The bar as the style draws it with a chunk of chunkWidth pixels: the
// style's chunk is worked out from the steps, so a range of exactly the
// contents' width in steps gives every width.
QImage ValueBar::Draw(const QStyleOptionProgressBar& option, int chunkWidth) const {
  QStyleOptionProgressBar o = option;
  o.minimum = 0;
  o.maximum = pictures_.contentsWidth;
  o.progress = chunkWidth;
  const qreal ratio = devicePixelRatioF();
  QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(palette().color(backgroundRole()));
  QPainter painter(&image);
  painter.setFont(font());
  style()->drawControl(QStyle::CE_ProgressBar, &o, &painter, this);
  return image;
}

void ValueBar::Prepare(const QStyleOptionProgressBar& option, qint64 key) {
  pictures_ = Pictures{};
  pictures_.key = key;
  pictures_.contentsWidth = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this).width();
  const qreal ratio = devicePixelRatioF();
  const int w = pictures_.contentsWidth;
  if (w < 20 || ratio != static_cast<int>(ratio)) return;  // nothing worth putting together
  pictures_.empty = Draw(option, 0);
  pictures_.full = Draw(option, w);
  pictures_.partWidth = w / 2;
  pictures_.part = Draw(option, pictures_.partWidth);
  const QImage& e = pictures_.empty;
  const QImage& f = pictures_.full;
  const QImage& p = pictures_.part;
  const int columns = p.width();
  // The end of the chunk: the columns of the half-full bar that are
  // neither the full bar's (its left part) nor the empty one's (its right).
  int first = 0;
  while (first < columns && SameColumn(p, first, f, first)) ++first;
  int last = columns - 1;
  while (last >= 0 && SameColumn(p, last, e, last)) --last;
  if (first > last) return;
  pictures_.capFirst = first;
  pictures_.capLast = last;
  // Shifted, the end carries the chunk's every other width, as long as it
  // stays clear of the chunk's left end and the groove's right end: the
  // columns between are all alike, the chunk's and the groove's.
  int leftEnd = 0;
  while (leftEnd < columns && !SameColumn(f, leftEnd, f, columns / 2)) ++leftEnd;
  int rightEnd = 0;
  while (rightEnd < columns && !SameColumn(e, columns - 1 - rightEnd, e, columns / 2)) ++rightEnd;
  pictures_.leftEnd = leftEnd;
  pictures_.rightEnd = rightEnd;
  // Trusted only when two more widths come out as the style draws them.
  pictures_.composable = true;
  for (int check : {w / 3, w * 2 / 3}) {
    QImage composed = pictures_.empty.copy();
    const bool made = Compose(check, [&](const QImage& source, int from, int count, int to) {
      CopyColumns(source, from, count, composed, to);
    });
    if (!made || composed != Draw(option, check)) {
      pictures_.composable = false;
      return;
    }
  }
}

bool ValueBar::Compose(int chunkWidth, const std::function<void(const QImage&, int, int, int)>& put) const {
  const int ratio = static_cast<int>(devicePixelRatioF());
  const int shift = (chunkWidth - pictures_.partWidth) * ratio;
  const int first = pictures_.capFirst + shift;
  const int last = pictures_.capLast + shift;
  const int columns = pictures_.part.width();
  if (first < pictures_.leftEnd || last >= columns - pictures_.rightEnd) return false;
  put(pictures_.full, 0, first, 0);
  put(pictures_.part, pictures_.capFirst, last - first + 1, first);
  put(pictures_.empty, last + 1, columns - last - 1, last + 1);
  return true;
}

void ValueBar::paintEvent(QPaintEvent* event) {
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  lastComposed_ = false;
  const bool plain = !option.textVisible && orientation() == Qt::Horizontal &&
                     !option.invertedAppearance && layoutDirection() == Qt::LeftToRight &&
                     !(option.minimum == 0 && option.maximum == 0) && autoFillBackground();
  if (!plain) {
    QProgressBar::paintEvent(event);
    PaintMark();
    return;
  }
  const qint64 key = LookKey(*this, option);
  if (pictures_.key != key) Prepare(option, key);
  // The style's own arithmetic: the chunk covers the steps done of the
  // contents' width, rounded down, and none at the minimum.
  const int progress = std::max(option.progress, option.minimum);
  const qint64 steps = qint64(progress) - option.minimum;
  const qint64 total = std::max<qint64>(1, qint64(option.maximum) - option.minimum);
  const int chunkWidth = static_cast<int>(steps * pictures_.contentsWidth / total);
  const QImage* picture = nullptr;
  if (!pictures_.composable) {
    picture = nullptr;
  } else if (progress == option.minimum) {
    picture = &pictures_.empty;
  } else if (progress == option.maximum) {
    picture = &pictures_.full;
  }
  QPainter painter(this);
  const qreal ratio = devicePixelRatioF();
  if (picture != nullptr) {
    painter.drawImage(0, 0, *picture);
  } else if (!pictures_.composable || chunkWidth <= 0 ||
             !Compose(chunkWidth, [&](const QImage& source, int from, int count, int to) {
               if (count > 0)
                 painter.drawImage(QPointF(to / ratio, 0), source, QRect(from, 0, count, source.height()));
             })) {
    painter.end();
    QProgressBar::paintEvent(event);
    PaintMark();
    return;
  }
  painter.end();
  lastComposed_ = true;
  PaintMark();
}

void ValueBar::SetMark(bool on, int value, const QString& text) {
  if (on == markOn_ && value == markValue_ && text == markText_) return;
  markOn_ = on;
  markValue_ = value;
  markText_ = text;
  update();
}

void ValueBar::PaintMark() {
  if (!markOn_) return;
  const qint64 total = std::max<qint64>(1, qint64(maximum()) - minimum());
  const qint64 at = std::clamp<qint64>(qint64(markValue_) - minimum(), 0, total);
  const int x = static_cast<int>(1 + at * (width() - 3) / total);
  QPainter painter(this);
  painter.fillRect(QRect(x, 1, 2, height() - 2), palette().color(QPalette::WindowText));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  painter.setFont(small);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(rect().adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, markText_);
}

void ValueBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && markOn_) {
    emit MarkClearRequested();
    return;
  }
  QProgressBar::mousePressEvent(event);
}
