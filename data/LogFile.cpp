#include "LogFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "data/Escape.h"
#include "data/Recorder.h"

namespace {

constexpr int kBlockSize = 20;
constexpr char kVersionPrefix[] = "VERSION=";
constexpr char kVersion[] = "1.0";

uint64_t ImageSize(uint32_t count) {
  return static_cast<uint64_t>(count) * kSampleRecordSize + kLogHeaderSize;
}

// What the two header blocks of a file say.
struct Header {
  std::string version;  // the text the version rule compares with "1.0"
  uint32_t count = 0;
  uint64_t fileSize = 0;
};

enum class HeaderResult { Ok, CannotOpen, TooShort, WrongVersion };

// Reads and checks block 0 and block 1. The version text is block 0's
// characters up to the first zero byte; when it starts with "VERSION=" only
// the (at most) three characters after the prefix count.
HeaderResult ReadHeader(const std::string& fileName, Header& header) {
  FILE* file = std::fopen(fileName.c_str(), "rbe");
  if (file == nullptr) return HeaderResult::CannotOpen;
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(file);
    return HeaderResult::CannotOpen;
  }
  header.fileSize = static_cast<uint64_t>(info.st_size);

  unsigned char block[kBlockSize];
  if (std::fread(block, 1, kBlockSize, file) != kBlockSize) {
    std::fclose(file);
    return HeaderResult::TooShort;
  }
  const char* text = reinterpret_cast<const char*>(block);
  std::string version(text, strnlen(text, kBlockSize));
  if (version.rfind(kVersionPrefix, 0) == 0) version = version.substr(8, 3);
  header.version = version;
  if (version != kVersion) {
    std::fclose(file);
    return HeaderResult::WrongVersion;
  }

  if (std::fread(block, 1, kBlockSize, file) != kBlockSize) {
    std::fclose(file);
    return HeaderResult::TooShort;
  }
  std::fclose(file);
  header.count = static_cast<uint32_t>(block[0]) << 24 | static_cast<uint32_t>(block[1]) << 16 |
                 static_cast<uint32_t>(block[2]) << 8 | static_cast<uint32_t>(block[3]);
  return HeaderResult::Ok;
}

}  // namespace

void MakeLogHeader(uint32_t count, uint8_t (&header)[kLogHeaderSize]) {
  std::memset(header, 0, kLogHeaderSize);
  std::memcpy(header, kVersionPrefix, 8);
  std::memcpy(header + 8, kVersion, 3);
  header[11] = '\n';
  header[kBlockSize + 0] = static_cast<uint8_t>(count >> 24);
  header[kBlockSize + 1] = static_cast<uint8_t>(count >> 16);
  header[kBlockSize + 2] = static_cast<uint8_t>(count >> 8);
  header[kBlockSize + 3] = static_cast<uint8_t>(count);
}

Result SaveLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory) {
  // Read once: while a recording runs the clock keeps raising it.
  const uint32_t count = state.recordCount.load();

  uint8_t header[kLogHeaderSize];
  MakeLogHeader(count, header);
  // Two blocks, as the header area has always been written.
  if (memory.WriteBytes(header, kLogMemorySlot, 0, kBlockSize) != LogMemory::kOk ||
      memory.WriteBytes(header + kBlockSize, kLogMemorySlot, kBlockSize, kBlockSize) != LogMemory::kOk)
    return kLogFileFailed;

  // Worked out in 64 bits: a count whose image exceeds 4 GiB must fail the
  // size check, not wrap past it.
  const uint64_t length = ImageSize(count);
  if (length > memory.Size()) return kLogFileFailed;
  return memory.SaveToFile(fileName, kLogMemorySlot, static_cast<uint32_t>(length)) == LogMemory::kOk
             ? kLogFileOk
             : kLogFileFailed;
}

// Every check is made before the log memory or the record count is touched,
// so a refused file leaves the recording in memory exactly as it was. The
// file must hold at least the 40 + 20 x count bytes its count names; bytes
// beyond that image are ignored, as they always have been, so a file that
// loaded before still loads.
Result LoadLogFile(const std::string& fileName, RecorderState& state, LogMemory& memory) {
  Header header;
  if (ReadHeader(fileName, header) != HeaderResult::Ok) return kLogFileFailed;
  const uint64_t length = ImageSize(header.count);
  if (length > memory.Size() || header.fileSize < length) return kLogFileFailed;
  if (memory.LoadFromFile(fileName, kLogMemorySlot, static_cast<uint32_t>(length)) != LogMemory::kOk)
    return kLogFileFailed;
  state.recordCount.store(header.count);
  return kLogFileOk;
}

Result ReadLogFileInfo(const std::string& fileName, LogFileInfo& info, std::string& error) {
  Header header;
  info = LogFileInfo{};
  switch (ReadHeader(fileName, header)) {
    case HeaderResult::CannotOpen:
      error = "cannot open " + Escaped(fileName) + " as a file";
      return kLogFileFailed;
    case HeaderResult::TooShort:
      error = "not a log file: shorter than its 40-byte header";
      return kLogFileFailed;
    case HeaderResult::WrongVersion:
      info.version = header.version;
      error = "not a log file: version \"" + Escaped(header.version) + "\" is not " + kVersion;
      return kLogFileFailed;
    case HeaderResult::Ok:
      break;
  }
  info.version = header.version;
  info.recordCount = header.count;
  info.fileSize = header.fileSize;
  const uint64_t length = ImageSize(header.count);
  if (length > kLogMemorySize) {
    error = "damaged log file: " + std::to_string(header.count) +
            " records do not fit in the log memory";
    return kLogFileFailed;
  }
  if (header.fileSize < length) {
    error = "damaged log file: " + std::to_string(header.count) + " records need " +
            std::to_string(length) + " bytes, the file holds " + std::to_string(header.fileSize);
    return kLogFileFailed;
  }
  return kLogFileOk;
}

Result ReadLogFileRecords(const std::string& fileName, std::vector<SampleRecord>& records, std::string& error) {
  records.clear();
  LogFileInfo info;
  if (ReadLogFileInfo(fileName, info, error) != kLogFileOk) return kLogFileFailed;
  std::FILE* file = std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open " + Escaped(fileName) + " as a file";
    return kLogFileFailed;
  }
  static_assert(sizeof(SampleRecord) == kSampleRecordSize, "records are read as the file holds them");
  std::vector<SampleRecord> read(info.recordCount);
  const bool ok = std::fseek(file, kLogHeaderSize, SEEK_SET) == 0 &&
                  (read.empty() || std::fread(read.data(), kSampleRecordSize, read.size(), file) == read.size());
  std::fclose(file);
  if (!ok) {
    error = "cannot read the records of " + Escaped(fileName);
    return kLogFileFailed;
  }
  records = std::move(read);
  return kLogFileOk;
}
