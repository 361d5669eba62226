// A scatter of one value against another, drawn from a grid of counts
// (analysis/ValueGrids.h): the more records in a cell, the darker it is;
// with a colour value, the cell's hue goes from blue (the low end of that
// value's range) to red (its high end).
#pragma once

#include <QImage>
#include <QWidget>

#include "analysis/ValueGrids.h"

class ScatterChart : public QWidget {
  Q_OBJECT

 public:
  explicit ScatterChart(QWidget* parent = nullptr);
  // The plot's size in cells: what BuildScatter should count into.
  QSize PlotSize() const;
  void SetGrid(ScatterGrid grid);
  const ScatterGrid& Grid() const { return grid_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect PlotRect() const;

  ScatterGrid grid_;
  QImage image_;
};
