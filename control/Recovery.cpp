#include "control/Recovery.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "control/RecordingFiles.h"
#include "data/LogFile.h"
#include "data/Recorder.h"

namespace fs = std::filesystem;

namespace {

// A name in folder that no file has yet: log_<stamp>.eld, then _2, _3 ...
std::string FreshName(const std::string& folder) {
  const std::string stamp = "log_" + MakeTimeStamp();
  std::string name = (fs::path(folder) / (stamp + ".eld")).string();
  for (int n = 2; fs::exists(name) && n < 1000; ++n)
    name = (fs::path(folder) / (stamp + "_" + std::to_string(n) + ".eld")).string();
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

// The log file a save of the leftover recording would have written; the
// section keeps no part number or start time, so the file names none.
bool WriteImage(const std::string& fileName, const uint8_t* view, uint32_t count) {
  std::string error;
  return WriteLogFile(fileName, SectionRecords(view, count), LogFileFacts{}, error) == kLogFileOk;
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

std::vector<std::string> RecoverLeftoverRecordings(LogMemory& memory, const std::string& folder) {
  std::vector<std::string> written;
  memory.VisitLeftovers(kLogMemorySlot, [&](uint8_t* view, uint32_t size) {
    uint32_t count = 0;
    bool unsaved = false;
    if (!ReadRecoveryMarker(view, size, count, unsaved) || !unsaved || count == 0) return;
    // A count the section cannot hold is no marker of ours.
    if (static_cast<uint64_t>(count) * kSampleRecordSize + kLogHeaderSize > kRecoveryMarkerOffset)
      return;
    if (!MakeFolder(folder)) return;
    const std::string name = FreshName(folder);
    if (!WriteImage(name, view, count)) return;
    written.push_back(name);
    // Written once: the next start finds a marker that says saved.
    std::memset(view + kRecoveryMarkerOffset, 0, 20);
  });
  return written;
}

std::string SaveRecoveryCopy(RecorderState& state, LogMemory& memory, const std::string& folder) {
  if (!MakeFolder(folder)) return {};
  const std::string name = FreshName(folder);
  if (SaveLogFile(name, state, memory) != kLogFileOk) return {};
  return name;
}
