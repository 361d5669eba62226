#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "TestSupport.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "data/LogRecords.h"
#include "data/Recorder.h"

namespace {

const std::vector<uint8_t> kBlock0 = {0x56, 0x45, 0x52, 0x53, 0x49, 0x4F, 0x4E, 0x3D, 0x31, 0x2E,
                                      0x30, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr RegisterMask kRpm = MaskOf(0x00) | MaskOf(0x01);
constexpr RegisterMask kIntake = MaskOf(0x11);
constexpr RegisterMask kLoad = MaskOf(0x33);

// A record of the eighteen as version 1.0 holds it: a pattern in bytes
// 0..19, the spare byte too, and nothing after.
SampleRecord Eighteen(uint32_t n) {
  SampleRecord r = PatternRecord(n);
  std::fill(r.bytes.begin() + kLegacyRecordSize, r.bytes.end(), uint8_t{0});
  return r;
}

// A record of the registers in mask, each with a value of its own.
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

std::vector<uint8_t> Header(const std::string& block0Text, uint32_t count) {
  std::vector<uint8_t> bytes(40, 0);
  std::memcpy(bytes.data(), block0Text.data(), std::min<size_t>(block0Text.size(), 20));
  bytes[20] = static_cast<uint8_t>(count >> 24);
  bytes[21] = static_cast<uint8_t>(count >> 16);
  bytes[22] = static_cast<uint8_t>(count >> 8);
  bytes[23] = static_cast<uint8_t>(count);
  return bytes;
}

// A version 1.0 file as builds of old wrote it.
std::vector<uint8_t> LogImage(const std::string& block0Text, uint32_t count, uint32_t records) {
  std::vector<uint8_t> bytes = Header(block0Text, count);
  for (uint32_t i = 0; i < records; ++i) {
    const SampleRecord r = Eighteen(i);
    bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.begin() + kLegacyRecordSize);
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
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(StoreRecord(memory, Eighteen(i), i), Result::kOk);
    state.recordCount = count;
  }
  void Record(const std::vector<SampleRecord>& records) {
    for (uint32_t i = 0; i < records.size(); ++i) ASSERT_EQ(StoreRecord(memory, records[i], i), Result::kOk);
    state.recordCount = static_cast<uint32_t>(records.size());
  }

  std::vector<uint8_t> MemoryBytes(uint32_t length) {
    std::vector<uint8_t> bytes(length);
    EXPECT_EQ(memory.ReadBytes(bytes.data(), kLogMemorySlot, 0, length), Result::kOk);
    return bytes;
  }

  // A version 2.0 file of these records, and what its header says.
  std::vector<uint8_t> Version2(const std::vector<SampleRecord>& records, LogFileInfo& info) {
    Record(records);
    const std::string path = dir.Path("v2.eld");
    std::string error;
    EXPECT_EQ(SaveLogFile(path, state, memory, error), Result::kOk) << error;
    EXPECT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
    return ReadFileBytes(path);
  }

  // Loads bytes from a file and expects a refusal, with a reason, that
  // changes nothing.
  void ExpectRefusedUntouched(const std::vector<uint8_t>& file) {
    Record(7);
    state.ecuPartNumber = "before";
    const std::vector<uint8_t> before = MemoryBytes(400);
    const std::string path = dir.Path("bad.eld");
    WriteFileBytes(path, file);
    std::string error;
    EXPECT_EQ(LoadLogFile(path, state, memory, error), Result::kFailed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(state.recordCount.load(), 7u);
    EXPECT_EQ(state.ecuPartNumber, "before");
    EXPECT_EQ(MemoryBytes(400), before);
  }
};

}  // namespace

// ---- Version 1.0 ---------------------------------------------------------------

TEST_F(LogFileFixture, FullRecordingOfTheEighteenSavesTheImageOfOld) {
  Record(900001);
  const std::string path = dir.Path("full.eld");
  ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
  const std::vector<uint8_t> file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), 18000060u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 20), kBlock0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 20, file.begin() + 24),
            (std::vector<uint8_t>{0x00, 0x0D, 0xBB, 0xA1}));
  EXPECT_TRUE(file == LogImage("VERSION=1.0\n", 900001, 900001)) << "byte for byte as builds of old wrote it";

  // Load it into another program's memory and save it again: same records,
  // same bytes.
  RecorderState otherState;
  LogMemory other;
  ASSERT_EQ(CreateLogMemory(other), Result::kOk);
  ASSERT_EQ(LoadLogFile(path, otherState, other), Result::kOk);
  EXPECT_EQ(otherState.recordCount.load(), 900001u);
  const std::vector<SampleRecord> loaded = ReadLogRecords(other, 0, 900001);
  ASSERT_EQ(loaded.size(), 900001u);
  EXPECT_EQ(loaded[0], Eighteen(0));
  EXPECT_EQ(loaded[900000], Eighteen(900000));
  const std::string again = dir.Path("again.eld");
  ASSERT_EQ(SaveLogFile(again, otherState, other), Result::kOk);
  EXPECT_TRUE(ReadFileBytes(again) == file);
}

TEST_F(LogFileFixture, SmallRecordingsOfTheEighteen) {
  const std::string path = dir.Path("small.eld");
  for (uint32_t count : {0u, 1u, 2u}) {
    Record(count);
    ASSERT_EQ(SaveLogFile(path, state, memory), Result::kOk);
    EXPECT_EQ(ReadFileBytes(path), LogImage("VERSION=1.0\n", count, count)) << count;
  }
}

TEST_F(LogFileFixture, LoadReplacesCountRecordsAndFacts) {
  const std::string path = dir.Path("two.eld");
  WriteFileBytes(path, LogImage("VERSION=1.0\n", 2, 2));
  Record(5);
  ASSERT_EQ(StoreRecord(memory, PatternRecord(1), 1), Result::kOk);
  state.ecuPartNumber = "23710-0V800";
  state.startUtcMs = 5;
  state.registersAsked = kIntake;
  ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(state.recordCount.load(), 2u);
  EXPECT_EQ(ReadLogRecords(memory, 0, 4),
            (std::vector<SampleRecord>{Eighteen(0), Eighteen(1), Eighteen(2), Eighteen(3)}))
      << "bytes 20..47 of a record are zero; records beyond the count keep older content";
  EXPECT_EQ(state.ecuPartNumber, "");
  EXPECT_EQ(state.startUtcMs, 0);
  EXPECT_EQ(state.registersAsked, 0u);
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
  EXPECT_EQ(records, (std::vector<SampleRecord>{Eighteen(0), Eighteen(1)}));
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
      {"", refused},               {"VERSION=", refused},     {"VERSION=3.0\n", refused},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Path("v.eld");
    WriteFileBytes(path, LogImage(c.block0, 1, 1));
    state.recordCount = 9;
    EXPECT_EQ(LoadLogFile(path, state, memory), c.result) << '"' << c.block0 << '"';
    EXPECT_EQ(state.recordCount.load(), c.result == ok ? 1u : 9u) << '"' << c.block0 << '"';
  }
}

TEST_F(LogFileFixture, CountsBeyondARecordingAreRefused) {
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 900002, 3));
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 0xFFFFFFFF, 3));
}

TEST_F(LogFileFixture, LargestCountFitsOnlyWhenTheFileHoldsIt) {
  ExpectRefusedUntouched(LogImage("VERSION=1.0\n", 900001, 3));

  // A sparse file of the full 18,000,060 bytes does hold 900,001 records.
  const std::string path = dir.Path("largest.eld");
  WriteFileBytes(path, LogImage("VERSION=1.0\n", 900001, 3));
  ASSERT_EQ(truncate(path.c_str(), 18000060), 0);
  ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk);
  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_EQ(ReadLogRecords(memory, 2, 2), (std::vector<SampleRecord>{Eighteen(2), SampleRecord{}}));
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
  ExpectRefusedUntouched(LogImage("VERSION=2.0\n", 3, 3));              // no header of 2.0
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

  state.recordCount = 900002;  // more than a recording holds
  std::string error;
  EXPECT_EQ(SaveLogFile(path, state, memory, error), Result::kFailed);
  EXPECT_NE(error.find("900001"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(path), old);

  // Saves that fail halfway, of either version: the child may write only
  // 1000 bytes.
  for (const SampleRecord& record : {Eighteen(0), Wide(0, kRpm)}) {
    Record(std::vector<SampleRecord>(1000, record));
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
  }

  std::filesystem::create_directory(dir.Path("folder.eld"));
  EXPECT_EQ(SaveLogFile(dir.Path("folder.eld"), state, memory), Result::kFailed);
  EXPECT_EQ(SaveLogFile(dir.Path("no/such/folder.eld"), state, memory), Result::kFailed);
  EXPECT_EQ(FolderEntries(dir.Path("")), (std::vector<std::string>{"folder.eld", "keep.eld"}));

  Record(1000);
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
  std::string error;
  EXPECT_EQ(LoadLogFile(dir.Path("y.eld"), state, memory, error), Result::kFailed);
  EXPECT_NE(error.find("log memory"), std::string::npos) << error;
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
  EXPECT_EQ(info.registers, kEighteenMask);
  EXPECT_EQ(info.recordSize, 20u);

  const std::vector<std::pair<std::vector<uint8_t>, std::string>> bad = {
      {{}, "shorter"},
      {LogImage("VERSION=3.0\n", 3, 3), "\"3.0\""},
      {LogImage("VERSION=2.0\n", 3, 3), "cut inside its header"},
      {LogImage("VERSION=1.0\n", 3, 2), "need 100 bytes"},
      {LogImage("VERSION=1.0\n", 900002, 0), "do not fit"},
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

// ---- Version 2.0 ---------------------------------------------------------------

TEST_F(LogFileFixture, Version2KeepsGapsWiderRecordsAndWhatTheHeaderSays) {
  std::vector<SampleRecord> records = {Wide(0, kEighteenMask), GapRecord(), Wide(2, kEighteenMask | kIntake | kLoad),
                                       Wide(3, kRpm | kIntake), GapRecord(), Wide(5, kEighteenMask)};
  std::vector<SampleRecord> expected = records;
  // Bytes of registers the ECU did not send, and spare bytes, are no value.
  SampleRecord stray = Wide(6, kRpm);
  stray[RecordByteOf(0x29)] = 0x77;
  stray[kLegacyRecordSize - 1] = 1;
  stray[kSampleRecordSize - 1] = 2;
  records.push_back(stray);
  expected.push_back(Wide(6, kRpm));
  // The eighteen named by a mask come back as the eighteen of old.
  SampleRecord named = Wide(7, kEighteenMask);
  SetPresentRegisters(named, kEighteenMask);
  records.push_back(named);
  expected.push_back(Wide(7, kEighteenMask));

  state.ecuPartNumber = "23710-0V800\n%";
  state.startUtcMs = 1700000000123;
  state.registersAsked = MaskOf(0x36);  // asked, never sent
  LogFileInfo info;
  const std::vector<uint8_t> file = Version2(records, info);
  EXPECT_EQ(info.version, "2.0");
  EXPECT_EQ(info.recordCount, 8u);
  EXPECT_EQ(info.partNumber, "23710-0V800\n%");
  EXPECT_EQ(info.startUtcMs, 1700000000123);
  EXPECT_EQ(info.registers, kEighteenMask | kIntake | kLoad | MaskOf(0x36));
  EXPECT_EQ(info.recordSize, 1u + 3 + 21 + 1);
  EXPECT_EQ(file.size(), info.headerSize + 8 * info.recordSize);
  const std::string header(file.begin() + 20, file.begin() + info.headerSize);
  EXPECT_NE(header.find("PART=23710-0V800%0A%25\n"), std::string::npos) << header;
  EXPECT_NE(header.find("START=2023-11-14T22:13:20.123Z\n"), std::string::npos) << header;
  EXPECT_NE(header.find("REGISTERS=00,01,04,05,08,09,0B,0C,0D,12,13,14,15,16,17,1A,1E,1F,11,33,36\n"),
            std::string::npos)
      << header;

  // Builds of old read the version as "2.0" and refuse it: their rule takes
  // the text after "VERSION=" and wants "1.0".
  std::vector<uint8_t> block0(file.begin(), file.begin() + 20);
  EXPECT_EQ(block0, (std::vector<uint8_t>{'V', 'E', 'R', 'S', 'I', 'O', 'N', '=', '2', '.', '0', '\n', 0, 0, 0,
                                          0, 0, 0, 0, 0}));
  std::string oldVersion(reinterpret_cast<const char*>(block0.data()),
                         strnlen(reinterpret_cast<const char*>(block0.data()), 20));
  if (oldVersion.rfind("VERSION=", 0) == 0) oldVersion = oldVersion.substr(8, 3);
  EXPECT_EQ(oldVersion, "2.0");

  RecorderState otherState;
  LogMemory other;
  ASSERT_EQ(CreateLogMemory(other), Result::kOk);
  ASSERT_EQ(LoadLogFile(dir.Path("v2.eld"), otherState, other), Result::kOk);
  EXPECT_EQ(otherState.recordCount.load(), 8u);
  EXPECT_EQ(ReadLogRecords(other, 0, 8), expected);
  EXPECT_EQ(otherState.ecuPartNumber, state.ecuPartNumber);
  EXPECT_EQ(otherState.startUtcMs, state.startUtcMs);
  EXPECT_EQ(otherState.registersAsked, info.registers);
  const std::string again = dir.Path("again.eld");
  ASSERT_EQ(SaveLogFile(again, otherState, other), Result::kOk);
  EXPECT_EQ(ReadFileBytes(again), file);
}

TEST_F(LogFileFixture, Version2CutAnywhereOpensWithTheWholeRecordsBeforeTheCut) {
  const std::vector<SampleRecord> records = {Wide(0, kRpm), GapRecord(), Wide(2, kRpm | kLoad), Wide(3, kLoad),
                                             Wide(4, kRpm | kLoad)};
  LogFileInfo info;
  const std::vector<uint8_t> file = Version2(records, info);
  ASSERT_EQ(info.recordCount, 5u);
  const size_t headerSize = info.headerSize;
  const size_t recordSize = info.recordSize;
  for (size_t size = 0; size < headerSize; ++size) {
    ExpectRefusedUntouched(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
    std::string error;
    LogFileInfo cut;
    EXPECT_EQ(ReadLogFileInfo(dir.Path("bad.eld"), cut, error), Result::kFailed);
    if (size >= 20) {
      EXPECT_NE(error.find("cut inside its header"), std::string::npos) << size << error;
    }
  }
  const std::string path = dir.Path("cut.eld");
  for (size_t size = headerSize + 3 * recordSize; size <= file.size(); ++size) {
    WriteFileBytes(path, std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
    Record(9);
    ASSERT_EQ(LoadLogFile(path, state, memory), Result::kOk) << size;
    const uint32_t whole = static_cast<uint32_t>((size - headerSize) / recordSize);
    EXPECT_EQ(state.recordCount.load(), whole) << size;
    EXPECT_EQ(ReadLogRecords(memory, 0, whole), std::vector<SampleRecord>(records.begin(), records.begin() + whole));
  }
}

TEST_F(LogFileFixture, Version2RecordsEndAtTheFirstThatFailsItsCheck) {
  const std::vector<SampleRecord> records(5, Wide(1, kRpm | kIntake));
  LogFileInfo info;
  const std::vector<uint8_t> file = Version2(records, info);
  const std::string path = dir.Path("checked.eld");
  std::string error;
  const auto countOf = [&](const std::vector<uint8_t>& bytes) {
    WriteFileBytes(path, bytes);
    EXPECT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
    return info.recordCount;
  };

  std::vector<uint8_t> flipped = file;
  flipped[info.headerSize + 2 * info.recordSize + 3] ^= 0x10;  // a value of record 2
  EXPECT_EQ(countOf(flipped), 2u);
  std::vector<uint8_t> zeroTail = file;  // space the file system gave, never written
  zeroTail.resize(file.size() + 3 * info.recordSize + 1);
  EXPECT_EQ(countOf(zeroTail), 5u);
  std::vector<uint8_t> torn = file;  // the last record's end never written
  std::fill(torn.end() - 3, torn.end(), uint8_t{0});
  EXPECT_EQ(countOf(torn), 4u);

  std::vector<uint8_t> header = file;
  header[info.headerSize - 17] ^= 0x01;  // the last digit of the REGISTERS line
  WriteFileBytes(path, header);
  EXPECT_EQ(ReadLogFileInfo(path, info, error), Result::kFailed);
  EXPECT_NE(error.find("fails its check"), std::string::npos) << error;
}

TEST_F(LogFileFixture, Version2HoldsAtMostARecording) {
  std::string bytes;
  LogHeaderV2 header;
  std::string error;
  ASSERT_TRUE(MakeLogHeaderV2("", 0, 0, header, bytes, error));
  std::vector<uint8_t> file(bytes.begin(), bytes.end());
  const std::vector<SampleRecord> gaps(900002, GapRecord());
  ASSERT_TRUE(EncodeRecordsV2(header, 0, gaps, file, error));
  ExpectRefusedUntouched(file);

  file.resize(file.size() - static_cast<size_t>(header.RecordSize()));
  const std::string path = dir.Path("largest.eld");
  WriteFileBytes(path, file);
  ASSERT_EQ(LoadLogFile(path, state, memory, error), Result::kOk) << error;
  EXPECT_EQ(state.recordCount.load(), 900001u);
  EXPECT_TRUE(IsGap(ReadLogRecords(memory, 900000, 1).at(0)));
}

TEST(LogFileAppender, AppendsAFileThatOpensAfterEveryAppend) {
  TempDir dir;
  const std::string path = dir.Path("live.eld");
  std::string error;
  std::vector<SampleRecord> records;
  LogFileAppender appender;
  ASSERT_EQ(appender.Open(path, "23710", 1700000000000, kRpm | kLoad, error), Result::kOk) << error;
  ASSERT_EQ(ReadLogFileRecords(path, records, error), Result::kOk) << error;
  EXPECT_TRUE(records.empty());

  const std::vector<SampleRecord> first = {Wide(0, kRpm), GapRecord()};
  ASSERT_EQ(appender.Append(first, error), Result::kOk) << error;
  ASSERT_EQ(ReadLogFileRecords(path, records, error), Result::kOk) << error;
  EXPECT_EQ(records, first);
  const SampleRecord load = Wide(2, kRpm | kLoad);
  ASSERT_EQ(appender.Append({&load, 1}, error), Result::kOk) << error;
  ASSERT_EQ(appender.Sync(error), Result::kOk) << error;

  // A record of a register not listed refuses the whole append.
  const std::vector<SampleRecord> wider = {Wide(3, kRpm), Wide(4, kRpm | kIntake)};
  EXPECT_EQ(appender.Append(wider, error), Result::kFailed);
  EXPECT_NE(error.find("record 4 holds register 11"), std::string::npos) << error;
  EXPECT_EQ(appender.Count(), 3u);
  ASSERT_EQ(appender.Close(error), Result::kOk) << error;
  LogFileInfo info;
  ASSERT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
  EXPECT_EQ(info.recordCount, 3u);
  EXPECT_EQ(info.partNumber, "23710");
  EXPECT_EQ(info.registers, kRpm | kLoad);

  // Never over a file that is there, nor where no file can be.
  const std::vector<uint8_t> before = ReadFileBytes(path);
  LogFileAppender second;
  EXPECT_EQ(second.Open(path, "", 0, kRpm, error), Result::kFailed);
  EXPECT_NE(error.find("exists"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(second.Open(dir.Path("no/such/live.eld"), "", 0, kRpm, error), Result::kFailed);
  EXPECT_EQ(second.Append(first, error), Result::kFailed);
}

// A disk that fills mid-append: the part record written is taken back, so
// the records appended after it are not lost behind it.
TEST(LogFileAppender, FailedAppendLeavesNoPartRecord) {
  TempDir dir;
  const std::string path = dir.Path("full.eld");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    LogFileAppender appender;
    if (appender.Open(path, "", 0, kRpm, error) != Result::kOk) _exit(2);
    signal(SIGXFSZ, SIG_IGN);
    // Two records of 5 bytes and a part of a third.
    const auto size = static_cast<rlim_t>(std::filesystem::file_size(path) + 5 * 2 + 2);
    rlimit limit{size, size};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::vector<SampleRecord> three(3, Wide(1, kRpm));
    const bool refused = appender.Append(three, error) == Result::kFailed;
    const std::vector<SampleRecord> two(2, Wide(2, kRpm));
    _exit(refused && appender.Append(two, error) == Result::kOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::vector<SampleRecord> records;
  std::string error;
  ASSERT_EQ(ReadLogFileRecords(path, records, error), Result::kOk) << error;
  EXPECT_EQ(records, std::vector<SampleRecord>(2, Wide(2, kRpm)));
}

TEST(LogFileAppender, InUseWhileAnAppenderOfAnyLiveProcessHoldsIt) {
  TempDir dir;
  const std::string path = dir.Path("live.eld");
  std::string error;
  EXPECT_FALSE(LogFileInUse(path));  // no such file
  {
    LogFileAppender appender;
    ASSERT_EQ(appender.Open(path, "", 0, kRpm, error), Result::kOk) << error;
    EXPECT_TRUE(LogFileInUse(path));
    EXPECT_TRUE(LogFileInUse(path));  // asking takes no lock that stays
    ASSERT_EQ(appender.Close(error), Result::kOk) << error;
    EXPECT_FALSE(LogFileInUse(path));
  }

  // Another process's appender, then that process killed before any Close.
  const std::string other = dir.Path("other.eld");
  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LogFileAppender appender;
    const char ok = appender.Open(other, "", 0, kRpm, error) == Result::kOk ? 'y' : 'n';
    char go = 0;
    if (write(up[1], &ok, 1) != 1 || read(down[0], &go, 1) != 1) _exit(2);
    _exit(0);
  }
  close(up[1]);
  close(down[0]);
  char ok = 0;
  ASSERT_EQ(read(up[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_TRUE(LogFileInUse(other));
  ASSERT_EQ(write(down[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(up[0]);
  close(down[1]);
  EXPECT_FALSE(LogFileInUse(other));
}

TEST(LogFileAppender, ReplaceTakesTheOldFilesPlaceOnlyWhenWhole) {
  TempDir dir;
  const std::string path = dir.Path("out.eld");
  std::string error;
  WriteFileBytes(path, {1, 2, 3});
  LogFileAppender appender;
  EXPECT_EQ(appender.Open(path, "", 0, kRpm, error), Result::kFailed);  // kRefuse by default
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{1, 2, 3}));

  ASSERT_EQ(appender.Open(path, "23710", 5, kLoad, error, ExistingFile::kReplace), Result::kOk) << error;
  EXPECT_EQ(FolderEntries(dir.Root()), std::vector<std::string>{"out.eld"});  // nothing left beside it
  const SampleRecord load = Wide(1, kLoad);
  ASSERT_EQ(appender.Append({&load, 1}, error), Result::kOk) << error;
  EXPECT_TRUE(LogFileInUse(path));
  ASSERT_EQ(appender.Close(error), Result::kOk) << error;
  std::vector<SampleRecord> records;
  ASSERT_EQ(ReadLogFileRecords(path, records, error), Result::kOk) << error;
  EXPECT_EQ(records, std::vector<SampleRecord>{load});

  // A name that is not there yet is simply created; a folder is not replaced.
  ASSERT_EQ(appender.Open(dir.Path("new.eld"), "", 0, kRpm, error, ExistingFile::kReplace), Result::kOk);
  ASSERT_EQ(appender.Close(error), Result::kOk) << error;
  std::filesystem::create_directory(dir.Path("folder.eld"));
  EXPECT_EQ(appender.Open(dir.Path("folder.eld"), "", 0, kRpm, error, ExistingFile::kReplace), Result::kFailed);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("folder.eld")));
  EXPECT_EQ(FolderEntries(dir.Root()), (std::vector<std::string>{"folder.eld", "new.eld", "out.eld"}));
}

// What a power cut leaves: the file at any length from what the last Sync
// made durable to all that was appended. Every such file opens with every
// synced record, and with nothing but whole records as appended.
TEST(LogFileAppender, FileCutAnywherePastTheLastSyncHoldsEverySyncedRecord) {
  TempDir dir;
  const std::string path = dir.Path("live.eld");
  const RegisterMask listed = kEighteenMask | kIntake | kLoad;
  std::mt19937 random(20240611);
  std::string error;
  LogFileAppender appender;
  ASSERT_EQ(appender.Open(path, "23710", 1700000000000, listed, error), Result::kOk) << error;
  std::vector<SampleRecord> appended;
  uint64_t syncedSize = 0;
  size_t syncedCount = 0;
  for (int round = 0; round < 12; ++round) {
    std::vector<SampleRecord> block;
    for (uint32_t n = random() % 40 + 1; n > 0; --n) {
      const uint32_t pick = random() % 8;
      const RegisterMask mask = pick == 0   ? 0
                                : pick == 1 ? kEighteenMask
                                            : (uint64_t{random()} << 32 | random()) & listed;
      block.push_back(mask == 0 ? GapRecord() : Wide(static_cast<uint32_t>(appended.size() + block.size()), mask));
    }
    ASSERT_EQ(appender.Append(block, error), Result::kOk) << error;
    appended.insert(appended.end(), block.begin(), block.end());
    if (round == 7 || (round < 7 && random() % 2 == 0)) {
      ASSERT_EQ(appender.Sync(error), Result::kOk) << error;
      syncedSize = appender.Size();
      syncedCount = appended.size();
    }
  }
  const std::vector<uint8_t> file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), appender.Size());
  LogFileInfo info;
  ASSERT_EQ(ReadLogFileInfo(path, info, error), Result::kOk) << error;
  ASSERT_EQ(info.recordCount, appended.size());
  ASSERT_LT(syncedSize, file.size());

  const std::string cutPath = dir.Path("cut.eld");
  for (int cut = 0; cut < 50; ++cut) {
    const size_t size = syncedSize + random() % (file.size() - syncedSize + 1);
    WriteFileBytes(cutPath, std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
    std::vector<SampleRecord> records;
    ASSERT_EQ(ReadLogFileRecords(cutPath, records, error), Result::kOk) << size << ": " << error;
    const size_t whole = (size - info.headerSize) / info.recordSize;
    ASSERT_GE(whole, syncedCount);
    EXPECT_EQ(records, std::vector<SampleRecord>(appended.begin(), appended.begin() + static_cast<ptrdiff_t>(whole)))
        << size;
  }
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
