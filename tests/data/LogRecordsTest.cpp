#include <gtest/gtest.h>

#include "data/LogRecords.h"
#include "data/Recorder.h"

// The records come back as stored, clipped to the end of the section; no
// section, no records.
TEST(LogRecords, ReadsClippedToTheSection) {
  LogMemory memory(".TorvaneLogRecordsTest");
  EXPECT_TRUE(ReadLogRecords(memory, 0, 10).empty());
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  constexpr uint32_t kLast = (kRecoveryMarkerOffset - kLogHeaderSize) / kSampleRecordSize - 1;
  for (uint32_t i : {0u, 1u, 5000u, kLast}) {
    SampleRecord record;
    record[7] = static_cast<uint8_t>(i % 251 + 1);
    ASSERT_EQ(StoreRecord(memory, record, i), Result::kOk);
  }
  const std::vector<SampleRecord> head = ReadLogRecords(memory, 0, 5001);
  ASSERT_EQ(head.size(), 5001u);
  EXPECT_EQ(head[1][7], 2);
  EXPECT_EQ(head[2][7], 0);
  EXPECT_EQ(head[5000][7], 5000 % 251 + 1);
  const std::vector<SampleRecord> tail = ReadLogRecords(memory, kLast, 100);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0][7], kLast % 251 + 1);
  EXPECT_TRUE(ReadLogRecords(memory, kLast + 1, 1).empty());
  EXPECT_TRUE(ReadLogRecords(memory, 0xFFFFFFF0u, 100).empty());
}
