#include "ui/widgets/TraceChart.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

#include "data/RecordPeriod.h"

namespace {

constexpr int kMargin = 6;
constexpr int kLegendLine = 15;
constexpr int kAxisHeight = 18;
constexpr int kTrackHeight = 9;
constexpr int64_t kMinViewRecords = 50;
constexpr int kBeyondMarkRows = 3;  // below the frame's top line
constexpr uint32_t kBeyondMark = 0xFFE00000u;

// Colours that stay apart on white: the twelve's, then those of the values
// beyond them, which are seldom drawn with all of the twelve.
const QColor kColours[kAllValueCount] = {
    QColor(200, 30, 30),  QColor(30, 90, 200),  QColor(0, 140, 60),   QColor(220, 120, 0),
    QColor(130, 50, 170), QColor(0, 150, 160),  QColor(150, 100, 40), QColor(220, 40, 150),
    QColor(90, 90, 90),   QColor(120, 150, 0),  QColor(60, 40, 120),  QColor(200, 170, 0),
    QColor(140, 0, 0),    QColor(0, 60, 140),   QColor(0, 100, 40),   QColor(170, 80, 0),
    QColor(90, 0, 120),   QColor(0, 110, 110),  QColor(110, 70, 20),  QColor(170, 0, 110),
    QColor(40, 40, 40),   QColor(80, 110, 0),   QColor(100, 80, 200), QColor(150, 120, 0),
    QColor(240, 80, 80),  QColor(80, 140, 240), QColor(40, 180, 100),
};

QString TimeText(double seconds, double step) {
  if (step >= 60) return QString("%1:%2").arg(static_cast<int>(seconds) / 60).arg(
                             static_cast<int>(seconds) % 60, 2, 10, QChar('0'));
  if (step >= 1) return QString::number(static_cast<int64_t>(std::llround(seconds))) + " s";
  return QString::number(seconds, 'f', step >= 0.1 ? 1 : 2) + " s";
}

}  // namespace

TraceChart::TraceChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(300, 200);
  setMouseTracking(false);
}

QColor TraceChart::ColorOf(int column) { return kColours[column % kAllValueCount]; }

void TraceChart::SetRecords(const RecordSource* records) {
  records_ = records;
  RecordsReplaced();
}

void TraceChart::RecordsReplaced() {
  shown_ = Shown{};
  summaryKey_ = SummaryKey{};
  if (!following_) {
    viewFirst_ = 0;
    viewCount_ = std::max<int64_t>(RecordCount(), 1);
  }
  if (cursor_ >= RecordCount()) cursor_ = -1;
  ClampView();
  update();
}

void TraceChart::RecordsAppended() {
  ClampView();
  // New records change the plot, the bit tracks and the time axis; the
  // legend above them stays.
  const QRect plot = PlotRect();
  if (!ScrollOn(plot)) update(QRect(0, plot.top(), width(), height() - plot.top()));
}

// A live chart that moved on by whole columns: the columns already on the
// screen are moved left there, and only the ones the new records changed
// are drawn again, with the time axis and the bit tracks below. Redrawing
// and copying the whole plot twenty times a second cost most of what the
// live window took.
bool TraceChart::ScrollOn(const QRect& plot) {
  const Shown now{true, plot, firstColumn_, RecordCount(), span_, chosen_, bitTracks_};
  const Shown before = std::exchange(shown_, now);
  // A scroll still waiting for its paint would move half-drawn columns.
  if (scrollPending_ || !anchored_ || !isVisible() || !before.valid || before.plot != plot ||
      before.span != span_ || before.values != chosen_ || before.bits != bitTracks_ ||
      now.records < before.records)
    return false;
  const int w = plot.width();
  const int64_t shift = firstColumn_ - before.firstColumn;
  if (shift < 0 || shift >= w - 2) return false;
  if (shift > 0) scroll(static_cast<int>(-shift), 0, plot.adjusted(1, 0, -1, 0));  // the frame's sides stay
  // From the column of the first new record (the last column drawn before
  // may have been partly filled) to that of the last; the columns after it
  // stay empty while a recording is shorter than the span.
  const int64_t firstNew = ColumnOfRecord(before.records, w) - firstColumn_;
  const int64_t last = ColumnOfRecord(now.records - 1, w) - firstColumn_;
  const int from = plot.left() + static_cast<int>(std::clamp<int64_t>(firstNew, 0, w - 1));
  const int to = plot.left() + static_cast<int>(std::clamp<int64_t>(last, 0, w - 1));
  // The bit tracks below change with the columns; the time axis moves only
  // when the view did.
  const int axisTop = AxisTop();
  if (to >= from) update(QRect(from, plot.top(), to + 1 - from, axisTop - plot.top()));
  if (shift > 0) update(QRect(0, plot.bottom() + 1, width(), height() - plot.bottom() - 1));
  scrollPending_ = to >= from || shift > 0;
  return true;
}

void TraceChart::SetValues(const std::vector<int>& columns) {
  chosen_ = columns;
  update();
}

void TraceChart::SetLimits(const std::array<ValueLimit, kValueCount>& limits) {
  ValueSettings settings;
  std::copy(limits.begin(), limits.end(), settings.limits.begin());
  SetLimits(settings);
}

void TraceChart::SetLimits(const ValueSettings& settings) {
  std::array<ValueLimit, kAllValueCount> limits{};
  for (int c = 0; c < kAllValueCount; ++c) limits[static_cast<size_t>(c)] = settings.LimitOf(c);
  if (limits == limits_) return;
  limits_ = limits;
  update();
}

void TraceChart::SetCompare(const RecordSource* other, int64_t shift, const QString& name) {
  compare_ = other;
  compareShift_ = shift;
  compareName_ = other != nullptr ? name : QString();
  update();
}

bool TraceChart::Beyond(int column, int32_t value) const {
  const ValueLimit& limit = limits_[static_cast<size_t>(column)];
  return (limit.highOn && value > limit.high) || (limit.lowOn && value < limit.low);
}

void TraceChart::SetBitTracks(bool shown) {
  bitTracks_ = shown;
  update();
}

void TraceChart::Follow(int64_t spanRecords) {
  following_ = true;
  span_ = std::max<int64_t>(spanRecords, 1);
  ClampView();
  update();
}

void TraceChart::ShowWhole() {
  following_ = false;
  viewFirst_ = 0;
  viewCount_ = std::max<int64_t>(RecordCount(), 1);
  update();
}

void TraceChart::SetCursor(int64_t index) {
  if (index == cursor_) return;
  cursor_ = index;
  update();
}

int64_t TraceChart::RecordCount() const {
  return records_ != nullptr ? static_cast<int64_t>(records_->Count()) : 0;
}

void TraceChart::ClampView() {
  const int64_t n = RecordCount();
  anchored_ = false;
  if (following_) {
    viewCount_ = span_;
    const int64_t w = PlotRect().width();
    if (span_ < w) {  // drawn point to point
      viewFirst_ = std::max<int64_t>(0, n - span_);
      return;
    }
    // Pixel column k holds records [k * span / w, (k + 1) * span / w) of the
    // recording, wherever the view stands, so that the chart moves on by
    // whole columns and what is drawn can be moved instead of drawn again.
    anchored_ = true;
    const int64_t lastColumn = n > 0 ? ColumnOfRecord(n - 1, w) : 0;
    firstColumn_ = std::max<int64_t>(0, lastColumn - w + 1);
    viewFirst_ = firstColumn_ * span_ / w;
    return;
  }
  viewCount_ = std::clamp<int64_t>(viewCount_, std::min<int64_t>(kMinViewRecords, std::max<int64_t>(n, 1)),
                                   std::max<int64_t>(n, 1));
  viewFirst_ = std::clamp<int64_t>(viewFirst_, 0, std::max<int64_t>(0, n - viewCount_));
}

// Anchored: the last column k with k * span / width <= index.
int64_t TraceChart::ColumnOfRecord(int64_t index, int64_t width) const { return ((index + 1) * width - 1) / span_; }

int TraceChart::AxisTop() const { return height() - kMargin - kAxisHeight; }

int TraceChart::BitTrackHeight() const { return bitTracks_ ? kBitCount * kTrackHeight + 4 : 0; }

// The values two a line, and a line even when there is none; the recording
// compared with on a line of its own, wide enough for a long file name.
int TraceChart::LegendLines() const {
  return std::max<int>(1, static_cast<int>((chosen_.size() + 1) / 2)) + (compare_ != nullptr ? 1 : 0);
}

QRect TraceChart::PlotRect() const {
  const int top = kMargin + LegendLines() * kLegendLine;
  const int bottom = AxisTop() - BitTrackHeight() - 1;  // the axis's ticks start below the frame
  return QRect(QPoint(kMargin, top), QPoint(width() - kMargin - 1, std::max(top + 10, bottom)));
}

double TraceChart::ViewStart(const QRect& plot) const {
  return anchored_ ? static_cast<double>(firstColumn_) * static_cast<double>(span_) / plot.width()
                   : static_cast<double>(viewFirst_);
}

double TraceChart::XOf(double index, const QRect& plot) const {
  return plot.left() + (index - ViewStart(plot)) * plot.width() / static_cast<double>(viewCount_);
}

int64_t TraceChart::IndexAt(int x) const {
  const QRect plot = PlotRect();
  const double at = ViewStart(plot) + (x - plot.left()) * static_cast<double>(viewCount_) / plot.width();
  return std::clamp<int64_t>(static_cast<int64_t>(std::floor(at)), 0,
                             std::max<int64_t>(0, RecordCount() - 1));
}

void TraceChart::BuildSummary(const QRect& plot) {
  const int64_t compareCount = compare_ != nullptr ? static_cast<int64_t>(compare_->Count()) : 0;
  SummaryKey key{viewFirst_, viewCount_, RecordCount(), plot.width(), chosen_, bitTracks_, anchored_,
                 compare_, compareShift_, compareCount};
  if (key == summaryKey_) return;
  const SummaryKey before = std::exchange(summaryKey_, key);
  const int width = plot.width();
  const int64_t n = RecordCount();
  pointMode_ = viewCount_ < width;
  if (pointMode_) {
    // A few records, read once for every point and bit drawn.
    summary_ = ColumnSummary{};
    pointRecords_.clear();
    pointFirst_ = std::max<int64_t>(0, viewFirst_ - 1);
    const int64_t end = std::min<int64_t>(n, viewFirst_ + viewCount_ + 1);
    if (records_ != nullptr && end > pointFirst_)
      records_->Visit(static_cast<uint32_t>(pointFirst_), static_cast<uint32_t>(end - pointFirst_),
                      [&](uint32_t, std::span<const SampleRecord> block) {
                        pointRecords_.insert(pointRecords_.end(), block.begin(), block.end());
                      });
    return;
  }
  // A live chart that moved on keeps the columns it counted: they move left
  // with the view, and counting starts again at the column that held the
  // last record before, which may have been partly filled.
  int from = 0;
  const int64_t shift = firstColumn_ - summaryFirstColumn_;
  if (anchored_ && before.anchored && before.width == width && before.count == viewCount_ &&
      before.values == chosen_ && before.bits == bitTracks_ && before.records <= n && before.records > 0 &&
      shift >= 0 && shift < width && summary_.values.size() == chosen_.size()) {
    for (std::vector<ColumnExtremes>& out : summary_.values)
      out.erase(out.begin(), out.begin() + shift);
    if (bitTracks_ && !summary_.bits.empty())
      summary_.bits.erase(summary_.bits.begin(), summary_.bits.begin() + shift);
    from = static_cast<int>(std::clamp<int64_t>(ColumnOfRecord(before.records - 1, width) - firstColumn_, 0, width));
  }
  summaryFirstColumn_ = firstColumn_;
  ColumnLayout layout;
  layout.width = width;
  layout.records = n;
  if (anchored_) {
    layout.firstColumn = firstColumn_;
    layout.span = span_;
  } else {
    layout.origin = viewFirst_;
    layout.span = viewCount_;
  }
  if (records_ != nullptr) SummariseColumns(*records_, layout, chosen_, bitTracks_, from, summary_);

  // The recording compared with: each column holds its records that stand
  // where the column's own do.
  compareSummary_.values.assign(compare_ != nullptr && !anchored_ ? chosen_.size() : 0,
                                std::vector<ColumnExtremes>(static_cast<size_t>(width)));
  if (compareSummary_.values.empty()) return;
  for (int px = 0; px < width; ++px) {
    const int64_t begin = std::clamp<int64_t>(layout.Start(px) - compareShift_, 0, compareCount);
    const int64_t end = std::clamp<int64_t>(layout.Start(px + 1) - compareShift_, 0, compareCount);
    if (end <= begin) continue;
    compare_->Visit(static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin),
                    [&](uint32_t, std::span<const SampleRecord> block) {
                      for (const SampleRecord& record : block)
                        for (size_t t = 0; t < chosen_.size(); ++t) {
                          const std::optional<int32_t> held = HeldValue(chosen_[t], record);
                          if (!held) continue;  // a gap, as in the summary of this recording
                          ColumnExtremes& e = compareSummary_.values[t][static_cast<size_t>(px)];
                          const int32_t v = *held;
                          e.min = e.any ? std::min(e.min, v) : v;
                          e.max = e.any ? std::max(e.max, v) : v;
                          e.last = v;
                          e.any = true;
                        }
                    });
  }
}

double TraceChart::TimeStep(const QRect& plot) const {
  const double spanS = viewCount_ * kRecordPeriodS;
  static constexpr double kSteps[] = {0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800};
  for (double s : kSteps)
    if (s / spanS * plot.width() >= 70) return s;
  return kSteps[std::size(kSteps) - 1];
}

void TraceChart::DrawTimeAxis(QPainter& painter, const QRect& plot) {
  const double step = TimeStep(plot);
  const int axisTop = AxisTop();
  const double firstS = ViewStart(plot) * kRecordPeriodS;
  const QColor ink(90, 90, 90);
  // The same few labels come back at every refresh while a live chart
  // scrolls: each is drawn once into an image of its own, on the chart's
  // white, and from then on copied, which costs a fraction of drawing text.
  const qreal ratio = devicePixelRatioF();
  if (axisLabels_.size() > 500 || axisLabelRatio_ != ratio) axisLabels_.clear();
  axisLabelRatio_ = ratio;
  for (double t = std::ceil(firstS / step) * step; t <= firstS + viewCount_ * kRecordPeriodS; t += step) {
    const int x = static_cast<int>(std::lround(XOf(t / kRecordPeriodS, plot)));
    painter.fillRect(x, axisTop, 1, 4, ink);  // a filled rectangle costs less than a line
    const QString text = TimeText(t, step);
    auto label = axisLabels_.find(text);
    if (label == axisLabels_.end()) {
      const QFontMetrics metrics(font());
      QImage image(QSize(metrics.horizontalAdvance(text) + 1, metrics.height()) * ratio, QImage::Format_RGB32);
      image.setDevicePixelRatio(ratio);
      image.fill(Qt::white);
      QPainter labelPainter(&image);
      labelPainter.setFont(font());
      labelPainter.setPen(ink);
      labelPainter.drawText(QPoint(0, metrics.ascent()), text);
      labelPainter.end();
      label = axisLabels_.insert(text, image);
    }
    // Centred under its tick, but kept inside the chart: the first and last
    // labels would otherwise lose their ends at the window's edges.
    const int labelWidth = static_cast<int>(std::lround(label->width() / ratio));
    const int left = std::clamp(x - labelWidth / 2, 0, std::max(0, width() - labelWidth));
    painter.drawImage(QPoint(left, axisTop + 4), *label);
  }
}

// The plot is drawn pixel by pixel into an image of its own: a live chart
// redraws it twenty times a second, and a few thousand short vertical runs
// cost far less written straight into memory than through the painter.
void TraceChart::RenderPlot(const QRect& plot, int x0, int x1) {
  if (plotImage_.size() != plot.size())
    plotImage_ = QImage(plot.size(), QImage::Format_RGB32);  // opaque: copied, not blended
  const int w = plotImage_.width();
  const int h = plotImage_.height();
  x0 = std::clamp(x0, 0, w);
  x1 = std::clamp(x1, x0, w);
  auto* pixels = reinterpret_cast<uint32_t*>(plotImage_.bits());
  const qsizetype stride = plotImage_.bytesPerLine() / 4;
  for (int y = 0; y < h; ++y) std::fill(pixels + y * stride + x0, pixels + y * stride + x1, 0xFFFFFFFFu);
  auto column = [&](int x, int y0, int y1, uint32_t argb) {
    if (x < x0 || x >= x1) return;
    y0 = std::clamp(y0, 0, h - 1);
    y1 = std::clamp(y1, 0, h - 1);
    if (y0 > y1) std::swap(y0, y1);
    for (int y = y0; y <= y1; ++y) pixels[y * stride + x] = argb;
  };
  const double step = TimeStep(plot);
  const double firstS = ViewStart(plot) * kRecordPeriodS;
  for (double t = std::ceil(firstS / step) * step; t <= firstS + viewCount_ * kRecordPeriodS; t += step)
    column(static_cast<int>(std::lround(XOf(t / kRecordPeriodS, plot))) - plot.left(), 0, h - 1, 0xFFE6E6E6u);
  // The frame goes over the traces: a live chart moves all but its two
  // sides, which must then hold nothing else.
  auto drawFrame = [&] {
    const uint32_t frame = 0xFFA0A0A0u;
    for (int x = x0; x < x1; ++x) pixels[x] = pixels[(h - 1) * stride + x] = frame;
    column(0, 0, h - 1, frame);
    column(w - 1, 0, h - 1, frame);
  };
  // The limits under the traces, in a paler shade of their value's colour;
  // a limit outside the value's scale has no place on it.
  for (const int c : chosen_) {
    const ValueColumn& col = kAllValueColumns[static_cast<size_t>(c)];
    const ValueLimit& limit = limits_[static_cast<size_t>(c)];
    const QColor pale = ColorOf(c).lighter(150);
    for (const auto& [on, value] : {std::pair{limit.lowOn, limit.low}, std::pair{limit.highOn, limit.high}}) {
      if (!on || value < col.rangeMin || value > col.rangeMax) continue;
      const int y = static_cast<int>(
          std::lround((h - 1) - (value - col.rangeMin) * (h - 1) / static_cast<double>(col.rangeMax - col.rangeMin)));
      for (int x = x0; x < x1; ++x) column(x, y, y, pale.rgba());
    }
  }
  if (pointMode_) {  // drawn as lines over the image
    drawFrame();
    return;
  }

  // One value's columns, each joined to the one before so that a step reads
  // as a line; atColumn is told of every column drawn.
  auto trace = [&](const std::vector<ColumnExtremes>& columns, int c, uint32_t argb, auto atColumn) {
    const ValueColumn& col = kAllValueColumns[static_cast<size_t>(c)];
    const double scale = (h - 1) / static_cast<double>(col.rangeMax - col.rangeMin);
    auto yOf = [&](int32_t value) {
      const int32_t v = std::clamp(value, col.rangeMin, col.rangeMax);
      return static_cast<int>(std::lround((h - 1) - (v - col.rangeMin) * scale));
    };
    bool havePrevious = false;
    int32_t previous = 0;
    const size_t end = std::min(columns.size(), static_cast<size_t>(x1));
    for (size_t px = static_cast<size_t>(std::max(0, x0 - 1)); px < end; ++px) {
      const ColumnExtremes& e = columns[px];
      if (!e.any) {
        havePrevious = false;
        continue;
      }
      const int32_t low = havePrevious ? std::min(e.min, previous) : e.min;
      const int32_t high = havePrevious ? std::max(e.max, previous) : e.max;
      column(static_cast<int>(px), yOf(high), yOf(low), argb);
      atColumn(px, e);
      previous = e.last;
      havePrevious = true;
    }
  };
  // The recording compared with goes under this one's traces, paler.
  for (size_t t = 0; t < compareSummary_.values.size(); ++t)
    trace(compareSummary_.values[t], chosen_[t], ColorOf(chosen_[t]).lighter(170).rgba(),
          [](size_t, const ColumnExtremes&) {});
  std::vector<bool> beyond(static_cast<size_t>(x1), false);
  for (size_t t = 0; t < chosen_.size(); ++t) {
    const int c = chosen_[t];
    const bool limited = limits_[static_cast<size_t>(c)].lowOn || limits_[static_cast<size_t>(c)].highOn;
    trace(summary_.values[t], c, ColorOf(c).rgba(), [&](size_t px, const ColumnExtremes& e) {
      if (limited && (Beyond(c, e.max) || Beyond(c, e.min))) beyond[px] = true;
    });
  }
  for (int x = x0; x < x1; ++x)
    if (beyond[static_cast<size_t>(x)]) column(x, 1, kBeyondMarkRows, kBeyondMark);
  drawFrame();
}

QStringList TraceChart::LegendTexts() const {
  QStringList texts;
  for (const int c : chosen_) {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
    QString text = QString("%1  %2 .. %3 %4").arg(column.caption).arg(column.rangeMin)
                       .arg(column.rangeMax).arg(column.unit);
    const ValueLimit& limit = limits_[static_cast<size_t>(c)];
    if (limit.lowOn) text += QString("  < %1").arg(limit.low);
    if (limit.highOn) text += QString("  > %1").arg(limit.high);
    texts << text;
  }
  if (compare_ != nullptr) texts << QString("Compared, pale: %1").arg(compareName_);
  return texts;
}

const QPixmap& TraceChart::Legend() {
  const QStringList texts = LegendTexts();
  if (legend_.width() == width() && legendTexts_ == texts) return legend_;
  legendTexts_ = texts;
  legend_ = QPixmap(width(), LegendLines() * kLegendLine);
  legend_.fill(Qt::white);
  QPainter painter(&legend_);
  painter.setFont(font());
  auto entry = [&](int x, int y, int width, const QColor& mark, const QString& text) {
    painter.fillRect(QRect(x, y + 5, 14, 4), mark);
    painter.setPen(Qt::black);
    painter.drawText(QRect(x + 18, y, width - 20, kLegendLine), Qt::AlignLeft | Qt::AlignVCenter, text);
  };
  const int half = (width() - 2 * kMargin) / 2;
  for (int t = 0; t < static_cast<int>(chosen_.size()); ++t)
    entry(kMargin + (t % 2) * half, (t / 2) * kLegendLine, half, ColorOf(chosen_[static_cast<size_t>(t)]), texts[t]);
  // The compared recording's mark is pale, as its traces are.
  if (compare_ != nullptr)
    entry(kMargin, (LegendLines() - 1) * kLegendLine, 2 * half, QColor(90, 90, 90).lighter(170), texts.back());
  return legend_;
}

void TraceChart::paintEvent(QPaintEvent* event) {
  scrollPending_ = false;
  ClampView();  // the width may have changed since
  QPainter painter(this);
  const QRect plot = PlotRect();
  if (RecordCount() == 0 || (chosen_.empty() && !bitTracks_)) {
    painter.fillRect(rect(), Qt::white);
    painter.drawPixmap(0, kMargin, Legend());
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(QColor(120, 120, 120));
    painter.drawText(plot, Qt::AlignCenter, RecordCount() == 0 ? "No records" : "No values chosen");
    return;
  }
  BuildSummary(plot);
  // A live chart asks for the newest few columns and for the axis below:
  // two rectangles. Under a clip of several rectangles the painter blends
  // every image line by line (handing them to its thread pool) and fills
  // span by span, so each rectangle is painted under a clip of its own,
  // and a part it does not touch is not drawn at all.
  for (const QRect& asked : event->region()) {
    painter.setClipRect(asked);
    PaintPart(painter, asked, plot);
  }
  painter.setClipping(false);  // what remains is clipped to the region still

  const int64_t n = RecordCount();
  if (pointMode_) {
    painter.setClipRect(plot);
    for (size_t t = 0; t < chosen_.size(); ++t) {
      const int c = chosen_[t];
      const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
      const double scale = plot.height() / static_cast<double>(column.rangeMax - column.rangeMin);
      auto yOf = [&](int32_t value) {
        const int32_t v = std::clamp(value, column.rangeMin, column.rangeMax);
        return static_cast<int>(std::lround(plot.bottom() - (v - column.rangeMin) * scale));
      };
      // A record without the value ends a line; the next that holds it
      // begins another.
      QPolygon line;
      auto endLine = [&] {
        if (line.size() == 1) painter.drawPoint(line[0]);
        if (line.size() > 1) painter.drawPolyline(line);
        line.clear();
      };
      if (compare_ != nullptr) {
        painter.setPen(QPen(ColorOf(c).lighter(170), 1));
        const int64_t count = compare_->Count();
        for (size_t k = 0; k < pointRecords_.size(); ++k) {
          const int64_t j = pointFirst_ + static_cast<int64_t>(k) - compareShift_;
          if (j < 0 || j >= count) continue;
          const std::optional<int32_t> value = HeldValue(c, compare_->At(static_cast<uint32_t>(j)));
          if (!value) {
            endLine();
            continue;
          }
          line << QPoint(static_cast<int>(std::lround(XOf(j + compareShift_ + 0.5, plot))), yOf(*value));
        }
        endLine();
      }
      painter.setPen(QPen(ColorOf(c), 1));
      for (size_t k = 0; k < pointRecords_.size(); ++k) {
        const std::optional<int32_t> value = HeldValue(c, pointRecords_[k]);
        if (!value) {
          endLine();
          continue;
        }
        const int64_t i = pointFirst_ + static_cast<int64_t>(k);
        line << QPoint(static_cast<int>(std::lround(XOf(i + 0.5, plot))), yOf(*value));
        if (Beyond(c, *value)) {
          const int x0 = static_cast<int>(std::lround(XOf(i, plot)));
          const int x1 = static_cast<int>(std::lround(XOf(i + 1, plot)));
          painter.fillRect(QRect(x0, plot.top() + 1, std::max(1, x1 - x0), kBeyondMarkRows), QColor::fromRgb(kBeyondMark));
        }
      }
      endLine();
    }
    painter.setClipping(false);
  }

  if (cursor_ >= viewFirst_ && cursor_ < viewFirst_ + viewCount_ && cursor_ < n) {
    const int x = static_cast<int>(std::lround(XOf(cursor_ + 0.5, plot)));
    painter.setPen(QPen(QColor(220, 0, 0), 1, Qt::DashLine));
    painter.drawLine(x, plot.top(), x, plot.bottom() + BitTrackHeight());
  }
}

// What lies in one rectangle of the region to paint: the white around the
// plot, the legend, the plot's columns, the time axis and the bit tracks.
void TraceChart::PaintPart(QPainter& painter, const QRect& asked, const QRect& plot) {
  const QRect margins[] = {
      QRect(0, 0, width(), plot.top()),
      QRect(0, plot.bottom() + 1, width(), height() - plot.bottom() - 1),
      QRect(0, plot.top(), plot.left(), plot.height()),
      QRect(plot.right() + 1, plot.top(), width() - plot.right() - 1, plot.height()),
  };
  for (const QRect& margin : margins)
    if (margin.intersects(asked)) painter.fillRect(margin & asked, Qt::white);
  const QPixmap& legend = Legend();
  if (asked.intersects(legend.rect().translated(0, kMargin)))
    painter.drawPixmap(0, kMargin, legend);

  const QRect columns = asked & plot;
  if (!columns.isEmpty()) {
    const int x0 = columns.left() - plot.left();
    const int x1 = columns.right() + 1 - plot.left();
    RenderPlot(plot, x0, x1);
    painter.drawImage(QPoint(plot.left() + x0, plot.top()), plotImage_, QRect(x0, 0, x1 - x0, plot.height()));
  }
  if (asked.intersects(QRect(0, AxisTop(), width(), height() - AxisTop()))) DrawTimeAxis(painter, plot);
  if (!bitTracks_) return;

  const int top = plot.bottom() + 3;
  for (size_t b = 0; b < kBitColumns.size(); ++b) {
    const int y = top + static_cast<int>(b) * kTrackHeight;
    const QRect track(plot.left(), y, plot.width(), kTrackHeight - 2);
    if (!track.intersects(asked)) continue;
    painter.fillRect(track & asked, QColor(244, 244, 244));
    const QColor on(0, 110, 200);
    if (pointMode_) {
      for (size_t k = 0; k < pointRecords_.size(); ++k) {
        const int64_t i = pointFirst_ + static_cast<int64_t>(k);
        const SampleRecord& record = pointRecords_[k];
        if (i < viewFirst_ || !HasBit(kBitColumns[b], record) || !BitIsSet(kBitColumns[b], record)) continue;
        const int x0 = static_cast<int>(std::lround(XOf(i, plot)));
        const int x1 = static_cast<int>(std::lround(XOf(i + 1, plot)));
        painter.fillRect(QRect(x0, y, std::max(1, x1 - x0), kTrackHeight - 2), on);
      }
    } else {
      // Runs of columns where the bit was on, each one rectangle; only
      // those in the rectangle asked for.
      const int columnCount = static_cast<int>(summary_.bits.size());
      const int first = std::clamp(asked.left() - plot.left(), 0, columnCount);
      const int last = std::clamp(asked.right() + 1 - plot.left(), first, columnCount);
      for (int px = first; px < last;) {
        if ((summary_.bits[static_cast<size_t>(px)][b] & 2u) == 0) {
          ++px;
          continue;
        }
        const int from = px;
        while (px < last && (summary_.bits[static_cast<size_t>(px)][b] & 2u) != 0) ++px;
        painter.fillRect(QRect(plot.left() + from, y, px - from, kTrackHeight - 2), on);
      }
    }
    const QRect caption(plot.left() + 2, y - 1, 200, kTrackHeight);
    if (!caption.intersects(asked)) continue;
    painter.setPen(QColor(60, 60, 60));
    QFont small = font();
    small.setPixelSize(kTrackHeight);
    painter.setFont(small);
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter, kBitColumns[b].caption);
    painter.setFont(font());
  }
}

void TraceChart::changeEvent(QEvent* event) {
  // The labels and the legend were drawn in the old font.
  if (event->type() == QEvent::FontChange) {
    axisLabels_.clear();
    legend_ = QPixmap();
    update();
  }
  QWidget::changeEvent(event);
}

void TraceChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  dragging_ = false;
  pressX_ = static_cast<int>(event->position().x());
  pressFirst_ = viewFirst_;
}

void TraceChart::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_ || following_) return;
  const int dx = static_cast<int>(event->position().x()) - pressX_;
  if (!dragging_ && std::abs(dx) < 4) return;
  dragging_ = true;
  const QRect plot = PlotRect();
  viewFirst_ = pressFirst_ - static_cast<int64_t>(std::llround(dx * static_cast<double>(viewCount_) / plot.width()));
  ClampView();
  update();
}

void TraceChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (dragging_) return;
  if (RecordCount() > 0 && PlotRect().adjusted(0, 0, 0, BitTrackHeight()).contains(event->position().toPoint()))
    emit Clicked(IndexAt(static_cast<int>(event->position().x())));
}

void TraceChart::wheelEvent(QWheelEvent* event) {
  if (following_ || RecordCount() == 0) return;
  const int steps = event->angleDelta().y() / 120;
  if (steps == 0) return;
  const QRect plot = PlotRect();
  const double x = event->position().x();
  const double anchor = viewFirst_ + (x - plot.left()) * static_cast<double>(viewCount_) / plot.width();
  const double factor = std::pow(0.8, steps);  // away from the user: closer in
  viewCount_ = static_cast<int64_t>(std::llround(viewCount_ * factor));
  ClampView();
  viewFirst_ = static_cast<int64_t>(std::llround(anchor - (x - plot.left()) * static_cast<double>(viewCount_) / plot.width()));
  ClampView();
  event->accept();
  update();
}
