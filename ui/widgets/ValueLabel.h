// A label for a number that changes up to fifty times a second. A label
// lays its text out again at every paint, which costs more than drawing
// it; this one keeps the layout of each text it has shown (a number comes
// back often) and draws that, at exactly the place the label would. Text
// that is more than one plain line is drawn by the label as usual.
#pragma once

#include <QHash>
#include <QLabel>
#include <QStaticText>

class ValueLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

  // Whether the last paint drew a kept layout (for tests).
  bool LastPaintKept() const { return lastKept_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QHash<QString, QStaticText> layouts_;
  bool lastKept_ = false;
};
