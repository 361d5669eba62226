#include "data/LogRecords.h"

#include <algorithm>

#include "data/Recorder.h"

namespace {

// Records end where the recovery marker begins.
constexpr uint32_t kRecordsInSection =
    (kRecoveryMarkerOffset - kLogHeaderSize) / static_cast<uint32_t>(kSampleRecordSize);
constexpr uint32_t kBlockRecords = 4096;

}  // namespace

void VisitLogRecords(LogMemory& memory, uint32_t first, uint32_t count, const RecordVisitor& visit) {
  if (first >= kRecordsInSection) return;
  count = std::min(count, kRecordsInSection - first);
  // One transfer per block: a SampleRecord is its 48 bytes and nothing else.
  static_assert(sizeof(SampleRecord) == kSampleRecordSize);
  std::vector<SampleRecord> block(std::min(count, kBlockRecords));
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kBlockRecords, count - done);
    const uint32_t at = first + done;
    const uint32_t offset = kLogHeaderSize + at * static_cast<uint32_t>(kSampleRecordSize);
    if (memory.ReadBytes(block.data(), kLogMemorySlot, offset, n * kSampleRecordSize) != Result::kOk) {
      // A section smaller than a whole one (or none): what it has, a record
      // at a time, up to its end.
      uint32_t got = 0;
      while (got < n && FetchRecord(memory, block[got], at + got) == Result::kOk) ++got;
      if (got > 0) visit(at, std::span<const SampleRecord>(block.data(), got));
      return;
    }
    visit(at, std::span<const SampleRecord>(block.data(), n));
    done += n;
  }
}

std::vector<SampleRecord> ReadLogRecords(LogMemory& memory, uint32_t first, uint32_t count) {
  std::vector<SampleRecord> records;
  VisitLogRecords(memory, first, count, [&](uint32_t, std::span<const SampleRecord> block) {
    records.insert(records.end(), block.begin(), block.end());
  });
  return records;
}

void LogMemoryRecords::Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const {
  if (first >= count_) return;
  VisitLogRecords(memory_, first, std::min(count, count_ - first), visit);
}
