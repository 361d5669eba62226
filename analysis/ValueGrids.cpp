#include "analysis/ValueGrids.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "analysis/ColumnSummary.h"
#include "data/Registers.h"

namespace {

// Which of `bins` equal bins of the column's display range a value is in.
int BinOf(int column, int32_t value, int bins) {
  const ValueColumn& c = kAllValueColumns[static_cast<size_t>(column)];
  const int64_t span = static_cast<int64_t>(c.rangeMax) - c.rangeMin;
  const int64_t at = (static_cast<int64_t>(value) - c.rangeMin) * bins / std::max<int64_t>(span, 1);
  return static_cast<int>(std::clamp<int64_t>(at, 0, bins - 1));
}

std::vector<int32_t> Edges(int column, int bins) {
  const ValueColumn& c = kAllValueColumns[static_cast<size_t>(column)];
  std::vector<int32_t> edges;
  for (int i = 0; i <= bins; ++i)
    edges.push_back(static_cast<int32_t>(c.rangeMin + (static_cast<int64_t>(c.rangeMax) - c.rangeMin) * i / bins));
  return edges;
}

void VisitStretch(const RecordSource& records, RecordStretch stretch, const RecordVisitor& visit) {
  if (stretch.first >= records.Count()) return;
  records.Visit(stretch.first, std::min(stretch.count, records.Count() - stretch.first), visit);
}

std::string Number(double value, int decimals) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

}  // namespace

double ScatterGrid::MeanColour(int x, int y) const {
  const size_t at = static_cast<size_t>(y) * width + x;
  return counts[at] == 0 || colourSums.empty() ? 0 : colourSums[at] / counts[at];
}

ScatterGrid BuildScatter(const RecordSource& records, RecordStretch stretch, int xColumn, int yColumn,
                         int colourColumn, int width, int height) {
  ScatterGrid grid;
  grid.width = std::max(width, 1);
  grid.height = std::max(height, 1);
  grid.xColumn = xColumn;
  grid.yColumn = yColumn;
  grid.colourColumn = colourColumn;
  grid.counts.assign(static_cast<size_t>(grid.width) * grid.height, 0);
  if (colourColumn >= 0) grid.colourSums.assign(grid.counts.size(), 0);
  const RegisterMask needed =
      ValueRegisters(xColumn) | ValueRegisters(yColumn) | (colourColumn >= 0 ? ValueRegisters(colourColumn) : 0);
  VisitStretch(records, stretch, [&](uint32_t, std::span<const SampleRecord> block) {
    for (const SampleRecord& record : block) {
      const RegisterMask present = PresentRegisters(record);
      if ((present & needed) != needed) continue;
      const int x = BinOf(xColumn, ConvertedValue(xColumn, record), grid.width);
      const int y = grid.height - 1 - BinOf(yColumn, ConvertedValue(yColumn, record), grid.height);
      const size_t at = static_cast<size_t>(y) * grid.width + x;
      ++grid.counts[at];
      if (colourColumn >= 0) grid.colourSums[at] += ConvertedValue(colourColumn, record);
      ++grid.records;
    }
  });
  return grid;
}

std::optional<double> CellTable::Mean(int row, int column) const {
  const size_t at = static_cast<size_t>(row * Columns() + column);
  if (counts[at] == 0) return std::nullopt;
  return sums[at] / counts[at];
}

CellTable BuildCellTable(const RecordSource& records, RecordStretch stretch, int valueColumn, int rowColumn,
                         int rows, int columnColumn, int columns) {
  CellTable table;
  table.valueColumn = valueColumn;
  table.rowColumn = rowColumn;
  table.columnColumn = columnColumn;
  rows = std::max(rows, 1);
  columns = std::max(columns, 1);
  table.rowEdges = Edges(rowColumn, rows);
  table.columnEdges = Edges(columnColumn, columns);
  table.sums.assign(static_cast<size_t>(rows) * columns, 0);
  table.counts.assign(table.sums.size(), 0);
  const RegisterMask needed = ValueRegisters(valueColumn) | ValueRegisters(rowColumn) | ValueRegisters(columnColumn);
  VisitStretch(records, stretch, [&](uint32_t, std::span<const SampleRecord> block) {
    for (const SampleRecord& record : block) {
      if ((PresentRegisters(record) & needed) != needed) continue;
      const size_t at = static_cast<size_t>(BinOf(rowColumn, ConvertedValue(rowColumn, record), rows) * columns +
                                            BinOf(columnColumn, ConvertedValue(columnColumn, record), columns));
      table.sums[at] += ConvertedValue(valueColumn, record);
      ++table.counts[at];
    }
  });
  return table;
}

std::vector<std::string> CellTableCsv(const CellTable& table) {
  const ValueColumn& value = kAllValueColumns[static_cast<size_t>(table.valueColumn)];
  const ValueColumn& row = kAllValueColumns[static_cast<size_t>(table.rowColumn)];
  const ValueColumn& column = kAllValueColumns[static_cast<size_t>(table.columnColumn)];
  std::vector<std::string> lines;
  auto block = [&](const std::string& title, bool means) {
    lines.push_back(title);
    std::string header = std::string(row.caption) + " \\ " + column.caption;
    for (int c = 0; c < table.Columns(); ++c) header += "," + std::to_string(table.columnEdges[static_cast<size_t>(c)]);
    lines.push_back(header);
    for (int r = 0; r < table.Rows(); ++r) {
      std::string line = std::to_string(table.rowEdges[static_cast<size_t>(r)]);
      for (int c = 0; c < table.Columns(); ++c) {
        line += ",";
        if (!means) {
          line += std::to_string(table.Count(r, c));
        } else if (const std::optional<double> mean = table.Mean(r, c)) {
          line += Number(*mean, 1);
        }
      }
      lines.push_back(line);
    }
  };
  block(std::string("Mean ") + value.caption, true);
  lines.push_back("");
  block("Samples", false);
  return lines;
}
