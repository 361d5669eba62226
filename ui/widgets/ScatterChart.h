// A scatter of one value against another, drawn from a grid of counts
// (analysis/ValueGrids.h): the more records in a cell, the darker it is;
// with a colour value, the cell's hue goes from blue (the low end of that
// value's range) to red (its high end), as the legend above the plot shows.
// Both axes have round ticks with numbers between their ends.
#pragma once

#include <QImage>
#include <QWidget>

#include <vector>

#include "analysis/ValueGrids.h"

class ScatterChart : public QWidget {
  Q_OBJECT

 public:
  explicit ScatterChart(QWidget* parent = nullptr);
  // The plot's size in cells: what BuildScatter should count into.
  QSize PlotSize() const;
  void SetGrid(ScatterGrid grid);
  const ScatterGrid& Grid() const { return grid_; }
  // Where the colour value's scale stands, low end at the left; empty
  // without a colour value.
  QRect ColourScaleRect() const;

  // Round values strictly between low and high (1, 2 or 5 times a power
  // of ten apart), at most `most` of them: an axis's ticks between its ends.
  static std::vector<double> Ticks(double low, double high, int most);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect PlotRect() const;
  void DrawAxes(class QPainter& painter, const QRect& plot);
  void DrawLegend(class QPainter& painter, const QRect& plot);

  ScatterGrid grid_;
  QImage image_;
};
