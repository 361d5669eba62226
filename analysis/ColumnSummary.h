// The Sub Window's chart in numbers: for each pixel column, the extremes of
// the chosen values over the records the column holds, and which bits were
// on and off there. So a recording of any length costs about as much to
// draw as the chart is wide, and no converted copy of it is kept.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/RecordSource.h"
#include "data/Registers.h"

// One pixel column of one value: the extremes of its records, and the last
// one, which the next column joins to. Records that do not hold the value
// (a register the ECU lacks, a lost line) count as none: a column of
// nothing but those has no data (any false), which the chart draws as a
// break in the trace.
struct ColumnExtremes {
  int32_t min = 0, max = 0, last = 0;
  bool any = false;
  bool operator==(const ColumnExtremes&) const = default;
};

// Which records each column holds: column px of the plot (0 at its left
// edge) holds records [Start(px), Start(px + 1)). The recording's own
// column firstColumn + px begins at origin + (firstColumn + px) x span /
// width, clipped to its length.
struct ColumnLayout {
  int64_t origin = 0;
  int64_t firstColumn = 0;
  int64_t span = 1;  // records over `width` columns
  int width = 1;
  int64_t records = 0;
  int64_t Start(int px) const {
    return std::min<int64_t>(records, origin + (firstColumn + px) * span / width);
  }
};

struct ColumnSummary {
  std::vector<std::vector<ColumnExtremes>> values;  // per chosen value, per column
  // Per column, per bit of kBitColumns: 1 a record had it clear, 2 set, 3
  // both; 0 no record of the column held its bank.
  std::vector<std::array<uint8_t, kBitCount>> bits;
};

// Counts columns [from, layout.width) of summary from the records; the
// columns before `from` are kept as they are. values are rows of
// kAllValueColumns (the first twelve are kValueColumns); bits says whether
// the bits are counted at all.
void SummariseColumns(const RecordSource& records, const ColumnLayout& layout,
                      const std::vector<int>& values, bool bits, int from, ColumnSummary& summary);

// A row of kAllValueColumns converted from its raw byte or word through a
// table worked out once per program: the same result as ConvertValue.
// Says nothing of whether the record holds the value: see HoldsValue.
int32_t ConvertedValue(int column, const SampleRecord& record);

// The registers a row of kAllValueColumns is made of, and whether the
// record holds them all (HasValue, from a table worked out at build time).
RegisterMask ValueRegisters(int column);
bool HoldsValue(int column, const SampleRecord& record);
// The value of a row when the record holds it.
std::optional<int32_t> HeldValue(int column, const SampleRecord& record);
