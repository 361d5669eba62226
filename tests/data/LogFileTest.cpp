#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "TestSupport.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "data/Recorder.h"

namespace {

const std::vector<uint8_t> kBlock0 = {0x56, 0x45, 0x52, 0x53, 0x49, 0x4F, 0x4E, 0x3D, 0x31, 0x2E,
                                      0x30, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0};

std::vector<uint8_t> Header(const std::string& block0Text, uint32_t count) {
  std::vector<uint8_t> bytes(40, 0);
  std::memcpy(bytes.data(), block0Text.data(), std::min<size_t>(block0Text.size(), 20));
  bytes[20] = static_cast<uint8_t>(count >> 24);
  bytes[21] = static_cast<uint8_t>(count >> 16);
  bytes[22] = static_cast<uint8_t>(count >> 8);
  bytes[23] = static_cast<uint8_t>(count);
  return bytes;
}

std::vector<uint8_t> LogImage(const std::string& block0Text, uint32_t count, uint32_t records) {
  std::vector<uint8_t> bytes = Header(block0Text, count);
  for (uint32_t i = 0; i < records; ++i) {
    const SampleRecord r = PatternRecord(i);
    bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  }
  return bytes;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct LogFileFixture : ::testing::Test {
  TempDir dir;
  RecorderState state;
  LogMemory memory;

  void SetUp() override { ASSERT_EQ(CreateLogMemory(memory), Result::kOk); }

  void Record(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(StoreRecord(memory, PatternRecord(i), i), Result::kOk);
    state.recordCount = count;
  }

  std::vector<uint8_t> MemoryBytes(uint32_t length) {
    std::vector<uint8_t> bytes(length);
    EXPECT_EQ(memory.ReadBytes(bytes.data(), kLogMemorySlot, 0, length), Result::kOk);
    return bytes;
  }

  // Loads bytes from a file and expects a refusal that changes nothing.
  void ExpectRefusedUntouched(const std::vector<uint8_t>& file) {
    Record(7);
    const std::vector<uint8_t> before = MemoryBytes(400);
    const std::string path = dir.Path("bad.eld");
    WriteFileBytes(path, file);
    EXPECT_EQ(LoadLogFile(path, state, memory), Result::kFailed);
    EXPECT_EQ(state.recordCount.load(), 7u);
    EXPECT_EQ(MemoryBytes(400), before);
  }
};

}  // namespace

TEST_F(LogFileFixture, FullRecordingSavesTheExpectedImage) {
  Record(900001);
  const std::string path = dir.Path("full.eld");
  ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
  const std::vector<uint8_t> file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), 18000060u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 20), kBlock0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 20, file.begin() + 24),
            (std::vector<uint8_t>{0x00, 0x0D, 0xBB, 0xA1}));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 24, file.begin() + 40), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(file, MemoryBytes(18000060)) << "the file is the memory image, header area included";

  // Load it into another program's memory and save it again: same bytes.
  RecorderState otherState;
  LogMemory other;
  ASSERT_EQ(CreateLogMemory(other), Result::kOk);
  ASSERT_EQ(LoadLogFile(path, otherState, other), Result::kOk);
  EXPECT_EQ(otherState.recordCount.load(), 900001u);
  const std::string again = dir.Path("again.eld");
  ASSERT_EQ(SaveLogFile(again, otherState, other), Result::kOk);
  EXPECT_EQ(ReadFileBytes(again), file);
}

TEST_F(LogFileFixture, SmallRecordingsUseTheBytePath) {
  Record(1);
  const std::string path = dir.Path("one.eld");
  ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(ReadFileBytes(path), LogImage("VERSION=1.0\n", 1, 1));

  Record(2);
  ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(ReadFileBytes(path).size(), 80u);
  EXPECT_EQ(ReadFileBytes(path), LogImage("VERSION=1.0\n", 2, 2));
}

TEST_F(LogFileFixture, StagingBoundariesRoundTrip) {
  // 102,400 bytes go one by one; one byte more makes a block and a byte.
  for (uint32_t length : {102400u, 102401u, 204800u, 204801u, 307239u}) {
    std::vector<uint8_t> image(length);
    for (uint32_t k = 0; k < length; ++k) image[k] = static_cast<uint8_t>(k * 7 + k / 251);
    ASSERT_EQ(memory.WriteBytes(image.data(), kLogMemorySlot, 0, length), Result::kOk);
    const std::string path = dir.Path("raw" + std::to_string(length));
    ASSERT_EQ(memory.SaveToFile(path, kLogMemorySlot, length), Result::kOk);
    EXPECT_EQ(ReadFileBytes(path), image) << length;
    ASSERT_EQ(memory.CreateSection(kLogMemorySlot, kLogMemorySize), Result::kOk);
    ASSERT_EQ(memory.LoadFromFile(path, kLogMemorySlot, length), Result::kOk);
    EXPECT_EQ(MemoryBytes(length), image) << length;
  }
  EXPECT_EQ(memory.SaveToFile(dir.Path("big"), kLogMemorySlot, kLogMemorySize + 1), Result::kFailed);
  EXPECT_FALSE(FileExists(dir.Path("big")));
}

TEST_F(LogFileFixture, LoadReplacesCountAndRecords) {
  const std::string path = dir.Path("two.eld");
  WriteFileBytes(path, LogImage("VERSION=1.0\n", 2, 2));
  Record(5);
  ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(state.recordCount.load(), 2u);
  SampleRecord record;
  ASSERT_EQ(FetchRecord(memory, record, 1), Result::kOk);
  EXPECT_EQ(record, PatternRecord(1));
  ASSERT_EQ(FetchRecord(memory, record, 3), Result::kOk);
  EXPECT_EQ(record, PatternRecord(3)) << "records beyond the count keep older content";
}

// A second recording read into memory of its own: the records the log
// memory would get, the log memory untouched; a damaged file gives none.
TEST_F(LogFileFixture, RecordsReadIntoMemoryOfTheirOwn) {
  const std::string path = dir.Path("two.eld");
  WriteFileBytes(path, LogImage("VERSION=1.0\n", 2, 2));
  Record(5);
  std::vector<SampleRecord> records;
  std::string error;
  ASSERT_EQ(ReadLogFileRecords(path, records, error), Result::kOk);
  EXPECT_EQ(records, (std::vector<SampleRecord>{PatternRecord(0), PatternRecord(1)}));
  EXPECT_EQ(state.recordCount.load(), 5u);
  std::vector<uint8_t> cut = LogImage("VERSION=1.0\n", 3, 3);
  cut.pop_back();
  WriteFileBytes(path, cut);
  EXPECT_EQ(ReadLogFileRecords(path, records, error), Result::kFailed);
  EXPECT_TRUE(records.empty());
  EXPECT_NE(error.find("damaged log file"), std::string::npos) << error;
}

TEST_F(LogFileFixture, VersionRule) {
  struct Case {
    std::string block0;
    Result result;
  };
  constexpr Result ok = Result::kOk;
  constexpr Result refused = Result::kFailed;
  const std::vector<Case> cases = {
      {"VERSION=1.0\n", ok},       {"VERSION=1.0\r\n", ok},  {"VERSION=1.0 and more", ok},
      {"1.0", ok},                 {"VERSION=2.0\n", refused}, {"version=1.0\n", refused},
      {" VERSION=1.0\n", refused}, {"VERSION=1.", refused},   {"1.0\n", refused},
      {"", refused},               {"VERSION=", refused},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Path("v.eld");
    WriteFileBytes(path, LogImage(c.block0, 1, 1));
    state.recordCount = 9;
    EXPECT_EQ(LoadLogFile(path, state, memory), c.result) << '"' << c.block0 << '"';
    EXPECT_EQ(state.recordCount.load(), c.result == ok ? 1u : 9u) << '"' << c.block0 << '"';
  }
}

TEST_F(LogFileFixture, CountBeyondTheSectionIsRefused) {
  // 1,677,720 records make an image larger than the section.
  const std::vector<uint8_t> file = LogImage("VERSION=1.0\n", 0x00199998, 3);
  ASSERT_EQ(file[21], 0x19);
  ASSERT_EQ(file[23], 0x98);
  ExpectRefusedUntouched(file);
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 0xFFFFFFFF, 3));
}

TEST_F(LogFileFixture, LargestCountFitsOnlyWhenTheFileHoldsIt) {
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 0x00199997, 3));

  // A sparse file of the full 33,554,420 bytes does hold 1,677,719 records.
  const std::string path = dir.Path("largest.eld");
  WriteFileBytes(path, LogImage("VERSION=1.0\n", 0x00199997, 3));
  ASSERT_EQ(truncate(path.c_str(), 33554420), 0);
  ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(state.recordCount.load(), 1677719u);
  SampleRecord record;
  ASSERT_EQ(FetchRecord(memory, record, 2), Result::kOk);
  EXPECT_EQ(record, PatternRecord(2));
}

TEST_F(LogFileFixture, DamagedFilesChangeNothing) {
  ExpectRefusedUntouched({});                                           // empty
  ExpectRefusedUntouched(std::vector<uint8_t>(kBlock0.begin(), kBlock0.begin() + 19));
  ExpectRefusedUntouched(kBlock0);                                      // block 1 missing
  std::vector<uint8_t> cut = LogImage("VERSION=1.0\n", 3, 3);
  cut.resize(39);
  ExpectRefusedUntouched(cut);
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 3, 2));              // a record short
  std::vector<uint8_t> oneByteShort = LogImage("VERSION=1.0\n", 3, 3);
  oneByteShort.pop_back();
  ExpectRefusedUntouched(oneByteShort);
  ExpectRefusedUntouched(LogImage("VERSION=2.0\n", 3, 3));
  Record(7);
  EXPECT_EQ(LoadLogFile(dir.Path("missing.eld"), state, memory), Result::kFailed);
  EXPECT_EQ(LoadLogFile(dir.Path(""), state, memory), Result::kFailed) << "a folder";
  EXPECT_EQ(state.recordCount.load(), 7u);
}

TEST_F(LogFileFixture, BytesBeyondTheImageAreIgnored) {
  std::vector<uint8_t> file = LogImage("VERSION=1.0\n", 2, 4);
  const std::string path = dir.Path("long.eld");
  WriteFileBytes(path, file);
  Record(9);
  ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(state.recordCount.load(), 2u);
  const std::string saved = dir.Path("saved.eld");
  ASSERT_EQ(SaveLogFile(saved, state, memory), Result::kOk);
  file.resize(80);
  EXPECT_EQ(ReadFileBytes(saved), file);
}

TEST_F(LogFileFixture, FailedSaveKeepsTheOldFile) {
  const std::string path = dir.Path("keep.eld");
  const std::vector<uint8_t> old = {1, 2, 3};
  WriteFileBytes(path, old);

  state.recordCount = 1677720;  // image larger than the section
  EXPECT_EQ(SaveLogFile(path, state, memory), Result::kFailed);
  EXPECT_EQ(ReadFileBytes(path), old);

  // A save that fails halfway: the child may write only 1000 bytes.
  Record(1000);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(SaveLogFile(path, state, memory) == Result::kFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save reported failure";
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(FolderEntries(dir.Path("")), std::vector<std::string>{"keep.eld"}) << "no partial file";

  std::filesystem::create_directory(dir.Path("folder.eld"));
  EXPECT_EQ(SaveLogFile(dir.Path("folder.eld"), state, memory), Result::kFailed);
  EXPECT_EQ(SaveLogFile(dir.Path("no/such/folder.eld"), state, memory), Result::kFailed);
  EXPECT_EQ(FolderEntries(dir.Path("")), (std::vector<std::string>{"folder.eld", "keep.eld"}));

  ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(ReadFileBytes(path).size(), 20040u);
}

TEST(LogFile, SaveWithoutASectionFails) {
  TempDir dir;
  RecorderState state;
  LogMemory memory;
  state.recordCount = 1;
  EXPECT_EQ(SaveLogFile(dir.Path("x.eld"), state, memory), Result::kFailed);
  EXPECT_FALSE(FileExists(dir.Path("x.eld")));
  WriteFileBytes(dir.Path("y.eld"), LogImage("VERSION=1.0\n", 1, 1));
  EXPECT_EQ(LoadLogFile(dir.Path("y.eld"), state, memory), Result::kFailed);
}

TEST(ReadLogFileInfo, DescribesOrExplainsInOneLine) {
  TempDir dir;
  LogFileInfo info;
  std::string error;
  WriteFileBytes(dir.Path("ok.eld"), LogImage("VERSION=1.0\n", 3, 3));
  ASSERT_EQ(ReadLogFileInfo(dir.Path("ok.eld"), info, error), Result::kOk);
  EXPECT_EQ(info.version, "1.0");
  EXPECT_EQ(info.recordCount, 3u);
  EXPECT_EQ(info.fileSize, 100u);

  const std::vector<std::pair<std::vector<uint8_t>, std::string>> bad = {
      {{}, "shorter"},
      {LogImage("VERSION=2.0\n", 3, 3), "\"2.0\""},
      {LogImage("VERSION=1.0\n", 3, 2), "need 100 bytes"},
      {LogImage("VERSION=1.0\n", 0x00199998, 0), "do not fit"},
      {LogImage("\x01\x02VERSION", 1, 1), "\"\\x01\\x02VERSION\""},
      {LogImage("VERSION=\x1b[2J\n", 1, 1), "\"\\x1B[2\""},
  };
  for (const auto& [bytes, expected] : bad) {
    WriteFileBytes(dir.Path("bad.eld"), bytes);
    error.clear();
    EXPECT_EQ(ReadLogFileInfo(dir.Path("bad.eld"), info, error), Result::kFailed) << expected;
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  EXPECT_EQ(ReadLogFileInfo(dir.Path("missing.eld"), info, error), Result::kFailed);
  EXPECT_FALSE(error.empty());
}

TEST(Escaped, KeepsTextAndLettersAndShowsEveryOtherByte) {
  EXPECT_EQ(Escaped("VERSION=1.0 log_1.eld"), "VERSION=1.0 log_1.eld");
  EXPECT_EQ(Escaped(std::string("\x1b[2J\0\n\x7f", 7)), "\\x1B[2J\\x00\\x0A\\x7F");
  EXPECT_EQ(Escaped("a\\x41"), "a\\\\x41");  // a literal backslash cannot pass for an escape
  EXPECT_EQ(Escaped("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x9a\x97"), "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x9a\x97");
  // C1 controls (the 8-bit CSI among them), overlong forms, surrogates,
  // stray continuation bytes and a sequence cut off at the end.
  EXPECT_EQ(Escaped("\xc2\x9b"), "\\xC2\\x9B");
  EXPECT_EQ(Escaped("\x9b\xc0\xaf"), "\\x9B\\xC0\\xAF");
  EXPECT_EQ(Escaped("\xed\xa0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(Escaped("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(Escaped("x\xe2\x82"), "x\\xE2\\x82");
}
