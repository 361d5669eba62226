#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "TestSupport.h"
#include "data/Memmap.h"
#include "data/Recorder.h"

// Several test processes run at once (ctest -j) and all of them use the
// shared name of slot 1; every test here holds whatever name it was given
// and never assumes it got "/.MMF1". Tests that need a name to themselves
// use slots from 200 up, which nothing else uses.

namespace {

// A child process that creates a section, writes a marker and reports its
// name through a pipe. With crash set it ends without its destructor, as a
// crashed program would; otherwise it waits for the parent's word first.
struct ChildSection {
  pid_t pid = -1;
  std::string name;
  int toChild = -1;
  bool crashes = false;

  static constexpr uint32_t kMarkerOffset = 1000;
  static constexpr uint32_t kMarker = 0xC0FFEE42;

  void Start(uint8_t slot, bool crash) {
    crashes = crash;
    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(up[0]);
      close(down[1]);
      auto* memory = new LogMemory;
      int ok = memory->CreateSection(slot, kLogMemorySize) == Result::kOk &&
               memory->WriteBytes(&kMarker, slot, kMarkerOffset, sizeof kMarker) == Result::kOk;
      std::string reply = ok ? memory->SectionName(slot) : std::string("!");
      reply += '\n';
      if (write(up[1], reply.data(), reply.size()) < 0) _exit(2);
      if (crash) _exit(0);  // the section stays behind
      char go;
      if (read(down[0], &go, 1) < 0) _exit(2);
      delete memory;
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    toChild = down[1];
    char c;
    while (read(up[0], &c, 1) == 1 && c != '\n') name += c;
    close(up[0]);
    ASSERT_NE(name, "!");
    ASSERT_FALSE(name.empty());
    if (crash) Finish();
  }

  void Finish() {
    if (pid <= 0) return;
    if (!crashes && write(toChild, "g", 1) != 1) ADD_FAILURE() << "child gone early";
    close(toChild);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ~ChildSection() { Finish(); }
};

// The marker as another process sees it through the name.
uint32_t MarkerThroughName(const std::string& name) {
  const int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return 0;
  void* view = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (view == MAP_FAILED) return 0;
  uint32_t value;
  std::memcpy(&value, static_cast<uint8_t*>(view) + ChildSection::kMarkerOffset, sizeof value);
  munmap(view, 4096);
  return value;
}

uint64_t AllocatedBytes(const std::string& name) {
  struct stat info {};
  if (stat(("/dev/shm" + name).c_str(), &info) != 0) return ~uint64_t{0};
  return static_cast<uint64_t>(info.st_blocks) * 512;
}

}  // namespace

TEST(LogMemory, FreshSectionIsZeroAndCostsNoPages) {
  LogMemory memory;
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  const std::string name = memory.SectionName(kLogMemorySlot);
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(memory.Size(), kLogMemorySize);
  EXPECT_LT(AllocatedBytes(name), 1u << 20);

  std::vector<uint8_t> bytes(64, 0xAA);
  ASSERT_EQ(memory.ReadBytes(bytes.data(), kLogMemorySlot, 0, 64), Result::kOk);
  EXPECT_EQ(bytes, std::vector<uint8_t>(64, 0));
  ASSERT_EQ(memory.ReadBytes(bytes.data(), kLogMemorySlot, kLogMemorySize - 64, 64), Result::kOk);
  EXPECT_EQ(bytes, std::vector<uint8_t>(64, 0));
}

TEST(LogMemory, TransfersStayInsideTheSection) {
  LogMemory memory;
  uint8_t byte = 7;
  EXPECT_EQ(memory.WriteBytes(&byte, kLogMemorySlot, 0, 1), Result::kFailed) << "no section yet";
  EXPECT_EQ(memory.ReadBytes(&byte, kLogMemorySlot, 0, 1), Result::kFailed);
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  EXPECT_EQ(memory.WriteBytes(&byte, kLogMemorySlot, kLogMemorySize - 1, 1), Result::kOk);
  EXPECT_EQ(memory.WriteBytes(&byte, kLogMemorySlot, kLogMemorySize, 1), Result::kFailed);
  EXPECT_EQ(memory.ReadBytes(&byte, kLogMemorySlot, 0xFFFFFFFF, 2), Result::kFailed);
  EXPECT_EQ(memory.WriteBytes(&byte, 2, 0, 1), Result::kFailed) << "slot 2 has no section";
}

TEST(LogMemory, RecreatingEmptiesTheSection) {
  LogMemory memory;
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  ASSERT_EQ(StoreRecord(memory, PatternRecord(1), 10), Result::kOk);
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
  SampleRecord record = PatternRecord(2);
  ASSERT_EQ(FetchRecord(memory, record, 10), Result::kOk);
  EXPECT_EQ(record, SampleRecord{});
}

TEST(LogMemory, StoreAndFetchBounds) {
  LogMemory memory;
  SampleRecord record = PatternRecord(5);
  EXPECT_EQ(StoreRecord(memory, record, 0), Result::kFailed) << "no section";
  EXPECT_EQ(FetchRecord(memory, record, 0), Result::kFailed);
  ASSERT_EQ(CreateLogMemory(memory), Result::kOk);

  // The last record a recording holds ends 40 bytes before the marker.
  constexpr uint32_t kLast = kMaxRecordIndex;
  constexpr uint32_t kLastOffset = kLogHeaderSize + kLast * kSampleRecordSize;
  static_assert(kLastOffset + kSampleRecordSize <= kRecoveryMarkerOffset);
  ASSERT_EQ(StoreRecord(memory, record, kLast), Result::kOk);
  constexpr uint32_t kSeen = kRecoveryMarkerOffset + 20 - kLastOffset;
  uint8_t bytes[kSeen] = {};
  ASSERT_EQ(memory.ReadBytes(bytes, kLogMemorySlot, kLastOffset, kSeen), Result::kOk);
  EXPECT_EQ(0, std::memcmp(bytes, record.bytes.data(), kSampleRecordSize));
  EXPECT_EQ(StoreRecord(memory, record, kLast + 1), Result::kFailed);
  ASSERT_EQ(memory.ReadBytes(bytes, kLogMemorySlot, kLastOffset, kSeen), Result::kOk);
  for (uint32_t k = kSampleRecordSize; k < kSeen; ++k) EXPECT_EQ(bytes[k], 0) << "nothing past the last record";

  SampleRecord fetched;
  EXPECT_EQ(FetchRecord(memory, fetched, kLast), Result::kOk);
  EXPECT_EQ(fetched, record);
  SampleRecord untouched = PatternRecord(9);
  EXPECT_EQ(FetchRecord(memory, untouched, kLast + 1), Result::kFailed);
  EXPECT_EQ(untouched, PatternRecord(9));
  // Indices that would wrap a 32-bit offset (a negative current index).
  for (uint32_t index : {0xFFFFFFFFu, 0xFFFFFFEAu, 0xFFFFFFF0u}) {
    EXPECT_EQ(StoreRecord(memory, record, index), Result::kFailed) << index;
    EXPECT_EQ(FetchRecord(memory, untouched, index), Result::kFailed) << index;
  }
  EXPECT_EQ(untouched, PatternRecord(9));
}

TEST(LogMemory, SecondInstanceInOneProcessGetsItsOwnSection) {
  LogMemory first, second;
  ASSERT_EQ(CreateLogMemory(first), Result::kOk);
  ASSERT_EQ(StoreRecord(first, PatternRecord(1), 0), Result::kOk);
  ASSERT_EQ(CreateLogMemory(second), Result::kOk);
  EXPECT_NE(first.SectionName(kLogMemorySlot), second.SectionName(kLogMemorySlot));
  SampleRecord record;
  ASSERT_EQ(FetchRecord(first, record, 0), Result::kOk);
  EXPECT_EQ(record, PatternRecord(1));
}

TEST(LogMemory, SecondRunningProgramDoesNotWipeTheFirst) {
  ChildSection first;
  first.Start(kLogMemorySlot, /*crash=*/false);
  ASSERT_EQ(MarkerThroughName(first.name), ChildSection::kMarker);

  {
    LogMemory second;
    ASSERT_EQ(CreateLogMemory(second), Result::kOk);
    EXPECT_NE(second.SectionName(kLogMemorySlot), first.name);
    EXPECT_EQ(MarkerThroughName(first.name), ChildSection::kMarker);
    uint32_t mine = 1;
    ASSERT_EQ(second.ReadBytes(&mine, kLogMemorySlot, ChildSection::kMarkerOffset, 4), Result::kOk);
    EXPECT_EQ(mine, 0u);
  }
  EXPECT_EQ(MarkerThroughName(first.name), ChildSection::kMarker);
  first.Finish();
  EXPECT_FALSE(ShmExists(first.name)) << "the first program removed its section at its end";
}

TEST(LogMemory, NothingStaysInDevShmAfterTheEnd) {
  std::string name;
  {
    LogMemory memory;
    ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
    ASSERT_EQ(StoreRecord(memory, PatternRecord(3), 100), Result::kOk);
    name = memory.SectionName(kLogMemorySlot);
    EXPECT_TRUE(ShmExists(name));
  }
  EXPECT_FALSE(ShmExists(name));
}

TEST(LogMemory, CrashedRunIsReclaimedAtTheNextStart) {
  constexpr uint8_t kSlot = 201;
  ChildSection crashed;
  crashed.Start(kSlot, /*crash=*/true);
  ASSERT_TRUE(ShmExists(crashed.name)) << "a crash leaves the section behind";

  std::string mine;
  {
    LogMemory memory;
    ASSERT_EQ(memory.CreateSection(kSlot, kLogMemorySize), Result::kOk);
    mine = memory.SectionName(kSlot);
    uint32_t value = 1;
    ASSERT_EQ(memory.ReadBytes(&value, kSlot, ChildSection::kMarkerOffset, 4), Result::kOk);
    EXPECT_EQ(value, 0u) << "the old recording is gone";
    if (mine != crashed.name) {
      EXPECT_FALSE(ShmExists(crashed.name));
    }
  }
  EXPECT_FALSE(ShmExists(mine));
  EXPECT_FALSE(ShmExists(crashed.name));
}

TEST(LogMemory, CrashedPerProcessSectionIsReclaimed) {
  constexpr uint8_t kSlot = 202;
  LogMemory holder;  // keeps the shared name busy, so the child takes its own
  ASSERT_EQ(holder.CreateSection(kSlot, 4096), Result::kOk);
  ChildSection crashed;
  crashed.Start(kSlot, /*crash=*/true);
  ASSERT_NE(crashed.name, holder.SectionName(kSlot));
  ASSERT_TRUE(ShmExists(crashed.name));

  LogMemory next;
  ASSERT_EQ(next.CreateSection(kSlot, 4096), Result::kOk);
  EXPECT_FALSE(ShmExists(crashed.name));
  EXPECT_TRUE(ShmExists(holder.SectionName(kSlot))) << "a live section is left alone";
}
