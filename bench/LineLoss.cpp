// A lost line and its return, and what writing a recording through costs.
//
// Loss: how long after the last frame the session says the line is lost.
// Return: how long after the ECU wakes from a power dip (deaf until
// initialised), or after the adapter comes back, frames flow again. Dips
// of several lengths meet the 2 s pace of the attempts at different
// phases. Write-through: the process's CPU while recording the simulated
// ECU, with and without the recording written through to a file, and the
// bytes a second and syncs a second it writes.
//
//   torvane_bench_line [--trials 5] [--seconds 20]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/Measure.h"
#include "bench/QuietView.h"
#include "control/ProgramObjects.h"
#include "tools/ecusim/EcuSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::QuietView;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Spread {
  std::vector<double> values;
  void Print(const char* what) const {
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    if (v.empty()) {
      std::printf("| %s | no trial succeeded |\n", what);
      return;
    }
    std::printf("| %s | %.0f | %.0f | %.0f | %zu |\n", what, v.front(), v[v.size() / 2], v.back(), v.size());
  }
};

// One reading against a fresh simulator; the fault is made, and the times
// of the last frame, the loss line, the wake and the first frame after it
// are taken by looking every millisecond.
bool Trial(bool unplug, double faultSeconds, int trial, Spread& loss, Spread& back) {
  const std::string link = "/tmp/torvane-bench-line-" + std::to_string(getpid());
  EcuSimulatorOptions options;
  options.linkPath = link;
  EcuSimulator ecu(options);
  if (!ecu.Start()) return false;
  ProgramObjects program(kRecordPeriod, ".MMF-bench-line-" + std::to_string(trial) + "-");
  program.serialPort.SetDevicePath(1, link);
  Session& session = program.session;
  std::atomic<int64_t> lostAt{0};
  session.SetLinkReport([&](const std::string& line) {
    if (line.rfind("NG.", 0) == 0) lostAt = Clock::now().time_since_epoch().count();
  });
  if (!session.OpenPort(1).done || !session.Initialize().done || !session.Start(true).done) return false;
  const std::atomic<uint64_t>& frames = program.recorderState.framesDecoded;
  // The watch looks every 100 ms from Start: the fault falls at a phase of
  // its own in each trial.
  std::this_thread::sleep_for(std::chrono::milliseconds(500 + 37 * trial % 100));
  uint64_t seen = frames.load();
  Clock::time_point lastFrame = Clock::now();
  if (unplug) ecu.Unplug(faultSeconds); else ecu.PowerDip(faultSeconds);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
  // The last frame before the loss.
  while (lostAt.load() == 0 && Clock::now() < deadline) {
    if (frames.load() != seen) {
      seen = frames.load();
      lastFrame = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (lostAt.load() == 0) return false;
  loss.values.push_back(Ms(Clock::time_point(Clock::duration(lostAt.load())) - lastFrame));
  // The wake, then the first frame after it.
  const auto up = [&] { return unplug ? ecu.Plugged() : ecu.Powered(); };
  while (!up() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Clock::time_point woke = Clock::now();
  seen = frames.load();
  while (frames.load() == seen && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (frames.load() == seen) return false;
  back.values.push_back(Ms(Clock::now() - woke));
  (void)session.Stop();
  (void)session.ClosePort(1);
  return true;
}

// CPU of the whole process over a reading of the given length; with
// through, the recording is also written to a file in folder.
struct Cost {
  double cpuPercent = 0;
  double bytesPerSecond = 0;
  double syncsPerSecond = 0;
};
bool Recording(bool through, double seconds, const std::string& folder, Cost& cost) {
  EcuSimulator ecu(EcuSimulatorOptions{});
  if (!ecu.Start()) return false;
  ProgramObjects program(kRecordPeriod, std::string(".MMF-bench-through-") + (through ? "on" : "off") + "-");
  program.serialPort.SetDevicePath(1, ecu.SlavePath());
  (void)program.session.Begin(std::make_shared<QuietView>(), folder);
  Session& session = program.session;
  session.SetWriteThrough(through);
  if (!session.OpenPort(1).done || !session.Initialize().done || !session.Start(true).done) return false;
  const double cpuBefore = bench::ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double cpu = bench::ProcessCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const WriteThroughFigures written = session.WriteThroughSoFar();
  (void)session.Stop();
  (void)session.ClosePort(1);
  cost.cpuPercent = 100.0 * cpu / wall;
  cost.bytesPerSecond = static_cast<double>(written.bytes) / wall;
  cost.syncsPerSecond = static_cast<double>(written.syncs) / wall;
  session.MarkRecording(false);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 5;
  double seconds = 20;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--trials") == 0) trials = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);
  }
  Spread dipLoss, dipBack, plugLoss, plugBack;
  int trial = 0;
  for (int k = 0; k < trials; ++k) {
    const double length = 1.0 + 0.5 * k;  // 1.0, 1.5, 2.0 ... s
    if (!Trial(false, length, trial++, dipLoss, dipBack)) std::fprintf(stderr, "power dip trial %d failed\n", k);
    if (!Trial(true, length, trial++, plugLoss, plugBack)) std::fprintf(stderr, "unplug trial %d failed\n", k);
  }
  std::printf("| figure (ms) | least | median | most | trials |\n|---|---|---|---|---|\n");
  dipLoss.Print("power dip: last frame to the loss line");
  plugLoss.Print("unplugged: last frame to the loss line");
  dipBack.Print("power dip: ECU awake to the first frame");
  plugBack.Print("unplugged: adapter back to the first frame");

  const std::string folder = (std::filesystem::temp_directory_path() / "torvane-bench-through").string();
  std::filesystem::create_directories(folder);
  Cost off, on;
  if (!Recording(false, seconds, folder, off) || !Recording(true, seconds, folder, on)) {
    std::fprintf(stderr, "the recording could not be started\n");
    return 1;
  }
  std::filesystem::remove_all(folder);
  std::printf("\n| recording %.0f s | CPU (whole process) | bytes a second | syncs a second |\n|---|---|---|---|\n",
              seconds);
  std::printf("| without writing through | %.2f %% | 0 | 0 |\n", off.cpuPercent);
  std::printf("| written through | %.2f %% | %.0f | %.1f |\n", on.cpuPercent, on.bytesPerSecond, on.syncsPerSecond);
  return 0;
}
