// How long the Sub Window's chart takes to draw:
//
//   torvane_bench_chart [--repetitions 5]
//   torvane_bench_chart live      (the live refresh alone, longer: for a profiler)
//
// A full recording (900,001 records) drawn whole into a 1000 x 500 chart,
// from records it has never seen (every value converted, the per-column
// summary built) and again with the summary already built (a cursor move);
// then one live refresh: the last 30 s after five new records.
#include <QApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/RecordPeriod.h"
#include "data/Recorder.h"
#include "ui/app/Settings.h"
#include "ui/widgets/TraceChart.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<SampleRecord> Drive(size_t count) {
  std::vector<SampleRecord> records(count);
  for (size_t i = 0; i < count; ++i) {
    SampleRecord& r = records[i];
    const double t = i * kRecordPeriodS;
    const int rpm = static_cast<int>((3000 + 2500 * std::sin(t / 7)) / 12.5);
    r[0] = kFrameLength;
    r[1] = static_cast<uint8_t>(rpm >> 8);
    r[2] = static_cast<uint8_t>(rpm & 0xFF);
    r[5] = static_cast<uint8_t>(120 + (i / 6000) % 20);
    r[7] = static_cast<uint8_t>(40 + 30 * std::sin(t / 31));
    r[9] = static_cast<uint8_t>(i * 7 % 200);
    r[11] = static_cast<uint8_t>((i / 300) % 2 ? 0x11 : 0x04);
    r[17] = static_cast<uint8_t>((i / 1000) % 3 ? 0x40 : 0xC1);
  }
  return records;
}

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  InstallFontSubstitutes();
  const int repetitions = argc > 2 && std::strcmp(argv[1], "--repetitions") == 0 ? std::atoi(argv[2]) : 5;

  const bool liveOnly = argc > 1 && std::strcmp(argv[1], "live") == 0;  // for a profiler
  const std::vector<SampleRecord> records = Drive(static_cast<size_t>(kMaxRecordIndex) + 1);
  QImage image(1000, 500, QImage::Format_RGB32);
  struct Case {
    const char* name;
    std::vector<int> values;
    bool bits;
  };
  const Case cases[] = {{"4 values (the first choice)", {0, 2, 4, 6}, false},
                        {"all 12 values and the 14 bit tracks", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, true}};
  for (const Case& c : cases) {
    if (liveOnly) break;
    std::vector<double> fresh, cached;
    for (int r = 0; r < repetitions; ++r) {
      TraceChart chart;
      chart.resize(image.size());
      chart.SetValues(c.values);
      chart.SetBitTracks(c.bits);
      chart.ShowWhole();
      const RecordVector source(records);
      chart.SetRecords(&source);
      Clock::time_point start = Clock::now();
      chart.render(&image);
      fresh.push_back(Ms(start));
      chart.SetCursor(static_cast<int64_t>(records.size() / 2 + r));
      start = Clock::now();
      chart.render(&image);
      cached.push_back(Ms(start));
    }
    std::printf("%zu records, %s: first draw %.1f ms, redraw %.1f ms (medians of %d)\n", records.size(),
                c.name, Median(fresh), Median(cached), repetitions);
  }

  // Live: the last 30 s, five records (50 ms) newer at each refresh.
  std::vector<SampleRecord> live(records.begin(), records.begin() + 6000);
  TraceChart chart;
  chart.resize(image.size());
  chart.SetValues({0, 2, 4, 6});
  chart.Follow(3000);
  const RecordVector liveSource(live);
  chart.SetRecords(&liveSource);
  chart.render(&image);
  std::vector<double> ticks;
  for (int i = 0; i < (liveOnly ? 5000 : 200); ++i) {
    for (int k = 0; k < 5; ++k) live.push_back(records[live.size()]);
    chart.RecordsAppended();
    const Clock::time_point start = Clock::now();
    chart.render(&image);
    ticks.push_back(Ms(start));
  }
  std::printf("live refresh, last 30 s of 4 values: %.3f ms median, %.3f ms worst of %zu\n", Median(ticks),
              *std::max_element(ticks.begin(), ticks.end()), ticks.size());
  return 0;
}
