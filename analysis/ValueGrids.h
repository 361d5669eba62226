// Two views of a recording that forget time: a scatter of one value
// against another, counted into a grid of pixels so that 900,001 records
// cost as much to draw as a few thousand, each cell keeping the mean of a
// third value to colour it by; and the table a tuner lays beside the ECU's
// maps, the mean of a value in cells of engine speed by a second value.
// Values are rows of kAllValueColumns (the first twelve are kValueColumns)
// in the table's units; both views span each value's display range, as its
// bar and chart do. A record that does not hold every value a view uses (a
// register the ECU lacks, a lost line) is left out of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/RecordSource.h"

// Records [first, first + count) of a recording, clipped to it.
struct RecordStretch {
  uint32_t first = 0;
  uint32_t count = UINT32_MAX;
};

struct ScatterGrid {
  int width = 0, height = 0;
  int xColumn = 0, yColumn = 0, colourColumn = -1;
  std::vector<uint32_t> counts;     // row-major, row 0 at the top (the highest y)
  std::vector<double> colourSums;   // of the colour value, per cell; empty without one
  uint32_t records = 0;             // counted: those that hold the values
  uint32_t Count(int x, int y) const { return counts[static_cast<size_t>(y) * width + x]; }
  // The mean colour value of a cell that holds records.
  double MeanColour(int x, int y) const;
};

// colourColumn -1: no colour. Values beyond the display range count in
// the edge cells.
ScatterGrid BuildScatter(const RecordSource& records, RecordStretch stretch, int xColumn, int yColumn,
                         int colourColumn, int width, int height);

struct CellTable {
  int valueColumn = 0, rowColumn = 0, columnColumn = 0;
  std::vector<int32_t> rowEdges, columnEdges;  // bins+1 edges each, rising
  std::vector<double> sums;                    // rows x columns
  std::vector<uint32_t> counts;
  int Rows() const { return static_cast<int>(rowEdges.size()) - 1; }
  int Columns() const { return static_cast<int>(columnEdges.size()) - 1; }
  uint32_t Count(int row, int column) const { return counts[static_cast<size_t>(row * Columns() + column)]; }
  // Empty for a cell without records.
  std::optional<double> Mean(int row, int column) const;
};

// rows and columns equal bins over the display ranges of rowColumn (engine
// speed, as a rule) and columnColumn; a record beyond a range counts in the
// edge bin.
CellTable BuildCellTable(const RecordSource& records, RecordStretch stretch, int valueColumn, int rowColumn,
                         int rows, int columnColumn, int columns);

// The table as CSV lines (a point for decimals, empty cells empty): a
// title line naming the value and its unit, then a header of the column
// bins' lower edges, then per row its lower edge and the means; the counts
// follow as a second block of the same shape.
std::vector<std::string> CellTableCsv(const CellTable& table);
