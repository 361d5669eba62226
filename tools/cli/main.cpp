// torvane-cli: the Consult link and the recorder without a window, for a
// car computer or a terminal.
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/ValueSettings.h"
#include "data/Escape.h"
#include "data/RegisterList.h"
#include "link/ActiveTests.h"
#include "link/SerialPort.h"
#include "tools/cli/CliCommands.h"

namespace {

const char kUsage[] =
    "usage: torvane-cli COMMAND [options]\n"
    "\n"
    "  probe  --port P                 open, initialise, read the ECU number (and\n"
    "                                  its full part number, 23710-...) and say\n"
    "                                  which initialisation it answered\n"
    "  registers --port P              ask for every register the program knows, one\n"
    "                                  at a time, as CSV: address,name,unit,supported\n"
    "  codes  --port P                 the ECU's stored fault codes, as CSV:\n"
    "                                  code,raw,starts,meaning (code 55: no malfunction)\n"
    "  clear-codes --port P            clear the stored codes, then print what is\n"
    "                                  left, as codes does\n"
    "  active-test --port P --test NAME [--value V] [--seconds S]\n"
    "                                  start reading, hold one active test for S\n"
    "                                  seconds (default 10, at most 60) while the\n"
    "                                  values print as stream does, then release it\n"
    "                                  (also at Ctrl-C). NAME and V: coolant -20..110\n"
    "                                  (deg C), injection 80..120 (%), aac 0..100 (%),\n"
    "                                  power-balance 1..6 (cylinder cut), fuel-pump\n"
    "                                  0|1, clear-learning, fans 0|1|2 (off, low,\n"
    "                                  high); power-balance and fuel-pump only at a\n"
    "                                  standstill\n"
    "  stream --port P [--seconds N] [--registers LIST] [--no-reconnect]\n"
    "                                  print one CSV line per new sample\n"
    "  record --port P --out FILE.eld [--seconds N] [--registers LIST] [--no-reconnect]\n"
    "                                  record every 10 ms into a log file, written\n"
    "                                  as it records and on disk every half second\n"
    "  log    --dir DIR [--port P] [--registers LIST] [--keep-mb N] [--settings FILE]\n"
    "                                  the car computer's logger: runs until stopped;\n"
    "                                  waits for the cable (the search's, or P) and the\n"
    "                                  ECU, and writes each drive to a file of its own\n"
    "                                  as it goes, DIR/YYYY-MM-DD_HHMMSS_<ECU number>.eld\n"
    "                                  (local time). A drive ends when the ECU has not\n"
    "                                  answered for 10 s or the engine speed has read 0\n"
    "                                  for 5 min; a shorter loss is a gap in it. The\n"
    "                                  registers are the ECU's choice in the settings\n"
    "                                  file unless --registers. One line per event on\n"
    "                                  standard error; SIGTERM ends the file cleanly\n"
    "  info   FILE.eld                 version, record count and duration\n"
    "  export FILE.eld --out FILE.csv [--start I] [--end J] [--format csv|msl]\n"
    "                                  write records I..J as CSV lines (CR LF) or\n"
    "                                  as a log viewer's .msl file (--format msl)\n"
    "  ports  [--map COMn=PATH] [--sys-root DIR] [--dev-root DIR]\n"
    "                                  list the serial devices, their COM slots and\n"
    "                                  access, and the COM port of the cable\n"
    "  runs   FILE.eld [--distance 400|1000] [--speed-factor F]\n"
    "                                  the runs from a standing start, as CSV:\n"
    "                                  start_ms,time_s,time_uncertainty_s,speed_kmh,\n"
    "                                  zero_to_100_s,max_rpm (0-100 empty: not reached)\n"
    "  power  FILE.eld --mass KG [--cda M2] [--crr C] [--curve N] [--speed-factor F]\n"
    "                                  the full-throttle pulls, as CSV:\n"
    "                                  start_ms,end_ms,peak_kw,peak_ps,peak_rpm;\n"
    "                                  with --curve N the N-th pull's curve (1 = first):\n"
    "                                  rpm,kw,ps,wheel_torque_nm\n"
    "\n"
    "  --port P          COM1..COM10 (through the port map) or a device path\n"
    "                    (a path is mapped to COM1 and COM1 is opened)\n"
    "  --map COMn=PATH   set slot n of the port map (default /dev/ttyUSB<n-1>);\n"
    "                    may be repeated\n"
    "  --seconds N       stop after N seconds (default: at Ctrl-C); record also\n"
    "                    stops when the log memory is full (900,001 records)\n"
    "  --registers LIST  the registers to stream instead of the eighteen: hex\n"
    "                    numbers, register or value names, comma separated\n"
    "                    (\"rpm,speed,11,fuel temperature\"); at most 20 bytes a frame\n"
    "  --no-reconnect    when the ECU sends nothing for 1 s (the line is lost),\n"
    "                    stop there; without it the ECU is sought again every\n"
    "                    2 s (the port opened anew if its device went away) and\n"
    "                    the reading goes on, a gap in the recording between\n"
    "  --dir DIR         log: the folder of the drives (made when missing)\n"
    "  --keep-mb N       log: keep the folder under N MB by deleting the oldest\n"
    "                    drives, never the one being written\n"
    "  --settings FILE   log: the settings file with the register choice per ECU\n"
    "                    (default $XDG_CONFIG_HOME/torvane/tcon.ini)\n"
    "  --start I         first record to export (default 0)\n"
    "  --format F        csv (default: the spreadsheet CSV, CR LF) or msl (the\n"
    "                    log viewers' tab-separated text, MegaLogViewer's .msl)\n"
    "  --end J           last record to export (default and at most the last\n"
    "                    record of the file); --start beyond it is an error\n"
    "  --sys-root DIR    look for devices in DIR/class/tty (default /sys)\n"
    "  --dev-root DIR    device nodes are DIR/<tty> (default /dev)\n"
    "  --distance M      400 (default) or 1000 metres\n"
    "  --mass KG         the car's mass with driver\n"
    "  --cda M2          drag area (default 0.65)\n"
    "  --crr C           rolling-resistance coefficient (default 0.015)\n"
    "  --speed-factor F  true speed over the speed register's, 0.5 to 2.0\n"
    "                    (default 1; tyres or a final drive that differ from stock)\n"
    "\n"
    "Status lines (\"OK. ...\" / \"NG. ...\") go to standard output for probe and to\n"
    "standard error for stream, record, codes and clear-codes, whose standard\n"
    "output is data.\n"
    "Exit status: 0 success, 1 the port, the ECU or a file failed (ports: no\n"
    "cable found), 2 usage error, 3 (stream, record) the line to the ECU was lost\n"
    "and had not come back at the end.\n";

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

}  // namespace

int main(int argc, char** argv) {
  // Numbers in CSV lines take the user's decimal separator, as the export
  // dialog's do.
  std::setlocale(LC_ALL, "");

  if (argc < 2) return CliUsageError("no command given");
  CliArguments args;
  args.command = argv[1];
  if (args.command == "--help" || args.command == "-h" || args.command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const bool linkCommand =
      args.command == "probe" || args.command == "stream" || args.command == "record" ||
      args.command == "codes" || args.command == "clear-codes" || args.command == "active-test" ||
      args.command == "registers";
  const bool analysisCommand = args.command == "runs" || args.command == "power";
  const bool fileCommand = args.command == "info" || args.command == "export" || analysisCommand;
  const bool portsCommand = args.command == "ports";
  const bool logCommand = args.command == "log";
  if (!linkCommand && !fileCommand && !portsCommand && !logCommand)
    return CliUsageError("unknown command " + Escaped(args.command));

  bool massGiven = false;
  bool valueGiven = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    const bool takesValue = arg == "--port" || arg == "--map" || arg == "--seconds" ||
                            arg == "--out" || arg == "--start" || arg == "--end" ||
                            arg == "--sys-root" || arg == "--dev-root" || arg == "--distance" ||
                            arg == "--mass" || arg == "--cda" || arg == "--crr" || arg == "--curve" || arg == "--speed-factor" || arg == "--format" ||
                            arg == "--test" || arg == "--value" || arg == "--registers" || arg == "--dir" ||
                            arg == "--keep-mb" || arg == "--settings";
    if (takesValue && i + 1 >= argc) return CliUsageError(Escaped(arg) + " needs a value");
    if (arg == "--dir" && logCommand) {
      args.dir = argv[++i];
      if (args.dir.empty()) return CliUsageError("--dir needs a folder");
    } else if (arg == "--keep-mb" && logCommand) {
      int64_t mb = 0;
      if (!ParseIndex(argv[++i], mb) || mb < 1 || mb > 100000000)
        return CliUsageError("--keep-mb needs a number of MB (1 or more), not " + Escaped(argv[i]));
      args.keepMb = static_cast<uint64_t>(mb);
    } else if (arg == "--settings" && logCommand) {
      args.settings = argv[++i];
      if (args.settings.empty()) return CliUsageError("--settings needs a file");
    } else if (arg == "--port" && (linkCommand || logCommand)) {
      args.port = argv[++i];
      if (args.port.empty()) return CliUsageError("--port needs a value");
    } else if (arg == "--map" && (linkCommand || portsCommand || logCommand)) {
      const std::string map = argv[++i];
      const size_t eq = map.find('=');
      const int32_t slot = eq == std::string::npos ? 0 : PortNumberFromName(map.substr(0, eq));
      if (slot == 0 || eq + 1 >= map.size())
        return CliUsageError("--map needs COMn=PATH with n from 1 to 10, not " + Escaped(map));
      args.maps.emplace_back(slot, map.substr(eq + 1));
    } else if (arg == "--seconds" && (args.command == "stream" || args.command == "record")) {
      if (!ParseSeconds(argv[++i], args.seconds))
        return CliUsageError("--seconds needs a positive number, not " + Escaped(argv[i]));
    } else if (arg == "--registers" && (args.command == "stream" || args.command == "record" || logCommand)) {
      std::string error;
      if (!ParseRegisters(argv[++i], args.registers, error)) return CliUsageError("--registers: " + error);
    } else if (arg == "--no-reconnect" && (args.command == "stream" || args.command == "record")) {
      args.reconnect = false;
    } else if (arg == "--seconds" && args.command == "active-test") {
      if (!ParseSeconds(argv[++i], args.seconds) || args.seconds > 60)
        return CliUsageError("--seconds needs a number of seconds up to 60, not " + Escaped(argv[i]));
    } else if (arg == "--test" && args.command == "active-test") {
      args.test = FindActiveTest(argv[++i]);
      if (args.test < 0) return CliUsageError("--test needs one of " + ActiveTestNames() + ", not " + Escaped(argv[i]));
    } else if (arg == "--value" && args.command == "active-test") {
      int64_t value = 0;
      const char* text = argv[++i];
      const bool negative = text[0] == '-';
      if (!ParseIndex(text + (negative ? 1 : 0), value) || value > 1000)
        return CliUsageError("--value needs a whole number, not " + Escaped(text));
      args.value = static_cast<int>(negative ? -value : value);
      valueGiven = true;
    } else if (arg == "--out" && (args.command == "record" || args.command == "export")) {
      args.out = argv[++i];
      if (args.out.empty()) return CliUsageError("--out needs a file name");
    } else if (arg == "--format" && args.command == "export") {
      args.format = argv[++i];
      if (args.format != "csv" && args.format != "msl")
        return CliUsageError("--format is csv or msl, not " + Escaped(args.format));
    } else if (arg == "--start" && args.command == "export") {
      if (!ParseIndex(argv[++i], args.start))
        return CliUsageError("--start needs a record index (0 or more), not " +
                             Escaped(argv[i]));
    } else if (arg == "--end" && args.command == "export") {
      if (!ParseIndex(argv[++i], args.end))
        return CliUsageError("--end needs a record index (0 or more), not " +
                             Escaped(argv[i]));
    } else if (arg == "--sys-root" && portsCommand) {
      args.sysRoot = argv[++i];
      if (args.sysRoot.empty()) return CliUsageError("--sys-root needs a folder");
    } else if (arg == "--dev-root" && portsCommand) {
      args.devRoot = argv[++i];
      if (args.devRoot.empty()) return CliUsageError("--dev-root needs a folder");
    } else if (arg == "--distance" && args.command == "runs") {
      const std::string v = argv[++i];
      if (v != "400" && v != "1000") return CliUsageError("--distance is 400 or 1000, not " + Escaped(v));
      args.distance = v == "400" ? 400 : 1000;
    } else if (arg == "--mass" && args.command == "power") {
      if (!ParseFigure(argv[++i], 0, 100000, false, args.vehicle.massKg))
        return CliUsageError("--mass needs a positive number of kg, not " + Escaped(argv[i]));
      massGiven = true;
    } else if (arg == "--cda" && args.command == "power") {
      if (!ParseFigure(argv[++i], 0, 100, false, args.vehicle.cdaM2))
        return CliUsageError("--cda needs a positive drag area in m2, not " + Escaped(argv[i]));
    } else if (arg == "--crr" && args.command == "power") {
      if (!ParseFigure(argv[++i], 0, 1, true, args.vehicle.crr))
        return CliUsageError("--crr needs a coefficient from 0 to 1, not " + Escaped(argv[i]));
    } else if (arg == "--speed-factor" && (args.command == "runs" || args.command == "power")) {
      if (!ParseFigure(argv[++i], ValueSettings::kMinSpeedFactor, ValueSettings::kMaxSpeedFactor, true,
                       args.speedFactor))
        return CliUsageError("--speed-factor needs a factor from 0.5 to 2.0, not " + Escaped(argv[i]));
    } else if (arg == "--curve" && args.command == "power") {
      if (!ParseIndex(argv[++i], args.curve) || args.curve < 1)
        return CliUsageError("--curve needs a pull number (1 or more), not " + Escaped(argv[i]));
    } else if (!arg.empty() && arg[0] != '-' && fileCommand && args.file.empty()) {
      args.file = arg;
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsageError("option " + Escaped(arg) + " does not belong to " + Escaped(args.command));
    } else {
      return CliUsageError("unexpected argument " + Escaped(arg));
    }
  }
  if (linkCommand && args.port.empty()) return CliUsageError(args.command + " needs --port");
  if (logCommand && args.dir.empty()) return CliUsageError("log needs --dir");
  if (fileCommand && args.file.empty()) return CliUsageError(args.command + " needs a log file");
  if ((args.command == "record" || args.command == "export") && args.out.empty())
    return CliUsageError(args.command + " needs --out");
  if (args.command == "power" && !massGiven) return CliUsageError("power needs --mass");
  if (args.command == "active-test") {
    if (args.test < 0) return CliUsageError("active-test needs --test (one of " + ActiveTestNames() + ")");
    const ActiveTest& test = kActiveTests[static_cast<size_t>(args.test)];
    if (!valueGiven && test.minValue != test.maxValue) return CliUsageError("active-test needs --value");
    if (!valueGiven) args.value = test.restValue;
    if (!ActiveTestValueAllowed(test, args.value))
      return CliUsageError("--value of " + std::string(test.name) + " goes from " + std::to_string(test.minValue) +
                           " to " + std::to_string(test.maxValue));
    if (args.seconds == 0) args.seconds = 10;
  }
  if (args.start >= 0 && args.end >= 0 && args.start > args.end)
    return CliUsageError("--start must not be after --end");

  if (args.command == "probe") return ProbeCommand(args);
  if (args.command == "registers") return RegistersCommand(args);
  if (args.command == "stream") return StreamCommand(args);
  if (args.command == "codes" || args.command == "clear-codes") return CodesCommand(args);
  if (args.command == "active-test") return StreamCommand(args);
  if (args.command == "record") return RecordCommand(args);
  if (logCommand) return LogCommand(args);
  if (args.command == "info") return InfoCommand(args);
  if (portsCommand) return PortsCommand(args);
  if (args.command == "runs") return RunsCommand(args);
  if (args.command == "power") return PowerCommand(args);
  return ExportCommand(args);
}
