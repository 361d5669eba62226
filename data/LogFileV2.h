// The second log file version: a file that can be written as the recording
// goes, and that says which ECU and which registers it holds.
//
//   block 0   "VERSION=2.0\n", zeros to 20 bytes (a build that knows only
//             1.0 reads the version "2.0" and refuses the file)
//   header    text lines "KEY=value\n":
//               PART=<ECU part number, bytes outside printable ASCII and
//                    '%' as %XX; may be empty>
//               START_MS=<start of the recording, ms since 1970 UTC; 0: unknown>
//               START=<the same as ISO 8601 UTC text, or "unknown">
//               REGISTERS=<catalogue register numbers in hex, comma separated>
//               CHECK=<CRC-32 of every byte before this line, 8 hex digits>
//             Lines of other keys before CHECK are skipped (a later
//             version may add some).
//   records   one per 10 ms, all of one size, to the end of the file:
//               1 byte    the frame's data byte count
//               (n+7)/8   bit i set: the i-th listed register was sent
//                         (byte j holds bits 8j..8j+7, lowest first)
//               n bytes   the listed registers' values, 0 where not sent
//               1 byte    CRC-8 of the bytes before it (polynomial 0x07,
//                         start 0, result xor 0x55: a zero-filled record
//                         never passes)
//
// There is no record count: the file is appended to as the recording goes,
// so the records are as many as follow the header whole and valid. The
// first record that is cut short or fails its check ends them, which is
// how a file whose writer died mid-write still opens.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data/Recorder.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

inline constexpr char kLogVersion2[] = "2.0";
// The most records a log file may hold, of either version: what the log
// memory takes.
constexpr uint32_t kMaxLogRecords = static_cast<uint32_t>(kMaxRecordIndex) + 1;
// A header never grows beyond this; a file with no header end before it is
// no file of this version.
constexpr uint32_t kMaxLogHeaderV2 = 1024;
// The longest part number a header takes (raw bytes).
constexpr size_t kMaxPartNumberLength = 64;

// What a version 2 header says, and the record layout that follows from it.
struct LogHeaderV2 {
  std::string partNumber;
  int64_t startUtcMs = 0;
  RegisterMask registers = 0;
  // The listed registers as catalogue entries, in file order.
  std::array<uint8_t, kCatalogueSize> entries{};
  int count = 0;
  uint32_t headerSize = 0;  // where the records begin

  int MaskBytes() const { return (count + 7) / 8; }
  int RecordSize() const { return 1 + MaskBytes() + count + 1; }
};

// A header for these registers, listed in catalogue order; false with a
// reason when the mask names a register the catalogue does not hold or the
// part number is longer than kMaxPartNumberLength.
[[nodiscard]] bool MakeLogHeaderV2(const std::string& partNumber, int64_t startUtcMs, RegisterMask registers,
                                   LogHeaderV2& header, std::string& bytes, std::string& error);

// Reads the header from the first bytes of a file (at most kMaxLogHeaderV2;
// fileSize says whether the file went on past them). False with a one-line
// reason when it is cut, damaged or names what this program does not know.
[[nodiscard]] bool ParseLogHeaderV2(const uint8_t* bytes, size_t size, uint64_t fileSize, LogHeaderV2& header,
                                    std::string& error);

// Appends the file form of each record to out; false (out unchanged) when
// a record holds a register the header does not list, with the reason.
[[nodiscard]] bool EncodeRecordsV2(const LogHeaderV2& header, uint64_t firstIndex,
                                   std::span<const SampleRecord> records, std::vector<uint8_t>& out,
                                   std::string& error);
// One record from its file form; false when it fails its check. A record
// of exactly the eighteen comes back as every record of old was (presence
// kind 0); a register not sent is 0.
[[nodiscard]] bool DecodeRecordV2(const LogHeaderV2& header, const uint8_t* bytes, SampleRecord& record);

// "2023-11-14T22:13:20.000Z".
std::string UtcIsoText(int64_t msSince1970);

// What Open does with a file that is there already.
enum class ExistingFile {
  kRefuse,   // it may be the user's only copy of another recording
  kReplace,  // the caller means to write over it (torvane-cli record --out)
};

// True while an appender, of this process or another, has the file open.
// The lock goes with the process, so the file of a writer that was killed
// or lost its power is never in use.
bool LogFileInUse(const std::string& fileName);

// Writes a recording as it is made: the file is created with its header,
// records are appended as they come, and Sync puts what was appended on the
// disk. A file cut anywhere (the program killed, the power gone) opens with
// every record that was whole. While open, the file is locked for
// LogFileInUse. Not for use from several threads at once.
class LogFileAppender {
 public:
  LogFileAppender() = default;
  ~LogFileAppender();
  LogFileAppender(const LogFileAppender&) = delete;
  LogFileAppender& operator=(const LogFileAppender&) = delete;

  // Creates the file and writes the header. kRefuse fails when a file of
  // that name is there; kReplace puts the new file in place of a regular
  // file of that name in one step, so that the old one stays whole until
  // then. A failed Open leaves no new file behind and an old one as it was.
  Result Open(const std::string& fileName, const std::string& partNumber, int64_t startUtcMs,
              RegisterMask registers, std::string& error, ExistingFile existing = ExistingFile::kRefuse);
  // All the records or none: a record of a register not listed, or more
  // records than a recording holds, refuses the lot. A failed write takes
  // the file back to its last whole record.
  Result Append(std::span<const SampleRecord> records, std::string& error);
  // fdatasync; the first also syncs the folder, so that the file's name
  // survives a power loss as well as its content.
  Result Sync(std::string& error);
  // Closes without a sync of its own.
  Result Close(std::string& error);

  bool IsOpen() const { return fd_ >= 0; }
  uint32_t Count() const { return count_; }
  // Bytes of the header and the whole records.
  uint64_t Size() const { return size_; }

 private:
  int fd_ = -1;
  std::string fileName_;
  LogHeaderV2 header_;
  uint64_t size_ = 0;  // bytes of the header and the whole records
  uint32_t count_ = 0;
  bool folderSynced_ = false;
  bool broken_ = false;  // a failed write could not be taken back
};
