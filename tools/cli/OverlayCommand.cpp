// overlay: a clip written again with a recording's values over it.
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "data/Escape.h"
#include "data/LogFile.h"
#include "tools/cli/CliCommands.h"
#include "video/ClipFile.h"
#include "video/GaugeRender.h"
#include "video/OverlayWriter.h"

namespace {

const char* const kDefaultValues[] = {"rpm", "speed", "throttle", "coolant"};

// Fixed decimals with a point whatever the locale.
std::string Fixed(double value, int decimals) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

std::string ValueKeys() {
  std::string keys;
  for (const ValueColumn& column : kAllValueColumns) keys += (keys.empty() ? "" : ", ") + std::string(column.key);
  return keys;
}

// The recording's time when the clip begins: given, or by the camera's
// and the recording's clocks when both are known. A line on standard
// error says which, as a wrong one shows only in the finished video.
double ChooseOffset(const CliArguments& args, const ClipInfo& clip, const LogFileInfo& log) {
  if (args.offsetGiven) {
    std::fprintf(stderr, "offset %s s, as given\n", Fixed(args.offset, 3).c_str());
    return args.offset;
  }
  if (clip.creationUtcMs != 0 && log.startUtcMs != 0) {
    const double offset = static_cast<double>(clip.creationUtcMs - log.startUtcMs) / 1000;
    std::fprintf(stderr, "offset %s s, by the clocks: the clip began %s, the recording %s\n", Fixed(offset, 3).c_str(),
                 UtcIsoText(clip.creationUtcMs).c_str(), UtcIsoText(log.startUtcMs).c_str());
    return offset;
  }
  std::fprintf(stderr, "offset 0 s: %s no start time (--offset sets it)\n",
               clip.creationUtcMs == 0 ? "the clip gives" : "the recording has");
  return 0;
}

}  // namespace

bool ParseValueKeys(const std::string& text, std::vector<int>& columns, std::string& error) {
  columns.clear();
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    const std::string key = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const int column = ValueColumnOf(key);
    if (column < 0) {
      error = "no value has the key " + Escaped(key) + "; the keys are " + ValueKeys();
      return false;
    }
    columns.push_back(column);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (columns.size() > static_cast<size_t>(kMaxGauges)) {
    error = "at most " + std::to_string(kMaxGauges) + " values go on a video";
    return false;
  }
  return true;
}

int OverlayCommand(const CliArguments& args) {
  if (args.to >= 0 && args.to <= args.from) return CliUsageError("--to must be after --from");
  InstallStopSignals();
  std::string error;
  LogFileInfo log;
  std::vector<SampleRecord> records;
  if (ReadLogFileInfo(args.log, log, error) != Result::kOk ||
      ReadLogFileRecords(args.log, records, error) != Result::kOk) {
    CliError(Escaped(args.log) + ": " + error);
    return kExitFailed;
  }
  ClipInfo clip;
  if (!ProbeClip(args.video, clip, error)) {
    CliError(error);
    return kExitFailed;
  }

  OverlayJob job;
  job.clip = args.video;
  job.out = args.out;
  job.offsetS = ChooseOffset(args, clip, log);
  job.fromS = args.from;
  job.toS = args.to;
  job.columns = args.values;
  if (job.columns.empty())
    for (const char* key : kDefaultValues) job.columns.push_back(ValueColumnOf(key));
  job.settings.speedFactor = args.speedFactor;

  int shown = -1;
  const auto progress = [&](double fraction) {
    const int percent = static_cast<int>(fraction * 100);
    if (percent != shown) std::fprintf(stderr, "%d %%\n", percent);
    shown = percent;
    return !CliStopSignalled();
  };
  if (WriteOverlayVideo(job, RecordSpan(records), progress, error) != Result::kOk) {
    CliError(CliStopSignalled() ? "stopped; " + Escaped(args.out) + " not written" : error);
    return kExitFailed;
  }
  return kExitOk;
}
