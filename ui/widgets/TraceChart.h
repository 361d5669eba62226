// A time chart of chosen values of a recording, each on its own scale (the
// display range of the register table), with the bits as thin on/off
// tracks below. Drawn with one minimum and maximum per pixel column, so a
// recording of any length costs about as much as the chart is wide. Warning
// limits are lines in their value's colour, and the stretches where a value
// drawn is beyond one are marked red along the plot's top edge.
#pragma once

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

#include "analysis/ColumnSummary.h"
#include "analysis/ValueSettings.h"
#include "data/RecordSource.h"

class TraceChart : public QWidget {
  Q_OBJECT

 public:
  explicit TraceChart(QWidget* parent = nullptr);

  // The chart reads the records through this source, as it draws them; their
  // owner tells it when they changed.
  void SetRecords(const RecordSource* records);
  void RecordsReplaced();
  void RecordsAppended();

  // Rows of kAllValueColumns to draw, in the table's order. A stretch
  // whose records do not hold a value is a break in its trace.
  void SetValues(const std::vector<int>& columns);
  void SetBitTracks(bool shown);
  // Per row of kAllValueColumns, in the table's units; the first form sets
  // the twelve and switches those beyond them off.
  void SetLimits(const std::array<ValueLimit, kValueCount>& limits);
  void SetLimits(const ValueSettings& settings);
  // Whether a value's record lies beyond one of its limits.
  bool Beyond(int column, int32_t value) const;
  // A second recording drawn under the first, in paler colours on the same
  // scales: its record j stands where the first's record j + shift does.
  // Drawn over a whole or zoomed recording, not while following a live one.
  // The legend names it (its file name).
  void SetCompare(const RecordSource* other, int64_t shift, const QString& name = {});
  const RecordSource* Compare() const { return compare_; }
  int64_t CompareShift() const { return compareShift_; }

  // Live: the newest spanRecords records, the newest at the right edge.
  void Follow(int64_t spanRecords);
  // The whole recording; the wheel zooms and a drag pans from there.
  void ShowWhole();
  bool Following() const { return following_; }

  void SetCursor(int64_t index);  // -1: no cursor
  int64_t Cursor() const { return cursor_; }
  int64_t ViewFirst() const { return viewFirst_; }
  int64_t ViewCount() const { return viewCount_; }
  // The record under a point of the widget, inside the recording.
  int64_t IndexAt(int x) const;
  static QColor ColorOf(int column);
  // The legend's entries above the plot, as it writes them: each value
  // drawn, then the recording compared with.
  QStringList LegendTexts() const;

 signals:
  // A click (a press and release without a drag) over the plot.
  void Clicked(int64_t index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  struct SummaryKey {
    int64_t first = -1, count = -1, records = -1;
    int width = -1;
    std::vector<int> values;
    bool bits = false;
    bool anchored = false;
    const RecordSource* compare = nullptr;
    int64_t compareShift = 0, compareCount = 0;
    bool operator==(const SummaryKey&) const = default;
  };
  // What a live chart last put on the screen, to move it on from there.
  struct Shown {
    bool valid = false;
    QRect plot;
    int64_t firstColumn = 0, records = 0, span = 0;
    std::vector<int> values;
    bool bits = false;
  };

  QRect PlotRect() const;
  int LegendLines() const;
  int BitTrackHeight() const;
  int AxisTop() const;  // the time axis, below the plot and the bit tracks
  void BuildSummary(const QRect& plot);
  void ClampView();
  int64_t RecordCount() const;
  double ViewStart(const QRect& plot) const;
  int64_t ColumnOfRecord(int64_t index, int64_t width) const;  // anchored: the recording's column
  double XOf(double index, const QRect& plot) const;
  bool ScrollOn(const QRect& plot);
  double TimeStep(const QRect& plot) const;
  void PaintPart(class QPainter& painter, const QRect& asked, const QRect& plot);
  void DrawTimeAxis(class QPainter& painter, const QRect& plot);
  void RenderPlot(const QRect& plot, int x0, int x1);  // columns [x0, x1) of the plot
  const QPixmap& Legend();

  const RecordSource* records_ = nullptr;

  std::vector<int> chosen_;
  std::array<ValueLimit, kAllValueCount> limits_{};
  const RecordSource* compare_ = nullptr;
  int64_t compareShift_ = 0;
  QString compareName_;
  ColumnSummary compareSummary_;  // its values, per chosen value, per column
  bool bitTracks_ = false;
  bool following_ = true;
  int64_t span_ = 3000;
  int64_t viewFirst_ = 0;
  int64_t viewCount_ = 1;
  int64_t cursor_ = -1;
  // Live, with at least a record per pixel: the recording's pixel column
  // that stands at the plot's left edge.
  bool anchored_ = false;
  int64_t firstColumn_ = 0;
  Shown shown_;
  bool scrollPending_ = false;

  SummaryKey summaryKey_;
  bool pointMode_ = false;  // fewer records than pixels: drawn point to point
  ColumnSummary summary_;
  int64_t summaryFirstColumn_ = 0;  // anchored: the recording's column of the summary's first
  // Fewer records than pixels: the records in view, drawn point to point.
  std::vector<SampleRecord> pointRecords_;
  int64_t pointFirst_ = 0;

  QImage plotImage_;
  QPixmap legend_;
  QHash<QString, QImage> axisLabels_;
  qreal axisLabelRatio_ = 1;
  QStringList legendTexts_;

  bool pressed_ = false;
  bool dragging_ = false;
  int pressX_ = 0;
  int64_t pressFirst_ = 0;
};
