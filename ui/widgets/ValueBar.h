// A progress bar that shows a new value cheaply. The main window's twelve
// bars move up to fifty times a second each, and the style draws a bar with
// antialiased rounded shapes and gradients, which cost more than everything
// else the window does. A bar's look depends only on how many pixels its
// chunk covers, so this one draws three pictures once through the style (no
// chunk, a full chunk, and a chunk ending mid-way) and puts each value
// together from their columns. Where that would not give exactly what the
// style draws (a chunk too short to have a whole end, a style whose chunk
// is not made that way, text on the bar), the style draws it as usual.
#pragma once

#include <QImage>
#include <QProgressBar>

#include <functional>

class QStyleOptionProgressBar;

class ValueBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit ValueBar(QWidget* parent = nullptr);

  // Whether the last paint was put together from the pictures (for tests).
  bool LastPaintComposed() const { return lastComposed_; }

  // A mark at a value of the bar's range with a short text beside it (the
  // peak held), drawn over the bar; none when off.
  void SetMark(bool on, int value = 0, const QString& text = QString());
  bool HasMark() const { return markOn_; }
  QString MarkText() const { return markText_; }

 signals:
  // The user asked the mark away (a right-click on the bar).
  void MarkClearRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // The pictures of one look: the bar's size, style, palette and state.
  struct Pictures {
    qint64 key = -1;
    int contentsWidth = 0;
    QImage empty, full, part;
    int partWidth = 0;               // the chunk width `part` was drawn with
    int capFirst = 0, capLast = -1;  // columns of `part` that differ from both others (device pixels)
    int leftEnd = 0, rightEnd = 0;   // columns of the chunk's left end and of the groove's right end
    bool composable = false;
  };

  QImage Draw(const QStyleOptionProgressBar& option, int chunkWidth) const;
  // Puts the bar with a chunk of chunkWidth pixels together: put(picture,
  // first column, columns, at column) three times, left to right. False
  // when that width is not one to put together.
  bool Compose(int chunkWidth, const std::function<void(const QImage&, int, int, int)>& put) const;
  void Prepare(const QStyleOptionProgressBar& option, qint64 key);

  void PaintMark();

  Pictures pictures_;
  bool lastComposed_ = false;
  bool markOn_ = false;
  int markValue_ = 0;
  QString markText_;
};
