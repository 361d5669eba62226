// What warnings and peak hold add to each sample the display shows: every
// limit of every value switched on, peak hold on all twelve, fed with the
// values of a recorded-like drive whose coolant hovers at its limit; and
// what the warning tone's pace costs each display tick while a warning
// lasts (the clock read and the bell asked).
//
//   torvane_bench_value_watch --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <vector>

#include "analysis/ValueSettings.h"
#include "analysis/WarningBell.h"

namespace {

std::vector<std::array<int32_t, kValueCount>> Drive() {
  std::vector<std::array<int32_t, kValueCount>> samples(4096);
  for (size_t i = 0; i < samples.size(); ++i) {
    for (int c = 0; c < kValueCount; ++c) {
      const ValueColumn& column = kValueColumns[static_cast<size_t>(c)];
      const int32_t span = column.rangeMax - column.rangeMin;
      samples[i][static_cast<size_t>(c)] = column.rangeMin + static_cast<int32_t>((i * 37 + c * 101) % span);
    }
    samples[i][static_cast<size_t>(ValueColumnOf("coolant"))] = 95 + static_cast<int32_t>(i % 2);
  }
  return samples;
}

void WarningsAndPeaks(benchmark::State& state) {
  ValueSettings settings;
  for (int c = 0; c < kValueCount; ++c) {
    ValueLimit& limit = settings.limits[static_cast<size_t>(c)];
    const ValueColumn& column = kValueColumns[static_cast<size_t>(c)];
    const int32_t tenth = (column.rangeMax - column.rangeMin) / 10;
    limit = ValueLimit{true, static_cast<double>(column.rangeMin + tenth), true,
                       static_cast<double>(column.rangeMax - tenth), true};
  }
  settings.limits[static_cast<size_t>(ValueColumnOf("coolant"))].high = 95;
  const auto samples = Drive();
  WarningWatch watch;
  PeakHold peaks;
  std::vector<WarningWatch::Crossing> crossed;
  size_t i = 0;
  for (auto _ : state) {
    crossed.clear();
    const auto& values = samples[i++ % samples.size()];
    watch.Feed(values, settings, crossed);
    peaks.Feed(values);
    benchmark::DoNotOptimize(crossed.data());
    benchmark::DoNotOptimize(peaks.Peak(0));
  }
}
BENCHMARK(WarningsAndPeaks);

void ToneTickWhileWarning(benchmark::State& state) {
  WarningWatch watch;
  std::vector<WarningWatch::Crossing> crossed;
  ValueSettings settings;
  settings.limits[0].highOn = true;
  settings.limits[0].high = 0;
  std::array<int32_t, kValueCount> values{};
  values[0] = 100;
  watch.Feed(values, settings, crossed);
  WarningBell bell;
  int rings = 0;
  for (auto _ : state) {
    if (!watch.AnyWarning()) continue;
    const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    rings += bell.Ring(true, nowMs);
  }
  benchmark::DoNotOptimize(rings);
}
BENCHMARK(ToneTickWhileWarning);

}  // namespace

BENCHMARK_MAIN();
