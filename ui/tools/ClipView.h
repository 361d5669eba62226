// The Video window's picture: the clip's frame as it will be written, the
// gauges drawn on it, scaled to fit the room with its shape kept.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class ClipView : public QWidget {
  Q_OBJECT

 public:
  explicit ClipView(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  // Shown instead of a picture: none yet, or why there is none.
  void SetText(const QString& text);
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  QString text_;
};
