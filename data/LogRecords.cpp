#include "data/LogRecords.h"

#include <algorithm>
#include <cstring>

#include "data/Recorder.h"

namespace {

// Records end where the recovery marker begins.
constexpr uint32_t kRecordsInSection =
    (kRecoveryMarkerOffset - kLogHeaderSize) / static_cast<uint32_t>(kSampleRecordSize);
// Copied a block at a time: the recording clock shares the memory's lock
// and must never wait for a whole recording to be copied.
constexpr uint32_t kBlockRecords = 4096;

}  // namespace

std::vector<SampleRecord> ReadLogRecords(LogMemory& memory, uint32_t first, uint32_t count) {
  std::vector<SampleRecord> records;
  if (first >= kRecordsInSection) return records;
  count = std::min(count, kRecordsInSection - first);
  records.reserve(count);

  std::vector<uint8_t> block(static_cast<size_t>(kBlockRecords) * kSampleRecordSize);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t n = std::min(kBlockRecords, count - done);
    const uint32_t offset = kLogHeaderSize + (first + done) * static_cast<uint32_t>(kSampleRecordSize);
    const uint32_t bytes = n * static_cast<uint32_t>(kSampleRecordSize);
    if (memory.ReadBytes(block.data(), kLogMemorySlot, offset, bytes) != Result::kOk) {
      // A section smaller than a whole one (or none): take what it has, a
      // record at a time, up to its end.
      for (uint32_t i = 0; i < n; ++i) {
        SampleRecord record;
        if (memory.ReadBytes(record.bytes.data(), kLogMemorySlot,
                             offset + i * static_cast<uint32_t>(kSampleRecordSize),
                             kSampleRecordSize) != Result::kOk)
          return records;
        records.push_back(record);
      }
      return records;
    }
    for (uint32_t i = 0; i < n; ++i) {
      SampleRecord record;
      std::memcpy(record.bytes.data(), block.data() + static_cast<size_t>(i) * kSampleRecordSize,
                  kSampleRecordSize);
      records.push_back(record);
    }
    done += n;
  }
  return records;
}
