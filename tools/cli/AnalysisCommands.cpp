// runs and power: the timing and power figures of a saved recording, as CSV.
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "data/CsvWriter.h"
#include "data/LogFile.h"
#include "data/LogRecords.h"
#include "data/Memmap.h"
#include "analysis/PowerMeter.h"
#include "data/Recorder.h"
#include "analysis/RunTiming.h"
#include "tools/cli/CliCommands.h"

namespace {

// Fixed decimals with a point whatever the locale: the comma is the field
// separator here.
std::string Fixed(double value, int decimals) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

// The records of a log file, through the log memory as the program loads
// them. false after printing why.
bool LoadRecords(const std::string& file, std::vector<SampleRecord>& records) {
  LogFileInfo info;
  std::string error;
  if (ReadLogFileInfo(file, info, error) != Result::kOk) {
    CliError(file + ": " + error);
    return false;
  }
  LogMemory memory;
  if (CreateLogMemory(memory) != Result::kOk) {
    CliError("cannot create the log memory");
    return false;
  }
  RecorderState state;
  if (LoadLogFile(file, state, memory) != Result::kOk) {
    CliError(file + ": cannot be loaded");
    return false;
  }
  records = ReadLogRecords(memory, 0, state.recordCount.load());
  return true;
}

// A recording that never holds what the figures are made of gives none:
// saying so beats a list of no runs. false after printing which.
bool HoldsNeeds(const std::vector<SampleRecord>& records, RegisterMask (*needsMissing)(RegisterMask)) {
  const RegisterMask missing = needsMissing(RegistersHeld(RecordSpan(records)));
  if (missing == 0) return true;
  CliError(MissingNeedsText(missing));
  return false;
}

}  // namespace

int RunsCommand(const CliArguments& args) {
  std::vector<SampleRecord> records;
  if (!LoadRecords(args.file, records)) return kExitFailed;
  if (!HoldsNeeds(records, RunsNeedsMissing)) return kExitFailed;
  std::printf("start_ms,time_s,time_uncertainty_s,speed_kmh,zero_to_100_s,max_rpm\n");
  for (const RunResult& run : FindRuns(records, args.distance, args.speedFactor)) {
    // A run that never reached 100 km/h has no 0-100 time: the field is empty.
    const std::string zeroTo100 = run.zeroTo100S >= 0 ? Fixed(run.zeroTo100S, 3) : "";
    std::printf("%" PRId64 ",%s,%s,%s,%s,%d\n", run.startMs, Fixed(run.timeS, 3).c_str(),
                Fixed(run.timeUncertaintyS, 3).c_str(), Fixed(run.speedKmh, 1).c_str(),
                zeroTo100.c_str(), run.maxRpm);
  }
  return kExitOk;
}

int PowerCommand(const CliArguments& args) {
  std::vector<SampleRecord> records;
  if (!LoadRecords(args.file, records)) return kExitFailed;
  if (!HoldsNeeds(records, PullsNeedsMissing)) return kExitFailed;
  const std::vector<PullResult> pulls = FindPulls(records, args.vehicle, args.speedFactor);

  if (args.curve > 0) {
    if (static_cast<size_t>(args.curve) > pulls.size())
      return CliUsageError("--curve " + std::to_string(args.curve) + ": " + args.file + " holds " +
                           std::to_string(pulls.size()) + (pulls.size() == 1 ? " pull" : " pulls"));
    std::printf("rpm,kw,ps,wheel_torque_nm\n");
    for (const PowerPoint& point : pulls[static_cast<size_t>(args.curve - 1)].curve)
      std::printf("%s,%s,%s,%s\n", Fixed(point.rpm, 0).c_str(), Fixed(point.kw, 2).c_str(),
                  Fixed(point.ps, 2).c_str(), Fixed(point.wheelTorqueNm, 1).c_str());
    return kExitOk;
  }

  std::printf("start_ms,end_ms,peak_kw,peak_ps,peak_rpm\n");
  for (const PullResult& pull : pulls)
    std::printf("%" PRId64 ",%" PRId64 ",%s,%s,%s\n", pull.startMs, pull.endMs,
                Fixed(pull.peakKw, 1).c_str(), Fixed(pull.peakPs, 1).c_str(),
                Fixed(pull.peakRpm, 0).c_str());
  return kExitOk;
}
