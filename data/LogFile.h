// Log files: a byte image of the start of the log memory, the header
// "VERSION=1.0\n" and the big-endian record count, then the records.
// Results are kLogFileOk and kLogFileFailed (data/Result.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/Memmap.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

constexpr Result kLogFileOk = Result::kOk;
constexpr Result kLogFileFailed = Result::kFailed;

// Writes the recording (state.recordCount records). A failed save leaves
// any existing file of that name as it was and no partial file behind.
Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory);
// The 40-byte header of a file of count records: "VERSION=1.0\n" and
// zeros, then the count most significant byte first and zeros.
void MakeLogHeader(uint32_t count, uint8_t (&header)[40]);
// Replaces the log memory's content and the record count. A failed load
// leaves both exactly as they were.
Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory);

// What a header says, for tools that describe a file without loading it.
struct LogFileInfo {
  std::string version;
  uint32_t recordCount = 0;
  uint64_t fileSize = 0;
};
// kLogFileOk when LoadLogFile would accept the file: version "1.0", a count that fits
// the log memory, and at least the 40 + 20 x count bytes it names (further
// bytes are ignored). Otherwise error holds one line saying why.
Result ReadLogFileInfo(const std::string& fileName, LogFileInfo& info, std::string& error);
// The records of a log file that LoadLogFile would accept, into memory of
// their own (a second recording to compare with leaves the log memory
// alone). A failure leaves records empty and says why in error.
Result ReadLogFileRecords(const std::string& fileName, std::vector<SampleRecord>& records, std::string& error);
