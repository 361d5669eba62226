// How well the 10 ms recording clock keeps time: ticks per second, the
// worst lateness of a tick against its ideal moment (first tick + k x
// period), and the drift of the last tick. With --busy, every other core
// runs a spinning thread for the whole measurement. First, the CPU time a
// started but disabled clock costs per second of wall time (the state the
// program is in whenever nothing is recorded or played back).
//
//   torvane_bench_clock [--seconds 60] [--disabled-seconds 10] [--busy]
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "data/RecordingClock.h"
#include "bench/Measure.h"
#include "data/RecordPeriod.h"

using Clock = std::chrono::steady_clock;

namespace {

using bench::ProcessCpuSeconds;

// Milliseconds of CPU per second of wall time that a started clock costs
// while its enable flag stays 0; the main thread only sleeps meanwhile.
double DisabledCpuPerSecond(int seconds) {
  RecordingClock clock;
  clock.StartRecordingClock([] {});
  const double before = ProcessCpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (ProcessCpuSeconds() - before) * 1000.0 / wall;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int disabledSeconds = 10;
  bool busy = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--disabled-seconds") == 0 && i + 1 < argc)
      disabledSeconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--busy") == 0) busy = true;
    else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--disabled-seconds N] [--busy]\n", argv[0]);
      return 2;
    }
  }

  // Measured before the spinners start, so that only the clock is counted.
  const double disabledCpu = disabledSeconds > 0 ? DisabledCpuPerSecond(disabledSeconds) : 0.0;

  std::atomic<bool> stopSpinning{false};
  std::vector<std::thread> spinners;
  if (busy) {
    const unsigned others = std::max(1u, std::thread::hardware_concurrency() - 1);
    for (unsigned i = 0; i < others; ++i)
      spinners.emplace_back([&] {
        volatile uint64_t x = 0;
        while (!stopSpinning.load(std::memory_order_relaxed)) x = x + 1;
      });
  }

  const auto period = kRecordPeriod;
  const size_t expected = static_cast<size_t>(seconds) * 100;
  std::vector<Clock::time_point> ticks;
  ticks.reserve(expected + 200);
  std::atomic<size_t> count{0};
  std::chrono::nanoseconds clockWorst{0};

  {
    RecordingClock clock(period);
    clock.enable = 1;
    clock.StartRecordingClock([&] {
      if (ticks.size() < ticks.capacity()) ticks.push_back(Clock::now());
      count.fetch_add(1, std::memory_order_release);
    });
    while (count.load(std::memory_order_acquire) < expected)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    clock.enable = 0;
    clockWorst = clock.WorstLateness();
  }  // the clock's thread has ended here, so `ticks` is ours again
  stopSpinning = true;
  for (auto& t : spinners) t.join();

  const size_t n = std::min(ticks.size(), expected);
  // Lateness here is against the first tick as seen by the callback, so it
  // also counts the time from the clock's wake-up to the callback.
  double worst = 0;
  double sumLate = 0;
  for (size_t k = 0; k < n; ++k) {
    const auto ideal = ticks[0] + static_cast<int64_t>(k) * period;
    const double late = std::chrono::duration<double, std::milli>(ticks[k] - ideal).count();
    worst = std::max(worst, late);
    sumLate += late;
  }
  const double span = std::chrono::duration<double>(ticks[n - 1] - ticks[0]).count();
  const double drift =
      std::chrono::duration<double, std::milli>(ticks[n - 1] - (ticks[0] + static_cast<int64_t>(n - 1) * period))
          .count();
  std::printf("load:              %s\n", busy ? "other cores busy" : "idle");
  std::printf("ticks:             %zu over %.3f s\n", n, span);
  std::printf("ticks per second:  %.3f\n", static_cast<double>(n - 1) / span);
  std::printf("mean lateness:     %.3f ms\n", sumLate / static_cast<double>(n));
  std::printf("worst lateness:    %.3f ms (callback against the first tick)\n", worst);
  std::printf("worst lateness:    %.3f ms (clock's wake-up against its own deadline)\n",
              std::chrono::duration<double, std::milli>(clockWorst).count());
  std::printf("drift of last tick: %.3f ms\n", drift);
  if (disabledSeconds > 0)
    std::printf("disabled clock:    %.4f ms CPU per second over %d s\n", disabledCpu, disabledSeconds);
  return 0;
}
