// The Tool menu's computations over a full recording (900,001 records, 2.5 h
// of the simulator's drag run): every 0-400 m and 0-1000 m run, every pull,
// the cost per record of following a live stream, and the Scatter and
// Table views over the whole recording.
//
//   torvane_bench_analysis
#include <chrono>
#include <cstdio>
#include <vector>

#include "analysis/PowerMeter.h"
#include "analysis/RunTiming.h"
#include "analysis/ValueGrids.h"
#include "analysis/ValueSettings.h"
#include "link/StreamReceiver.h"
#include "tools/ecusim/EcuSimulator.h"
#include "tools/ecusim/EngineModel.h"
#include "bench/Measure.h"


namespace {

using bench::BestOfThree;

// The drag run as the program records it: a frame every 20.8 ms, a record
// every 10 ms.
std::vector<SampleRecord> DragRunRecording(size_t count) {
  EngineModel engine(1, true);
  const double dt = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  std::vector<SampleRecord> records;
  records.reserve(count);
  SampleRecord frame;
  double frameTime = 0;
  while (records.size() < count) {
    for (; frameTime <= records.size() * kRecordPeriodS; frameTime += dt) {
      engine.Advance(dt);
      frame[0] = kFrameLength;
      for (int i = 0; i < kStreamRegisterCount; ++i) frame[i + 1] = engine.Register(kStreamRegisters[i].number);
    }
    records.push_back(frame);
  }
  return records;
}

}  // namespace

int main() {
  const std::vector<SampleRecord> records = DragRunRecording(900001);
  size_t runs400 = 0, runs1000 = 0, pulls = 0;
  const double t400 = BestOfThree([&] { runs400 = FindRuns(records, 400).size(); });
  const double t1000 = BestOfThree([&] { runs1000 = FindRuns(records, 1000).size(); });
  const double tPulls = BestOfThree([&] { pulls = FindPulls(records, VehicleFigures{}).size(); });
  // Live, the power window asks for the curve so far after every record it
  // feeds; a window drawing at 20 Hz asks far less often.
  double curveCalls = 0;
  const double tLive = BestOfThree([&] {
    PullTracker tracker{VehicleFigures{}};
    curveCalls = 0;
    for (uint32_t i = 0; i < records.size(); ++i) {
      tracker.Add(i, records[i]);
      if (i % 5 == 0 && tracker.InPull()) {
        curveCalls += 1;
        (void)tracker.CurrentCurve();
      }
    }
  });

  const int rpm = ValueColumnOf("rpm"), injection = ValueColumnOf("injection"), throttle = ValueColumnOf("throttle");
  uint32_t scattered = 0, tabled = 0;
  const double tScatter = BestOfThree([&] {
    scattered = BuildScatter(RecordSpan(records), {}, rpm, injection, throttle, 600, 400).records;
  });
  const double tTable = BestOfThree([&] {
    const CellTable table = BuildCellTable(RecordSpan(records), {}, injection, rpm, 20, throttle, 10);
    tabled = 0;
    for (uint32_t n : table.counts) tabled += n;
  });

  std::printf("| computation over 900,001 records | found | time |\n|---|---|---|\n");
  std::printf("| FindRuns, 400 m | %zu runs | %.1f ms |\n", runs400, t400);
  std::printf("| FindRuns, 1000 m | %zu runs | %.1f ms |\n", runs1000, t1000);
  std::printf("| FindPulls | %zu pulls | %.1f ms |\n", pulls, tPulls);
  std::printf("| PullTracker, live: every record, CurrentCurve every 50 ms in a pull | %.0f curves | %.1f ms (%.2f us a record) |\n",
              curveCalls, tLive, tLive * 1000 / records.size());
  std::printf("| Scatter, injection time against engine speed coloured by throttle, 600 x 400 cells | %u records | %.1f ms |\n",
              scattered, tScatter);
  std::printf("| Table, mean injection time by engine speed (20) and throttle (10) | %u samples | %.1f ms |\n",
              tabled, tTable);
  return 0;
}
