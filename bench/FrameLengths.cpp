// What the choice of registers does to the stream: for frames of 18 (the
// eighteen), 20 (the most a frame carries) and 10 data bytes, the frames a
// second the program decodes from the simulated ECU at 9600 baud, and how
// the 10 ms records meet them: the share of records that hold a frame not
// recorded before, and the longest run of records that repeat one frame
// (how stale a recorded value can be).
//
//   torvane_bench_frames [--seconds 20]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/QuietView.h"
#include "control/ProgramObjects.h"
#include "data/LogRecords.h"
#include "data/RegisterList.h"
#include "tools/ecusim/EcuSimulator.h"

namespace {

using bench::QuietView;

struct Figures {
  double framesPerSecond = 0;
  double newShare = 0;  // records holding a frame not recorded before
  int longestRepeat = 0;  // records in a row holding one frame
};

bool Measure(RegisterMask registers, double seconds, Figures& figures) {
  EcuSimulatorOptions options;
  options.restless = true;  // every frame differs from the one before: a repeat is a repeat
  EcuSimulator ecu(options);
  if (!ecu.Start()) return false;
  ProgramObjects program(kRecordPeriod, ".MMF-bench-frames-" + std::to_string(registers) + "-");
  program.serialPort.SetDevicePath(1, ecu.SlavePath());
  (void)program.session.Begin(std::make_shared<QuietView>(), "/tmp");
  Session& session = program.session;
  session.SetRegisters(registers);
  if (!session.OpenPort(1).done || !session.Initialize().done || !session.Start(true).done) return false;
  const uint64_t framesBefore = program.recorderState.framesDecoded.load();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const uint64_t frames = program.recorderState.framesDecoded.load() - framesBefore;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  (void)session.Stop();
  (void)session.ClosePort(1);
  const uint32_t count = program.recorderState.recordCount.load();
  const std::vector<SampleRecord> records = ReadLogRecords(program.logMemory, 0, count);
  int fresh = 0;
  int run = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const bool repeat = i > 0 && records[i] == records[i - 1];
    fresh += repeat ? 0 : 1;
    run = repeat ? run + 1 : 1;
    figures.longestRepeat = std::max(figures.longestRepeat, run);
  }
  figures.framesPerSecond = frames / wall;
  figures.newShare = records.empty() ? 0 : static_cast<double>(fresh) / static_cast<double>(records.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 20;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);
  const RegisterMask ten = MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x0B) | MaskOf(0x0D) | MaskOf(0x08) |
                           MaskOf(0x11) | MaskOf(0x0F) | MaskOf(0x14) | MaskOf(0x15) | MaskOf(0x16);
  const struct {
    const char* name;
    RegisterMask mask;
  } cases[] = {{"18", kEighteenMask}, {"20", kEighteenMask | MaskOf(0x11) | MaskOf(0x0F)}, {"10", ten}};
  std::printf("| data bytes | frames a second (at 9600 baud) | records with a new frame | longest repeat |\n");
  std::printf("|---|---|---|---|\n");
  for (const auto& c : cases) {
    Figures figures;
    if (!Measure(c.mask, seconds, figures)) {
      std::fprintf(stderr, "%s data bytes: the simulated ECU did not stream\n", c.name);
      return 1;
    }
    std::printf("| %s | %.1f (%.1f) | %.1f %% | %d records (%d ms) |\n", c.name, figures.framesPerSecond,
                FramesPerSecond(RegisterCount(c.mask)), 100 * figures.newShare, figures.longestRepeat,
                figures.longestRepeat * 10);
  }
  return 0;
}
