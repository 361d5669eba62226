// torvane-cli log: the car computer's logger. Nobody sits at the keyboard:
// it waits for the cable, finds the ECU, writes each drive to a file of its
// own as it goes (on disk every half second, so the ignition cutting the
// power costs at most that), and tells the journal each thing that happens,
// one line each, until it is stopped.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "control/DriveLog.h"
#include "data/IniFile.h"
#include "control/ProgramObjects.h"
#include "control/Recovery.h"
#include "control/RegisterChoice.h"
#include "control/Session.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "data/RecordPeriod.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliRecorderView.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void Say(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

// Sleeps in short steps; false once a stop signal came.
bool Pause(std::chrono::milliseconds span) {
  const Clock::time_point until = Clock::now() + span;
  while (!CliStopSignalled()) {
    if (Clock::now() >= until) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The installed program's settings file, where the per-ECU register choice
// is kept: $XDG_CONFIG_HOME/torvane/tcon.ini, ~/.config/torvane/tcon.ini.
std::string DefaultSettingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return (fs::path(config) / "torvane" / "tcon.ini").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home != nullptr ? home : "/tmp") / ".config" / "torvane" / "tcon.ini").string();
}

bool DeviceThere(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

std::string Duration(uint32_t records) {
  const auto seconds = static_cast<long long>(records * kRecordPeriodS);
  char text[64];
  std::snprintf(text, sizeof text, "%lld min %02lld s", seconds / 60, seconds % 60);
  return text;
}

class Logger {
 public:
  Logger(const CliArguments& args, ProgramObjects& program, std::shared_ptr<CliRecorderView> view)
      : args_(args), program_(program), session_(program.session), view_(std::move(view)) {}

  // Until a stop signal: wait for the cable and the ECU, log its drives.
  void Run(int32_t fixedPort) {
    bool waitSaid = false;
    while (!CliStopSignalled()) {
      const int32_t number = fixedPort != 0 ? fixedPort : session_.FindCable();
      const std::string device = number != 0 ? program_.serialPort.DevicePath(number) : std::string();
      if (number == 0 || !DeviceThere(device)) {
        if (!waitSaid) Say("Waiting for the cable.");
        waitSaid = true;
        cableSaid_.clear();
        (void)Pause(std::chrono::seconds(1));
        continue;
      }
      if (cableSaid_ != device) Say("Cable found on COM" + std::to_string(number) + " (" + Escaped(device) + ").");
      cableSaid_ = device;
      std::string ecu;
      Session::ConnectStep reached = Session::ConnectStep::kOpen;
      const CommandOutcome connected = session_.Connect(number, true, ecu, reached);
      if (!connected.done) {
        if (session_.State().portOpen) (void)session_.ClosePort(number);
        if (!waitSaid) Say("No answer from the ECU: waiting for the ignition.");
        waitSaid = true;
        (void)Pause(std::chrono::seconds(2));
        continue;
      }
      waitSaid = false;
      Say("ECU " + ecu + " found (part number " + session_.EcuPartNumberRead() + ").");
      Drives(ecu);
      if (session_.State().portOpen) (void)session_.ClosePort(number);
    }
  }

 private:
  enum class End { kStopped, kLineGone, kEngineOff, kFull, kNotStarted };

  // The drives of one ECU, one after another, until its line is gone.
  void Drives(const std::string& ecu) {
    for (;;) {
      const End end = OneDrive(ecu);
      if (end == End::kStopped || end == End::kLineGone || end == End::kNotStarted) return;
      if (end == End::kEngineOff && !WaitForTheEngine()) return;
    }
  }

  End OneDrive(const std::string& ecu) {
    const IniFile ini(args_.settings.empty() ? DefaultSettingsPath() : args_.settings);
    session_.SetRegisters(args_.registers != 0 ? args_.registers
                                               : ReadRegisterChoice(ini, session_.EcuPartNumberRead()));
    const std::string file = FreshDriveFile(ecu);
    session_.SetWriteThrough(true);
    session_.WriteThroughTo(file);
    const CommandOutcome started = session_.Start(true);
    if (!started.done) {
      for (const std::string& line : started.lines) Say(line);
      Say("The ECU sent no stream: trying again.");
      (void)Pause(std::chrono::seconds(2));
      return End::kNotStarted;
    }
    // The drive's file is its copy: the log memory need not be recovered.
    session_.Recording().unsaved = 0;
    for (const std::string& line : started.lines)
      if (line.rfind("NG.", 0) == 0 || line.rfind("ECU lacks", 0) == 0) Say(line);
    Say("Drive started: " + Escaped(file));
    KeepWithinLimit(file);

    DriveWatch watch(Clock::now());
    Clock::time_point tidiedAt = Clock::now();
    End end = End::kStopped;
    while (Pause(std::chrono::milliseconds(100))) {
      if (view_->stopRequested.exchange(false)) {
        end = End::kFull;
        break;
      }
      const DriveWatch::Verdict verdict =
          watch.Look(Clock::now(), session_.LineLost(), session_.Recording().current.Load());
      if (verdict == DriveWatch::Verdict::kLineGone) {
        end = End::kLineGone;
        break;
      }
      if (verdict == DriveWatch::Verdict::kEngineOff) {
        end = End::kEngineOff;
        break;
      }
      if (Clock::now() - tidiedAt >= std::chrono::minutes(1)) {
        KeepWithinLimit(file);
        tidiedAt = Clock::now();
      }
    }
    const CommandOutcome stopped = session_.Stop();
    for (const std::string& line : stopped.lines)
      if (line.rfind("NG.", 0) == 0) Say(line);
    session_.Recording().unsaved = 0;
    session_.MarkRecording(false);
    const uint32_t kept = end == End::kLineGone ? TrimTrailingGaps(file) : session_.Recording().recordCount.load();
    const char* why = end == End::kLineGone    ? "the ECU stopped answering for 10 s"
                      : end == End::kEngineOff ? "the engine was off for 5 min"
                      : end == End::kFull      ? "the recording is full; the drive goes on in a new file"
                                               : "stopped";
    if (kept == 0) {
      // Stopped before its first record: nothing of a drive to keep.
      std::error_code ignored;
      fs::remove(file, ignored);
      Say("Drive ended before its first record (" + std::string(why) + "): " + Escaped(file) + " removed.");
      return end;
    }
    Say("Drive ended after " + Duration(kept) + " (" + why +
        "): " + Escaped(file));
    return end;
  }

  // The engine was off for a while with the ignition on: read on without a
  // file until it turns again (a new drive) or the ECU goes (false).
  bool WaitForTheEngine() {
    session_.SetWriteThrough(false);
    const bool started = session_.Start(true).done;
    session_.Recording().unsaved = 0;
    if (!started) return false;
    Say("Waiting for the engine to start.");
    std::optional<Clock::time_point> lostSince;
    bool turned = false;
    while (Pause(std::chrono::milliseconds(100))) {
      if (session_.LineLost()) {
        if (!lostSince) lostSince = Clock::now();
        if (Clock::now() - *lostSince >= DriveWatch::kLostEnds) break;
        continue;
      }
      lostSince.reset();
      const std::optional<int32_t> rpm = EngineSpeed(session_.Recording().current.Load());
      if (rpm && *rpm > 0) {
        turned = true;
        break;
      }
    }
    (void)session_.Stop();
    session_.Recording().unsaved = 0;
    session_.MarkRecording(false);
    if (!turned && !CliStopSignalled()) Say("The ECU stopped answering.");
    return turned;
  }

  // The silence that ended the drive (the ignition went off) is no part of
  // it: the file ends with the last record that holds values. Records are
  // of one size, so the cut falls between two of them.
  uint32_t TrimTrailingGaps(const std::string& file) {
    const uint32_t count = session_.Recording().recordCount.load();
    uint32_t keep = count;
    SampleRecord record;
    while (keep > 0 && FetchRecord(program_.logMemory, record, keep - 1) == Result::kOk && IsGap(record)) --keep;
    LogFileInfo info;
    std::string error;
    if (keep == count || ReadLogFileInfo(file, info, error) != Result::kOk || info.recordCount != count ||
        info.recordSize == 0)
      return count;
    std::error_code failed;
    fs::resize_file(file, static_cast<uintmax_t>(info.headerSize) + static_cast<uintmax_t>(keep) * info.recordSize,
                    failed);
    return failed ? count : keep;
  }

  std::string FreshDriveFile(const std::string& ecu) const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string name = DriveFileName(local, ecu);
    fs::path path = fs::path(args_.dir) / name;
    for (int n = 2; fs::exists(path) && n < 1000; ++n)
      path = fs::path(args_.dir) / (name.substr(0, name.size() - 4) + "_" + std::to_string(n) + ".eld");
    return path.string();
  }

  // --keep-mb: the oldest drives go, never the one being written.
  void KeepWithinLimit(const std::string& current) const {
    if (args_.keepMb == 0) return;
    std::vector<FolderFile> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(args_.dir, error)) {
      if (!entry.is_regular_file(error)) continue;
      files.push_back({entry.path().filename().string(), entry.file_size(error)});
    }
    const std::string currentName = fs::path(current).filename().string();
    for (const std::string& name : DrivesToDelete(files, currentName, args_.keepMb * 1024 * 1024)) {
      const fs::path path = fs::path(args_.dir) / name;
      if (fs::remove(path, error))
        Say("Deleted " + Escaped(path.string()) + " to keep the folder under " + std::to_string(args_.keepMb) +
            " MB.");
    }
  }

  const CliArguments& args_;
  ProgramObjects& program_;
  Session& session_;
  std::shared_ptr<CliRecorderView> view_;
  std::string cableSaid_;
};

}  // namespace

int LogCommand(const CliArguments& args) {
  ProgramObjects program;
  int32_t fixedPort = 0;
  if (!args.port.empty()) {
    if (const int r = ResolvePort(args, program.serialPort, fixedPort); r != kExitOk) return r;
  } else {
    for (const auto& [slot, path] : args.maps) program.serialPort.SetDevicePath(slot, path);
  }
  std::error_code error;
  fs::create_directories(args.dir, error);
  if (!fs::is_directory(args.dir, error)) {
    CliError("cannot make the folder " + Escaped(args.dir));
    return kExitFailed;
  }
  auto view = std::make_shared<CliRecorderView>(program.recordingClock.enable);
  for (const std::string& file : program.session.Begin(view, RecoveryFolder()))
    Say("An unsaved recording of an earlier run was recovered as " + Escaped(file) + ".");
  if (program.logMemory.SectionName(kLogMemorySlot).empty()) {
    CliError("cannot create the log memory");
    return kExitFailed;
  }
  InstallStopSignals();
  Logger(args, program, view).Run(fixedPort);
  program.session.Shutdown();
  Say("Logger stopped.");
  return kExitOk;
}
