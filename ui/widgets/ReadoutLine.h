// A read-out of a few words that changes several times a second under a
// chart. A QLabel asks its window to lay itself out again at every new
// text (a wrapped label measures itself at several widths for that); this
// line keeps the height of two lines of text whatever it holds, so a new
// text costs only its own repaint.
#pragma once

#include <QString>
#include <QWidget>

class ReadoutLine : public QWidget {
  Q_OBJECT

 public:
  explicit ReadoutLine(QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};
