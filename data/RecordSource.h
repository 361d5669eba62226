// Records read a block at a time, wherever they are kept: the log memory
// (data/LogRecords.h) or a span in memory (tests, tools). The analysis and
// the chart read recordings through this, so that nobody keeps a copy of a
// recording of up to 900,001 records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "data/SampleRecord.h"

// Called with consecutive blocks: first is the index of block[0].
using RecordVisitor = std::function<void(uint32_t first, std::span<const SampleRecord> block)>;

class RecordSource {
 public:
  virtual ~RecordSource() = default;
  virtual uint32_t Count() const = 0;
  // Visits records [first, first + count), clipped to Count(), in order.
  virtual void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const = 0;
  // One record; an empty one beyond the end.
  SampleRecord At(uint32_t index) const {
    SampleRecord record;
    Visit(index, 1, [&](uint32_t, std::span<const SampleRecord> block) { record = block[0]; });
    return record;
  }
};

// Records held in memory, visited as one block.
class RecordSpan final : public RecordSource {
 public:
  explicit RecordSpan(std::span<const SampleRecord> records) : records_(records) {}
  uint32_t Count() const override { return static_cast<uint32_t>(records_.size()); }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    if (first >= records_.size()) return;
    const size_t n = std::min<size_t>(count, records_.size() - first);
    if (n > 0) visit(first, records_.subspan(first, n));
  }

 private:
  std::span<const SampleRecord> records_;
};

// Records in a vector that may grow meanwhile (tests, benchmarks): always
// what it holds now.
class RecordVector final : public RecordSource {
 public:
  explicit RecordVector(const std::vector<SampleRecord>& records) : records_(records) {}
  uint32_t Count() const override { return static_cast<uint32_t>(records_.size()); }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    RecordSpan(records_).Visit(first, count, visit);
  }

 private:
  const std::vector<SampleRecord>& records_;
};
