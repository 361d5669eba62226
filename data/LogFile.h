// Log files, of two versions:
//   1.0  the header "VERSION=1.0\n" and the big-endian record count (20
//        bytes each), then the first 20 bytes (kLegacyRecordSize) of each
//        record; what every build of old reads. A recording whose every
//        record holds exactly the eighteen is saved this way.
//   2.0  any other recording (data/LogFileV2.h): the ECU's part number,
//        the start time and the registers listed in the header.
// Both are read everywhere a log file is. Results are kLogFileOk and
// kLogFileFailed (data/Result.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/LogFileV2.h"
#include "data/Memmap.h"
#include "data/RecordSource.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

constexpr Result kLogFileOk = Result::kOk;
constexpr Result kLogFileFailed = Result::kFailed;

// Writes the recording (state.recordCount records), with the part number,
// start time and registers asked of state. A failed save leaves any
// existing file of that name as it was and no partial file behind. The log
// memory is read a block at a time: a save during a recording does not
// hold the recording clock up.
Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory);
Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory, std::string& error);

// What a version 2 file says beyond its records.
struct LogFileFacts {
  std::string partNumber;  // "" when unknown
  int64_t startUtcMs = 0;  // 0 when unknown
  RegisterMask registersAsked = 0;  // 0: none beyond what the records hold
};
// The one writer of log files (the save and the recovery of a killed
// run's recording): version 1.0 when every record holds exactly the
// eighteen, else 2.0 listing every register a record holds and those
// asked. As safe as SaveLogFile; error says why it failed.
Result WriteLogFile(const std::string& fileName, const RecordSource& records, const LogFileFacts& facts,
                    std::string& error);

// The 40-byte header of a version 1.0 file of count records: "VERSION=1.0\n"
// and zeros, then the count most significant byte first and zeros.
void MakeLogHeader(uint32_t count, uint8_t (&header)[40]);

// Replaces the log memory's content and the record count, and the part
// number, start time and registers asked of state with the file's. A failed
// load leaves all of them exactly as they were; error says why.
Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory);
Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory, std::string& error);

// What a file says, for tools that describe a file without loading it.
struct LogFileInfo {
  std::string version;      // "1.0", "2.0"; a refused file's version text when it has one
  uint32_t recordCount = 0; // the records a load takes
  uint64_t fileSize = 0;
  uint32_t headerSize = 0;  // where the records begin
  uint32_t recordSize = 0;  // bytes of each record in the file
  std::string partNumber;   // "" when unknown (always for 1.0)
  int64_t startUtcMs = 0;   // 0 when unknown (always for 1.0); UtcIsoText gives it as text
  RegisterMask registers = 0;  // the registers the file can hold (1.0: the eighteen)
};
// kLogFileOk when LoadLogFile would accept the file. Version 1.0: a count
// that fits the log memory (at most kMaxLogRecords) and at least the
// 40 + 20 x count bytes it names (further bytes are ignored). Version 2.0:
// a whole header; the records are those whole and valid after it, at most
// kMaxLogRecords. Otherwise error holds one line saying why.
Result ReadLogFileInfo(const std::string& fileName, LogFileInfo& info, std::string& error);
// The records of a log file that LoadLogFile would accept, into memory of
// their own (a second recording to compare with leaves the log memory
// alone). A failure leaves records empty and says why in error.
Result ReadLogFileRecords(const std::string& fileName, std::vector<SampleRecord>& records, std::string& error);
