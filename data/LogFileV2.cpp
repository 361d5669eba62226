#include "data/LogFileV2.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "data/Escape.h"
#include "data/RegisterList.h"

namespace {

constexpr size_t kBlockSize = 20;
constexpr char kBlock0[] = "VERSION=2.0\n";
constexpr std::string_view kCheckKey = "CHECK";

constexpr std::array<uint8_t, 256> kCrc8Table = [] {
  std::array<uint8_t, 256> table{};
  for (int n = 0; n < 256; ++n) {
    auto c = static_cast<uint8_t>(n);
    for (int bit = 0; bit < 8; ++bit) c = static_cast<uint8_t>((c & 0x80) != 0 ? (c << 1) ^ 0x07 : c << 1);
    table[static_cast<size_t>(n)] = c;
  }
  return table;
}();

// Starts at 0, so that the xor at the end is what a run of zero bytes
// yields: a zero-filled record can never carry its own check.
constexpr uint8_t Crc8(const uint8_t* bytes, size_t n) {
  uint8_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = kCrc8Table[crc ^ bytes[i]];
  return static_cast<uint8_t>(crc ^ 0x55);
}

uint32_t Crc32(const uint8_t* bytes, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08" PRIX32, value);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A part number comes from the ECU: any byte may be in it. Those that
// would break a line, or not read as text, are kept as %XX.
std::string EncodePart(const std::string& part) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E && c != '%') {
      text += c;
    } else {
      text += '%';
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
    }
  }
  return text;
}

bool DecodePart(std::string_view text, std::string& part) {
  part.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      part += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    part += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// Two hex digits each, comma separated, each register once; empty for a
// recording of nothing but lost lines.
bool ParseRegisterList(std::string_view text, LogHeaderV2& header, std::string& error) {
  header.registers = 0;
  header.count = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const int high = item.size() == 2 ? HexDigit(item[0]) : -1;
    const int low = item.size() == 2 ? HexDigit(item[1]) : -1;
    const int k = high >= 0 && low >= 0 ? CatalogueIndexOf(high * 16 + low) : -1;
    if (k < 0) {
      error = "not a log file this program can read: register \"" + Escaped(std::string(item)) +
              "\" is not one it knows";
      return false;
    }
    if ((header.registers >> k & 1) != 0) {
      error = "damaged log file: register " + std::string(item) + " is listed twice";
      return false;
    }
    header.registers |= RegisterMask{1} << k;
    header.entries[static_cast<size_t>(header.count++)] = static_cast<uint8_t>(k);
    if (comma != std::string_view::npos && text.empty()) {
      error = "damaged log file: its register list ends in a comma";
      return false;
    }
  }
  return true;
}

// Writes all of n bytes at offset, through interruptions and short writes.
bool WriteAllAt(int fd, const uint8_t* bytes, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t done = pwrite(fd, bytes, n, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = EIO;
      return false;
    }
    bytes += done;
    n -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

std::string Because(int errorNumber) { return std::strerror(errorNumber); }

// The lock LogFileInUse looks for. Its only other takers are LogFileInUse
// probes, which let go at once, so the wait is short. A file system without
// locks still takes the recording; only recovery cannot tell it is live.
void LockForWriting(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

// Where a replacing Open builds the new file: beside the old one, so that
// the rename stays within one file system, hidden, and unique to this
// process and this Open. "" when fileName names no file.
std::string ReplacementName(const std::string& fileName) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path path(fileName);
  const std::string base = path.filename().string();
  if (base.empty() || base == "." || base == "..") return {};
  const std::string name =
      "." + base.substr(0, 200) + "." + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".new";
  return (path.parent_path() / name).string();
}

}  // namespace

// A zero-filled tail must never pass for records, whatever their size.
static_assert([] {
  std::array<uint8_t, 64> zeros{};
  for (size_t n = 0; n < zeros.size(); ++n)
    if (Crc8(zeros.data(), n) == 0) return false;
  return true;
}());

std::string UtcIsoText(int64_t ms) {
  constexpr int64_t kDay = 86400000;
  int64_t days = ms / kDay;
  int64_t rest = ms % kDay;
  if (rest < 0) {
    rest += kDay;
    --days;
  }
  // Days since 1970 to the civil date, in eras of 400 years from March 0000.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02" PRId64 ":%02" PRId64
                ":%02" PRId64 ".%03" PRId64 "Z",
                year, month, day, rest / 3600000, rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
  return text;
}

bool MakeLogHeaderV2(const std::string& partNumber, int64_t startUtcMs, RegisterMask registers,
                     LogHeaderV2& header, std::string& bytes, std::string& error) {
  header = LogHeaderV2{};
  if (partNumber.size() > kMaxPartNumberLength) {
    error = "the part number is longer than " + std::to_string(kMaxPartNumberLength) + " bytes";
    return false;
  }
  if ((registers >> kCatalogueSize) != 0) {
    error = "the register list names a register the catalogue does not hold";
    return false;
  }
  header.partNumber = partNumber;
  header.startUtcMs = startUtcMs;
  header.registers = registers;
  for (int k = 0; k < kCatalogueSize; ++k)
    if ((registers >> k & 1) != 0) header.entries[static_cast<size_t>(header.count++)] = static_cast<uint8_t>(k);

  bytes.assign(kBlockSize, '\0');
  std::memcpy(bytes.data(), kBlock0, sizeof kBlock0 - 1);
  bytes += "PART=" + EncodePart(partNumber) + "\n";
  bytes += "START_MS=" + std::to_string(startUtcMs) + "\n";
  bytes += "START=" + (startUtcMs != 0 ? UtcIsoText(startUtcMs) : std::string("unknown")) + "\n";
  bytes += "REGISTERS=" + RegisterNumbers(registers) + "\n";
  const uint32_t check = Crc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  bytes += std::string(kCheckKey) + "=" + Hex8(check) + "\n";
  header.headerSize = static_cast<uint32_t>(bytes.size());
  return true;
}

bool ParseLogHeaderV2(const uint8_t* bytes, size_t size, uint64_t fileSize, LogHeaderV2& header,
                      std::string& error) {
  header = LogHeaderV2{};
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  const bool wholeFile = fileSize <= size;

  // The check line first: a header cut short, or torn, says so before any
  // of its lines is taken at its word.
  size_t checkLine = std::string_view::npos;
  size_t end = 0;
  for (size_t line = kBlockSize; line < text.size();) {
    const size_t newline = text.find('\n', line);
    if (newline == std::string_view::npos) break;
    if (text.compare(line, kCheckKey.size() + 1, "CHECK=") == 0) {
      checkLine = line;
      end = newline + 1;
      break;
    }
    line = newline + 1;
  }
  if (checkLine == std::string_view::npos) {
    error = wholeFile ? "damaged log file: cut inside its header"
                      : "not a log file: its header has no end within " + std::to_string(kMaxLogHeaderV2) +
                            " bytes";
    return false;
  }
  const std::string_view checkText = text.substr(checkLine + 6, end - 1 - (checkLine + 6));
  uint32_t check = 0;
  bool checkOk = checkText.size() == 8;
  for (const char c : checkText) {
    const int digit = HexDigit(c);
    checkOk = checkOk && digit >= 0;
    check = check << 4 | static_cast<uint32_t>(digit < 0 ? 0 : digit);
  }
  if (!checkOk || check != Crc32(bytes, checkLine)) {
    error = "damaged log file: its header fails its check";
    return false;
  }

  bool haveRegisters = false;
  for (size_t line = kBlockSize; line < checkLine;) {
    const size_t newline = text.find('\n', line);
    const std::string_view entry = text.substr(line, newline - line);
    line = newline + 1;
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      error = "damaged log file: header line \"" + Escaped(std::string(entry)) + "\" has no '='";
      return false;
    }
    const std::string_view key = entry.substr(0, equals);
    const std::string_view value = entry.substr(equals + 1);
    if (key == "PART") {
      if (!DecodePart(value, header.partNumber)) {
        error = "damaged log file: part number \"" + Escaped(std::string(value)) + "\"";
        return false;
      }
    } else if (key == "START_MS") {
      const auto [at, failure] = std::from_chars(value.data(), value.data() + value.size(), header.startUtcMs);
      if (failure != std::errc() || at != value.data() + value.size()) {
        error = "damaged log file: start time \"" + Escaped(std::string(value)) + "\"";
        return false;
      }
    } else if (key == "REGISTERS") {
      if (!ParseRegisterList(value, header, error)) return false;
      haveRegisters = true;
    }
  }
  if (!haveRegisters) {
    error = "damaged log file: its header lists no registers";
    return false;
  }
  header.headerSize = static_cast<uint32_t>(end);
  return true;
}

bool EncodeRecordsV2(const LogHeaderV2& header, uint64_t firstIndex, std::span<const SampleRecord> records,
                     std::vector<uint8_t>& out, std::string& error) {
  for (size_t i = 0; i < records.size(); ++i) {
    const RegisterMask extra = PresentRegisters(records[i]) & ~header.registers;
    if (extra == 0) continue;
    int k = 0;
    while ((extra >> k & 1) == 0) ++k;
    char number[8];
    std::snprintf(number, sizeof number, "%02X", kCatalogue[static_cast<size_t>(k)].number);
    error = "record " + std::to_string(firstIndex + i) + " holds register " + number +
            ", which the file does not list";
    return false;
  }
  const auto size = static_cast<size_t>(header.RecordSize());
  const int maskBytes = header.MaskBytes();
  size_t at = out.size();
  out.resize(at + size * records.size());
  for (const SampleRecord& record : records) {
    uint8_t* bytes = out.data() + at;
    std::memset(bytes, 0, size);
    bytes[0] = record[0];
    const RegisterMask present = PresentRegisters(record);
    for (int i = 0; i < header.count; ++i) {
      const int k = header.entries[static_cast<size_t>(i)];
      if ((present >> k & 1) == 0) continue;  // not sent: no value, and 0 in its place
      bytes[1 + i / 8] = static_cast<uint8_t>(bytes[1 + i / 8] | 1 << (i % 8));
      bytes[1 + maskBytes + i] = record[RecordByteOfEntry(k)];
    }
    bytes[size - 1] = Crc8(bytes, size - 1);
    at += size;
  }
  return true;
}

bool DecodeRecordV2(const LogHeaderV2& header, const uint8_t* bytes, SampleRecord& record) {
  const auto size = static_cast<size_t>(header.RecordSize());
  if (Crc8(bytes, size - 1) != bytes[size - 1]) return false;
  const int maskBytes = header.MaskBytes();
  // Bits past the listed registers are no register at all.
  if (header.count % 8 != 0 && (bytes[maskBytes] >> (header.count % 8)) != 0) return false;
  record = SampleRecord{};
  record[0] = bytes[0];
  RegisterMask present = 0;
  for (int i = 0; i < header.count; ++i) {
    if ((bytes[1 + i / 8] >> (i % 8) & 1) == 0) continue;
    const int k = header.entries[static_cast<size_t>(i)];
    present |= RegisterMask{1} << k;
    record[RecordByteOfEntry(k)] = bytes[1 + maskBytes + i];
  }
  if (present != kEighteenMask) SetPresentRegisters(record, present);
  return true;
}

// ---- LogFileAppender ---------------------------------------------------------

bool LogFileInUse(const std::string& fileName) {
  // A descriptor of its own: a lock of this process's appender is held by
  // that appender's descriptor, and must be seen here as well. Non-blocking,
  // so that a pipe of that name does not hold the caller up.
  const int fd = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  int locked = 0;
  while ((locked = flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
  }
  const bool held = locked != 0 && errno == EWOULDBLOCK;
  close(fd);  // and with it the probe's own lock
  return held;
}

LogFileAppender::~LogFileAppender() {
  if (fd_ >= 0) close(fd_);
}

Result LogFileAppender::Open(const std::string& fileName, const std::string& partNumber, int64_t startUtcMs,
                             RegisterMask registers, std::string& error, ExistingFile existing) {
  if (fd_ >= 0) {
    error = "a log file is open already";
    return Result::kFailed;
  }
  std::string bytes;
  LogHeaderV2 header;
  if (!MakeLogHeaderV2(partNumber, startUtcMs, registers, header, bytes, error)) return Result::kFailed;
  const bool replace = existing == ExistingFile::kReplace;
  std::string created = fileName;
  if (replace) {
    // A folder or a device in its place is nothing a recording replaces.
    struct stat old {};
    if (lstat(fileName.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
      error = "cannot replace " + Escaped(fileName) + ": it is not a regular file";
      return Result::kFailed;
    }
    created = ReplacementName(fileName);
    if (created.empty()) {
      error = "cannot create " + Escaped(fileName) + ": it names no file";
      return Result::kFailed;
    }
  }
  // Without kReplace never over a file that is there: it may be the user's
  // only copy of another recording.
  const int fd = open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot create " + Escaped(fileName) + ": " + Because(errno);
    return Result::kFailed;
  }
  // Locked before it is seen under its name when replacing, so recovery
  // never takes it for a dead writer's.
  LockForWriting(fd);
  const auto discard = [&] {
    close(fd);
    unlink(created.c_str());
  };
  if (!WriteAllAt(fd, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0)) {
    error = "cannot write " + Escaped(fileName) + ": " + Because(errno);
    discard();
    return Result::kFailed;
  }
  if (replace && rename(created.c_str(), fileName.c_str()) != 0) {
    error = "cannot replace " + Escaped(fileName) + ": " + Because(errno);
    discard();
    return Result::kFailed;
  }
  fd_ = fd;
  fileName_ = fileName;
  header_ = header;
  size_ = bytes.size();
  count_ = 0;
  folderSynced_ = false;
  broken_ = false;
  return Result::kOk;
}

Result LogFileAppender::Append(std::span<const SampleRecord> records, std::string& error) {
  if (fd_ < 0 || broken_) {
    error = fd_ < 0 ? "no log file is open" : "the log file's end could not be restored after a failed write";
    return Result::kFailed;
  }
  if (records.size() > kMaxLogRecords - count_) {
    error = "a recording holds at most " + std::to_string(kMaxLogRecords) + " records";
    return Result::kFailed;
  }
  std::vector<uint8_t> bytes;
  if (!EncodeRecordsV2(header_, count_, records, bytes, error)) return Result::kFailed;
  if (!WriteAllAt(fd_, bytes.data(), bytes.size(), size_)) {
    const int writeError = errno;
    // A part of a record would end the records for any reader: every
    // later append would be lost behind it.
    while (ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
      if (errno == EINTR) continue;
      broken_ = true;
      break;
    }
    error = "cannot write " + Escaped(fileName_) + ": " + Because(writeError);
    return Result::kFailed;
  }
  size_ += bytes.size();
  count_ += static_cast<uint32_t>(records.size());
  return Result::kOk;
}

Result LogFileAppender::Sync(std::string& error) {
  if (fd_ < 0) {
    error = "no log file is open";
    return Result::kFailed;
  }
  if (fdatasync(fd_) != 0) {
    error = "cannot write " + Escaped(fileName_) + " to disk: " + Because(errno);
    return Result::kFailed;
  }
  if (!folderSynced_) {
    std::string folder = std::filesystem::path(fileName_).parent_path().string();
    if (folder.empty()) folder = ".";
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The content is on disk either way; a folder that cannot be synced
    // (some file systems refuse) does not make the sync fail.
    if (folderFd >= 0) {
      folderSynced_ = fsync(folderFd) == 0;
      close(folderFd);
    }
  }
  return Result::kOk;
}

Result LogFileAppender::Close(std::string& error) {
  if (fd_ < 0) {
    error = "no log file is open";
    return Result::kFailed;
  }
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    error = "cannot close " + Escaped(fileName_) + ": " + Because(errno);
    return Result::kFailed;
  }
  return Result::kOk;
}
