// A live recording written to disk as it is made, and what the next start
// makes of the files a dead writer left.
#include "control/WriteThrough.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "control/Recovery.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "tests/common/TempDir.h"
#include "tests/common/WaitFor.h"

namespace fs = std::filesystem;

namespace {

constexpr RegisterMask kIntake = MaskOf(0x11);
constexpr RegisterMask kLoad = MaskOf(0x33);
constexpr RegisterMask kLacking = MaskOf(0x29);

// A record of the registers in mask, each with a value of its own; the
// eighteen alone make a record of old.
SampleRecord Wide(uint32_t n, RegisterMask mask) {
  SampleRecord r;
  for (int k = 0; k < kCatalogueSize; ++k) {
    if ((mask >> k & 1) == 0) continue;
    r[RecordByteOfEntry(k)] = static_cast<uint8_t>(n * 7 + static_cast<uint32_t>(k) + 1);
    ++r[0];
  }
  if (mask != kEighteenMask) SetPresentRegisters(r, mask);
  return r;
}

// What a reading of these registers records: now and then a lost line.
std::vector<SampleRecord> Reading(uint32_t first, uint32_t count, RegisterMask mask) {
  std::vector<SampleRecord> records;
  for (uint32_t n = first; n < first + count; ++n) records.push_back(n % 97 == 50 ? GapRecord() : Wide(n, mask));
  return records;
}

std::vector<SampleRecord> FileRecords(const std::string& path) {
  std::vector<SampleRecord> records;
  std::string error;
  (void)ReadLogFileRecords(path, records, error);
  return records;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool Named(const std::string& path, const std::string& folder, const std::string& kind) {
  const std::string base = fs::path(path).filename().string();
  return fs::path(path).parent_path() == fs::path(folder) && base.rfind(kind + "_", 0) == 0 &&
         base.size() > 4 && base.substr(base.size() - 4) == ".eld";
}

// What the recorder does: each record stored, then the count raised.
struct WriteThroughFixture : ::testing::Test {
  TempDir dir;
  RecorderState state;
  LogMemory memory;
  std::vector<SampleRecord> stored;

  void SetUp() override {
    ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
    state.ecuPartNumber = "23710-6J000";
    state.startUtcMs = 1700000000000;
  }
  void Store(const std::vector<SampleRecord>& records) {
    for (const SampleRecord& record : records) {
      ASSERT_EQ(StoreRecord(memory, record, static_cast<uint32_t>(stored.size())), Result::kOk);
      stored.push_back(record);
      state.recordCount.store(static_cast<uint32_t>(stored.size()));
    }
  }
};

// The file size limit of the process, for a disk that fills up and is
// freed again; put back however the test ends.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    handler_ = signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    const rlimit limit{bytes, old_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    Lift();
    signal(SIGXFSZ, handler_);
  }
  void Lift() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_{};
  sighandler_t handler_ = SIG_DFL;
};

}  // namespace

TEST_F(WriteThroughFixture, RecordsReachTheFileAsTheyComeAndAllOfThemAtFinish) {
  const RegisterMask asked = kEighteenMask | kIntake | kLoad | kLacking;
  state.registersAsked = asked;
  const std::string path = dir.Path("unsaved.eld");
  WriteThrough writer(state, memory);
  EXPECT_EQ(writer.FileName(), "");
  std::string error;
  ASSERT_EQ(writer.Begin(path, ExistingFile::kRefuse, error), Result::kOk) << error;
  EXPECT_TRUE(writer.Active());
  EXPECT_EQ(writer.FileName(), path);
  EXPECT_TRUE(LogFileInUse(path));

  // More than one block, while it runs.
  Store(Reading(0, 2500, kEighteenMask | kIntake | kLoad));
  ASSERT_TRUE(WaitFor([&] { return writer.Syncs() > 0 && writer.RecordsWritten() == 2500; }));
  EXPECT_EQ(FileRecords(path), stored);

  Store(Reading(2500, 7, kEighteenMask));
  ASSERT_EQ(writer.Finish(error), Result::kOk) << error;
  EXPECT_FALSE(writer.Active());
  EXPECT_FALSE(LogFileInUse(path));
  EXPECT_EQ(writer.RecordsWritten(), 2507u);
  EXPECT_EQ(writer.BytesWritten(), fs::file_size(path));
  LogFileInfo info;
  ASSERT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
  EXPECT_EQ(info.partNumber, state.ecuPartNumber);
  EXPECT_EQ(info.startUtcMs, state.startUtcMs);
  EXPECT_EQ(info.registers, asked);
  EXPECT_EQ(FileRecords(path), stored);
  EXPECT_EQ(writer.Finish(error), Result::kOk);  // again: nothing more happens
  EXPECT_EQ(writer.TakeFailure(), "");
}

TEST_F(WriteThroughFixture, AFileThatCannotBeMadeIsAClearFailure) {
  WriteThrough writer(state, memory);
  std::string error;
  EXPECT_EQ(writer.Begin(dir.Path("no/such/folder/unsaved.eld"), ExistingFile::kRefuse, error), Result::kFailed);
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  EXPECT_FALSE(writer.Active());
  EXPECT_EQ(writer.FileName(), "");
  EXPECT_EQ(writer.Finish(error), Result::kOk);  // never begun

  const std::string there = dir.Path("there.eld");
  std::ofstream(there) << "a recording of the user's";
  EXPECT_EQ(writer.Begin(there, ExistingFile::kRefuse, error), Result::kFailed);
  EXPECT_NE(error.find("exists"), std::string::npos) << error;
  Store(Reading(0, 3, kEighteenMask));
  ASSERT_EQ(writer.Begin(there, ExistingFile::kReplace, error), Result::kOk) << error;
  EXPECT_EQ(writer.Begin(dir.Path("second.eld"), ExistingFile::kRefuse, error), Result::kFailed);  // one at a time
  ASSERT_EQ(writer.Finish(error), Result::kOk) << error;
  EXPECT_EQ(FileRecords(there), stored);
}

// A disk that fills: the failure is told once, the writing goes on trying,
// and once there is room again every record arrives, none twice.
TEST_F(WriteThroughFixture, AFailedWriteIsToldOnceAndMadeGoodLater) {
  std::string headerBytes;
  LogHeaderV2 header;
  std::string error;
  ASSERT_TRUE(MakeLogHeaderV2(state.ecuPartNumber, state.startUtcMs, kEighteenMask, header, headerBytes, error));
  Store(Reading(0, 10, kEighteenMask));
  const std::string path = dir.Path("unsaved.eld");
  WriteThrough writer(state, memory);
  FileSizeLimit limit(headerBytes.size() + 3 * static_cast<rlim_t>(header.RecordSize()) + 1);
  ASSERT_EQ(writer.Begin(path, ExistingFile::kRefuse, error), Result::kOk) << error;
  std::string failure;
  ASSERT_TRUE(WaitFor([&] { return !(failure = writer.TakeFailure()).empty(); }));
  EXPECT_NE(failure.find("cannot write"), std::string::npos) << failure;
  EXPECT_TRUE(FileRecords(path).empty());  // all of a block or none of it

  limit.Lift();
  ASSERT_TRUE(WaitFor([&] { return writer.RecordsWritten() == 10; }));
  EXPECT_EQ(writer.TakeFailure(), "");
  Store(Reading(10, 5, kEighteenMask));
  ASSERT_EQ(writer.Finish(error), Result::kOk) << error;
  EXPECT_EQ(FileRecords(path), stored);
}

// ---- What the next start finds ---------------------------------------------------

namespace {

// A log memory of a name of its own, and sections it leaves as a crashed
// run would.
struct WriteThroughRecovery : ::testing::Test {
  TempDir dir;
  const std::string folder = dir.Path("recovered");
  const std::string base = "torvane-wt-test-" + std::to_string(getpid()) + "-";

  void TearDown() override { shm_unlink(("/" + base + std::to_string(kLogMemorySlot)).c_str()); }

  void LeaveSection(const std::vector<SampleRecord>& records) {
    LogMemory crashed(base);
    ASSERT_EQ(CreateLogMemory(crashed), Result::kOk);
    for (uint32_t i = 0; i < records.size(); ++i) ASSERT_EQ(StoreRecord(crashed, records[i], i), Result::kOk);
    ASSERT_EQ(crashed.WriteRecoveryMarker(kLogMemorySlot, static_cast<uint32_t>(records.size()), true),
              Result::kOk);
  }  // an unsaved section outlives its memory, as it outlives a crash

  std::string LeaveFile(const std::vector<SampleRecord>& records, RegisterMask registers) {
    const std::string name = WriteThroughFileName(folder);
    LogFileAppender appender;
    std::string error;
    EXPECT_EQ(appender.Open(name, "23710-6J000", 1700000000000, registers, error), Result::kOk) << error;
    EXPECT_EQ(appender.Append(records, error), Result::kOk) << error;
    EXPECT_EQ(appender.Close(error), Result::kOk) << error;
    return name;
  }

  std::vector<std::string> Recover() {
    LogMemory memory(base);
    return RecoverLeftoverRecordings(memory, folder);
  }
};

LogFileInfo InfoOf(const std::string& path) {
  LogFileInfo info;
  std::string error;
  EXPECT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
  return info;
}

}  // namespace

TEST_F(WriteThroughRecovery, DeadWritersFilesAreOfferedBackLiveOnesLeftAlone) {
  std::ofstream(dir.Path("file")) << "x";
  EXPECT_EQ(WriteThroughFileName(dir.Path("file/under")), "");  // no folder can be made there

  const std::vector<SampleRecord> records = Reading(0, 3, kEighteenMask | kLoad);
  const std::string stale = LeaveFile(records, kEighteenMask | kLoad);
  EXPECT_TRUE(Named(stale, folder, "unsaved")) << stale;
  LogFileAppender live;
  const std::string liveName = WriteThroughFileName(folder);
  EXPECT_NE(liveName, stale);
  std::string error;
  ASSERT_EQ(live.Open(liveName, "", 0, kEighteenMask, error), Result::kOk) << error;
  const std::string empty = LeaveFile({}, kEighteenMask);
  const std::string garbage = folder + "/unsaved_garbage.eld";
  std::ofstream(garbage) << "not a log file";

  const std::vector<std::string> files = Recover();
  ASSERT_EQ(files.size(), 2u);
  for (const std::string& file : files) EXPECT_TRUE(Named(file, folder, "log")) << file;
  const auto recordsFile = std::find_if(files.begin(), files.end(), [](const std::string& f) {
    return !FileRecords(f).empty();
  });
  ASSERT_NE(recordsFile, files.end());
  EXPECT_EQ(FileRecords(*recordsFile), records);
  EXPECT_EQ(InfoOf(*recordsFile).partNumber, "23710-6J000");
  const std::string other = *recordsFile == files[0] ? files[1] : files[0];
  std::ifstream in(other);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a log file");
  // Left: the live file, still its writer's. Gone: the recording of nothing.
  std::vector<std::string> expected = {fs::path(liveName).filename().string(), fs::path(files[0]).filename().string(),
                                       fs::path(files[1]).filename().string()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderEntries(folder), expected);
  EXPECT_TRUE(LogFileInUse(liveName));
  EXPECT_TRUE(Recover().empty());
}

TEST_F(WriteThroughRecovery, ACrashLeavesOneFileWithTheFactsAndEveryRecordOfTheSection) {
  const RegisterMask asked = kEighteenMask | kIntake | kLoad | kLacking;
  std::vector<SampleRecord> section = Reading(0, 120, kEighteenMask | kIntake | kLoad);
  for (SampleRecord& record : section) record[kLegacyRecordSize - 1] = 0x5A;  // the spare byte no file keeps
  LeaveSection(section);
  // The file, synced up to half a second before the crash.
  const std::string stale = LeaveFile({section.begin(), section.begin() + 70}, asked);

  const std::vector<std::string> files = Recover();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{fs::path(files[0]).filename().string()});
  const LogFileInfo info = InfoOf(files[0]);
  EXPECT_EQ(info.partNumber, "23710-6J000");
  EXPECT_EQ(info.startUtcMs, 1700000000000);
  EXPECT_EQ(info.registers, asked);
  for (SampleRecord& record : section) record[kLegacyRecordSize - 1] = 0;
  EXPECT_EQ(FileRecords(files[0]), section);
}

// A file of another recording, or one that could not have held the
// section's records, keeps its own file; the section's is written without
// facts, as ever.
TEST_F(WriteThroughRecovery, ASectionAndAFileOfAnotherRecordingGiveTwoFiles) {
  const std::vector<SampleRecord> section = Reading(0, 40, kEighteenMask | kIntake);
  struct Case {
    std::vector<SampleRecord> file;
    RegisterMask registers;
    std::vector<SampleRecord> sectionTail;  // after the first 40
  };
  const std::vector<Case> cases = {
      {Reading(500, 30, kEighteenMask | kIntake), kEighteenMask | kIntake, {}},
      {Reading(0, 40, kEighteenMask | kIntake), kEighteenMask | kIntake, Reading(40, 5, kEighteenMask | kLoad)},
  };
  for (const Case& c : cases) {
    std::vector<SampleRecord> records = section;
    records.insert(records.end(), c.sectionTail.begin(), c.sectionTail.end());
    LeaveSection(records);
    LeaveFile(c.file, c.registers);
    const std::vector<std::string> files = Recover();
    ASSERT_EQ(files.size(), 2u);
    const bool sectionFirst = FileRecords(files[0]) == records;
    const std::string ofSection = sectionFirst ? files[0] : files[1];
    const std::string ofFile = sectionFirst ? files[1] : files[0];
    EXPECT_EQ(FileRecords(ofSection), records);
    EXPECT_EQ(InfoOf(ofSection).partNumber, "");
    EXPECT_EQ(InfoOf(ofSection).startUtcMs, 0);
    EXPECT_EQ(FileRecords(ofFile), c.file);
    EXPECT_EQ(InfoOf(ofFile).partNumber, "23710-6J000");
    fs::remove_all(folder);
  }
}
