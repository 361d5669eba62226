// How often the recording clock stores a record: record i of a recording is
// the sample at i x 10 ms. Time is never stored; everything that shows or
// writes a time works it out from the index with these.
#pragma once

#include <chrono>
#include <cstdint>

inline constexpr int32_t kRecordPeriodMs = 10;
inline constexpr std::chrono::milliseconds kRecordPeriod{kRecordPeriodMs};
inline constexpr double kRecordPeriodS = kRecordPeriodMs / 1000.0;
inline constexpr int32_t kRecordsPerSecond = 1000 / kRecordPeriodMs;

// The time of record index in milliseconds.
constexpr int64_t RecordTimeMs(int64_t index) { return index * kRecordPeriodMs; }
