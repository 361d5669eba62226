// torvane-ecu-sim: a Consult ECU on a pseudo-terminal, for the demo, for
// tests and for anyone without a car at the desk.
#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "data/Escape.h"
#include "tools/ecusim/EcuSimulator.h"

namespace {

const char kUsage[] =
    "usage: torvane-ecu-sim [options]\n"
    "Serves a simulated Consult ECU on a pseudo-terminal. The first line on\n"
    "standard output is the slave device path to open as the serial port;\n"
    "each time the adapter comes back after being unplugged, its new path\n"
    "follows on a line of its own.\n"
    "\n"
    "  --seed N             engine run to simulate (default 1)\n"
    "  --ecu-number TEXT    five-character ECU number (default 8JU17); one without\n"
    "                       a 'U' as its third character comes as export-market\n"
    "                       ECUs send theirs: after 17 bytes of identification\n"
    "  --long-number        the ECU number reply is 32 data bytes, as some late ECUs\n"
    "                       send it, in either layout\n"
    "  --init-ed            a late ECU: answers the initialisation FF FF ED with 12\n"
    "                       and ignores FF FF EF (without it FF FF EF is answered\n"
    "                       with 10 and FF FF ED ignored)\n"
    "  --twin-maf           two air flow meters: the right bank's registers (06 07\n"
    "                       0A 1B 22 23) read like the left bank's; without it the\n"
    "                       ECU lacks them\n"
    "  --baud N             pace the line as this baud would (default 9600)\n"
    "  --link PATH          make PATH a symbolic link to the slave device\n"
    "                       (an old link is replaced; removed at exit)\n"
    "  --frame-log FILE     write every frame sent as one line of hex bytes\n"
    "  --no-init            never answer the initialisation\n"
    "  --stray-bytes        now and then stray bytes between frames\n"
    "  --ff-in-frame        now and then a register reads 255 (FF as data)\n"
    "  --cut-frames         now and then a frame cut short\n"
    "  --lacks LIST         registers the ECU does not have, in hex (17,1A): the\n"
    "                       echo of the request marks them FE, the stream\n"
    "                       leaves them out\n"
    "  --lacks-silent       after a request with a register it lacks (FE in the\n"
    "                       echo), stream nothing until the next request; without\n"
    "                       it the ECU streams the registers it has\n"
    "  --codes LIST         stored fault codes for the self-diagnosis (D1), each\n"
    "                       CODE[:STARTS]: CODE as the lamp blinks it (12) or a\n"
    "                       raw byte in hex (0xA3), STARTS the engine starts\n"
    "                       since it was seen (default 0); 12:3,34\n"
    "  --repeat-replies     send each reply again and again until the stop byte,\n"
    "                       then one more frame and CF; the stream ends so too\n"
    "  --dead-maf           the air flow meter reads 0 mV and stores code 12,\n"
    "                       found again after a clear\n"
    "  --echo-inverted      an extra inverted copy of every byte received, ahead\n"
    "                       of the ECU's own echo of the commands\n"
    "  --close-after SECS   close the line (and exit) after SECS seconds\n"
    "  --power-dip AT,FOR   AT seconds after the first stream request, the ECU\n"
    "                       loses its power for FOR seconds (5,3): it sends\n"
    "                       nothing, cutting the frame on its way, and loses what\n"
    "                       it is sent; then it wakes as from power-up, streaming\n"
    "                       nothing and deaf to all but its initialisation\n"
    "  --unplug AT,FOR      AT seconds after the first stream request, the\n"
    "                       USB-serial adapter is unplugged for FOR seconds: the\n"
    "                       device hangs up and goes, with the --link; then a new\n"
    "                       device comes (the link to it under the same path) and\n"
    "                       the ECU, which never knew, goes on as it was\n"
    "  --dip-seconds N      how long the dips of SIGUSR1 last (default 5)\n"
    "  --unplug-seconds N   how long SIGUSR2 unplugs the adapter (default 5)\n"
    "  --drag-run           drive standing starts and full-throttle pulls instead\n"
    "                       of the everyday drive (see below)\n"
    "  --idle               nobody drives: the engine idles on with the car standing\n"
    "                       (for the active tests); not with --drag-run\n"
    "  --restless           every measured value changes in every frame (by one\n"
    "                       step where the engine would leave it): the most a\n"
    "                       display has to follow; the switch banks stay as the\n"
    "                       engine sets them\n"
    "  --help               this text\n"
    "Stops on SIGINT or SIGTERM. To pull the plug by hand: kill -USR1 PID cuts\n"
    "the ECU's power at once (for --dip-seconds), kill -USR2 PID unplugs the\n"
    "adapter at once (for --unplug-seconds).\n"
    "\n"
    "The ECU echoes the commands it takes as real ones do: each command byte\n"
    "inverted (D0 as 2F, D1 as 2E, C1 as 3E, 5A as A5, 0A as F5), its parameters\n"
    "as sent, not the terminator F0. C1 F0 clears the stored codes.\n"
    "\n"
    "Active tests: 0A TT VV, alone or among the 5A NN of a stream request before\n"
    "F0, holds test TT at value VV until the stop byte 30 or an initialisation,\n"
    "and the engine answers as a car's would: 80 coolant temperature the ECU\n"
    "takes (deg C + 50; it fuels, idles and switches the fans by it), 81\n"
    "injection time trim (percent), 84 idle air valve (percent x 2; the idle\n"
    "speed follows it), 88 power balance (each set bit cuts a cylinder of six:\n"
    "the idle speed drops, and with three cut it stalls), 89 fuel pump (0 off:\n"
    "it stalls, and is started again once released), 8B clear the learned\n"
    "values, 93 and 94 low and high fan (0 off, 1 on). Any other test number is\n"
    "echoed and changes nothing.\n"
    "\n"
    "The drag run: 3 s at a standstill (the last second in first gear, clutch\n"
    "down, revs held at 4000 rpm), the clutch let in at once, full throttle\n"
    "(4300 mV) through the gears, shifting at 6800 rpm (0.35 s with the throttle\n"
    "shut), for 1150 m (first to fourth gear); then braking at 7 m/s^2 to a\n"
    "stop, and again. The first start comes 3 s after the stream starts.\n"
    "The car: 1400 kg with driver, drag area 0.65 m^2, rolling resistance 0.015,\n"
    "air 1.2 kg/m^3, nothing rotating to speed up; road speed per 1000 rpm 8,\n"
    "14, 21, 28 and 35 km/h in gears 1 to 5. Wheel power at full throttle:\n"
    "118 kW x (1 - ((rpm - 5600) / 4400)^2), a peak of 118 kW (160.4 PS) at\n"
    "5600 rpm; 91 kW at 3500 rpm, 109 kW at 6800 rpm. Each run: 0-100 km/h in\n"
    "6.61 s, 400 m in 14.56 s (149.6 km/h), 1000 m in 27.02 s (189.8 km/h).\n"
    "The speed register truncates to 2 km/h steps, as a real ECU's does. The\n"
    "car moves in real time: a line held up costs frames, not time.\n";

int UsageError(const std::string& message) {
  // The message quotes the arguments as given.
  std::fprintf(stderr, "torvane-ecu-sim: %s (see --help)\n", Escaped(message).c_str());
  return 2;
}

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One or two digits of the base, nothing else.
bool ParseByte(const std::string& text, int base, int& value) {
  if (text.empty() || text.size() > 2) return false;
  value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return false;
    value = value * base + digit;
  }
  return true;
}

// Seconds, as a positive number; zero too when allowed.
bool ParseSeconds(const std::string& text, double& seconds, bool zeroAllowed = false) {
  return ParseNumber(text.c_str(), seconds) && std::isfinite(seconds) &&
         (seconds > 0 || (zeroAllowed && seconds == 0));
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t from = 0;
  for (size_t at; (at = text.find(',', from)) != std::string::npos; from = at + 1)
    items.push_back(text.substr(from, at - from));
  items.push_back(text.substr(from));
  return items;
}

// AT,FOR: when after the first stream request (0: at once), and how long.
bool ParseFault(const std::string& text, double& at, double& seconds) {
  const std::vector<std::string> items = SplitList(text);
  return items.size() == 2 && ParseSeconds(items[0], at, true) && ParseSeconds(items[1], seconds);
}

bool ParseRegisters(const std::string& text, std::vector<uint8_t>& registers) {
  registers.clear();
  for (const std::string& item : SplitList(text)) {
    int value = 0;
    if (!ParseByte(item, 16, value)) return false;
    registers.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

// A code is given as the lamp blinks it, which the ECU keeps as BCD (12 is
// the byte 0x12), or as any byte in hex, to simulate one no lamp can show.
bool ParseCodes(const std::string& text, std::vector<StoredCode>& codes) {
  codes.clear();
  for (const std::string& item : SplitList(text)) {
    const size_t colon = item.find(':');
    const std::string code = item.substr(0, colon);
    StoredCode stored;
    int value = 0;
    if (code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X')) {
      if (!ParseByte(code.substr(2), 16, value)) return false;
      stored.code = static_cast<uint8_t>(value);
    } else {
      if (!ParseByte(code, 10, value)) return false;
      stored.code = static_cast<uint8_t>(value / 10 * 16 + value % 10);
    }
    if (colon != std::string::npos) {
      const std::string starts = item.substr(colon + 1);
      if (starts.empty() || starts.size() > 3 ||
          starts.find_first_not_of("0123456789") != std::string::npos || std::stoi(starts) > 255)
        return false;
      stored.starts = static_cast<uint8_t>(std::stoi(starts));
    }
    codes.push_back(stored);
  }
  return codes.size() <= 127;  // the pairs of one reply frame
}

struct FrameLog {
  FILE* file = nullptr;
};

void WriteFrame(const SentFrame& frame, void* context) {
  FILE* file = static_cast<FrameLog*>(context)->file;
  std::fprintf(file, "%llu %s", static_cast<unsigned long long>(frame.number),
               frame.fault == FrameFault::None        ? "ok"
               : frame.fault == FrameFault::FfInFrame ? "ff"
                                                      : "cut");
  for (uint8_t v : frame.values) std::fprintf(file, " %02X", v);
  std::fputc('\n', file);
}

}  // namespace

int main(int argc, char** argv) {
  EcuSimulatorOptions options;
  options.frameLogLimit = 0;  // the executable keeps no log in memory
  std::string frameLogPath;
  double dipSeconds = 5;
  double unplugSeconds = 5;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // The value of an option that takes one; null when it is missing.
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    double number = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--seed") {
      const char* v = value();
      if (v == nullptr || !ParseNumber(v, number) || number < 0)
        return UsageError("--seed needs a non-negative number");
      options.seed = static_cast<uint64_t>(number);
    } else if (arg == "--ecu-number") {
      const char* v = value();
      if (v == nullptr || std::strlen(v) != 5) return UsageError("--ecu-number needs five characters");
      options.ecuNumber = v;
    } else if (arg == "--baud") {
      const char* v = value();
      if (v == nullptr || !ParseNumber(v, number) || number < 1 || number > 100000000)
        return UsageError("--baud needs a positive number");
      options.baud = static_cast<int32_t>(number);
    } else if (arg == "--link") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return UsageError("--link needs a path");
      options.linkPath = v;
    } else if (arg == "--frame-log") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return UsageError("--frame-log needs a file name");
      frameLogPath = v;
    } else if (arg == "--close-after") {
      const char* v = value();
      if (v == nullptr || !ParseNumber(v, number) || number <= 0)
        return UsageError("--close-after needs a positive number of seconds");
      options.closeAfterSeconds = number;
    } else if (arg == "--power-dip") {
      const char* v = value();
      if (v == nullptr || !ParseFault(v, options.powerDipAt, options.powerDipFor))
        return UsageError("--power-dip needs AT,FOR in seconds, such as 5,3");
    } else if (arg == "--unplug") {
      const char* v = value();
      if (v == nullptr || !ParseFault(v, options.unplugAt, options.unplugFor))
        return UsageError("--unplug needs AT,FOR in seconds, such as 5,3");
    } else if (arg == "--dip-seconds") {
      const char* v = value();
      if (v == nullptr || !ParseSeconds(v, dipSeconds))
        return UsageError("--dip-seconds needs a positive number of seconds");
    } else if (arg == "--unplug-seconds") {
      const char* v = value();
      if (v == nullptr || !ParseSeconds(v, unplugSeconds))
        return UsageError("--unplug-seconds needs a positive number of seconds");
    } else if (arg == "--no-init") {
      options.noInit = true;
    } else if (arg == "--stray-bytes") {
      options.strayBytes = true;
    } else if (arg == "--ff-in-frame") {
      options.ffInFrame = true;
    } else if (arg == "--cut-frames") {
      options.cutFrames = true;
    } else if (arg == "--drag-run") {
      options.dragRun = true;
    } else if (arg == "--restless") {
      options.restless = true;
    } else if (arg == "--idle") {
      options.idleOnly = true;
    } else if (arg == "--echo-inverted") {
      options.echoInverted = true;
    } else if (arg == "--lacks") {
      const char* v = value();
      if (v == nullptr || !ParseRegisters(v, options.lacks))
        return UsageError("--lacks needs register numbers in hex, such as 17,1A");
    } else if (arg == "--codes") {
      const char* v = value();
      if (v == nullptr || !ParseCodes(v, options.codes))
        return UsageError("--codes needs codes such as 12:3,34,0xA3:2 (at most 127)");
    } else if (arg == "--repeat-replies") {
      options.repeatReplies = true;
    } else if (arg == "--dead-maf") {
      options.deadMaf = true;
    } else if (arg == "--long-number") {
      options.longNumber = true;
    } else if (arg == "--init-ed") {
      options.initEd = true;
    } else if (arg == "--twin-maf") {
      options.twinMaf = true;
    } else if (arg == "--lacks-silent") {
      options.lacksSilent = true;
    } else {
      return UsageError("unknown option " + arg);
    }
  }

  FrameLog frameLog;
  if (!frameLogPath.empty()) {
    frameLog.file = std::fopen(frameLogPath.c_str(), "w");
    if (frameLog.file == nullptr) {
      std::fprintf(stderr, "torvane-ecu-sim: cannot write %s: %s\n", Escaped(frameLogPath).c_str(),
                   std::strerror(errno));
      return 1;
    }
    setvbuf(frameLog.file, nullptr, _IOLBF, 0);  // readable while the simulator runs
  }

  // The signals are taken by sigtimedwait below; blocking them first keeps
  // them off the simulator's thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  EcuSimulator simulator(options);
  if (frameLog.file != nullptr) simulator.SetFrameObserver(WriteFrame, &frameLog);
  if (!simulator.Start()) {
    std::fprintf(stderr, "torvane-ecu-sim: %s\n", Escaped(simulator.Error()).c_str());
    return 1;
  }
  std::printf("%s\n", simulator.SlavePath().c_str());
  std::fflush(stdout);

  const timespec tick{0, 100000000};
  uint64_t replugs = 0;
  while (simulator.Running()) {
    if (simulator.Replugs() != replugs) {
      replugs = simulator.Replugs();
      std::printf("%s\n", simulator.SlavePath().c_str());
      std::fflush(stdout);
    }
    const int taken = sigtimedwait(&signals, nullptr, &tick);
    if (taken == SIGUSR1) {
      simulator.PowerDip(dipSeconds);
    } else if (taken == SIGUSR2) {
      simulator.Unplug(unplugSeconds);
    } else if (taken > 0) {
      break;
    }
  }
  simulator.Stop();
  if (frameLog.file != nullptr) std::fclose(frameLog.file);
  return 0;
}
