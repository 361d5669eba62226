#include "ui/widgets/ValueLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOption>

namespace {
constexpr int kKeptLayouts = 512;  // a row's numbers; beyond that they are laid out afresh
}

void ValueLabel::changeEvent(QEvent* event) {
  // A layout is made in one font.
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) layouts_.clear();
  QLabel::changeEvent(event);
}

void ValueLabel::paintEvent(QPaintEvent* event) {
  const QString shown = text();
  const bool plain = isEnabled() && pixmap().isNull() && !wordWrap() && frameShape() == QFrame::NoFrame &&
                     margin() == 0 && indent() < 0 && alignment() == (Qt::AlignLeft | Qt::AlignVCenter) &&
                     layoutDirection() == Qt::LeftToRight && textFormat() != Qt::RichText &&
                     !Qt::mightBeRichText(shown) && !shown.contains('&') && !shown.contains('\n');
  lastKept_ = false;
  if (!plain) {
    QLabel::paintEvent(event);
    return;
  }
  auto layout = layouts_.find(shown);
  if (layout == layouts_.end()) {
    if (layouts_.size() >= kKeptLayouts) layouts_.clear();
    QStaticText text(shown);
    text.setTextFormat(Qt::PlainText);
    text.prepare(QTransform(), font());
    layout = layouts_.insert(shown, text);
  }
  QStyleOption option;
  option.initFrom(this);
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(option.palette.color(foregroundRole()));
  // A label centres its one line of text in its height, to the fraction
  // of a pixel.
  const QRect area = contentsRect();
  const qreal top = area.y() + (area.height() - QFontMetricsF(font()).height()) / 2;
  painter.drawStaticText(QPointF(area.x(), top), *layout);
  lastKept_ = true;
}
