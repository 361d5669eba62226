#include "ui/widgets/ReadoutLine.h"

#include <QPainter>

namespace {
constexpr int kLines = 2;  // all twelve values fit in two lines of a normal window
}

ReadoutLine::ReadoutLine(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ReadoutLine::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

QSize ReadoutLine::sizeHint() const { return {200, fontMetrics().lineSpacing() * kLines + 4}; }

QSize ReadoutLine::minimumSizeHint() const { return {0, sizeHint().height()}; }

void ReadoutLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(rect().adjusted(2, 2, -2, -2), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);
}
