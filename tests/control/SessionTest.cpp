// The session against the simulated ECU: which commands it offers after
// each outcome, as the program's table of enabled states says, and what
// its commands leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/ProgramObjects.h"
#include "data/LogFile.h"
#include "data/LogRecords.h"
#include "link/ActiveTests.h"
#include "tests/common/TempDir.h"
#include "tests/common/WaitFor.h"
#include "tools/ecusim/EcuSimulator.h"

namespace {

// Answers the unsaved question from a script (Yes when it runs out) and
// notes what the steps show.
class ScriptedView : public RecorderView {
 public:
  std::deque<bool> answers;
  std::atomic<int> stopsAsked{0};
  bool TimeUnitChecked(TimeUnit unit) override { return unit == TimeUnit::Msec; }
  void SetStatusText(const std::string&) override {}
  void SetPlayPosition(int32_t) override {}
  void ClickStopButton() override { ++stopsAsked; }
  void ShowMessage(const std::string&, const std::string&) override {}
  // The line watch reports from its own thread.
  void AddStatusLine(const std::string& line) override {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(line);
  }
  void LinkChanged() override { ++linkChanges; }
  bool Said(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    return std::count(lines_.begin(), lines_.end(), line) > 0;
  }
  std::atomic<int> linkChanges{0};
  bool AskYesNo(const std::string&, const std::string&) override {
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

enum class Outcome {
  kOpenOk, kOpenFailed, kInitOk, kInitFailed, kNumberOk, kNumberFailed,
  kStartLive, kStartPlayback, kStartDeclined, kStop, kClose, kLoadOk,
};

// The table of enabled states: after each outcome, each command is
// enabled, disabled, left as it was, or enabled when the port is open.
enum Column : int8_t { kOff = 0, kOn = 1, kSame = 2, kIfOpen = 3 };
struct Row {
  Outcome outcome;
  std::array<Column, 6> after;  // ECU Open, ECU Close, ECU Initialize, ECU No. Check, Start, Stop
};
constexpr Row kTable[] = {
    {Outcome::kOpenOk, {kOff, kOn, kOn, kSame, kSame, kSame}},
    {Outcome::kOpenFailed, {kSame, kSame, kSame, kSame, kSame, kSame}},
    {Outcome::kInitOk, {kSame, kSame, kSame, kOn, kOn, kSame}},
    {Outcome::kInitFailed, {kSame, kSame, kSame, kSame, kOff, kSame}},
    {Outcome::kNumberOk, {kSame, kSame, kSame, kOff, kSame, kSame}},
    {Outcome::kNumberFailed, {kSame, kSame, kSame, kSame, kSame, kSame}},
    // Initialize and No. Check would break the stream.
    {Outcome::kStartLive, {kSame, kSame, kOff, kOff, kOff, kOn}},
    {Outcome::kStartPlayback, {kSame, kSame, kSame, kSame, kOff, kOn}},
    {Outcome::kStartDeclined, {kSame, kSame, kSame, kSame, kOn, kOff}},
    {Outcome::kStop, {kSame, kSame, kIfOpen, kSame, kOn, kOff}},
    {Outcome::kClose, {kOn, kOff, kOff, kOff, kOff, kOff}},
    // A loaded log file offers Start, so that it can be played back.
    {Outcome::kLoadOk, {kSame, kSame, kSame, kSame, kOn, kSame}},
};

std::array<bool, 6> Commands(const EnabledCommands& e) {
  return {e.ecuOpen, e.ecuClose, e.ecuInit, e.ecuNoCheck, e.start, e.stop};
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test->name();
    std::replace(name.begin(), name.end(), '/', '-');  // a parameterised test's: no slash in a section's name
    program = std::make_unique<ProgramObjects>(kRecordPeriod, ".MMF-session-" + name + "-");
    simulator = std::make_unique<EcuSimulator>(ecu);
    ASSERT_TRUE(simulator->Start()) << simulator->Error();
    program->serialPort.SetDevicePath(1, simulator->SlavePath());
    program->serialPort.SetDevicePath(2, folder.Path("no-such-device"));
    view = std::make_shared<ScriptedView>();
    (void)program->session.Begin(view, folder.Path("recovered"));
    // A log file of a thousand records, ten seconds to play back.
    for (uint32_t i = 0; i < 1000; ++i) {
      SampleRecord record;
      record[7] = static_cast<uint8_t>(i % 200);
      ASSERT_EQ(StoreRecord(program->logMemory, record, i), Result::kOk);
    }
    program->recorderState.recordCount = 1000;
    ASSERT_EQ(SaveLogFile(logFile, program->recorderState, program->logMemory), Result::kOk);
    program->recorderState.recordCount = 0;
  }
  void TearDown() override {
    program->session.Shutdown();
    program->session.MarkRecording(false);
    program.reset();
  }

  Session& S() { return program->session; }

  // Brings the outcome about and checks that it came.
  void Cause(Outcome outcome) {
    std::string number;
    switch (outcome) {
      case Outcome::kOpenOk: ASSERT_TRUE(S().OpenPort(1).done); break;
      case Outcome::kOpenFailed: ASSERT_FALSE(S().OpenPort(2).done); break;
      case Outcome::kInitOk: ASSERT_TRUE(S().Initialize().done); break;
      case Outcome::kInitFailed:
        simulator->Stop();  // the ECU falls silent
        ASSERT_FALSE(S().Initialize().done);
        break;
      case Outcome::kNumberOk: ASSERT_TRUE(S().ReadEcuNumber(number).done); break;
      case Outcome::kNumberFailed: ASSERT_FALSE(S().ReadEcuNumber(number).done); break;
      case Outcome::kStartLive:
      case Outcome::kStartPlayback:
        ASSERT_EQ(S().LiveMode(), outcome == Outcome::kStartLive);
        ASSERT_TRUE(S().Start().done);
        break;
      case Outcome::kStartDeclined:
        ASSERT_NE(program->recorderState.unsaved.load(), 0);
        view->answers = {false};
        ASSERT_FALSE(S().Start().done);
        break;
      case Outcome::kStop: ASSERT_TRUE(S().Stop().done); break;
      case Outcome::kClose: ASSERT_TRUE(S().ClosePort(1).done); break;
      case Outcome::kLoadOk: ASSERT_TRUE(S().Load(logFile).done); break;
    }
  }

  // Runs the outcomes in turn; after each, every command must stand as the
  // table says, given how it stood before.
  void Follow(const std::vector<Outcome>& outcomes) {
    for (size_t step = 0; step < outcomes.size(); ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const std::array<bool, 6> before = Commands(S().Enabled());
      ASSERT_NO_FATAL_FAILURE(Cause(outcomes[step]));
      const Row* row = nullptr;
      for (const Row& r : kTable)
        if (r.outcome == outcomes[step]) row = &r;
      ASSERT_NE(row, nullptr);
      std::array<bool, 6> expected = before;
      for (size_t c = 0; c < 6; ++c)
        if (row->after[c] == kIfOpen) expected[c] = S().State().portOpen;
        else if (row->after[c] != kSame) expected[c] = row->after[c] == kOn;
      EXPECT_EQ(Commands(S().Enabled()), expected);
    }
  }

  TempDir folder;
  const std::string logFile = folder.Path("drive.eld");
  EcuSimulatorOptions ecu;  // a fixture's constructor may change it
  std::unique_ptr<EcuSimulator> simulator;
  std::unique_ptr<ProgramObjects> program;
  std::shared_ptr<ScriptedView> view;
};

TEST_F(SessionTest, EnabledStatesFollowTheTable) {
  EXPECT_EQ(Commands(S().Enabled()), (std::array<bool, 6>{true, false, false, false, false, false}));
  using O = Outcome;
  Follow({O::kOpenFailed, O::kOpenOk, O::kInitOk, O::kNumberOk, O::kStartLive, O::kStop,
          O::kStartDeclined, O::kInitOk, O::kStartLive, O::kStop, O::kClose});
  // A loaded recording plays back, and a port opened after it reads the
  // ECU at Start without an initialisation.
  Follow({O::kLoadOk, O::kStartPlayback, O::kStop, O::kOpenOk, O::kStartLive, O::kStop,
          O::kLoadOk, O::kStartPlayback, O::kClose});
  // An initialisation that fails leaves the number to read as it was.
  Follow({O::kOpenOk, O::kInitOk, O::kInitFailed, O::kNumberFailed, O::kClose});
}

TEST_F(SessionTest, LampsBarAndDisplayFollowTheState) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  EXPECT_TRUE(S().Enabled().cableLamp);
  EXPECT_TRUE(S().Enabled().ecuLamp);
  ASSERT_TRUE(S().Start().done);
  EXPECT_TRUE(S().Enabled().display);
  EXPECT_FALSE(S().Enabled().positionBar);
  ASSERT_TRUE(S().Stop().done);
  EXPECT_TRUE(S().Enabled().display);  // a stopped live reading stays on show
  ASSERT_TRUE(S().ClosePort(1).done);
  EXPECT_FALSE(S().Enabled().cableLamp);
  EXPECT_FALSE(S().Enabled().ecuLamp);  // a closed port reaches no ECU

  ASSERT_TRUE(S().Load(logFile).done);
  ASSERT_TRUE(S().Start().done);
  EXPECT_TRUE(S().Enabled().positionBar);
  ASSERT_TRUE(S().Stop().done);
  EXPECT_FALSE(S().Enabled().display);  // a stopped playback freezes the values
  EXPECT_TRUE(S().Enabled().positionBar);
}

// Once Stop returns, no step runs: the record count is final, so a save
// right after holds the whole recording.
TEST_F(SessionTest, StopEndsTheRecordingBeforeItReturns) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  ASSERT_TRUE(S().Start(true).done);
  RecorderState& state = program->recorderState;
  ASSERT_TRUE(WaitFor([&] { return state.recordCount.load() >= 20; }));
  const CommandOutcome stopped = S().Stop();
  EXPECT_EQ(stopped.lines, std::vector<std::string>{"ECU Communication Stop"});
  const uint32_t count = state.recordCount.load();
  EXPECT_EQ(state.currentIndex.load(), static_cast<int32_t>(count));
  const CommandOutcome saved = S().Save(folder.Path("run.eld"));
  EXPECT_TRUE(saved.done);
  EXPECT_TRUE(saved.lines.empty());
  EXPECT_EQ(state.unsaved.load(), 0);
  EXPECT_EQ(state.recordCount.load(), count);
  LogFileInfo info;
  std::string error;
  ASSERT_EQ(ReadLogFileInfo(folder.Path("run.eld"), info, error), Result::kOk) << error;
  EXPECT_EQ(info.recordCount, count);
}

// A file loaded while a recording runs stops it first, with the Stop's line.
TEST_F(SessionTest, LoadStopsWhatRunsAndReplacesTheRecording) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  ASSERT_TRUE(S().Start().done);
  const uint64_t generation = S().RecordingGeneration();
  const CommandOutcome loaded = S().Load(logFile);
  EXPECT_EQ(loaded.lines, (std::vector<std::string>{"ECU Communication Stop", "Load Log File OK"}));
  EXPECT_EQ(program->recordingClock.enable.load(), 0);
  EXPECT_EQ(program->recorderState.recordCount.load(), 1000u);
  EXPECT_FALSE(S().LiveMode());
  EXPECT_NE(S().RecordingGeneration(), generation);

  const CommandOutcome refused = S().Load(folder.Path("missing.eld"));
  EXPECT_EQ(refused.lines, (std::vector<std::string>{"Load Log File Error",
                                                     "cannot open " + folder.Path("missing.eld") + " as a file"}));
  EXPECT_EQ(program->recorderState.recordCount.load(), 1000u);
}

// Seeking pauses a playback for one fetch and resumes it; stopped, it
// fetches the record and stays put, and an index outside the recording
// goes to its nearest end.
TEST_F(SessionTest, SeekFetchesTheRecordAndKeepsAPlaybackGoing) {
  ASSERT_TRUE(S().Load(logFile).done);
  RecorderState& state = program->recorderState;
  S().Seek(250);
  EXPECT_EQ(state.currentIndex.load(), 250);
  EXPECT_EQ(state.current.Load()[7], 250 % 200);
  EXPECT_EQ(program->recordingClock.enable.load(), 0);
  S().Seek(5000);
  EXPECT_EQ(state.currentIndex.load(), 999);
  S().Seek(-3);
  EXPECT_EQ(state.currentIndex.load(), 0);

  ASSERT_TRUE(S().Start().done);
  S().Seek(600);
  EXPECT_EQ(state.drag.load(), 0);
  EXPECT_EQ(program->recordingClock.enable.load(), 1);
  EXPECT_TRUE(WaitFor([&] { return state.currentIndex.load() > 600; }));
}

TEST_F(SessionTest, SelfDiagnosisOnlyWithTheEcuFoundAndNoLiveReading) {
  std::vector<FaultCode> codes;
  EXPECT_FALSE(S().Enabled().selfDiagnosis);
  ASSERT_TRUE(S().OpenPort(1).done);
  EXPECT_FALSE(S().Enabled().selfDiagnosis);
  EXPECT_EQ(S().ReadFaultCodes(codes).lines, std::vector<std::string>{"NG. Fault codes NOT got."});
  ASSERT_TRUE(S().Initialize().done);
  EXPECT_TRUE(S().Enabled().selfDiagnosis);
  ASSERT_TRUE(S().Start().done);
  EXPECT_FALSE(S().Enabled().selfDiagnosis);
  EXPECT_FALSE(S().ReadFaultCodes(codes).done);  // nothing is sent into the stream
  ASSERT_TRUE(S().Stop().done);
  const CommandOutcome read = S().ReadFaultCodes(codes);
  EXPECT_TRUE(read.done);
  EXPECT_EQ(read.lines, std::vector<std::string>{"OK. Fault codes got."});
  EXPECT_TRUE(NoMalfunction(codes));
  ASSERT_TRUE(S().ClosePort(1).done);
  EXPECT_FALSE(S().Enabled().selfDiagnosis);  // the ECU lamp stays, the line does not
}

class SessionWithOddEcuTest : public SessionTest, public ::testing::WithParamInterface<bool> {
 protected:
  SessionWithOddEcuTest() {
    ecu.lacks = {0x17, 0x1A};
    ecu.lacksSilent = GetParam();  // after a refusal: streams the rest, or nothing
    ecu.codes = {{0x12, 4}};
    ecu.repeatReplies = true;
  }
};

// The ECU refuses two registers in its echo: one line names them, and the
// rest is asked for again and read; the two are in no record.
TEST_P(SessionWithOddEcuTest, RefusedRegistersAreDroppedAndTheRestIsRead) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  RecorderState& state = program->recorderState;
  const CommandOutcome started = S().Start();
  ASSERT_TRUE(started.done);
  EXPECT_EQ(started.lines,
            (std::vector<std::string>{"REQ CMD Send.",
                                      "ECU lacks registers 17 (AAC valve), 1A (A/F alpha): shown as n/a.",
                                      "ECU Read Start"}));
  const RegisterMask lacking = MaskOf(0x17) | MaskOf(0x1A);
  EXPECT_EQ(S().LackingRegisters(), lacking);
  EXPECT_EQ(S().StreamedRegisters(), kEighteenMask & ~lacking);
  EXPECT_EQ(state.registersAsked, kEighteenMask);  // a file names the lacking too
  ASSERT_TRUE(WaitFor([&] { return state.recordCount.load() >= 5; }));
  (void)S().Stop();
  for (const SampleRecord& record : ReadLogRecords(program->logMemory, 0, state.recordCount.load())) {
    EXPECT_EQ(PresentRegisters(record), kEighteenMask & ~lacking);
    EXPECT_EQ(record[0], 16);
  }
}

// When it lacks all that was asked for, the reading stops, nothing is
// recorded and the window stands as after Stop.
TEST_P(SessionWithOddEcuTest, AnEcuLackingEveryRegisterAskedForStopsTheReading) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  S().SetRegisters(MaskOf(0x17) | MaskOf(0x1A));
  RecorderState& state = program->recorderState;
  state.unsaved = 0;
  const CommandOutcome started = S().Start();
  EXPECT_FALSE(started.done);
  EXPECT_EQ(started.lines,
            (std::vector<std::string>{"REQ CMD Send.",
                                      "NG. ECU lacks registers 17 (AAC valve), 1A (A/F alpha): reading stopped."}));
  EXPECT_EQ(S().State().run, Run::kStopped);
  EXPECT_TRUE(S().Enabled().start);
  EXPECT_FALSE(S().Enabled().stop);
  EXPECT_EQ(program->recordingClock.enable.load(), 0);
  EXPECT_EQ(program->streamReceiver.active.load(), 0);
  EXPECT_EQ(state.recordCount.load(), 0u);
  EXPECT_EQ(state.unsaved.load(), 0);
  // The stop byte went out after the request.
  EXPECT_TRUE(WaitFor([&] { return simulator->ReceivedBytes().back() == 0x30; }));

  // The ECU still answers its self-diagnosis, a repeated reply and all.
  std::vector<FaultCode> left;
  const CommandOutcome cleared = S().ClearFaultCodes(left);
  EXPECT_EQ(cleared.lines, (std::vector<std::string>{"OK. Fault codes cleared.", "OK. Fault codes got."}));
  EXPECT_TRUE(NoMalfunction(left));
}

INSTANTIATE_TEST_SUITE_P(StreamsTheRestOrNothing, SessionWithOddEcuTest, ::testing::Bool());

// Registers beyond the eighteen: probed one by one, then streamed in a
// frame of their own length, each value where the record keeps it.
class SessionWithWiderEcuTest : public SessionTest {
 protected:
  SessionWithWiderEcuTest() {
    ecu.initEd = true;
    ecu.longNumber = true;
  }
};

TEST_F(SessionWithWiderEcuTest, ALateEcuIsFoundProbedAndStreamsTheChosenRegisters) {
  ASSERT_TRUE(S().OpenPort(1).done);
  const CommandOutcome found = S().Initialize();
  ASSERT_TRUE(found.done);
  EXPECT_EQ(found.lines, (std::vector<std::string>{"OK. ECU Found.",
                                                   "ECU answered the initialisation FF FF ED (not FF FF EF)."}));
  std::string number;
  ASSERT_TRUE(S().ReadEcuNumber(number).done);
  EXPECT_EQ(number, "8JU17");
  EXPECT_EQ(S().EcuPartNumberRead(), "23710-8JU17");

  RegisterMask has = 0;
  RegisterMask lacks = 0;
  ASSERT_TRUE(S().ProbeRegisters(has, lacks).done);
  // A single-MAF engine: the right bank's registers are refused.
  EXPECT_EQ(lacks, MaskOf(0x06) | MaskOf(0x07) | MaskOf(0x0A) | MaskOf(0x1B) | MaskOf(0x22) | MaskOf(0x23));
  EXPECT_EQ(has | lacks, (RegisterMask{1} << kCatalogueSize) - 1);

  const RegisterMask chosen = MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x11) | MaskOf(0x0F);
  S().SetRegisters(chosen);
  ASSERT_TRUE(S().Start(true).done);
  RecorderState& state = program->recorderState;
  ASSERT_TRUE(WaitFor([&] { return state.recordCount.load() >= 5; }));
  (void)S().Stop();
  EXPECT_EQ(state.registersAsked, chosen);
  EXPECT_EQ(state.ecuPartNumber, "23710-8JU17");
  for (const SampleRecord& record : ReadLogRecords(program->logMemory, 0, state.recordCount.load())) {
    ASSERT_EQ(PresentRegisters(record), chosen);
    EXPECT_EQ(record[0], 4);
    // Intake air and fuel read -50 + raw: an engine's, not a zero's.
    EXPECT_GT(record[RecordByteOf(0x11)], 40);
    EXPECT_GT(record[RecordByteOf(0x0F)], 40);
  }
}

}  // namespace

namespace {

// Active tests against the simulated engine: each way a test ends sends
// the ECU its release, and each apply and release is one line.
class SessionActiveTestTest : public SessionTest {
 protected:
  void StartReading() {
    ASSERT_TRUE(S().OpenPort(1).done);
    ASSERT_TRUE(S().Initialize().done);
    ASSERT_TRUE(S().Start(true).done);
  }
  void Apply(const char* name, int value) {
    const CommandOutcome applied = S().ApplyActiveTest(FindActiveTest(name), value);
    ASSERT_TRUE(applied.done) << (applied.lines.empty() ? "" : applied.lines.back());
    ASSERT_TRUE(WaitFor([&] { return simulator->TestHeld(); }));
  }
  bool ReleasedTimes(uint64_t count) {
    return WaitFor([&] { return simulator->TestReleases() == count && !simulator->TestHeld(); });
  }
};

TEST_F(SessionActiveTestTest, OnlyOnALiveReadingAndWithTheTablesValues) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  EXPECT_EQ(S().ApplyActiveTest(FindActiveTest("aac"), 30).lines,
            std::vector<std::string>{"NG. Active Test NOT applied: press Start first."});
  ASSERT_TRUE(S().Start(true).done);
  EXPECT_EQ(S().ApplyActiveTest(FindActiveTest("aac"), 101).lines,
            std::vector<std::string>{"NG. Active Test NOT applied."});  // not a value the table allows
  EXPECT_EQ(S().ApplyActiveTest(99, 0).lines, std::vector<std::string>{"NG. Active Test NOT applied."});
  // The simulated car is not moving at first: a cylinder may be cut.
  const CommandOutcome cut = S().ApplyActiveTest(FindActiveTest("power-balance"), 3);
  EXPECT_EQ(cut.lines, std::vector<std::string>{"OK. Active Test applied: Power balance (cylinder cut) cylinder 3"});
  // Nothing but the table's bytes went out in the test position.
  for (const auto& [number, value] : simulator->TestsReceived()) {
    EXPECT_EQ(number, 0x88);
    EXPECT_EQ(value, 0x04);
  }
}

TEST_F(SessionActiveTestTest, EveryWayOutReleasesTheTest) {
  StartReading();
  uint64_t releases = 0;
  Apply("aac", 40);
  EXPECT_EQ(S().ActiveTestHeld().index, FindActiveTest("aac"));
  EXPECT_EQ(S().ReleaseActiveTest().lines,
            std::vector<std::string>{"OK. Active Test released: Idle air (AAC) valve opening 40 %"});
  EXPECT_TRUE(ReleasedTimes(++releases));
  EXPECT_EQ(S().ActiveTestHeld().index, -1);

  // Sixty seconds without renewal.
  Apply("fans", 2);
  const auto later = std::chrono::steady_clock::now() + Session::kTestHoldLimit + std::chrono::seconds(1);
  EXPECT_EQ(S().CheckActiveTest(later).lines,
            std::vector<std::string>{"OK. Active Test released: Cooling fans high (60 s without renewal)"});
  EXPECT_TRUE(ReleasedTimes(++releases));

  // Stop: its stop byte releases it, and it says so.
  Apply("injection", 90);
  EXPECT_EQ(S().Stop().lines, (std::vector<std::string>{"ECU Communication Stop",
                                                        "OK. Active Test released: Injection time trim 90 %"}));
  EXPECT_TRUE(ReleasedTimes(++releases));

  // The end of the program (a signal ends it the same way).
  ASSERT_TRUE(S().Start(true).done);
  Apply("coolant", 100);
  S().Shutdown();
  EXPECT_TRUE(ReleasedTimes(++releases));
  EXPECT_EQ(S().ActiveTestHeld().index, -1);
}

TEST_F(SessionActiveTestTest, ATestIsNeverAppliedAgainAfterTheLineComesBack) {
  StartReading();
  Apply("aac", 40);
  const size_t taken = simulator->TestsReceived().size();
  simulator->PowerDip(0.3);
  ASSERT_TRUE(WaitFor([&] { return S().LineLost(); }));
  EXPECT_FALSE(S().Enabled().applyTest);
  EXPECT_EQ(S().ApplyActiveTest(FindActiveTest("aac"), 40).lines,
            std::vector<std::string>{"NG. Active Test NOT applied: the ECU line is lost."});
  ASSERT_TRUE(WaitFor([&] { return !S().LineLost(); }));
  EXPECT_EQ(S().CheckActiveTest().lines,
            std::vector<std::string>{
                "OK. Active Test released: Idle air (AAC) valve opening 40 % (no frame from the ECU: the line is lost)"});
  EXPECT_EQ(simulator->TestsReceived().size(), taken);
  EXPECT_FALSE(simulator->TestHeld());
}

TEST_F(SessionActiveTestTest, ALostLineReleasesTheTest) {
  StartReading();
  Apply("aac", 40);
  simulator->Stop();  // the line goes quiet
  const uint64_t frames = program->recorderState.framesDecoded.load();
  ASSERT_TRUE(S().CheckActiveTest().lines.empty());  // the line was alive a moment ago
  ASSERT_EQ(program->recorderState.framesDecoded.load(), frames);
  const auto later = std::chrono::steady_clock::now() + Session::kTestLineLost + std::chrono::milliseconds(100);
  const CommandOutcome checked = S().CheckActiveTest(later);
  ASSERT_EQ(checked.lines.size(), 1u);
  EXPECT_NE(checked.lines[0].find("the line is lost"), std::string::npos) << checked.lines[0];
  EXPECT_EQ(S().ActiveTestHeld().index, -1);
}

class SessionActiveTestOnTheRoadTest : public SessionActiveTestTest {
 protected:
  SessionActiveTestOnTheRoadTest() { ecu.dragRun = true; }  // off after 3 s at a standstill
};

TEST_F(SessionActiveTestOnTheRoadTest, CylinderCutAndFuelPumpOnlyAtAStandstill) {
  StartReading();
  const RecorderState& state = program->recorderState;
  ASSERT_TRUE(WaitFor([&] { return state.current.Load()[RecordByteOf(0x0B)] > 0; }));
  for (const char* name : {"power-balance", "fuel-pump"}) {
    EXPECT_EQ(S().ApplyActiveTest(FindActiveTest(name), 1).lines,
              std::vector<std::string>{"NG. Active Test NOT applied: only at a standstill."});
  }
  Apply("fans", 1);  // the others apply on the move
  EXPECT_EQ(simulator->TestsReceived().size(), 2u);  // the fans' pair, nothing of the refused ones
}

// Without the road speed the car cannot be seen to stand: the standstill
// tests are refused, however still the engine is.
class SessionActiveTestWithoutSpeedTest : public SessionActiveTestTest {
 protected:
  SessionActiveTestWithoutSpeedTest() {
    ecu.idleOnly = true;
    ecu.lacks = {0x0B};
  }
};

TEST_F(SessionActiveTestWithoutSpeedTest, StandstillTestsAreRefused) {
  StartReading();
  EXPECT_EQ(S().ApplyActiveTest(FindActiveTest("fuel-pump"), 0).lines,
            std::vector<std::string>{"NG. Active Test NOT applied: only at a standstill."});
  EXPECT_TRUE(simulator->TestsReceived().empty());
}

}  // namespace

// The line goes quiet while recording: no value of before is recorded as
// the engine's, and the reading comes back into the same recording.
class SessionLineTest : public SessionTest {
 protected:
  SessionLineTest() { ecu.linkPath = folder.Path("ttyUSB0"); }
  void StartReading() {
    program->serialPort.SetDevicePath(1, ecu.linkPath);
    ASSERT_TRUE(S().OpenPort(1).done);
    ASSERT_TRUE(S().Initialize().done);
    ASSERT_TRUE(S().Start(true).done);
    ASSERT_TRUE(WaitFor([&] { return program->recorderState.recordCount.load() >= 50; }));
  }
  // Waits for the loss and the return, with their lines and lamps.
  void LostAndBack() {
    // The line is said after the state is changed, which the window asks.
    ASSERT_TRUE(WaitFor([&] { return view->Said("NG. ECU line lost: no data for 1 s."); }));
    EXPECT_TRUE(S().LineLost());
    EXPECT_FALSE(S().Enabled().cableLamp);
    EXPECT_FALSE(S().Enabled().ecuLamp);
    EXPECT_TRUE(IsGap(program->recorderState.current.Load()));
    ASSERT_TRUE(WaitFor([&] { return view->Said("OK. ECU line back: reading resumed."); }));
    EXPECT_FALSE(S().LineLost());
    EXPECT_TRUE(S().Enabled().cableLamp && S().Enabled().ecuLamp);
    EXPECT_GE(view->linkChanges.load(), 2);
  }
  // Values, then gaps, then values again: one recording, no copies of the
  // last sample past the loss.
  void ExpectOneGapBetweenValues() {
    const uint32_t count = program->recorderState.recordCount.load();
    const std::vector<SampleRecord> records = ReadLogRecords(program->logMemory, 0, count);
    ASSERT_EQ(records.size(), count);
    const auto firstGap = std::find_if(records.begin(), records.end(), [](const SampleRecord& r) { return IsGap(r); });
    ASSERT_NE(firstGap, records.end());
    const auto lastGap = std::find_if(records.rbegin(), records.rend(), [](const SampleRecord& r) { return IsGap(r); });
    EXPECT_TRUE(std::all_of(firstGap, lastGap.base(), [](const SampleRecord& r) { return IsGap(r); }));
    EXPECT_GT(firstGap - records.begin(), 40);
    EXPECT_GT(records.rend() - lastGap, 1);  // the reading went on after it
  }
};

TEST_F(SessionLineTest, AnEcuThatLosesPowerIsInitialisedAgain) {
  StartReading();
  simulator->PowerDip(0.5);
  LostAndBack();
  const uint64_t initsAfter = simulator->InitAnswers();
  EXPECT_GE(initsAfter, 2u);
  const uint32_t back = program->recorderState.recordCount.load();
  ASSERT_TRUE(WaitFor([&] { return program->recorderState.recordCount.load() >= back + 20; }));
  ASSERT_TRUE(S().Stop().done);
  ExpectOneGapBetweenValues();
}

TEST_F(SessionLineTest, AnAdapterThatComesBackIsOpenedAgain) {
  StartReading();
  simulator->Unplug(0.5);
  LostAndBack();
  ASSERT_TRUE(S().Stop().done);
  ExpectOneGapBetweenValues();
  EXPECT_TRUE(S().ClosePort(1).done);
}

TEST_F(SessionLineTest, StopEndsTheAttemptsAndTheEcuMustBeFoundAgain) {
  StartReading();
  simulator->Unplug(600);  // gone for good
  ASSERT_TRUE(WaitFor([&] { return S().LineLost(); }));
  ASSERT_TRUE(S().Stop().done);
  EXPECT_FALSE(S().LineLost());
  // The port went with its device: it must be opened again.
  EXPECT_TRUE(S().Enabled().ecuOpen);
  EXPECT_FALSE(S().Enabled().start);
  EXPECT_FALSE(S().Enabled().ecuLamp);
}

// The recording is on disk as it goes, in a file of its own that lasts as
// long as the recording is unsaved.
TEST_F(SessionTest, ALiveRecordingIsWrittenThroughUntilSavedOrGivenUp) {
  ASSERT_TRUE(S().OpenPort(1).done);
  ASSERT_TRUE(S().Initialize().done);
  ASSERT_TRUE(S().Start(true).done);
  const std::string first = S().WriteThroughFile();
  EXPECT_EQ(std::filesystem::path(first).parent_path(), folder.Path("recovered"));
  ASSERT_TRUE(WaitFor([&] { return program->recorderState.recordCount.load() >= 30; }));
  ASSERT_TRUE(S().Stop().done);
  std::vector<SampleRecord> records;
  std::string error;
  ASSERT_EQ(ReadLogFileRecords(first, records, error), Result::kOk) << error;
  EXPECT_EQ(records, ReadLogRecords(program->logMemory, 0, program->recorderState.recordCount.load()));

  // A new recording gives the old one up (the user was asked), and its file.
  ASSERT_TRUE(S().Start(true).done);
  const auto files = [&] {
    const std::filesystem::directory_iterator all(folder.Path("recovered"));
    return std::distance(begin(all), end(all));
  };
  EXPECT_EQ(files(), 1);
  const std::string second = S().WriteThroughFile();
  ASSERT_TRUE(std::filesystem::exists(second));
  ASSERT_TRUE(WaitFor([&] { return program->recorderState.recordCount.load() >= 1; }));
  ASSERT_TRUE(S().Save(folder.Path("kept.eld")).done);  // still recording: still unsaved
  EXPECT_TRUE(std::filesystem::exists(second));
  ASSERT_TRUE(S().Stop().done);
  ASSERT_TRUE(S().Save(folder.Path("kept.eld")).done);
  EXPECT_FALSE(std::filesystem::exists(second));
}
