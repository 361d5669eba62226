// What the benchmarks that are not Google Benchmark ones measure with.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>

namespace bench {

// Milliseconds of the fastest of three runs: the other two took the
// machine's interruptions.
template <typename F>
double BestOfThree(F&& f) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// CPU time of every thread of this process so far (not of its children).
inline double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace bench
