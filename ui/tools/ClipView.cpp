#include "ui/tools/ClipView.h"

#include <QPainter>

ClipView::ClipView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ClipView::SetImage(const QImage& image) {
  image_ = image;
  text_.clear();
  update();
}

void ClipView::SetText(const QString& text) {
  image_ = QImage();
  text_ = text;
  update();
}

void ClipView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (image_.isNull()) {
    painter.setPen(QColor(0xc0, 0xc0, 0xc0));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, text_);
    return;
  }
  const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
  // Smooth: the gauges' small digits stay readable in a small window.
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image_);
}
