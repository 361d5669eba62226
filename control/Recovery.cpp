#include "control/Recovery.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "control/RecordingFiles.h"
#include "data/LogFile.h"
#include "data/Recorder.h"

namespace fs = std::filesystem;

namespace {

constexpr char kWriteThroughPrefix[] = "unsaved_";
constexpr char kLogExtension[] = ".eld";

// A name in folder that no file has yet: <prefix><stamp>.eld, then _2, _3 ...
std::string FreshName(const std::string& folder, const std::string& prefix = "log_") {
  const std::string stamp = prefix + MakeTimeStamp();
  std::string name = (fs::path(folder) / (stamp + kLogExtension)).string();
  for (int n = 2; fs::exists(name) && n < 1000; ++n)
    name = (fs::path(folder) / (stamp + "_" + std::to_string(n) + kLogExtension)).string();
  return name;
}

bool MakeFolder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  return fs::is_directory(folder, error);
}

// The records of a leftover section, for the one log file writer.
class SectionRecords final : public RecordSource {
 public:
  SectionRecords(const uint8_t* view, uint32_t count) : view_(view), count_(count) {}
  uint32_t Count() const override { return count_; }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    constexpr uint32_t kBlockRecords = 4096;
    if (first >= count_) return;
    count = std::min(count, count_ - first);
    std::vector<SampleRecord> block(std::min(count, kBlockRecords));
    for (uint32_t done = 0; done < count;) {
      const uint32_t n = std::min(kBlockRecords, count - done);
      const size_t offset = kLogHeaderSize + static_cast<size_t>(first + done) * kSampleRecordSize;
      std::memcpy(block.data(), view_ + offset, static_cast<size_t>(n) * kSampleRecordSize);
      visit(first + done, std::span<const SampleRecord>(block.data(), n));
      done += n;
    }
  }

 private:
  const uint8_t* view_;
  uint32_t count_;
};

// A write-through file that no live writer holds, as far as recovery
// needs to know it.
struct StaleFile {
  std::string name;
  bool headerOnly = false;  // a whole header and not a byte more
  uint32_t count = 0;       // whole records; the rest is only valid when > 0
  SampleRecord first;
  SampleRecord last;
  LogHeaderV2 header;  // the registers it lists, to put a section's records in its form
  LogFileFacts facts;
  bool taken = false;  // went with a section's file, or waits with its section
};

std::vector<StaleFile> StaleWriteThroughFiles(const std::string& folder) {
  std::vector<StaleFile> files;
  std::error_code failure;
  for (fs::directory_iterator entry(folder, failure), end; !failure && entry != end; entry.increment(failure)) {
    const std::string base = entry->path().filename().string();
    if (base.rfind(kWriteThroughPrefix, 0) != 0 || base.size() < sizeof kLogExtension ||
        base.compare(base.size() - (sizeof kLogExtension - 1), std::string::npos, kLogExtension) != 0)
      continue;
    std::error_code ignored;
    if (!fs::is_regular_file(entry->symlink_status(ignored))) continue;
    StaleFile file;
    file.name = entry->path().string();
    if (LogFileInUse(file.name)) continue;  // a live recording of another instance
    LogFileInfo info;
    std::string error;
    if (ReadLogFileInfo(file.name, info, error) == kLogFileOk && info.version == kLogVersion2) {
      file.headerOnly = info.fileSize == info.headerSize;
      std::string bytes;
      std::vector<SampleRecord> records;
      if (info.recordCount > 0 && MakeLogHeaderV2("", 0, info.registers, file.header, bytes, error) &&
          ReadLogFileRecords(file.name, records, error) == kLogFileOk && !records.empty()) {
        file.count = static_cast<uint32_t>(records.size());
        file.first = records.front();
        file.last = records.back();
        file.facts = LogFileFacts{info.partNumber, info.startUtcMs, info.registers};
      }
    }
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const StaleFile& a, const StaleFile& b) { return a.name < b.name; });
  return files;
}

// Whether a section's record is one a file holds: compared in the file's
// form, which keeps neither the spare byte nor what a register not sent
// held.
bool SameRecord(const StaleFile& file, const SampleRecord& inFile, const SampleRecord& inSection) {
  std::vector<uint8_t> bytes;
  std::string error;
  SampleRecord asFile;
  return EncodeRecordsV2(file.header, 0, {&inSection, 1}, bytes, error) &&
         DecodeRecordV2(file.header, bytes.data(), asFile) && asFile == inFile;
}

bool HoldsOnly(const RecordSource& records, RegisterMask registers) {
  bool within = true;
  records.Visit(0, records.Count(), [&](uint32_t, std::span<const SampleRecord> block) {
    for (const SampleRecord& record : block) within = within && (PresentRegisters(record) & ~registers) == 0;
  });
  return within;
}

// The write-through file of the section's own run: its records are the
// section's first ones (the most of them when several are). Null when none.
StaleFile* FileOfSection(std::vector<StaleFile>& files, const SectionRecords& section) {
  StaleFile* found = nullptr;
  for (StaleFile& file : files) {
    if (file.taken || file.count == 0 || file.count > section.Count()) continue;
    if (found != nullptr && found->count >= file.count) continue;
    if (SameRecord(file, file.first, section.At(0)) && SameRecord(file, file.last, section.At(file.count - 1)))
      found = &file;
  }
  return found;
}

}  // namespace

std::string RecoveryFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data != nullptr && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr ? home : "/tmp") / ".local" / "share";
  }
  return (base / "torvane" / "recovered").string();
}

std::string WriteThroughFileName(const std::string& folder) {
  if (!MakeFolder(folder)) return {};
  return FreshName(folder, kWriteThroughPrefix);
}

std::vector<std::string> RecoverLeftoverRecordings(LogMemory& memory, const std::string& folder) {
  std::vector<std::string> written;
  std::vector<StaleFile> staleFiles = StaleWriteThroughFiles(folder);
  memory.VisitLeftovers(kLogMemorySlot, [&](uint8_t* view, uint32_t size) {
    uint32_t count = 0;
    bool unsaved = false;
    if (!ReadRecoveryMarker(view, size, count, unsaved) || !unsaved || count == 0) return;
    // A count the section cannot hold is no marker of ours.
    if (static_cast<uint64_t>(count) * kSampleRecordSize + kLogHeaderSize > kRecoveryMarkerOffset)
      return;
    const SectionRecords section(view, count);
    // The section keeps no part number or start time; its run's file does.
    StaleFile* file = FileOfSection(staleFiles, section);
    if (file != nullptr && !HoldsOnly(section, file->facts.registersAsked)) file = nullptr;
    // Whatever happens to the section happens to its file: a file without
    // its section's records, or a section without its file's facts, is
    // never all that is left.
    if (file != nullptr) file->taken = true;
    if (!MakeFolder(folder)) return;
    const std::string name = FreshName(folder);
    std::string error;
    if (WriteLogFile(name, section, file != nullptr ? file->facts : LogFileFacts{}, error) != kLogFileOk) return;
    written.push_back(name);
    // Written once: the next start finds a marker that says saved.
    std::memset(view + kRecoveryMarkerOffset, 0, 20);
    if (file != nullptr) unlink(file->name.c_str());
  });
  for (const StaleFile& file : staleFiles) {
    if (file.taken) continue;
    // Nothing was recorded; anything more, even a damaged file, may be the
    // only copy of a recording.
    if (file.headerOnly) {
      unlink(file.name.c_str());
      continue;
    }
    const std::string name = FreshName(folder);
    std::error_code failure;
    fs::rename(file.name, name, failure);
    if (!failure) written.push_back(name);
  }
  return written;
}

std::string SaveRecoveryCopy(RecorderState& state, LogMemory& memory, const std::string& folder) {
  if (!MakeFolder(folder)) return {};
  const std::string name = FreshName(folder);
  if (SaveLogFile(name, state, memory) != kLogFileOk) return {};
  return name;
}
