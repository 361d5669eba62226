// A recording survives the program: killed, it is recovered at the next
// start; terminated, it is saved on the way out; saved, it is left alone.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "UiTestSupport.h"
#include "data/LogFile.h"
#include "data/Memmap.h"
#include "tools/ecusim/EcuSimulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class RecoveryTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    setenv("XDG_DATA_HOME", (directory / "data").c_str(), 1);
    simulator = std::make_unique<EcuSimulator>(EcuSimulatorOptions{});
    ASSERT_TRUE(simulator->Start());
  }
  void TearDown() override {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    WindowTest::TearDown();
    simulator.reset();
  }

  // Starts the recorder; true once it has recorded and reported its records.
  bool StartRecorder(const std::string& saveAs = "") {
    std::vector<std::string> args{TORVANE_TEST_RECORDER,
                                  "--settings", (directory / "child.ini").string(),
                                  "--port",     simulator->SlavePath(),
                                  "--shm-base", shmBase,
                                  "--records",  "150",
                                  "--snapshot", (directory / "snapshot").string()};
    if (!saveAs.empty()) args.insert(args.end(), {"--save", saveAs});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (directory / "child.out").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    return WaitFor([&] { return ReadFileBytes(out).find("ready") != std::string::npos; },
                   std::chrono::seconds(60));
  }

  int Stop(int signalNumber) {
    kill(child, signalNumber);
    int status = 0;
    waitpid(child, &status, 0);
    child = -1;
    return status;
  }

  std::vector<fs::path> Recovered() const {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory / "data/torvane/recovered", ignored))
      files.push_back(entry.path());
    return files;
  }

  // The file holds the snapshot's records first, each value as recorded
  // (a file of either version: only what the ECU sent counts).
  ::testing::AssertionResult HoldsTheSnapshot(const fs::path& file) {
    const std::string snapshot = ReadFileBytes(directory / "snapshot");
    if (snapshot.size() != 150u * kSampleRecordSize)
      return ::testing::AssertionFailure() << "snapshot of " << snapshot.size() << " bytes";
    std::vector<SampleRecord> records;
    std::string error;
    if (ReadLogFileRecords(file.string(), records, error) != Result::kOk || records.size() < 150)
      return ::testing::AssertionFailure() << file << " is no log file of enough records: " << error;
    for (size_t i = 0; i < 150; ++i) {
      SampleRecord recorded;
      std::memcpy(recorded.bytes.data(), snapshot.data() + i * kSampleRecordSize, kSampleRecordSize);
      const RegisterMask present = PresentRegisters(recorded);
      bool same = records[i][0] == recorded[0] && PresentRegisters(records[i]) == present;
      for (int k = 0; same && k < kCatalogueSize; ++k)
        same = (present >> k & 1) == 0 || records[i][RecordByteOfEntry(k)] == recorded[RecordByteOfEntry(k)];
      if (!same) return ::testing::AssertionFailure() << "record " << i << " differs from the one recorded";
    }
    return ::testing::AssertionSuccess();
  }

  // Records in a file; 0 when it is no log file.
  static uint32_t RecordsIn(const fs::path& file) {
    LogFileInfo info;
    std::string error;
    return ReadLogFileInfo(file.string(), info, error) == Result::kOk ? info.recordCount : 0;
  }
  // What the killed recorder's log memory says it held.
  uint32_t RecordsLeftInMemory() {
    LogMemory memory(shmBase);
    uint32_t held = 0;
    memory.VisitLeftovers(kLogMemorySlot, [&](uint8_t* view, uint32_t size) {
      uint32_t count = 0;
      bool unsaved = false;
      if (ReadRecoveryMarker(view, size, count, unsaved)) held = count;
    });
    return held;
  }
  // Kills the recorder once its recording is on disk past the snapshot;
  // then the file a dead writer left holds all but the last second.
  void KillWhileWritingThrough() {
    ASSERT_TRUE(WaitFor([&] {
      const std::vector<fs::path> files = Recovered();
      return files.size() == 1 && RecordsIn(files[0]) >= 150;
    }));
    ASSERT_TRUE(WIFSIGNALED(Stop(SIGKILL)));
    const std::vector<fs::path> files = Recovered();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("unsaved_", 0), 0u);
    const uint32_t recorded = RecordsLeftInMemory();
    EXPECT_GE(RecordsIn(files[0]) + 100, recorded);
    EXPECT_TRUE(HoldsTheSnapshot(files[0]));
  }

  std::unique_ptr<EcuSimulator> simulator;
  pid_t child = -1;
};

TEST_F(RecoveryTest, AKilledRecordingIsRecoveredAtTheNextStartOnce) {
  ASSERT_TRUE(StartRecorder());
  ASSERT_NO_FATAL_FAILURE(KillWhileWritingThrough());

  // The log memory has the last second too: one file, all of it.
  CreateWindows();
  const std::vector<fs::path> files = Recovered();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename().string().rfind("log_", 0), 0u);
  EXPECT_EQ(files[0].extension(), ".eld");
  EXPECT_TRUE(HoldsTheSnapshot(files[0]));
  EXPECT_EQ(StatusLines(), std::vector<std::string>{"Recovered unsaved recording: " +
                                                    files[0].string()});
  CreateWindows();  // the next start again: nothing left to recover
  EXPECT_EQ(Recovered().size(), 1u);
  EXPECT_TRUE(StatusLines().empty());
}

// A power cut takes the log memory with the program: what was written
// through is offered back.
TEST_F(RecoveryTest, APowerCutLosesAtMostTheLastSecond) {
  ASSERT_TRUE(StartRecorder());
  ASSERT_NO_FATAL_FAILURE(KillWhileWritingThrough());
  ASSERT_EQ(shm_unlink(("/" + shmBase + "1").c_str()), 0);
  CreateWindows();
  const std::vector<fs::path> files = Recovered();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename().string().rfind("log_", 0), 0u);
  EXPECT_TRUE(HoldsTheSnapshot(files[0]));
  EXPECT_EQ(StatusLines(), std::vector<std::string>{"Recovered unsaved recording: " + files[0].string()});
}

TEST_F(RecoveryTest, ATerminatedRecordingIsSavedOnTheWayOut) {
  ASSERT_TRUE(StartRecorder());
  const int status = Stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<fs::path> files = Recovered();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(HoldsTheSnapshot(files[0]));
  EXPECT_TRUE(fs::exists(directory / "child.ini"));  // the settings were written
  CreateWindows();
  EXPECT_EQ(Recovered().size(), 1u);
}

TEST_F(RecoveryTest, ASavedRecordingIsNotRecovered) {
  const std::string saved = (directory / "saved.eld").string();
  ASSERT_TRUE(StartRecorder(saved));
  Stop(SIGKILL);
  EXPECT_TRUE(HoldsTheSnapshot(saved));
  CreateWindows();
  EXPECT_TRUE(Recovered().empty());
  EXPECT_TRUE(StatusLines().empty());
}

}  // namespace
