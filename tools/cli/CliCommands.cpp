#include "tools/cli/CliCommands.h"

#include "data/RegisterList.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "control/LinkCommands.h"
#include "control/ProgramObjects.h"
#include "control/RecordingFiles.h"
#include "control/Recovery.h"
#include "control/Session.h"
#include "data/CsvWriter.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "data/LogFileV2.h"
#include "data/LogRecords.h"
#include "data/Memmap.h"
#include "data/RecordPeriod.h"
#include "data/RegisterList.h"
#include "data/Recorder.h"
#include "data/SampleRecord.h"
#include "link/SerialPort.h"
#include "tools/cli/CliRecorderView.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int) { stopSignal = 1; }

// Where status lines go: probe prints them with its answer; stream and
// record keep standard output for their data.
FILE* StatusStream(const CliArguments& args) {
  return args.command == "probe" ? stdout : stderr;
}

void Status(const CliArguments& args, const std::string& line) {
  std::fprintf(StatusStream(args), "%s\n", line.c_str());
  std::fflush(StatusStream(args));
}

bool DeviceExists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

int ResolvePort(const CliArguments& args, SerialPort& port, int32_t& number) {
  for (const auto& [slot, path] : args.maps) port.SetDevicePath(slot, path);
  number = PortNumberFromName(args.port);
  if (number != 0) return kExitOk;
  if (args.port.size() > 3 && args.port.compare(0, 3, "COM") == 0 &&
      args.port.find_first_not_of("0123456789", 3) == std::string::npos)
    return CliUsageError("port " + Escaped(args.port) + " is not one of COM1 to COM10");
  port.SetDevicePath(1, args.port);
  number = 1;
  return kExitOk;
}

namespace {

void Status(const CliArguments& args, const CommandOutcome& outcome) {
  for (const std::string& line : outcome.lines) Status(args, line);
}

// Opens, initialises and, with identify, reads the ECU number, as the ECU
// Auto Search does, with its status lines. The port stays open on success.
int Connect(const CliArguments& args, Session& session, int32_t number, bool identify, std::string& ecuNumber) {
  const std::string device = session.Instances().serialPort.DevicePath(number);
  Session::ConnectStep reached = Session::ConnectStep::kOpen;
  const CommandOutcome connected = session.Connect(number, identify, ecuNumber, reached);
  Status(args, connected);
  if (connected.done) return kExitOk;
  switch (reached) {
    case Session::ConnectStep::kOpen:
      CliError(DeviceExists(device) ? "cannot open " + Escaped(device) + " as a serial port (in use, or not a terminal)"
                                    : "cannot open " + Escaped(device) + ": no such device");
      return kExitFailed;
    case Session::ConnectStep::kInitialize:
      CliError("no answer from the ECU on " + Escaped(device));
      break;
    default:
      CliError("the ECU sent no ECU number");
      break;
  }
  (void)session.ClosePort(number);
  return kExitFailed;
}

int OpenAndInitialize(const CliArguments& args, Session& session, int32_t number) {
  std::string unused;
  return Connect(args, session, number, false, unused);
}

// Starts reading (and recording) from the first frame the ECU sends.
int StartFromFirstFrame(const CliArguments& args, Session& session, int32_t number) {
  session.SetRegisters(args.registers != 0 ? args.registers : kEighteenMask);
  const CommandOutcome started = session.Start(true);
  Status(args, started);
  if (!started.done) {
    WaitUntilQuiet(session.Instances().consultSession);
    (void)session.ClosePort(number);
    CliError(session.StreamedRegisters() == 0 || session.Instances().streamReceiver.refusedRegisters.load() != 0
                 ? "the ECU lacks every register asked for"
                 : "the ECU sent no stream frames");
    return kExitFailed;
  }
  return kExitOk;
}

// A new sample and the number of frames decoded when it was taken. The
// count is read on both sides of the copy so a frame that lands meanwhile
// is not taken for the next one.
uint64_t LoadSample(const RecorderState& state, SampleRecord& record) {
  for (;;) {
    const uint64_t before = state.framesDecoded.load(std::memory_order_acquire);
    record = state.current.Load();
    if (state.framesDecoded.load(std::memory_order_acquire) == before) return before;
  }
}

// The window's Stop, and then a wait for the line to go quiet before the
// port is closed: an ECU left streaming would talk to nobody.
void StopAndClose(const CliArguments& args, Session& session, int32_t number) {
  const CommandOutcome stopped = session.Stop();
  WaitUntilQuiet(session.Instances().consultSession);
  Status(args, stopped);
  (void)session.ClosePort(number);
}

std::string Milliseconds(Clock::duration d) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

void CliError(const std::string& message) { std::fprintf(stderr, "torvane-cli: %s\n", message.c_str()); }

int CliUsageError(const std::string& message) {
  std::fprintf(stderr, "torvane-cli: %s (see torvane-cli --help)\n", message.c_str());
  return kExitUsage;
}

bool CliStopSignalled() { return stopSignal != 0; }

void InstallStopSignals() {
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// ---- probe -----------------------------------------------------------------

int ProbeCommand(const CliArguments& args) {
  ProgramObjects program;
  int32_t number = 0;
  if (const int r = ResolvePort(args, program.serialPort, number); r != kExitOk) return r;
  Session& session = program.session;
  std::string ecuNumber;
  if (const int r = Connect(args, session, number, true, ecuNumber); r != kExitOk) return r;
  (void)session.ClosePort(number);
  const uint8_t init = session.Instances().consultSession.initAnswered.load();
  std::printf("%s\n%s\ninitialisation FF FF %02X\n", ecuNumber.c_str(), EcuPartNumber(ecuNumber).c_str(), init);
  return kExitOk;
}

// ---- registers -------------------------------------------------------------

int RegistersCommand(const CliArguments& args) {
  ProgramObjects program;
  int32_t number = 0;
  if (const int r = ResolvePort(args, program.serialPort, number); r != kExitOk) return r;
  Session& session = program.session;
  if (const int r = OpenAndInitialize(args, session, number); r != kExitOk) return r;
  RegisterMask has = 0;
  RegisterMask lacks = 0;
  const CommandOutcome probed = session.ProbeRegisters(has, lacks);
  Status(args, probed);
  (void)session.ClosePort(number);
  if (!probed.done) {
    CliError("the ECU answered no register request");
    return kExitFailed;
  }
  std::printf("address,name,unit,supported\n");
  for (int k = 0; k < kCatalogueSize; ++k) {
    const CatalogueRegister& reg = kCatalogue[static_cast<size_t>(k)];
    // A register without an answer is not one the program can read.
    std::printf("0x%02X,%s,%s,%s\n", reg.number, reg.name, RegisterUnit(k), (has >> k & 1) != 0 ? "yes" : "no");
  }
  return kExitOk;
}

// ---- codes and clear-codes ----------------------------------------------------------

int CodesCommand(const CliArguments& args) {
  ProgramObjects program;
  int32_t number = 0;
  if (const int r = ResolvePort(args, program.serialPort, number); r != kExitOk) return r;
  Session& session = program.session;
  if (const int r = OpenAndInitialize(args, session, number); r != kExitOk) return r;
  std::vector<FaultCode> codes;
  const CommandOutcome outcome =
      args.command == "clear-codes" ? session.ClearFaultCodes(codes) : session.ReadFaultCodes(codes);
  Status(args, outcome);
  (void)session.ClosePort(number);
  // What was read is printed even when the clearing was not confirmed.
  if (!codes.empty()) {
    std::fputs(FaultCodesCsv(codes).c_str(), stdout);
    std::fflush(stdout);
  }
  if (!outcome.done) {
    CliError(codes.empty() ? "the ECU sent no fault codes" : "the ECU did not confirm the clearing");
    return kExitFailed;
  }
  return kExitOk;
}

// ---- stream ----------------------------------------------------------------

int StreamCommand(const CliArguments& args) {
  // No log memory: the stream is printed, not recorded.
  ProgramObjects program;
  int32_t number = 0;
  if (const int r = ResolvePort(args, program.serialPort, number); r != kExitOk) return r;
  const std::string device = program.serialPort.DevicePath(number);
  Session& session = program.session;
  const RecorderState& state = program.recorderState;
  InstallStopSignals();
  // Without a view the loss and the return are status lines of their own.
  session.SetLinkReport([&args](const std::string& line) { Status(args, line); });
  session.SetReconnect(args.reconnect);
  if (const int r = OpenAndInitialize(args, session, number); r != kExitOk) return r;
  if (const int r = StartFromFirstFrame(args, session, number); r != kExitOk) return r;
  // active-test: the test rides on the stream, which prints as it goes.
  const bool testing = args.command == "active-test";
  if (testing) {
    const CommandOutcome applied = session.ApplyActiveTest(args.test, args.value);
    Status(args, applied);
    if (!applied.done) {
      StopAndClose(args, session, number);
      return kExitFailed;
    }
  }

  // The columns of what is streamed: the eighteen's (empty where the ECU
  // lacks one), then any beyond them.
  const RegisterMask streamed = session.StreamedRegisters();
  std::printf("%s\n", CsvHeaderLine(streamed).c_str());
  std::fflush(stdout);
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      args.seconds > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(args.seconds))
                       : Clock::time_point::max();
  uint64_t printed = 0;
  uint64_t missed = 0;
  uint64_t lastFrames = 0;
  int result = kExitOk;
  for (int pass = 0;; ++pass) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline || CliStopSignalled()) break;
    SampleRecord record;
    const uint64_t frames = LoadSample(state, record);
    if (frames != lastFrames) {
      missed += frames - lastFrames - 1;
      lastFrames = frames;
      std::printf("%s%s%s\n", Milliseconds(now - start).c_str(), kCsvSeparator,
                  CsvValuesPart(record, streamed).c_str());
      std::fflush(stdout);
      ++printed;
    }
    if (!args.reconnect && session.LineLost()) break;
    if (testing && pass % 50 == 0) {
      const CommandOutcome checked = session.CheckActiveTest();
      Status(args, checked);
      if (!checked.lines.empty()) {  // released before its time: the line is lost
        result = kExitFailed;
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // Released on every way out: the time, Ctrl-C, a line gone (the stop
  // byte below releases it too, should the request not go out).
  if (testing) Status(args, session.ReleaseActiveTest());
  const bool lost = session.LineLost();
  StopAndClose(args, session, number);
  if (lost && result == kExitOk) {
    CliError("the line to the ECU (" + Escaped(device) + ") was lost and did not come back");
    result = kExitLineLost;
  }
  std::fprintf(stderr, "%" PRIu64 " samples in %s ms", printed,
               Milliseconds(Clock::now() - start).c_str());
  if (missed != 0) std::fprintf(stderr, " (%" PRIu64 " frames came too fast to print)", missed);
  std::fprintf(stderr, "\n");
  return result;
}

// ---- record ----------------------------------------------------------------

int RecordCommand(const CliArguments& args) {
  ProgramObjects program;
  int32_t number = 0;
  if (const int r = ResolvePort(args, program.serialPort, number); r != kExitOk) return r;
  const std::string device = program.serialPort.DevicePath(number);
  Session& session = program.session;
  const RecorderState& state = program.recorderState;

  // The clock and the log memory, as the program starts them: what a killed
  // run of the program left unsaved is written to its recovery folder first.
  auto view = std::make_shared<CliRecorderView>(program.recordingClock.enable);
  for (const std::string& file : session.Begin(view, RecoveryFolder()))
    CliError("an unsaved recording of an earlier run was recovered as " + Escaped(file));
  if (program.logMemory.SectionName(kLogMemorySlot).empty()) {
    CliError("cannot create the log memory");
    return kExitFailed;
  }

  InstallStopSignals();
  session.SetReconnect(args.reconnect);
  // The file is written as the recording goes (a kill or a power cut
  // leaves all but the last second) and saved whole at the end.
  session.WriteThroughTo(args.out);
  if (const int r = OpenAndInitialize(args, session, number); r != kExitOk) return r;
  if (const int r = StartFromFirstFrame(args, session, number); r != kExitOk) return r;

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      args.seconds > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(args.seconds))
                       : Clock::time_point::max();
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline || CliStopSignalled() || view->stopRequested.load()) break;
    if (!args.reconnect && session.LineLost()) break;
    if (terminal) {
      const double elapsed = std::chrono::duration<double>(now - start).count();
      std::printf("\r%8.1f s  %7u records", elapsed, state.recordCount.load());
      std::fflush(stdout);
    }
    std::this_thread::sleep_until(std::min(deadline, now + std::chrono::milliseconds(100)));
  }
  // Once stopped no step runs: the record count is final.
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const bool lineLost = session.LineLost();
  StopAndClose(args, session, number);
  if (terminal) std::printf("\n");

  const uint32_t count = state.recordCount.load();
  if (lineLost) CliError("the line to the ECU (" + Escaped(device) + ") was lost and did not come back");
  if (count == 0) {
    CliError("nothing was recorded; " + Escaped(args.out) + " not written");
    return kExitFailed;
  }
  const CommandOutcome saved = session.Save(args.out);
  if (!saved.done) {
    Status(args, saved);
    // The log memory keeps it, marked unsaved: the window's next start
    // writes it to its recovery folder.
    CliError("cannot write " + Escaped(args.out) + "; the next start of torvane recovers the recording");
    return kExitFailed;
  }
  std::printf("%u records (%.2f s of recording, %.2f s elapsed) saved to %s\n", count,
              count * kRecordPeriodS, elapsed, Escaped(args.out).c_str());
  return lineLost ? kExitLineLost : kExitOk;
}

// ---- info ------------------------------------------------------------------

int InfoCommand(const CliArguments& args) {
  LogFileInfo info;
  std::string error;
  if (ReadLogFileInfo(args.file, info, error) != kLogFileOk) {
    CliError(Escaped(args.file) + ": " + error);
    return kExitFailed;
  }
  const uint64_t ms = static_cast<uint64_t>(RecordTimeMs(info.recordCount));
  std::printf("version: %s\n", Escaped(info.version).c_str());
  std::printf("records: %u\n", info.recordCount);
  std::printf("duration: %" PRIu64 " ms (%" PRIu64 ".%02" PRIu64 " s)\n", ms, ms / 1000,
              ms % 1000 / 10);
  // What only the second version says.
  if (info.version != "1.0") {
    std::printf("part number: %s\n", info.partNumber.empty() ? "unknown" : Escaped(info.partNumber).c_str());
    std::printf("start: %s\n", info.startUtcMs != 0 ? UtcIsoText(info.startUtcMs).c_str() : "unknown");
    std::printf("registers: %s\n", RegisterLabels(info.registers).c_str());
  }
  return kExitOk;
}

// ---- export ----------------------------------------------------------------

int ExportCommand(const CliArguments& args) {
  LogFileInfo info;
  std::string error;
  if (ReadLogFileInfo(args.file, info, error) != kLogFileOk) {
    CliError(Escaped(args.file) + ": " + error);
    return kExitFailed;
  }
  const int64_t last = static_cast<int64_t>(info.recordCount) - 1;
  const int64_t start = args.start >= 0 ? args.start : 0;
  const int64_t end = std::min(args.end >= 0 ? args.end : last, last);
  if (info.recordCount > 0 && start > end)
    return CliUsageError("--start " + std::to_string(start) + " is past the last record " +
                         std::to_string(last));

  LogMemory memory;
  if (CreateLogMemory(memory) == Result::kFailed) {
    CliError("cannot create the log memory");
    return kExitFailed;
  }
  RecorderState state;
  if (LoadLogFile(args.file, state, memory) != kLogFileOk) {
    CliError(Escaped(args.file) + ": cannot be loaded");
    return kExitFailed;
  }

  if (args.format == "overlay-csv" && state.startUtcMs == 0) {
    CliError(Escaped(args.file) +
             ": the log does not hold when it began (a version 1.0 file), so it has no UTC times for "
             "overlay-csv; --format csv or msl time records from its start");
    return kExitFailed;
  }

  int64_t written = 0;
  const auto records = LogMemoryRecords(memory, state.recordCount.load());
  Result result = kExportFailed;
  if (args.format == "msl")
    result = ExportMslFile(args.out, start, end, records,
                           {"Torvane log " + std::filesystem::path(args.file).filename().string()},
                           state.startUtcMs, written);
  else if (args.format == "overlay-csv")
    result = ExportOverlayCsvFile(args.out, start, end, records, state.startUtcMs, args.speedFactor, written);
  else
    result = ExportCsvFile(args.out, static_cast<int32_t>(start), static_cast<int32_t>(end), state, memory, nullptr,
                           written);
  if (result != kExportOk) {
    CliError("cannot write " + Escaped(args.out));
    return kExitFailed;
  }
  std::printf("%" PRId64 " lines written to %s\n", written, Escaped(args.out).c_str());
  return kExitOk;
}
