// torvane-cli: the Consult link and the recorder without a window, for a
// car computer or a terminal.
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "analysis/ValueSettings.h"
#include "data/Escape.h"
#include "data/RegisterList.h"
#include "link/ActiveTests.h"
#include "link/SerialPort.h"
#include "tools/cli/CliCommands.h"

namespace {

// What a command is, in one place: its usage, the options it takes, what it
// cannot run without and what runs it. A new command is a new row.
struct CliCommand {
  const char* name;
  const char* synopsis;  // the operands and options as the usage shows them
  const char* help;      // what it does: the usage's lines, without indent
  const char* options;   // the options it takes, separated by spaces
  const char* required;  // those it cannot run without
  bool takesLogFile;     // a FILE.eld operand
  int (*run)(const CliArguments&);
};

constexpr CliCommand kCommands[] = {
    {"probe", "--port P",
     "open, initialise, read the ECU number (and\n"
     "its full part number, 23710-...) and say\n"
     "which initialisation it answered",
     "--port --map", "--port", false, ProbeCommand},
    {"registers", "--port P",
     "ask for every register the program knows, one\n"
     "at a time, as CSV: address,name,unit,supported",
     "--port --map", "--port", false, RegistersCommand},
    {"codes", "--port P",
     "the ECU's stored fault codes, as CSV:\n"
     "code,raw,starts,meaning (code 55: no malfunction)",
     "--port --map", "--port", false, CodesCommand},
    {"clear-codes", "--port P",
     "clear the stored codes, then print what is\n"
     "left, as codes does",
     "--port --map", "--port", false, CodesCommand},
    {"active-test", "--port P --test NAME [--value V] [--seconds S]",
     "start reading, hold one active test for S\n"
     "seconds (default 10, at most 60) while the\n"
     "values print as stream does, then release it\n"
     "(also at Ctrl-C). NAME and V: coolant -20..110\n"
     "(deg C), injection 80..120 (%), aac 0..100 (%),\n"
     "power-balance 1..6 (cylinder cut), fuel-pump\n"
     "0|1, clear-learning, fans 0|1|2 (off, low,\n"
     "high); power-balance and fuel-pump only at a\n"
     "standstill",
     "--port --map --test --value --seconds", "--port --test", false, StreamCommand},
    {"stream", "--port P [--seconds N] [--registers LIST] [--no-reconnect]",
     "print one CSV line per new sample",
     "--port --map --seconds --registers --no-reconnect", "--port", false, StreamCommand},
    {"record", "--port P --out FILE.eld [--seconds N] [--registers LIST] [--no-reconnect]",
     "record every 10 ms into a log file, written\n"
     "as it records and on disk every half second",
     "--port --map --out --seconds --registers --no-reconnect", "--port --out", false, RecordCommand},
    {"log", "--dir DIR [--port P] [--registers LIST] [--keep-mb N] [--settings FILE]",
     "the car computer's logger: runs until stopped;\n"
     "waits for the cable (the search's, or P) and the\n"
     "ECU, and writes each drive to a file of its own\n"
     "as it goes, DIR/YYYY-MM-DD_HHMMSS_<ECU number>.eld\n"
     "(local time). A drive ends when the ECU has not\n"
     "answered for 10 s or the engine speed has read 0\n"
     "for 5 min; a shorter loss is a gap in it. The\n"
     "registers are the ECU's choice in the settings\n"
     "file unless --registers. One line per event on\n"
     "standard error; SIGTERM ends the file cleanly",
     "--dir --port --map --registers --keep-mb --settings", "--dir", false, LogCommand},
    {"info", "FILE.eld", "version, record count and duration", "", "", true, InfoCommand},
    {"export", "FILE.eld --out FILE.csv [--start I] [--end J] [--format csv|msl|overlay-csv] [--speed-factor F]",
     "write records I..J as CSV lines (CR LF), as a\n"
     "log viewer's .msl file (--format msl) or as an\n"
     "overlay renderer's CSV (--format overlay-csv:\n"
     "Time in UTC,RPM,KPH,Throttle in %)",
     "--out --start --end --format --speed-factor", "--out", true, ExportCommand},
    {"ports", "[--map COMn=PATH] [--sys-root DIR] [--dev-root DIR]",
     "list the serial devices, their COM slots and\n"
     "access, and the COM port of the cable",
     "--map --sys-root --dev-root", "", false, PortsCommand},
    {"runs", "FILE.eld [--distance 400|1000] [--speed-factor F]",
     "the runs from a standing start, as CSV:\n"
     "start_ms,time_s,time_uncertainty_s,speed_kmh,\n"
     "zero_to_100_s,max_rpm (0-100 empty: not reached)",
     "--distance --speed-factor", "", true, RunsCommand},
    {"power", "FILE.eld --mass KG [--cda M2] [--crr C] [--curve N] [--speed-factor F]",
     "the full-throttle pulls, as CSV:\n"
     "start_ms,end_ms,peak_kw,peak_ps,peak_rpm;\n"
     "with --curve N the N-th pull's curve (1 = first):\n"
     "rpm,kw,ps,wheel_torque_nm",
     "--mass --cda --crr --curve --speed-factor", "--mass", true, PowerCommand},
    {"overlay", "--log FILE.eld --video CLIP --out OUT.mp4 [--offset S] [--values LIST] [--from S] [--to S]",
     "write the clip again with the recording's\n"
     "values over it, in step (H.264 .mp4, the sound\n"
     "kept); \"NN %\" lines on standard error as it goes",
     "--log --video --out --offset --values --from --to --speed-factor", "--log --video --out", false,
     OverlayCommand},
};

struct CliOption {
  const char* name;
  const char* value;  // its value as the usage names it; nullptr: a flag
  const char* help;   // the usage's lines; nullptr: told with its commands
};

constexpr CliOption kOptions[] = {
    {"--port", "P",
     "COM1..COM10 (through the port map) or a device path\n"
     "(a path is mapped to COM1 and COM1 is opened)"},
    {"--map", "COMn=PATH",
     "set slot n of the port map (default /dev/ttyUSB<n-1>);\n"
     "may be repeated"},
    {"--seconds", "N",
     "stop after N seconds (default: at Ctrl-C); record also\n"
     "stops when the log memory is full (900,001 records)"},
    {"--registers", "LIST",
     "the registers to stream instead of the eighteen: hex\n"
     "numbers, register or value names, comma separated\n"
     "(\"rpm,speed,11,fuel temperature\"); at most 20 bytes a frame"},
    {"--no-reconnect", nullptr,
     "when the ECU sends nothing for 1 s (the line is lost),\n"
     "stop there; without it the ECU is sought again every\n"
     "2 s (the port opened anew if its device went away) and\n"
     "the reading goes on, a gap in the recording between"},
    {"--dir", "DIR", "log: the folder of the drives (made when missing)"},
    {"--keep-mb", "N",
     "log: keep the folder under N MB by deleting the oldest\n"
     "drives, never the one being written"},
    {"--settings", "FILE",
     "log: the settings file with the register choice per ECU\n"
     "(default $XDG_CONFIG_HOME/torvane/tcon.ini)"},
    {"--start", "I", "first record to export (default 0)"},
    {"--format", "F",
     "csv (default: the spreadsheet CSV, CR LF), msl (the\n"
     "log viewers' tab-separated text, MegaLogViewer's .msl)\n"
     "or overlay-csv (for tools that draw gauges over a video;\n"
     "needs a log that holds its start time, version 2)"},
    {"--end", "J",
     "last record to export (default and at most the last\n"
     "record of the file); --start beyond it is an error"},
    {"--sys-root", "DIR", "look for devices in DIR/class/tty (default /sys)"},
    {"--dev-root", "DIR", "device nodes are DIR/<tty> (default /dev)"},
    {"--distance", "M", "400 (default) or 1000 metres"},
    {"--mass", "KG", "the car's mass with driver"},
    {"--cda", "M2", "drag area (default 0.65)"},
    {"--crr", "C", "rolling-resistance coefficient (default 0.015)"},
    {"--speed-factor", "F",
     "true speed over the speed register's, 0.5 to 2.0\n"
     "(default 1; tyres or a final drive that differ from stock;\n"
     "export: overlay-csv's KPH only)"},
    {"--log", "FILE", "overlay: the recording"},
    {"--video", "CLIP", "overlay: the clip, any video FFmpeg reads"},
    {"--offset", "S",
     "overlay: the recording's time when the clip begins, in\n"
     "seconds (default: by the clip's creation time and the\n"
     "recording's start when both are known, else 0)"},
    {"--values", "LIST",
     "overlay: up to six value keys, comma separated (default\n"
     "rpm,speed,throttle,coolant; a wrong key lists them)"},
    {"--from", "S", "overlay: where in the clip the video starts (default 0)"},
    {"--to", "S", "overlay: where it ends (default: the clip's end)"},
    {"--out", "FILE", nullptr},
    {"--test", "NAME", nullptr},
    {"--value", "V", nullptr},
    {"--curve", "N", nullptr},
};

const char kUsageEnd[] =
    "Status lines (\"OK. ...\" / \"NG. ...\") go to standard output for probe and to\n"
    "standard error for stream, record, codes and clear-codes, whose standard\n"
    "output is data.\n"
    "Exit status: 0 success, 1 the port, the ECU or a file failed (ports: no\n"
    "cable found), 2 usage error, 3 (stream, record) the line to the ECU was lost\n"
    "and had not come back at the end.\n";

// Text after a left column of the given width: on the same line when the
// column leaves room, each further line indented to it.
void AppendColumns(std::string& usage, const std::string& left, size_t width, std::string_view text) {
  usage += left;
  if (left.size() < width) {
    usage.append(width - left.size(), ' ');
  } else {
    usage += '\n';
    usage.append(width, ' ');
  }
  for (char c : text) {
    usage += c;
    if (c == '\n') usage.append(width, ' ');
  }
  usage += '\n';
}

std::string Usage() {
  std::string usage = "usage: torvane-cli COMMAND [options]\n\n";
  for (const CliCommand& command : kCommands) {
    std::string name = command.name;
    if (name.size() < 6) name.append(6 - name.size(), ' ');
    AppendColumns(usage, "  " + name + " " + command.synopsis, 34, command.help);
  }
  usage += '\n';
  for (const CliOption& option : kOptions) {
    if (option.help == nullptr) continue;
    const std::string left = std::string("  ") + option.name + (option.value ? std::string(" ") + option.value : "");
    AppendColumns(usage, left, 20, option.help);
  }
  return usage + "\n" + kUsageEnd;
}

// A whole word of a space-separated list.
bool Lists(std::string_view list, std::string_view word) {
  while (!list.empty()) {
    const size_t space = list.find(' ');
    if (list.substr(0, space) == word) return true;
    if (space == std::string_view::npos) break;
    list.remove_prefix(space + 1);
  }
  return false;
}

const CliCommand* FindCommand(std::string_view name) {
  for (const CliCommand& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

const CliOption* FindOption(std::string_view name) {
  for (const CliOption& option : kOptions)
    if (name == option.name) return &option;
  return nullptr;
}

std::string ActiveTestNames() {
  std::string names;
  for (const ActiveTest& test : kActiveTests) names += (names.empty() ? "" : ", ") + std::string(test.name);
  return names;
}

bool ParseSeconds(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && value > 0 && value < 1e7;
}

// A number with a decimal point whatever the locale (a car's figures are
// written the same everywhere); the whole text must be the number, and it
// must lie in [low, high] and not be low itself unless lowAllowed.
bool ParseFigure(const char* text, double low, double high, bool lowAllowed, double& value) {
  const char* end = text + std::strlen(text);
  double v = 0;
  const auto result = std::from_chars(text, end, v);
  if (result.ec != std::errc() || result.ptr != end || end == text) return false;
  if (!(v >= low && v <= high) || (!lowAllowed && v == low)) return false;
  value = v;
  return true;
}

bool ParseIndex(const char* text, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0) return false;
  value = v;
  return true;
}


// One option's value into args; an empty result, or why the value is wrong.
std::string ParseOption(std::string_view name, const char* value, CliArguments& args) {
  const std::string text = value != nullptr ? value : "";
  if (name == "--dir") {
    args.dir = text;
    if (args.dir.empty()) return "--dir needs a folder";
  } else if (name == "--keep-mb") {
    int64_t mb = 0;
    if (!ParseIndex(value, mb) || mb < 1 || mb > 100000000)
      return "--keep-mb needs a number of MB (1 or more), not " + Escaped(text);
    args.keepMb = static_cast<uint64_t>(mb);
  } else if (name == "--settings") {
    args.settings = text;
    if (args.settings.empty()) return "--settings needs a file";
  } else if (name == "--port") {
    args.port = text;
    if (args.port.empty()) return "--port needs a value";
  } else if (name == "--map") {
    const size_t eq = text.find('=');
    const int32_t slot = eq == std::string::npos ? 0 : PortNumberFromName(text.substr(0, eq));
    if (slot == 0 || eq + 1 >= text.size()) return "--map needs COMn=PATH with n from 1 to 10, not " + Escaped(text);
    args.maps.emplace_back(slot, text.substr(eq + 1));
  } else if (name == "--seconds") {
    if (args.command == "active-test") {
      if (!ParseSeconds(value, args.seconds) || args.seconds > 60)
        return "--seconds needs a number of seconds up to 60, not " + Escaped(text);
    } else if (!ParseSeconds(value, args.seconds)) {
      return "--seconds needs a positive number, not " + Escaped(text);
    }
  } else if (name == "--registers") {
    std::string error;
    if (!ParseRegisters(text, args.registers, error)) return "--registers: " + error;
  } else if (name == "--no-reconnect") {
    args.reconnect = false;
  } else if (name == "--test") {
    args.test = FindActiveTest(text);
    if (args.test < 0) return "--test needs one of " + ActiveTestNames() + ", not " + Escaped(text);
  } else if (name == "--value") {
    int64_t number = 0;
    const bool negative = text[0] == '-';
    if (!ParseIndex(value + (negative ? 1 : 0), number) || number > 1000)
      return "--value needs a whole number, not " + Escaped(text);
    args.value = static_cast<int>(negative ? -number : number);
  } else if (name == "--out") {
    args.out = text;
    if (args.out.empty()) return "--out needs a file name";
  } else if (name == "--format") {
    args.format = text;
    if (args.format != "csv" && args.format != "msl" && args.format != "overlay-csv")
      return "--format is csv, msl or overlay-csv, not " + Escaped(text);
  } else if (name == "--start" || name == "--end") {
    if (!ParseIndex(value, name == "--start" ? args.start : args.end))
      return std::string(name) + " needs a record index (0 or more), not " + Escaped(text);
  } else if (name == "--sys-root" || name == "--dev-root") {
    (name == "--sys-root" ? args.sysRoot : args.devRoot) = text;
    if (text.empty()) return std::string(name) + " needs a folder";
  } else if (name == "--distance") {
    if (text != "400" && text != "1000") return "--distance is 400 or 1000, not " + Escaped(text);
    args.distance = text == "400" ? 400 : 1000;
  } else if (name == "--mass") {
    if (!ParseFigure(value, 0, 100000, false, args.vehicle.massKg))
      return "--mass needs a positive number of kg, not " + Escaped(text);
  } else if (name == "--cda") {
    if (!ParseFigure(value, 0, 100, false, args.vehicle.cdaM2))
      return "--cda needs a positive drag area in m2, not " + Escaped(text);
  } else if (name == "--crr") {
    if (!ParseFigure(value, 0, 1, true, args.vehicle.crr))
      return "--crr needs a coefficient from 0 to 1, not " + Escaped(text);
  } else if (name == "--speed-factor") {
    if (!ParseFigure(value, ValueSettings::kMinSpeedFactor, ValueSettings::kMaxSpeedFactor, true, args.speedFactor))
      return "--speed-factor needs a factor from 0.5 to 2.0, not " + Escaped(text);
  } else if (name == "--log" || name == "--video") {
    (name == "--log" ? args.log : args.video) = text;
    if (text.empty()) return std::string(name) + " needs a file";
  } else if (name == "--offset") {
    if (!ParseFigure(value, -1e7, 1e7, true, args.offset))
      return "--offset needs a number of seconds, not " + Escaped(text);
    args.offsetGiven = true;
  } else if (name == "--values") {
    std::string error;
    if (!ParseValueKeys(text, args.values, error)) return "--values: " + error;
  } else if (name == "--from" || name == "--to") {
    if (!ParseFigure(value, 0, 1e7, name == "--from", name == "--from" ? args.from : args.to))
      return std::string(name) + " needs a number of seconds, not " + Escaped(text);
  } else if (name == "--curve") {
    if (!ParseIndex(value, args.curve) || args.curve < 1)
      return "--curve needs a pull number (1 or more), not " + Escaped(text);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers in CSV lines take the user's decimal separator, as the export
  // dialog's do.
  std::setlocale(LC_ALL, "");

  if (argc < 2) return CliUsageError("no command given");
  CliArguments args;
  args.command = argv[1];
  if (args.command == "--help" || args.command == "-h" || args.command == "help") {
    std::fputs(Usage().c_str(), stdout);
    return kExitOk;
  }
  const CliCommand* command = FindCommand(args.command);
  if (command == nullptr) return CliUsageError("unknown command " + Escaped(args.command));

  std::string given;  // the options given, separated by spaces
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(Usage().c_str(), stdout);
      return kExitOk;
    }
    const CliOption* option = FindOption(arg);
    if (option != nullptr && Lists(command->options, arg)) {
      if (option->value != nullptr && i + 1 >= argc) return CliUsageError(Escaped(arg) + " needs a value");
      const std::string error = ParseOption(arg, option->value != nullptr ? argv[++i] : nullptr, args);
      if (!error.empty()) return CliUsageError(error);
      given += arg + " ";
    } else if (!arg.empty() && arg[0] != '-' && command->takesLogFile && args.file.empty()) {
      args.file = arg;
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsageError("option " + Escaped(arg) + " does not belong to " + Escaped(args.command));
    } else {
      return CliUsageError("unexpected argument " + Escaped(arg));
    }
  }
  if (command->takesLogFile && args.file.empty()) return CliUsageError(args.command + " needs a log file");
  for (const CliOption& option : kOptions) {
    if (!Lists(command->required, option.name) || Lists(given, option.name)) continue;
    const bool test = std::string_view(option.name) == "--test";
    return CliUsageError(args.command + " needs " + option.name + (test ? " (one of " + ActiveTestNames() + ")" : ""));
  }
  if (args.command == "active-test") {
    const ActiveTest& test = kActiveTests[static_cast<size_t>(args.test)];
    const bool valueGiven = Lists(given, "--value");
    if (!valueGiven && test.minValue != test.maxValue) return CliUsageError("active-test needs --value");
    if (!valueGiven) args.value = test.restValue;
    if (!ActiveTestValueAllowed(test, args.value))
      return CliUsageError("--value of " + std::string(test.name) + " goes from " + std::to_string(test.minValue) +
                           " to " + std::to_string(test.maxValue));
    if (args.seconds == 0) args.seconds = 10;
  }
  if (args.start >= 0 && args.end >= 0 && args.start > args.end)
    return CliUsageError("--start must not be after --end");
  return command->run(args);
}
