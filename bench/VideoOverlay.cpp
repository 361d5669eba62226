// The overlay video's speed: a 1280x720 30 fps clip of 10 s (H.264 with
// sound, as a phone or an action camera writes it) written again with four
// gauges, as a multiple of real time.
//
//   torvane_bench_video [folder]     (default: a new folder under /tmp)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "data/RecordPeriod.h"
#include "data/RecordSource.h"
#include "tests/video/ClipMaker.h"
#include "video/OverlayWriter.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "torvane-bench-video";
  fs::create_directories(folder);
  const std::string clip = (folder / "clip.mp4").string();
  const std::string out = (folder / "overlay.mp4").string();

  ClipPlan plan;
  plan.width = 1280;
  plan.height = 720;
  plan.fps = 30;
  plan.seconds = 10;
  std::string error;
  if (!MakeClip(clip, plan, error)) {
    std::fprintf(stderr, "cannot make the clip: %s\n", error.c_str());
    return 1;
  }

  // Engine speed, speed and throttle that change at every record.
  std::vector<SampleRecord> records;
  for (int i = 0; i < 11 * kRecordsPerSecond; ++i) {
    SampleRecord record;
    record[0] = kFrameLength;
    const int rpmWord = 80 + i * 7 % 720;  // 1000 to 9987 rpm
    record[kValueColumns[0].highByte] = static_cast<uint8_t>(rpmWord >> 8);
    record[kValueColumns[0].lowByte] = static_cast<uint8_t>(rpmWord & 0xFF);
    record[kValueColumns[4].highByte] = static_cast<uint8_t>(i / 10 % 100);
    record[kValueColumns[6].highByte] = static_cast<uint8_t>(i * 3 % 250);
    records.push_back(record);
  }
  OverlayJob job;
  job.clip = clip;
  job.out = out;
  job.offsetS = 0.5;
  for (const char* key : {"rpm", "speed", "throttle", "coolant"}) job.columns.push_back(ValueColumnOf(key));

  bool written = true;
  const double cpuBefore = bench::ProcessCpuSeconds();
  const double ms = bench::BestOfThree([&] {
    written = written && WriteOverlayVideo(job, RecordVector(records), nullptr, error) == Result::kOk;
  });
  const double cpuPerRun = (bench::ProcessCpuSeconds() - cpuBefore) / 3;
  if (!written) {
    std::fprintf(stderr, "the overlay failed: %s\n", error.c_str());
    return 1;
  }
  std::printf("1280x720 30 fps, %.0f s clip, 4 gauges: %.2f s (best of three), %.1f x real time; "
              "CPU %.2f s a run (%.1f cores)\n",
              plan.seconds, ms / 1000, plan.seconds * 1000 / ms, cpuPerRun, cpuPerRun * 1000 / ms);
  std::printf("%s: %ju bytes\n", out.c_str(), static_cast<uintmax_t>(fs::file_size(out)));
  return 0;
}
