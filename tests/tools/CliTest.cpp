// torvane-cli end to end: the built executable against the simulator on a
// pseudo-terminal, and against good, damaged and foreign log files.
#include <gtest/gtest.h>

#include "data/RegisterList.h"
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "control/DriveLog.h"
#include "data/CsvWriter.h"
#include "data/LogFile.h"
#include "data/Memmap.h"
#include "data/Recorder.h"
#include "tests/common/FakeDeviceTree.h"
#include "tests/tools/ToolsTestSupport.h"
#include "link/StreamReceiver.h"
#include "tools/ecusim/EcuSimulator.h"
#include "tools/ecusim/EngineModel.h"

using namespace tools_test;

namespace {

const std::string kCli = TORVANE_CLI;

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

// The part of a CSV line after the time column.
std::string ValuesOf(const std::string& line) {
  const size_t at = line.find(kCsvSeparator);
  return at == std::string::npos ? std::string() : line.substr(at + 3);
}

// Index of the first frame at or after `from` whose record is `record`.
size_t FindFrom(const std::vector<SentFrame>& sent, size_t from, const SampleRecord& record) {
  for (size_t k = from; k < sent.size(); ++k)
    if (sent[k].Record() == record) return k;
  return sent.size();
}

uint32_t RecordsIn(const std::string& path) {
  LogFileInfo info;
  std::string error;
  return ReadLogFileInfo(path, info, error) == Result::kOk ? info.recordCount : 0;
}

struct LoadedLog {
  uint32_t count = 0;
  std::vector<SampleRecord> records;
};
LoadedLog LoadLog(const std::string& path) {
  LoadedLog log;
  LogMemory memory;
  RecorderState state;
  if (CreateLogMemory(memory) != Result::kOk || LoadLogFile(path, state, memory) != Result::kOk) return log;
  log.count = state.recordCount.load();
  for (uint32_t i = 0; i < log.count; ++i) {
    SampleRecord r;
    EXPECT_EQ(FetchRecord(memory, r, i), Result::kOk);
    log.records.push_back(r);
  }
  return log;
}

class CliWithEcu : public ::testing::Test {
 protected:
  void StartEcu(EcuSimulatorOptions options = {}) {
    simulator_ = std::make_unique<EcuSimulator>(options);
    ASSERT_TRUE(simulator_->Start()) << simulator_->Error();
    port_ = simulator_->SlavePath();
  }
  void TearDown() override {
    if (simulator_) simulator_->Stop();
  }
  // The tool's last word is the stop byte; once the simulator has read it,
  // its log holds every frame the tool could have seen.
  std::vector<SentFrame> SentUntilStopped() {
    EXPECT_TRUE(WaitFor([&] {
      const std::vector<uint8_t> received = simulator_->ReceivedBytes();
      return !received.empty() && received.back() == 0x30;
    }));
    return simulator_->SentFrames();
  }
  std::unique_ptr<EcuSimulator> simulator_;
  std::string port_;
  TempDir dir_;
};

}  // namespace

TEST_F(CliWithEcu, ProbePrintsTheStatusLinesAndTheNumber) {
  StartEcu();
  const RunResult r = RunProgram(kCli, {"probe", "--port", port_}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "OK. COM1 Open Interface OK\nOK. ECU Found.\nOK. ECU No. got.\n8JU17\n23710-8JU17\ninitialisation FF FF EF\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliWithEcu, ProbeThroughThePortMap) {
  EcuSimulatorOptions options;
  options.ecuNumber = "4NU22";
  StartEcu(options);
  const RunResult r = RunProgram(kCli, {"probe", "--port", "COM3", "--map", "COM3=" + port_}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "OK. COM3 Open Interface OK\nOK. ECU Found.\nOK. ECU No. got.\n4NU22\n23710-4NU22\ninitialisation FF FF EF\n");
}

TEST_F(CliWithEcu, ProbeFailuresSayWhere) {
  const RunResult noDevice = RunProgram(kCli, {"probe", "--port", dir_.Path("nothing")}, dir_, "a");
  EXPECT_EQ(noDevice.status, 1);
  EXPECT_EQ(noDevice.out, "NG. COM1 Open Interface NG\n");
  EXPECT_EQ(SplitLines(noDevice.err).size(), 1u) << noDevice.err;

  EcuSimulatorOptions silent;
  silent.noInit = true;
  StartEcu(silent);
  const RunResult noEcu = RunProgram(kCli, {"probe", "--port", port_}, dir_, "b");
  EXPECT_EQ(noEcu.status, 1);
  EXPECT_EQ(noEcu.out, "OK. COM1 Open Interface OK\nNG. ECU NOT Found.\n");
  EXPECT_EQ(SplitLines(noEcu.err).size(), 1u) << noEcu.err;
  simulator_->Stop();

  EcuSimulatorOptions unnumbered;
  unnumbered.ecuNumber = "AB\x01" "DE";  // no 'U' in the middle, and not printable at the end
  StartEcu(unnumbered);
  const RunResult noNumber = RunProgram(kCli, {"probe", "--port", port_}, dir_, "c");
  EXPECT_EQ(noNumber.status, 1);
  EXPECT_EQ(noNumber.out, "OK. COM1 Open Interface OK\nOK. ECU Found.\nNG. ECU No. NOT Found.\n");
}

// Also with an ECU that answers the stop byte with one more frame and CF:
// the stop-and-wait still ends, and nothing sent before it is lost.
TEST_F(CliWithEcu, StreamPrintsTheFramesTheEcuSent) {
  for (const bool repeating : {false, true}) {
    SCOPED_TRACE(repeating ? "repeating replies" : "plain");
    EcuSimulatorOptions options;
    options.repeatReplies = repeating;
    StartEcu(options);
    const RunResult r = RunProgram(kCli, {"stream", "--port", port_, "--seconds", "1.5"}, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], CsvHeaderLine());

    // Every line is a new frame, in the order sent: each matches a later
    // frame of the simulator's log than the line before.
    const std::vector<SentFrame> sent = SentUntilStopped();
    size_t next = 0;
    long previousMs = -1;
    for (size_t i = 1; i < lines.size(); ++i) {
      size_t k = next;
      while (k < sent.size() && CsvValuesPart(sent[k].Record()) != ValuesOf(lines[i])) ++k;
      ASSERT_LT(k, sent.size()) << "line " << i << " is no frame sent: " << lines[i];
      next = k + 1;
      const long ms = std::stol(lines[i]);
      EXPECT_GE(ms, previousMs);
      previousMs = ms;
    }
  }
}

TEST_F(CliWithEcu, RecordInfoAndExportEndToEnd) {
  StartEcu();
  const std::string eld = dir_.Path("run.eld");
  const RunResult rec = RunProgram(kCli, {"record", "--port", port_, "--out", eld, "--seconds", "2"}, dir_, "rec");
  ASSERT_EQ(rec.status, 0) << rec.err;
  EXPECT_NE(rec.err.find("ECU Communication Stop"), std::string::npos);

  // Records are frames the ECU sent, in order, record 0 among them (not the
  // empty sample before the first frame); the 10 ms clock samples a 20.8 ms
  // stream, so a frame may stand in consecutive records. Which frame comes
  // first depends on when the clock's first tick falls.
  const LoadedLog log = LoadLog(eld);
  ASSERT_GT(log.count, 0u);
  const std::vector<SentFrame> sent = SentUntilStopped();
  size_t at = 0;
  for (uint32_t i = 0; i < log.count; ++i) {
    at = FindFrom(sent, at, log.records[i]);
    ASSERT_LT(at, sent.size()) << "record " << i << " is no frame sent";
  }

  const RunResult info = RunProgram(kCli, {"info", eld}, dir_, "info");
  ASSERT_EQ(info.status, 0) << info.err;
  const std::string ms = std::to_string(log.count * 10);
  EXPECT_EQ(info.out, "version: 1.0\nrecords: " + std::to_string(log.count) + "\nduration: " + ms +
                          " ms (" + std::to_string(log.count / 100) + "." +
                          (log.count % 100 < 10 ? "0" : "") + std::to_string(log.count % 100) +
                          " s)\n");

  // The whole recording: the header and one line per record, CR LF.
  const std::string csv = dir_.Path("run.csv");
  const RunResult all = RunProgram(kCli, {"export", eld, "--out", csv}, dir_, "export");
  ASSERT_EQ(all.status, 0) << all.err;
  const std::string text = ReadText(csv);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> lines = SplitLines(text, "\r\n");
  ASSERT_EQ(lines.size(), log.count + 1);
  EXPECT_EQ(lines[0], CsvHeaderLine());
  for (uint32_t i = 0; i < log.count; ++i)
    ASSERT_EQ(lines[i + 1], std::to_string(i * 10) + kCsvSeparator + CsvValuesPart(log.records[i]));

  // A window, and an end past the recording clamped to its last record.
  const RunResult window =
      RunProgram(kCli, {"export", eld, "--out", csv, "--start", "5", "--end", "9"}, dir_, "w");
  ASSERT_EQ(window.status, 0) << window.err;
  std::vector<std::string> part = SplitLines(ReadText(csv), "\r\n");
  ASSERT_EQ(part.size(), 6u);
  EXPECT_EQ(part[1], lines[6]);
  EXPECT_EQ(part[5], lines[10]);
  const RunResult tail = RunProgram(kCli, {"export", eld, "--out", csv, "--start", std::to_string(log.count - 2),
                                    "--end", "99999999"}, dir_, "t");
  ASSERT_EQ(tail.status, 0) << tail.err;
  part = SplitLines(ReadText(csv), "\r\n");
  ASSERT_EQ(part.size(), 3u);
  EXPECT_EQ(part[2], lines[log.count]);
  const RunResult past =
      RunProgram(kCli, {"export", eld, "--out", dir_.Path("past.csv"), "--start", std::to_string(log.count)},
          dir_, "p");
  EXPECT_EQ(past.status, 2);
  EXPECT_FALSE(Exists(dir_.Path("past.csv")));

  // The same window for the log viewers: title, capture date, names, units,
  // 5 records.
  const std::string msl = dir_.Path("w.msl");
  const RunResult viewer =
      RunProgram(kCli, {"export", eld, "--out", msl, "--start", "5", "--end", "9", "--format", "msl"}, dir_, "m");
  ASSERT_EQ(viewer.status, 0) << viewer.err;
  const std::vector<std::string> rows = SplitLines(ReadText(msl), "\n");
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0].front(), '"');
  EXPECT_EQ(rows[1].rfind("\"Capture Date: ", 0), 0u);
  EXPECT_EQ(rows[2].rfind("Time\t", 0), 0u);
  EXPECT_EQ(rows[4].rfind("0.050\t", 0), 0u);

  // A 1.0 log does not say when it began: no UTC times to give a renderer.
  const std::string overlay = dir_.Path("w-overlay.csv");
  const RunResult renderer = RunProgram(kCli, {"export", eld, "--out", overlay, "--format", "overlay-csv"}, dir_, "o");
  EXPECT_EQ(renderer.status, 1);
  EXPECT_NE(renderer.err.find("does not hold when it began"), std::string::npos) << renderer.err;
  EXPECT_FALSE(Exists(overlay));
}

TEST_F(CliWithEcu, RecordStopsAtCtrlCAndSaves) {
  StartEcu();
  const std::string eld = dir_.Path("ctrlc.eld");
  Process record(kCli, {"record", "--port", port_, "--out", eld}, dir_, "ctrlc");
  ASSERT_TRUE(WaitFor([&] { return record.Err().find("ECU Read Start") != std::string::npos; }));
  // A few frames later the clock has stored some: a signal at once could
  // come before its first tick on a busy machine.
  const uint64_t sent = simulator_->SentFrameCount();
  ASSERT_TRUE(WaitFor([&] { return simulator_->SentFrameCount() >= sent + 5; }));
  record.Signal(SIGINT);
  ASSERT_EQ(record.Wait(), 0) << record.Err();
  EXPECT_GT(LoadLog(eld).count, 0u);
}

TEST_F(CliWithEcu, ALostLineIsSaidAndTheExitStatusSaysWhetherItCameBack) {
  // An ECU that loses power for a moment is found again.
  EcuSimulatorOptions options;
  options.powerDipAt = 1;
  options.powerDipFor = 0.5;
  StartEcu(options);
  const RunResult back = RunProgram(kCli, {"stream", "--port", port_, "--seconds", "5"}, dir_);
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_NE(back.err.find("NG. ECU line lost: no data for 1 s.\nOK. ECU line back: reading resumed."),
            std::string::npos)
      << back.err;
  simulator_->Stop();

  // One that is gone for good, not sought again: what was recorded is saved.
  options = {};
  options.closeAfterSeconds = 3;  // long enough to reach the stream on a busy machine
  StartEcu(options);
  const std::string eld = dir_.Path("lost.eld");
  const RunResult lost = RunProgram(kCli, {"record", "--port", port_, "--out", eld, "--no-reconnect"}, dir_);
  EXPECT_EQ(lost.status, 3);
  EXPECT_NE(lost.err.find("NG. ECU line lost"), std::string::npos) << lost.err;
  EXPECT_GT(LoadLog(eld).count, 0u);
}

// Killed mid-recording, as a power cut or kill -9 ends it: the file holds
// all but the last second, and the next run finds the rest in the log memory.
TEST_F(CliWithEcu, AKilledRecordLeavesItsFileWithAllButTheLastSecond) {
  StartEcu();
  const std::string data = dir_.Path("data");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  const std::string eld = dir_.Path("killed.eld");
  Process record(kCli, {"record", "--port", port_, "--out", eld}, dir_, "killed");
  uint32_t before = 0;
  ASSERT_TRUE(WaitFor([&] {
    before = RecordsIn(eld);
    return before >= 200;
  }));
  record.Signal(SIGKILL);
  EXPECT_EQ(record.Wait(), -1);
  const uint32_t kept = RecordsIn(eld);
  EXPECT_GE(kept, before);
  std::vector<SampleRecord> records;  // not through a log memory: that would take over the killed one's
  std::string error;
  EXPECT_EQ(ReadLogFileRecords(eld, records, error), Result::kOk) << error;
  EXPECT_EQ(records.size(), kept);

  const RunResult next =
      RunProgram(kCli, {"record", "--port", port_, "--out", dir_.Path("next.eld"), "--seconds", "0.5"}, dir_);
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(next.status, 0) << next.err;
  const std::string said = "recovered as ";
  const size_t at = next.err.find(said);
  ASSERT_NE(at, std::string::npos) << next.err;
  const std::string recovered = next.err.substr(at + said.size(), next.err.find('\n', at) - at - said.size());
  const uint32_t all = RecordsIn(recovered);
  EXPECT_GE(all, kept);
  EXPECT_LE(all, kept + 100);  // one second of records
}

// The car computer's logger, started before the ECU is there: a drive
// while it answers, the file closed when the ignition goes off, a second
// drive when it is back.
TEST_F(CliWithEcu, TheLoggerWritesEachDriveToAFileOfItsOwn) {
  const std::string drives = dir_.Path("drives");
  EcuSimulatorOptions options;
  options.linkPath = dir_.Path("ttyUSB0");
  setenv("XDG_DATA_HOME", dir_.Path("data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
  Process log(kCli, {"log", "--dir", drives, "--port", options.linkPath}, dir_, "log");
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(WaitFor([&] { return log.Err().find("Waiting for the cable.") != std::string::npos; }));
  const auto files = [&] {
    std::vector<std::string> names;
    std::error_code ignored;
    // Not the replacement being written before it takes the drive's name.
    for (const auto& entry : std::filesystem::directory_iterator(drives, ignored))
      if (IsDriveFileName(entry.path().filename().string())) names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    return names;
  };

  StartEcu(options);
  ASSERT_TRUE(WaitFor([&] { return files().size() == 1 && RecordsIn(files()[0]) >= 100; })) << log.Err();
  const std::string first = files()[0];
  EXPECT_TRUE(IsDriveFileName(std::filesystem::path(first).filename().string())) << first;
  EXPECT_NE(first.find("_8JU17.eld"), std::string::npos);
  simulator_->Stop();  // the ignition goes off
  ASSERT_TRUE(WaitFor([&] { return log.Err().find("Drive ended after") != std::string::npos; })) << log.Err();
  EXPECT_NE(log.Err().find("(the ECU stopped answering for 10 s)"), std::string::npos) << log.Err();
  std::vector<SampleRecord> records;
  std::string error;
  ASSERT_EQ(ReadLogFileRecords(first, records, error), Result::kOk) << error;
  ASSERT_FALSE(records.empty());
  EXPECT_FALSE(IsGap(records.back()));  // the silence at the end is cut off

  StartEcu(options);
  ASSERT_TRUE(WaitFor([&] { return files().size() == 2 && RecordsIn(files()[1]) >= 50; })) << log.Err();
  log.Signal(SIGTERM);
  EXPECT_EQ(log.Wait(), 0);
  const std::string told = log.Err();
  for (const char* line : {"Cable found on COM1", "ECU 8JU17 found (part number 23710-8JU17).", "Drive started: ",
                           "(stopped): ", "Logger stopped."})
    EXPECT_NE(told.find(line), std::string::npos) << line << "\n" << told;
  std::string listing;
  for (const std::string& name : files()) listing += name + ": " + std::to_string(RecordsIn(name)) + " records\n";
  EXPECT_GE(RecordsIn(files()[1]), 50u) << listing << told;
}

TEST_F(CliWithEcu, RecordWithoutAnEcuWritesNothing) {
  EcuSimulatorOptions options;
  options.noInit = true;
  StartEcu(options);
  const std::string eld = dir_.Path("none.eld");
  const RunResult r = RunProgram(kCli, {"record", "--port", port_, "--out", eld, "--seconds", "1"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("NG. ECU NOT Found."), std::string::npos);
  EXPECT_FALSE(Exists(eld));
}

TEST(Cli, DamagedAndForeignFilesFailWithoutOutput) {
  TempDir dir;
  // A good two-record file to damage.
  std::string good("VERSION=1.0\n", 12);
  good.append(8, '\0');
  good += std::string("\0\0\0\2", 4);
  good.append(16, '\0');
  for (int i = 0; i < 2; ++i) {
    good += '\x12';
    good.append(19, '\x01');
  }
  const std::vector<std::pair<std::string, std::string>> files{
      {"truncated.eld", good.substr(0, good.size() - 1)},
      {"empty.eld", ""},
      {"foreign.eld", "name,value\nrpm,800\nspeed,0\ncoolant,80\n"},
      {"version.eld", "VERSION=2.0\n" + good.substr(12)},
      // A terminal must see its control sequence escaped, never obey it.
      {"escape.eld", "VERSION=\x1b[2J" + good.substr(12)},
  };
  for (const auto& [name, bytes] : files) {
    const std::string path = dir.Path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    const std::string csv = dir.Path(name + ".csv");
    const RunResult info = RunProgram(kCli, {"info", path}, dir, "info");
    EXPECT_EQ(info.status, 1) << name;
    EXPECT_EQ(info.out, "") << name;
    EXPECT_EQ(SplitLines(info.err).size(), 1u) << name << ": " << info.err;
    EXPECT_EQ(info.err.find('\x1b'), std::string::npos) << name;
    const RunResult exported = RunProgram(kCli, {"export", path, "--out", csv}, dir, "export");
    EXPECT_EQ(exported.status, 1) << name;
    EXPECT_EQ(SplitLines(exported.err).size(), 1u) << name << ": " << exported.err;
    EXPECT_FALSE(Exists(csv)) << name;
  }
  const RunResult missing = RunProgram(kCli, {"info", dir.Path("missing.eld")}, dir);
  EXPECT_EQ(missing.status, 1);

  // The undamaged file exports its two records.
  std::ofstream(dir.Path("good.eld"), std::ios::binary) << good;
  const RunResult ok = RunProgram(kCli, {"export", dir.Path("good.eld"), "--out", dir.Path("good.csv")}, dir);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(SplitLines(ReadText(dir.Path("good.csv")), "\r\n").size(), 3u);
}

TEST(Cli, UsageErrorsExitTwoWithOneLine) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases{
      {},
      {"fly"},
      {"probe"},
      {"probe", "--port"},
      {"probe", "--port", "COM11"},
      {"probe", "--port", "COM1", "--map", "COM0=/dev/null"},
      {"probe", "--port", "COM1", "--out", "x.eld"},
      {"log", "--port", "COM1"},
      {"log", "--dir", "d", "--keep-mb", "0"},
      {"log", "--dir", "d", "--no-reconnect"},
      {"stream", "--port", "COM1", "--seconds", "soon"},
      {"stream", "--port", "COM1", "--seconds", "0"},
      {"record", "--port", "COM1", "--seconds", "2"},
      {"info"},
      {"info", "a.eld", "b.eld"},
      {"export", "a.eld"},
      {"export", "a.eld", "--out", "a.csv", "--start", "-1"},
      {"export", "a.eld", "--out", "a.csv", "--format", "xls"},
      {"export", "a.eld", "--out", "a.csv", "--start", "9", "--end", "3"},
      {"ports", "--sys-root"},
      {"ports", "--dev-root", ""},
      {"ports", "--port", "COM1"},
      {"ports", "COM1"},
      {"runs"},
      {"runs", "a.eld", "--distance", "500"},
      {"runs", "a.eld", "--mass", "1400"},
      {"runs", "a.eld", "--speed-factor", "2.5"},
      {"runs", "a.eld", "--speed-factor", "0.4"},
      {"power", "a.eld"},
      {"power", "a.eld", "--mass", "-3"},
      {"power", "a.eld", "--mass", "1400", "--cda", "x"},
      {"power", "a.eld", "--mass", "1400", "--curve", "0"},
  };
  for (const std::vector<std::string>& args : cases) {
    const RunResult r = RunProgram(kCli, args, dir);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << shown << ": " << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  const RunResult help = RunProgram(kCli, {"--help"}, dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: torvane-cli"), std::string::npos);
}

TEST(Cli, PortsShowsWhatDiscoverySees) {
  TempDir dir;
  FakeDeviceTree fake;
  fake.AddPlain("ttyS0");
  fake.AddUsb("ttyUSB0", "Varnok", "DID-Uzorari Cable");
  const std::vector<std::string> ports{"ports", "--sys-root", fake.Tree().sysRoot, "--dev-root",
                                       fake.Tree().devRoot};

  std::vector<std::string> mapped = ports;
  mapped.insert(mapped.end(), {"--map", "COM3=" + fake.Node("ttyUSB0")});
  const RunResult found = RunProgram(kCli, mapped, dir, "found");
  EXPECT_EQ(found.status, 0) << found.err;
  const std::vector<std::string> lines = SplitLines(found.out);
  ASSERT_EQ(lines.size(), 3u) << found.out;
  EXPECT_EQ(lines[0].rfind("- ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("  no COM slot  "), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("Varnok DID-Uzorari Cable (COM3)  " + fake.Node("ttyUSB0"), 0), 0u)
      << lines[1];
  EXPECT_NE(lines[1].find("  COM3  "), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "Cable found on COM3.");

  // Without a slot the cable has no COM number, and the tool says how to
  // give it one.
  const RunResult missing = RunProgram(kCli, ports, dir, "missing");
  EXPECT_EQ(missing.status, 1) << missing.err;
  EXPECT_NE(missing.out.find("No cable found."), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("--map COMn=" + fake.Node("ttyUSB0")), std::string::npos)
      << missing.out;
  EXPECT_EQ(missing.err, "");
}

// An adapter's latency timer is shown, with what the program does about a
// slow one.
TEST(Cli, PortsShowsTheLatencyTimer) {
  TempDir dir;
  FakeDeviceTree fake;
  fake.AddUsb("ttyUSB0", "Varnok", "DID-Uzorari Cable");
  std::ofstream(fake.Tree().sysRoot + "/class/tty/ttyUSB0/device/latency_timer") << "16\n";
  const RunResult r = RunProgram(kCli, {"ports", "--sys-root", fake.Tree().sysRoot, "--dev-root", fake.Tree().devRoot,
                                        "--map", "COM1=" + fake.Node("ttyUSB0")}, dir);
  EXPECT_NE(r.out.find(fake.Node("ttyUSB0") + ": latency timer 16 ms (Torvane asks for 1 ms"), std::string::npos)
      << r.out;
}

TEST(EcuSimExecutable, PrintsThePathFirstAndStopsOnSigterm) {
  TempDir dir;
  const std::string link = dir.Path("ecu");
  Process sim(TORVANE_ECU_SIM, {"--link", link, "--baud", "115200"}, dir, "sim");
  ASSERT_TRUE(WaitFor([&] { return !SplitLines(sim.Out()).empty(); }));
  const std::string path = SplitLines(sim.Out())[0];
  EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  ASSERT_TRUE(WaitFor([&] { return Exists(link); }));
  const RunResult probe = RunProgram(kCli, {"probe", "--port", link}, dir, "probe");
  EXPECT_EQ(probe.status, 0) << probe.err;
  EXPECT_NE(probe.out.find("8JU17"), std::string::npos);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  struct stat st{};
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link is gone with it

  const RunResult bad = RunProgram(TORVANE_ECU_SIM, {"--ecu-number", "TOOLONG"}, dir, "bad");
  EXPECT_EQ(bad.status, 2);
}

namespace {

// A minute of the simulator's drag run as the program records it, saved as
// a log file.
void WriteDragRunLog(const std::string& path) {
  EngineModel engine(1, true);
  const double dt = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  SampleRecord frame;
  double frameTime = 0;
  std::vector<SampleRecord> records;
  while (records.size() < 6000) {
    for (; frameTime <= records.size() * 0.01; frameTime += dt) {
      engine.Advance(dt);
      frame[0] = kFrameLength;
      for (int i = 0; i < kStreamRegisterCount; ++i) frame[i + 1] = engine.Register(kStreamRegisters[i].number);
    }
    records.push_back(frame);
  }
  uint8_t header[40];
  MakeLogHeader(static_cast<uint32_t>(records.size()), header);
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(header), sizeof header);
  for (const SampleRecord& r : records)
    file.write(reinterpret_cast<const char*>(r.bytes.data()), kLegacyRecordSize);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

}  // namespace

// runs and power on a recording of the drag run: the documented columns,
// a row per run and per pull, the figures the simulator's car gives, and
// one pull's curve; a pull that is not there is a usage error.
TEST(Cli, RunsAndPowerOfADragRun) {
  TempDir dir;
  const std::string log = dir.Path("drag.eld");
  WriteDragRunLog(log);

  for (const char* distance : {"400", "1000"}) {
    const RunResult runs = RunProgram(kCli, {"runs", log, "--distance", distance}, dir, "runs");
    ASSERT_EQ(runs.status, 0) << runs.err;
    const std::vector<std::string> lines = SplitLines(runs.out);
    ASSERT_GE(lines.size(), 2u) << runs.out;
    EXPECT_EQ(lines[0], "start_ms,time_s,time_uncertainty_s,speed_kmh,zero_to_100_s,max_rpm");
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> f = Fields(lines[i]);
      ASSERT_EQ(f.size(), 6u) << lines[i];
      EXPECT_GT(std::stod(f[1]), std::string(distance) == "400" ? 10 : 20) << lines[i];
      EXPECT_LT(std::stod(f[2]), 0.2) << lines[i];
      EXPECT_GT(std::stod(f[4]), 3) << lines[i];
      EXPECT_GE(std::stoi(f[5]), 6500) << lines[i];
    }
  }

  const RunResult power = RunProgram(kCli, {"power", log, "--mass", "1400"}, dir, "power");
  ASSERT_EQ(power.status, 0) << power.err;
  const std::vector<std::string> pulls = SplitLines(power.out);
  ASSERT_GE(pulls.size(), 5u) << power.out;
  EXPECT_EQ(pulls[0], "start_ms,end_ms,peak_kw,peak_ps,peak_rpm");
  for (size_t i = 1; i < pulls.size(); ++i) {
    const std::vector<std::string> f = Fields(pulls[i]);
    ASSERT_EQ(f.size(), 5u) << pulls[i];
    EXPECT_LT(std::stoll(f[0]), std::stoll(f[1]));
    EXPECT_NEAR(std::stod(f[2]), DragRunCar::kPeakKw, DragRunCar::kPeakKw * 0.03) << pulls[i];
    EXPECT_NEAR(std::stod(f[3]), std::stod(f[2]) / 0.73549875, 0.2) << pulls[i];
  }
  // Larger tyres: the car covers more ground than the register says.
  const RunResult corrected = RunProgram(kCli, {"runs", log, "--speed-factor", "1.1"}, dir);
  ASSERT_EQ(corrected.status, 0) << corrected.err;
  const RunResult plain = RunProgram(kCli, {"runs", log}, dir);
  EXPECT_LT(std::stod(Fields(SplitLines(corrected.out)[1])[1]), std::stod(Fields(SplitLines(plain.out)[1])[1]) - 0.3);
  // A heavier car needs more power for the same acceleration.
  const RunResult heavier = RunProgram(kCli, {"power", log, "--mass", "1600", "--cda", "0.7", "--crr", "0"}, dir);
  ASSERT_EQ(heavier.status, 0) << heavier.err;
  EXPECT_GT(std::stod(Fields(SplitLines(heavier.out)[1])[2]), std::stod(Fields(pulls[1])[2]));

  const RunResult curve = RunProgram(kCli, {"power", log, "--mass", "1400", "--curve", "2"}, dir);
  ASSERT_EQ(curve.status, 0) << curve.err;
  const std::vector<std::string> points = SplitLines(curve.out);
  ASSERT_GT(points.size(), 10u);
  EXPECT_EQ(points[0], "rpm,kw,ps,wheel_torque_nm");
  EXPECT_EQ(Fields(points[5]).size(), 4u);
  const std::string past = std::to_string(pulls.size());  // one more than there are
  const RunResult none = RunProgram(kCli, {"power", log, "--mass", "1400", "--curve", past}, dir);
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(RunProgram(kCli, {"runs", dir.Path("missing.eld")}, dir).status, 1);
}

// A recording that never holds road speed (an ECU without the register;
// lost lines among its records) gives no runs and no pulls: the tool says
// why on standard error and fails rather than list none.
TEST(Cli, RunsAndPowerOfARecordingWithoutRoadSpeed) {
  TempDir dir;
  const std::string log = dir.Path("nospeed.eld");
  {
    LogMemory memory;
    RecorderState state;
    ASSERT_EQ(CreateLogMemory(memory), Result::kOk);
    SampleRecord record;
    record[0] = kFrameLength - 1;
    record[RecordByteOf(0x0B)] = 30;  // a byte that was never sent is no speed
    SetPresentRegisters(record, kEighteenMask & ~MaskOf(0x0B));
    for (uint32_t i = 0; i < 200; ++i)
      ASSERT_EQ(StoreRecord(memory, i % 50 == 49 ? GapRecord() : record, i), Result::kOk);
    state.recordCount = 200;
    ASSERT_EQ(SaveLogFile(log, state, memory), Result::kOk);
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"runs", log}, std::vector<std::string>{"power", log, "--mass", "1400"}}) {
    const RunResult result = RunProgram(kCli, args, dir);
    EXPECT_EQ(result.status, 1) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
    EXPECT_EQ(result.err, "torvane-cli: The recording holds no road speed (register 0B)\n") << args[0];
  }
}

TEST_F(CliWithEcu, CodesAndClearCodesPrintTheStoredCodesAsCsv) {
  EcuSimulatorOptions options;
  options.ecuNumber = "0V700";  // an export-market ECU
  options.codes = {{0x12, 3}, {0xA3, 0}};
  options.repeatReplies = true;
  StartEcu(options);
  const RunResult probe = RunProgram(kCli, {"probe", "--port", port_}, dir_, "p");
  EXPECT_EQ(probe.status, 0) << probe.err;
  EXPECT_EQ(probe.out, "OK. COM1 Open Interface OK\nOK. ECU Found.\nOK. ECU No. got.\n0V700\n23710-0V700\ninitialisation FF FF EF\n");

  const RunResult codes = RunProgram(kCli, {"codes", "--port", port_}, dir_, "a");
  EXPECT_EQ(codes.status, 0) << codes.err;
  EXPECT_EQ(codes.out, "code,raw,starts,meaning\n12,0x12,3,air flow meter\n--,0xA3,0,unknown code\n");
  EXPECT_EQ(codes.err, "OK. COM1 Open Interface OK\nOK. ECU Found.\nOK. Fault codes got.\n");

  const RunResult cleared = RunProgram(kCli, {"clear-codes", "--port", port_}, dir_, "b");
  EXPECT_EQ(cleared.status, 0) << cleared.err;
  EXPECT_EQ(cleared.out, "code,raw,starts,meaning\n55,0x55,0,no malfunction\n");
  EXPECT_NE(cleared.err.find("OK. Fault codes cleared.\nOK. Fault codes got.\n"), std::string::npos) << cleared.err;
}

// A register the ECU lacks is named once and left empty; the rest streams.
TEST_F(CliWithEcu, AnEcuLackingARegisterStreamsTheRestAndSaysWhich) {
  EcuSimulatorOptions options;
  options.lacks = {0x17};
  StartEcu(options);
  const RunResult r = RunProgram(kCli, {"stream", "--port", port_, "--seconds", "1"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("\nECU lacks register 17 (AAC valve): shown as n/a.\n"), std::string::npos) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines.front(), CsvHeaderLine());
  // The AAC valve's cell is the eleventh value, after the time.
  const std::string& row = lines[5];
  const std::string separator = kCsvSeparator;
  size_t at = 0;
  for (int i = 0; i < 11; ++i) at = row.find(separator, at) + separator.size();
  EXPECT_EQ(row.substr(at, separator.size()), separator) << row;
}

// registers asks for each one alone; --registers streams a choice, and one
// over the frame budget is refused before anything is sent.
TEST_F(CliWithEcu, RegistersAreProbedAndAChoiceIsStreamed) {
  EcuSimulatorOptions options;
  options.lacks = {0x17};
  StartEcu(options);
  const RunResult probed = RunProgram(kCli, {"registers", "--port", port_}, dir_, "a");
  EXPECT_EQ(probed.status, 0) << probed.err;
  const std::vector<std::string> rows = SplitLines(probed.out);
  ASSERT_EQ(rows.size(), 1u + kCatalogueSize);
  EXPECT_EQ(rows[0], "address,name,unit,supported");
  EXPECT_EQ(rows[15], "0x17,AAC valve,%,no");
  EXPECT_NE(probed.out.find("0x11,intake air temperature,deg C,yes\n"), std::string::npos);
  EXPECT_NE(probed.out.find("0x06,MAF right high,mV,no\n"), std::string::npos);  // one air flow meter

  const RunResult streamed =
      RunProgram(kCli, {"stream", "--port", port_, "--seconds", "1", "--registers", "rpm,intaketemp"}, dir_, "b");
  EXPECT_EQ(streamed.status, 0) << streamed.err;
  const std::vector<std::string> lines = SplitLines(streamed.out);
  ASSERT_GE(lines.size(), 10u);
  EXPECT_NE(lines.front().find("Intake Air Temp [deg C]"), std::string::npos) << lines.front();

  const RunResult over = RunProgram(kCli, {"stream", "--port", port_, "--registers",
                                           RegisterNumbers(kEighteenMask) + ",11,0F,10"}, dir_, "c");
  EXPECT_EQ(over.status, 2);
  EXPECT_NE(over.err.find("21 registers: a frame carries at most 20"), std::string::npos) << over.err;
}

// active-test holds the test while the values print, and releases it at
// the end of its time and when told to end.
TEST_F(CliWithEcu, ActiveTestReleasesAtItsEndAndOnASignal) {
  StartEcu();
  const RunResult timed = RunProgram(kCli, {"active-test", "--port", port_, "--test", "fans", "--value", "2", "--seconds", "1"}, dir_, "a");
  EXPECT_EQ(timed.status, 0) << timed.err;
  EXPECT_NE(timed.err.find("OK. Active Test applied: Cooling fans high\n"), std::string::npos) << timed.err;
  EXPECT_NE(timed.err.find("OK. Active Test released: Cooling fans high\n"), std::string::npos) << timed.err;
  EXPECT_EQ(SplitLines(timed.out).front(), CsvHeaderLine());
  EXPECT_GE(SplitLines(timed.out).size(), 10u);
  EXPECT_TRUE(WaitFor([&] { return simulator_->TestReleases() == 1 && !simulator_->TestHeld(); }));

  Process held(kCli, {"active-test", "--port", port_, "--test", "aac", "--value", "35", "--seconds", "60"}, dir_, "b");
  ASSERT_TRUE(WaitFor([&] { return held.Err().find("Active Test applied") != std::string::npos; }));
  ASSERT_TRUE(WaitFor([&] { return simulator_->TestHeld(); }));
  held.Signal(SIGTERM);
  EXPECT_EQ(held.Wait(), 0) << held.Err();
  EXPECT_TRUE(WaitFor([&] { return simulator_->TestReleases() == 2 && !simulator_->TestHeld(); }));

  const RunResult refused = RunProgram(kCli, {"active-test", "--port", port_, "--test", "ignition", "--value", "5"}, dir_, "c");
  EXPECT_EQ(refused.status, 2);
  const RunResult outOfRange = RunProgram(kCli, {"active-test", "--port", port_, "--test", "aac", "--value", "101"}, dir_, "d");
  EXPECT_EQ(outOfRange.status, 2);
}
