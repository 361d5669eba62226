#include "LogFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "data/AtomicFile.h"
#include "data/Escape.h"
#include "data/LogRecords.h"
#include "data/Recorder.h"

namespace {

constexpr int kBlockSize = 20;
constexpr char kVersionPrefix[] = "VERSION=";
constexpr char kVersion1[] = "1.0";
// Records moved at a time between the file and the log memory.
constexpr uint32_t kBlockRecords = 4096;
constexpr RegisterMask kCatalogueMask = (RegisterMask{1} << kCatalogueSize) - 1;

static_assert(kLogHeaderSize == 2 * kBlockSize);

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

uint64_t ImageSize(uint32_t count) { return static_cast<uint64_t>(count) * kLegacyRecordSize + kLogHeaderSize; }

std::string TooMany(uint64_t count) {
  return "damaged log file: " + std::to_string(count) + " records do not fit in the log memory (at most " +
         std::to_string(kMaxLogRecords) + ")";
}

// The rest of a version 1.0 file after block 0.
Result ReadVersion1(std::FILE* file, LogFileInfo& info, std::vector<SampleRecord>* records, std::string& error) {
  unsigned char block[kBlockSize];
  if (std::fread(block, 1, kBlockSize, file) != kBlockSize) {
    error = "not a log file: shorter than its 40-byte header";
    return kLogFileFailed;
  }
  const uint32_t count = static_cast<uint32_t>(block[0]) << 24 | static_cast<uint32_t>(block[1]) << 16 |
                         static_cast<uint32_t>(block[2]) << 8 | static_cast<uint32_t>(block[3]);
  info.recordCount = count;
  info.headerSize = kLogHeaderSize;
  info.recordSize = kLegacyRecordSize;
  info.registers = kEighteenMask;
  if (count > kMaxLogRecords) {
    error = TooMany(count);
    return kLogFileFailed;
  }
  const uint64_t length = ImageSize(count);
  if (info.fileSize < length) {
    error = "damaged log file: " + std::to_string(count) + " records need " + std::to_string(length) +
            " bytes, the file holds " + std::to_string(info.fileSize);
    return kLogFileFailed;
  }
  if (records == nullptr) return kLogFileOk;

  // Bytes 20..47 stay zero: presence kind 0, the eighteen, as every record
  // of this version holds.
  std::vector<SampleRecord> read(count);
  std::vector<uint8_t> bytes(static_cast<size_t>(kBlockRecords) * kLegacyRecordSize);
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kBlockRecords, count - done);
    const size_t length = static_cast<size_t>(n) * kLegacyRecordSize;
    if (std::fread(bytes.data(), 1, length, file) != length) {
      error = "cannot read the records of the file";
      return kLogFileFailed;
    }
    for (uint32_t i = 0; i < n; ++i)
      std::memcpy(read[done + i].bytes.data(), bytes.data() + static_cast<size_t>(i) * kLegacyRecordSize,
                  kLegacyRecordSize);
    done += n;
  }
  *records = std::move(read);
  return kLogFileOk;
}

// A version 2.0 file from its first byte.
Result ReadVersion2(std::FILE* file, LogFileInfo& info, std::vector<SampleRecord>* records, std::string& error) {
  std::vector<uint8_t> start(kMaxLogHeaderV2);
  if (std::fseek(file, 0, SEEK_SET) != 0) {
    error = "cannot read the header of the file";
    return kLogFileFailed;
  }
  const size_t got = std::fread(start.data(), 1, start.size(), file);
  LogHeaderV2 header;
  if (!ParseLogHeaderV2(start.data(), got, info.fileSize, header, error)) return kLogFileFailed;
  info.headerSize = header.headerSize;
  info.recordSize = static_cast<uint32_t>(header.RecordSize());
  info.partNumber = header.partNumber;
  info.startUtcMs = header.startUtcMs;
  info.registers = header.registers;
  if (std::fseek(file, header.headerSize, SEEK_SET) != 0) {
    error = "cannot read the records of the file";
    return kLogFileFailed;
  }

  // Whole records after the header; the first that fails its check, and
  // everything after it, is a torn or never-written tail.
  const size_t size = info.recordSize;
  const uint64_t whole = info.fileSize > header.headerSize ? (info.fileSize - header.headerSize) / size : 0;
  const uint64_t wanted = std::min<uint64_t>(whole, uint64_t{kMaxLogRecords} + 1);
  std::vector<SampleRecord> read;
  if (records != nullptr) read.reserve(static_cast<size_t>(std::min<uint64_t>(wanted, kMaxLogRecords)));
  std::vector<uint8_t> bytes(static_cast<size_t>(kBlockRecords) * size);
  uint64_t valid = 0;
  bool ended = false;
  for (uint64_t done = 0; done < wanted && !ended;) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(kBlockRecords, wanted - done));
    const size_t got = std::fread(bytes.data(), size, n, file);
    if (got < n && std::ferror(file) != 0) {
      error = "cannot read the records of the file";
      return kLogFileFailed;
    }
    ended = got < n;  // the file became shorter meanwhile
    for (size_t i = 0; i < got; ++i) {
      SampleRecord record;
      if (!DecodeRecordV2(header, bytes.data() + i * size, record)) {
        ended = true;
        break;
      }
      ++valid;
      if (records != nullptr && valid <= kMaxLogRecords) read.push_back(record);
    }
    done += n;
  }
  if (valid > kMaxLogRecords) {
    info.recordCount = kMaxLogRecords;
    error = "log file too long: more than " + std::to_string(kMaxLogRecords) +
            " records do not fit in the log memory";
    return kLogFileFailed;
  }
  info.recordCount = static_cast<uint32_t>(valid);
  if (records != nullptr) *records = std::move(read);
  return kLogFileOk;
}

// What ReadLogFileInfo, ReadLogFileRecords and LoadLogFile share, so that
// the three always take the same files. The version text is block 0's
// characters up to the first zero byte; when it starts with "VERSION=" only
// the (at most) three characters after the prefix count.
Result ReadLogFile(const std::string& fileName, LogFileInfo& info, std::vector<SampleRecord>* records,
                   std::string& error) {
  info = LogFileInfo{};
  if (records != nullptr) records->clear();
  File file(std::fopen(fileName.c_str(), "rbe"));
  struct stat status {};
  if (file == nullptr || fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
    error = "cannot open " + Escaped(fileName) + " as a file";
    return kLogFileFailed;
  }
  info.fileSize = static_cast<uint64_t>(status.st_size);

  unsigned char block[kBlockSize];
  if (std::fread(block, 1, kBlockSize, file.get()) != kBlockSize) {
    error = "not a log file: shorter than its 40-byte header";
    return kLogFileFailed;
  }
  const char* text = reinterpret_cast<const char*>(block);
  std::string version(text, strnlen(text, kBlockSize));
  if (version.rfind(kVersionPrefix, 0) == 0) version = version.substr(8, 3);
  info.version = version;

  Result result = kLogFileFailed;
  if (version == kVersion1) {
    result = ReadVersion1(file.get(), info, records, error);
  } else if (version == kLogVersion2) {
    result = ReadVersion2(file.get(), info, records, error);
  } else {
    error = "not a log file: version \"" + Escaped(version) + "\" is not " + kVersion1 + " or " + kLogVersion2;
  }
  if (result != kLogFileOk && records != nullptr) records->clear();
  return result;
}

// Version 1.0 and 2.0 writers as RecordSource visits; each reports through
// ok and error, since a visit cannot be stopped halfway.
struct FileWriter {
  explicit FileWriter(std::FILE* stream) : out(stream) {}
  std::FILE* out;
  uint32_t seen = 0;
  bool ok = true;
  std::string error;
  std::vector<uint8_t> bytes;

  void Write() {
    if (ok && !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) ok = false;
    bytes.clear();
  }
  // The visit went to the end, in order: nothing was left out.
  bool Sequence(uint32_t first, size_t n) {
    if (!ok || first != seen) {
      if (ok) error = "cannot read the recording";
      ok = false;
      return false;
    }
    seen += static_cast<uint32_t>(n);
    return true;
  }
};

}  // namespace

void MakeLogHeader(uint32_t count, uint8_t (&header)[kLogHeaderSize]) {
  std::memset(header, 0, kLogHeaderSize);
  std::memcpy(header, kVersionPrefix, 8);
  std::memcpy(header + 8, kVersion1, 3);
  header[11] = '\n';
  header[kBlockSize + 0] = static_cast<uint8_t>(count >> 24);
  header[kBlockSize + 1] = static_cast<uint8_t>(count >> 16);
  header[kBlockSize + 2] = static_cast<uint8_t>(count >> 8);
  header[kBlockSize + 3] = static_cast<uint8_t>(count);
}

Result WriteLogFile(const std::string& fileName, const RecordSource& records, const LogFileFacts& facts,
                    std::string& error) {
  const uint32_t count = records.Count();
  if (count > kMaxLogRecords) {
    error = "a log file holds at most " + std::to_string(kMaxLogRecords) + " records";
    return kLogFileFailed;
  }
  // Which version, and which registers a version 2.0 file must list: a
  // pass of its own, as the header comes before the first record.
  RegisterMask held = 0;
  bool eighteen = true;
  uint32_t seen = 0;
  records.Visit(0, count, [&](uint32_t first, std::span<const SampleRecord> block) {
    if (first != seen) return;
    for (const SampleRecord& record : block) {
      const RegisterMask present = PresentRegisters(record);
      held |= present;
      eighteen = eighteen && present == kEighteenMask;
    }
    seen += static_cast<uint32_t>(block.size());
  });
  if (seen != count) {
    error = "cannot read the recording";
    return kLogFileFailed;
  }

  AtomicFileWriter writer(fileName);
  if (!writer.Open()) {
    error = "cannot write " + Escaped(fileName);
    return kLogFileFailed;
  }
  FileWriter file(writer.Stream());
  if (eighteen) {
    uint8_t header[kLogHeaderSize];
    MakeLogHeader(count, header);
    file.bytes.assign(header, header + kLogHeaderSize);
    file.Write();
    records.Visit(0, count, [&](uint32_t first, std::span<const SampleRecord> block) {
      if (!file.Sequence(first, block.size())) return;
      for (const SampleRecord& record : block) {
        // Changed since the first pass: its registers would be lost.
        if (PresentRegisters(record) != kEighteenMask) {
          file.error = "the recording changed while it was saved";
          file.ok = false;
          return;
        }
        file.bytes.insert(file.bytes.end(), record.bytes.begin(), record.bytes.begin() + kLegacyRecordSize);
      }
      file.Write();
    });
  } else {
    // A part number out of all reason is cut rather than lose the recording.
    const std::string part = facts.partNumber.substr(0, kMaxPartNumberLength);
    LogHeaderV2 header;
    std::string headerBytes;
    if (!MakeLogHeaderV2(part, facts.startUtcMs, (held | facts.registersAsked) & kCatalogueMask, header,
                         headerBytes, error))
      return kLogFileFailed;
    file.bytes.assign(headerBytes.begin(), headerBytes.end());
    file.Write();
    records.Visit(0, count, [&](uint32_t first, std::span<const SampleRecord> block) {
      if (!file.Sequence(first, block.size())) return;
      if (!EncodeRecordsV2(header, first, block, file.bytes, file.error)) {
        file.ok = false;
        return;
      }
      file.Write();
    });
  }
  if (file.ok && file.seen != count) {
    file.ok = false;
    file.error = "cannot read the recording";
  }
  if (!file.ok) {
    error = file.error.empty() ? "cannot write " + Escaped(fileName) : file.error;
    return kLogFileFailed;  // the writer removes its temporary file
  }
  if (!writer.Commit()) {
    error = "cannot write " + Escaped(fileName);
    return kLogFileFailed;
  }
  return kLogFileOk;
}

Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory, std::string& error) {
  // Read once: while a recording runs the clock keeps raising it.
  const uint32_t count = state.recordCount.load();
  if (count > kMaxLogRecords) {
    error = "a log file holds at most " + std::to_string(kMaxLogRecords) + " records";
    return kLogFileFailed;
  }
  // Without a log memory there is no recording, not even an empty one.
  uint8_t probe = 0;
  if (memory.ReadBytes(&probe, kLogMemorySlot, 0, 1) != LogMemory::kOk) {
    error = "there is no log memory";
    return kLogFileFailed;
  }
  const LogMemoryRecords records(memory, count);
  return WriteLogFile(fileName, records, LogFileFacts{state.ecuPartNumber, state.startUtcMs, state.registersAsked},
                      error);
}

Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory) {
  std::string error;
  return SaveLogFile(fileName, state, memory, error);
}

// The file is read whole into memory of its own first: a file refused at
// any point, up to its last record, leaves the log memory and the record
// count exactly as they were.
Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory, std::string& error) {
  LogFileInfo info;
  std::vector<SampleRecord> records;
  if (ReadLogFile(fileName, info, &records, error) != kLogFileOk) return kLogFileFailed;
  const auto count = static_cast<uint32_t>(records.size());
  const uint64_t end = kLogHeaderSize + static_cast<uint64_t>(count) * kSampleRecordSize;
  uint8_t probe = 0;
  if (end > kRecoveryMarkerOffset || end > memory.Size() ||
      memory.ReadBytes(&probe, kLogMemorySlot, static_cast<uint32_t>(end - 1), 1) != LogMemory::kOk) {
    error = "the log memory cannot take " + std::to_string(count) + " records";
    return kLogFileFailed;
  }
  static_assert(sizeof(SampleRecord) == kSampleRecordSize, "records go to the memory as they are");
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kBlockRecords, count - done);
    const uint32_t offset = kLogHeaderSize + done * static_cast<uint32_t>(kSampleRecordSize);
    if (memory.WriteBytes(records.data() + done, kLogMemorySlot, offset, n * kSampleRecordSize) !=
        LogMemory::kOk) {
      error = "cannot write the log memory";
      return kLogFileFailed;
    }
    done += n;
  }
  state.recordCount.store(count);
  state.ecuPartNumber = info.partNumber;
  state.startUtcMs = info.startUtcMs;
  state.registersAsked = info.version == kLogVersion2 ? info.registers : 0;
  return kLogFileOk;
}

Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory) {
  std::string error;
  return LoadLogFile(fileName, state, memory, error);
}

Result ReadLogFileInfo(const std::string& fileName, LogFileInfo& info, std::string& error) {
  return ReadLogFile(fileName, info, nullptr, error);
}

Result ReadLogFileRecords(const std::string& fileName, std::vector<SampleRecord>& records, std::string& error) {
  LogFileInfo info;
  return ReadLogFile(fileName, info, &records, error);
}
