// The commands of torvane-cli. Each returns the process exit status:
// 0 success, 1 the port, the ECU or a file failed (ports: no cable found),
// 2 a usage error, 3 (stream, record) the line to the ECU was lost and had
// not come back when the command ended.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/PowerMeter.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLineLost = 3;

struct CliArguments {
  std::string command;
  std::string port;                                    // --port
  std::vector<std::pair<int32_t, std::string>> maps;   // --map COMn=PATH
  double seconds = 0;                                  // --seconds; 0: until Ctrl-C
  std::string out;                                     // --out
  std::string file;                                    // the log file of info and export
  int64_t start = -1;                                  // --start; -1: not given
  int64_t end = -1;                                    // --end; -1: not given
  std::string sysRoot;                                 // --sys-root; empty: /sys
  std::string devRoot;                                 // --dev-root; empty: /dev
  double distance = 400;                               // runs --distance: 400 or 1000 m
  VehicleFigures vehicle;                              // power --mass, --cda, --crr
  double speedFactor = 1.0;                            // runs, power --speed-factor
  std::string format = "csv";                          // export --format: csv or msl
  int64_t curve = -1;                                  // power --curve N (from 1); -1: not given
  int test = -1;                                       // active-test --test: a row of kActiveTests
  int value = 0;                                       // active-test --value
  uint64_t registers = 0;                              // stream, record --registers; 0: the eighteen
  bool reconnect = true;                               // stream, record: not with --no-reconnect
  std::string dir;                                     // log --dir: where the drives go
  uint64_t keepMb = 0;                                 // log --keep-mb; 0: keep everything
  std::string settings;                                // log --settings; empty: the program's tcon.ini
  std::string log;                                     // overlay --log: the recording
  std::string video;                                   // overlay --video: the clip
  double offset = 0;                                   // overlay --offset
  bool offsetGiven = false;                            //   else from the clocks
  std::vector<int> values;                             // overlay --values: rows of kAllValueColumns; empty: the default
  double from = 0;                                     // overlay --from
  double to = -1;                                      // overlay --to; -1: the clip's end
};

// Prints "torvane-cli: <message>" on standard error.
void CliError(const std::string& message);
int CliUsageError(const std::string& message);

// The port map and the port number from --port and --map; kExitOk, or a
// usage error for a COM name out of range.
class SerialPort;
int ResolvePort(const CliArguments& args, SerialPort& port, int32_t& number);

int ProbeCommand(const CliArguments& args);
// The car computer's logger: every drive to a file of its own, until stopped.
int LogCommand(const CliArguments& args);
// Every catalogue register, asked for alone: CSV address,name,unit,supported.
int RegistersCommand(const CliArguments& args);
int StreamCommand(const CliArguments& args);
// codes and clear-codes: the stored fault codes as CSV on standard output.
int CodesCommand(const CliArguments& args);
int RecordCommand(const CliArguments& args);
int InfoCommand(const CliArguments& args);
int ExportCommand(const CliArguments& args);
// The runs from a standing start in a log file, and its full-throttle pulls
// (or one pull's power curve), as CSV on standard output.
int RunsCommand(const CliArguments& args);
int PowerCommand(const CliArguments& args);
// Exit 0 when the cable was found, 1 when not.
int PortsCommand(const CliArguments& args);
// A clip written again with the recording's values over it; exit 1 with
// no file when it fails or is stopped.
int OverlayCommand(const CliArguments& args);
// The value keys of --values ("rpm,speed"), at most six; false with error
// naming every key.
bool ParseValueKeys(const std::string& text, std::vector<int>& columns, std::string& error);

// Set by SIGINT and SIGTERM; the streaming commands stop at it.
bool CliStopSignalled();
void InstallStopSignals();
