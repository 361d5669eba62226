// The chart's per-column summary against a count done record by record.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "analysis/ColumnSummary.h"
#include "analysis/ValueSettings.h"

namespace {

std::vector<SampleRecord> Noise(size_t count) {
  std::mt19937 random(7);
  std::vector<SampleRecord> records(count);
  for (SampleRecord& record : records)
    for (int b = 1; b <= kFrameLength; ++b) record[b] = static_cast<uint8_t>(random());
  return records;
}

// Visits in small blocks, as the log memory hands out large ones: a column
// split between two blocks must count as one.
class SmallBlocks final : public RecordSource {
 public:
  explicit SmallBlocks(const std::vector<SampleRecord>& records) : records_(records) {}
  uint32_t Count() const override { return static_cast<uint32_t>(records_.size()); }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    const uint32_t end = std::min<uint32_t>(Count(), first + count);
    for (uint32_t at = first; at < end; at += 7)
      visit(at, std::span<const SampleRecord>(records_).subspan(at, std::min<uint32_t>(7, end - at)));
  }

 private:
  const std::vector<SampleRecord>& records_;
};

// What each column holds, worked out the long way.
ColumnSummary ByHand(const std::vector<SampleRecord>& records, const ColumnLayout& layout,
                     const std::vector<int>& values) {
  ColumnSummary summary;
  summary.values.assign(values.size(), std::vector<ColumnExtremes>(static_cast<size_t>(layout.width)));
  summary.bits.assign(static_cast<size_t>(layout.width), {});
  for (int px = 0; px < layout.width; ++px) {
    for (int64_t i = layout.Start(px); i < layout.Start(px + 1); ++i) {
      for (size_t t = 0; t < values.size(); ++t) {
        const ValueColumn& column = kAllValueColumns[static_cast<size_t>(values[t])];
        if (!HasValue(column, records[static_cast<size_t>(i)])) continue;
        const int32_t v = ConvertValue(column, records[static_cast<size_t>(i)]);
        ColumnExtremes& e = summary.values[t][static_cast<size_t>(px)];
        e = e.any ? ColumnExtremes{std::min(e.min, v), std::max(e.max, v), v, true} : ColumnExtremes{v, v, v, true};
      }
      for (size_t b = 0; b < kBitColumns.size(); ++b)
        if (HasBit(kBitColumns[b], records[static_cast<size_t>(i)]))
          summary.bits[static_cast<size_t>(px)][b] |= BitIsSet(kBitColumns[b], records[static_cast<size_t>(i)]) ? 2 : 1;
    }
  }
  return summary;
}

TEST(ColumnSummary, EqualsACountRecordByRecord) {
  const std::vector<SampleRecord> records = Noise(5000);
  const SmallBlocks source(records);
  const std::vector<int> values = {0, 2, 8, 9};  // two words and two bytes, a negative range among them
  ColumnLayout whole;  // more records than columns, and a view that ends before the recording
  whole.origin = 130;
  whole.span = 3001;
  whole.width = 97;
  whole.records = 5000;
  ColumnLayout anchored;  // the live layout: the recording's own columns, the last partly filled
  anchored.firstColumn = 40;
  anchored.span = 1000;
  anchored.width = 300;
  anchored.records = 5000;
  for (const ColumnLayout& layout : {whole, anchored}) {
    ColumnSummary summary;
    SummariseColumns(source, layout, values, true, 0, summary);
    const ColumnSummary expected = ByHand(records, layout, values);
    EXPECT_EQ(summary.values, expected.values);
    EXPECT_EQ(summary.bits, expected.bits);
  }
}

// Records holding some registers, beyond the eighteen too, and stretches
// of lost lines: a value or bit counts only where a record holds it, and a
// column of nothing but lost lines has no data.
TEST(ColumnSummary, WhatARecordDoesNotHoldCountsAsNoData) {
  std::vector<SampleRecord> records(3000);
  std::mt19937 random(11);
  for (size_t i = 0; i < records.size(); ++i) {
    for (int b = 1; b < kPresenceKindByte; ++b) records[i][b] = static_cast<uint8_t>(random());
    const RegisterMask all = (RegisterMask{1} << kCatalogueSize) - 1;
    SetPresentRegisters(records[i], (i / 100) % 3 == 2 ? 0 : all & (random() | RegisterMask{random()} << 32));
  }
  ColumnLayout layout;
  layout.span = 3000;
  layout.width = 60;  // 50 records a column: a third of them all gaps
  layout.records = 3000;
  const std::vector<int> values = {0, 4, ValueColumnOf("casref"), ValueColumnOf("intaketemp")};
  ColumnSummary summary;
  SummariseColumns(RecordSpan(records), layout, values, true, 0, summary);
  const ColumnSummary expected = ByHand(records, layout, values);
  EXPECT_EQ(summary.values, expected.values);
  EXPECT_EQ(summary.bits, expected.bits);
  EXPECT_FALSE(summary.values[0][4].any);
  EXPECT_EQ(summary.bits[4], (std::array<uint8_t, kBitCount>{}));
  EXPECT_TRUE(summary.values[3][0].any);
  for (int c = 0; c < kAllValueCount; ++c) {
    EXPECT_EQ(ConvertedValue(c, records[7]), ConvertValue(kAllValueColumns[static_cast<size_t>(c)], records[7]));
    EXPECT_EQ(HeldValue(c, records[7]).has_value(), HasValue(kAllValueColumns[static_cast<size_t>(c)], records[7]));
  }
}

// A live chart counts again only from the column the new records reach;
// the columns before keep what they held, and what it then holds is what a
// count from scratch gives.
TEST(ColumnSummary, CountsOnFromAColumnAndKeepsTheOnesBefore) {
  const std::vector<SampleRecord> records = Noise(2000);
  ColumnLayout layout;
  layout.span = 2000;
  layout.width = 150;
  layout.records = 1200;
  ColumnSummary summary;
  SummariseColumns(RecordSpan(records), layout, {1}, false, 0, summary);
  EXPECT_TRUE(summary.bits.empty());
  const int partly = static_cast<int>(1199 * 150 / 2000);  // the column of the last record
  layout.records = 2000;
  SummariseColumns(RecordSpan(records), layout, {1}, false, partly, summary);
  EXPECT_EQ(summary.values, ByHand(records, layout, {1}).values);
  for (int32_t raw : {0, 1, 255, 65535}) {
    SampleRecord record;
    record[kValueColumns[0].highByte] = static_cast<uint8_t>(raw >> 8);
    record[kValueColumns[0].lowByte] = static_cast<uint8_t>(raw);
    EXPECT_EQ(ConvertedValue(0, record), ConvertValue(kValueColumns[0], record));
  }
}

}  // namespace
