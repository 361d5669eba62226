#include "analysis/ValueGrids.h"

#include <gtest/gtest.h>

#include "analysis/ValueSettings.h"
#include "tests/analysis/SyntheticDrive.h"

namespace {

const int kRpm = ValueColumnOf("rpm");
const int kThrottle = ValueColumnOf("throttle");
const int kSpeed = ValueColumnOf("speed");

// Engine speed, throttle and road speed as the registers give them.
SampleRecord At(double rpm, double throttleMv, double kmh) { return RegisterRecord({kmh, rpm, throttleMv}); }

}  // namespace

// A record lands in the cell of its values (the top row holds the highest
// y); a value beyond the scale in the edge cell; the stretch is clipped to
// the recording, and an empty one counts nothing.
TEST(Scatter, RecordsLandInTheirCellsWithTheMeanColour) {
  const std::vector<SampleRecord> records = {At(5000, 2000, 100), At(5000, 2000, 60), At(12000, 5100, 0)};
  const ScatterGrid grid = BuildScatter(RecordSpan(records), {}, kRpm, kThrottle, kSpeed, 100, 50);
  EXPECT_EQ(grid.records, 3u);
  // 5000 of 0..10000 rpm is column 50; 2000 of 0..5000 mV is bin 20 from the bottom.
  EXPECT_EQ(grid.Count(50, 49 - 20), 2u);
  EXPECT_DOUBLE_EQ(grid.MeanColour(50, 29), 80);
  EXPECT_EQ(grid.Count(99, 0), 1u);  // beyond both scales: the top right corner

  const ScatterGrid tail = BuildScatter(RecordSpan(records), {2, 10}, kRpm, kThrottle, -1, 100, 50);
  EXPECT_EQ(tail.records, 1u);
  EXPECT_TRUE(tail.colourSums.empty());
  EXPECT_EQ(BuildScatter(RecordSpan(records), {3, 10}, kRpm, kThrottle, -1, 100, 50).records, 0u);
  EXPECT_EQ(BuildScatter(RecordSpan({}), {}, kRpm, kThrottle, -1, 100, 50).records, 0u);
}

// Means and counts per cell of engine speed by throttle; a cell without
// records has no mean and an empty field in the CSV.
TEST(CellTable, MeansCountsAndEmptyCells) {
  const std::vector<SampleRecord> records = {At(3100, 1200, 40), At(3300, 1400, 60), At(800, 450, 0)};
  const CellTable table = BuildCellTable(RecordSpan(records), {}, kSpeed, kRpm, 20, kThrottle, 10);
  ASSERT_EQ(table.Rows(), 20);
  ASSERT_EQ(table.Columns(), 10);
  EXPECT_EQ(table.rowEdges[6], 3000);
  EXPECT_EQ(table.columnEdges[2], 1000);
  EXPECT_EQ(table.Count(6, 2), 2u);
  EXPECT_DOUBLE_EQ(*table.Mean(6, 2), 50);
  EXPECT_EQ(table.Count(1, 0), 1u);
  EXPECT_FALSE(table.Mean(19, 9).has_value());

  const std::vector<std::string> csv = CellTableCsv(table);
  ASSERT_EQ(csv.size(), 2u * (2 + 20) + 1);
  EXPECT_EQ(csv[0], "Mean Speed [km/h]");
  EXPECT_EQ(csv[1].substr(csv[1].find(',')), ",0,500,1000,1500,2000,2500,3000,3500,4000,4500");
  EXPECT_EQ(csv[2 + 6], "3000,,,50.0,,,,,,,");
  EXPECT_EQ(csv[23], "Samples");
  EXPECT_EQ(csv[25 + 6], "3000,0,0,2,0,0,0,0,0,0,0");
}

// A record that lacks a value a view uses is left out of it; a value beyond
// the twelve can be one of them.
TEST(ValueGrids, RecordsLackingAValueAreLeftOut) {
  const int intake = ValueColumnOf("intaketemp");
  ASSERT_GE(intake, kValueCount);
  std::vector<SampleRecord> records = {At(3100, 1200, 40), At(3300, 1400, 60), At(3200, 1300, 100), GapRecord()};
  for (SampleRecord& record : records) record[RecordByteOf(0x11)] = 70;  // 20 deg C
  SetPresentRegisters(records[0], kEighteenMask | MaskOf(0x11));
  SetPresentRegisters(records[1], kEighteenMask);
  SetPresentRegisters(records[2], (kEighteenMask & ~MaskOf(0x0B)) | MaskOf(0x11));

  const ScatterGrid speed = BuildScatter(RecordSpan(records), {}, kRpm, kSpeed, -1, 10, 10);
  EXPECT_EQ(speed.records, 2u);
  const ScatterGrid coloured = BuildScatter(RecordSpan(records), {}, kRpm, kThrottle, intake, 10, 10);
  EXPECT_EQ(coloured.records, 2u);
  EXPECT_DOUBLE_EQ(coloured.MeanColour(3, 7), 20);

  const CellTable table = BuildCellTable(RecordSpan(records), {}, kSpeed, kRpm, 10, intake, 17);
  EXPECT_EQ(table.Count(3, 7), 1u);  // 20 of -50..120 deg C in 17 bins
  EXPECT_DOUBLE_EQ(*table.Mean(3, 7), 40);
  EXPECT_EQ(CellTableCsv(table)[0], "Mean Speed [km/h]");
  EXPECT_EQ(CellTableCsv(table)[1].substr(0, 40), "CAS Position [rpm] \\ Intake Air Temp [de");
}
