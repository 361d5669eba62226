// The recording in the log memory, read a block at a time for whatever looks
// at a whole recording (run timing, pulls, the chart). Never writes the log
// memory.
#pragma once

#include <cstdint>
#include <vector>

#include "data/Memmap.h"
#include "data/RecordSource.h"
#include "data/SampleRecord.h"

// Visits records [first, first + count) of the log memory's recording (slot
// kLogMemorySlot, 40-byte header area, 48-byte records), clipped to what the
// section holds, in blocks of a few thousand. The memory's lock is held for
// each block's copy only: the recording clock, which shares it, never waits
// for a whole recording.
void VisitLogRecords(LogMemory& memory, uint32_t first, uint32_t count, const RecordVisitor& visit);

// The same records as a copy, for a tool that reads a file once.
std::vector<SampleRecord> ReadLogRecords(LogMemory& memory, uint32_t first, uint32_t count);

// The first `count` records of the log memory as a source.
class LogMemoryRecords final : public RecordSource {
 public:
  LogMemoryRecords(LogMemory& memory, uint32_t count) : memory_(memory), count_(count) {}
  void SetCount(uint32_t count) { count_ = count; }
  uint32_t Count() const override { return count_; }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override;

 private:
  LogMemory& memory_;
  uint32_t count_;
};
