// One tile of the Dash: a value's caption, its number in digits big enough
// to read at arm's length, its unit, a bar over the value's display range
// and the peak held. The tile paints itself, and a new number or bar
// repaints only the pixels that changed: the Dash follows every frame, and
// a tile of labels and a progress bar would lay itself out and redraw
// whole at each.
//
// Text this large is drawn from the glyphs' outlines every time (the font
// cache keeps small sizes only), which costs more than everything else the
// Dash does. So each character of the number is drawn once, in the tile's
// colours, into a picture of its own, and a number is put together from
// those pictures; a digit that did not change is not drawn at all. The
// number, the bar and the peak are each a widget of their own, so that each
// repaints a plain rectangle: one repaint of several stretches of a widget
// clips every picture to their outline, at several times the cost.
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QPainter;
class QRegion;

class DashTile : public QWidget {
  Q_OBJECT

 public:
  // How the tile is coloured: as usual, red while its value is beyond a
  // limit, grey while the line is lost.
  enum class Look { kPlain, kWarning, kLost };

  explicit DashTile(QWidget* parent = nullptr);

  // What the tile shows: the caption and unit of its value, the widest
  // number it expects (for the size of the digits), and the bar's ends.
  void SetValue(const QString& caption, const QString& unit, const QString& widest, double low, double high);
  // The number ("-" or "n/a" when there is none) and where the bar stands;
  // without a value the bar is empty.
  void SetReading(const QString& digits, std::optional<double> value);
  // The peak held, "" for none; the mark on the bar with it.
  void SetPeak(const QString& text, std::optional<double> value);
  void SetLook(Look look);
  void SetNight(bool night);

  const QString& Digits() const { return digits_; }
  const QString& PeakText() const { return peakText_; }
  Look CurrentLook() const { return look_; }
  // The digits' font height in pixels, as laid out for the tile's size now.
  int DigitsPixelSize() const { return digitsFont_.pixelSize(); }
  // The colours painted now.
  QColor Background() const;
  QColor DigitsColour() const;

 signals:
  // A tap or click: the user wants to choose the tile's value.
  void Tapped();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void RepaintAll();
  // A stretch of the tile that repaints on its own: the number, the bar or
  // the peak. It paints through PaintPart, in the tile's coordinates.
  class Part;
  enum class Stretch { kDigits, kBar, kPeak };
  void PaintPart(Stretch stretch, QPainter& painter, const QRegion& dirty);

  void Layout();
  // Where a number is drawn: centred across the band, or the whole band
  // when it is wider (it is then drawn narrowed to fit).
  QRect DigitsRect(const QString& text);
  double TextWidth(const QString& text);
  double Advance(QChar c);
  // Where the characters of the number now shown begin, left to right.
  std::vector<int> CharacterEdges(const QString& text);
  const QImage& Picture(QChar c, const QColor& ink, const QColor& ground);
  // The bar's filled width in pixels for a value, 0 for none.
  int FillWidth(std::optional<double> value) const;
  int MarkX(double value) const;

  QString caption_;
  QString unit_;
  QString widest_ = "8888";
  double low_ = 0;
  double high_ = 1;
  QString digits_ = "-";
  std::optional<double> value_;
  int fill_ = 0;
  QString peakText_;
  std::optional<double> peak_;
  Look look_ = Look::kPlain;
  bool night_ = false;

  // Laid out for the tile's size.
  QFont smallFont_;
  QFont digitsFont_;
  QRect captionRect_, peakRect_, digitsBand_, unitRect_, barRect_;
  QString elidedCaption_;
  int baseline_ = 0;  // of the digits
  int ascent_ = 0;
  int descent_ = 0;
  Part* digitsPart_ = nullptr;
  Part* barPart_ = nullptr;
  Part* peakPart_ = nullptr;
  QHash<QChar, double> advances_;  // of the digits' font
  // The characters' pictures, in these colours.
  QHash<QChar, QImage> pictures_;
  QRgb pictureInk_ = 0;
  QRgb pictureGround_ = 0;
};
