#include "tests/video/VideoTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "video/ClipFile.h"
#include "video/GaugeValues.h"

namespace video_test {

namespace {

// The encode moves a gauge's pixels by 4 to 7 levels on average (sharp
// text, its colour at half resolution); the digits of the record before
// or after move them by 16 or more.
constexpr double kTolerance = 10.0;

// Mean absolute difference of R, G and B over an area.
double Difference(const ClipFrame& a, const ClipFrame& b, const PixelRect& area) {
  double sum = 0;
  for (int y = area.y; y < area.y + area.height; ++y)
    for (int x = area.x; x < area.x + area.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t at = static_cast<size_t>((y * a.width + x) * 4 + c);
        sum += std::abs(a.rgba[at] - b.rgba[at]);
      }
  return sum / (3.0 * area.width * area.height);
}

ClipFrame WithGauges(const ClipFrame& source, const std::vector<Gauge>& gauges) {
  ClipFrame drawn = source;
  Canvas canvas = drawn.canvas();
  DrawGauges(canvas, StripLayout(drawn.width, drawn.height, static_cast<int>(gauges.size())), gauges);
  return drawn;
}

}  // namespace

void SetRaw(SampleRecord& record, int column, int raw) {
  const ValueColumn& row = kAllValueColumns[static_cast<size_t>(column)];
  if (row.lowByte != kNoLowByte) {
    record[row.highByte] = static_cast<uint8_t>(raw >> 8);
    record[row.lowByte] = static_cast<uint8_t>(raw & 0xFF);
  } else {
    record[row.highByte] = static_cast<uint8_t>(raw);
  }
}

SampleRecord RpmRecord(int rpm) {
  SampleRecord record;
  record[0] = kFrameLength;
  SetRaw(record, kRpm, rpm * 10 / 125);
  return record;
}

std::vector<SampleRecord> ChangingRecording(int count) {
  std::vector<SampleRecord> records;
  for (int i = 0; i < count; ++i) {
    SampleRecord record = RpmRecord(0);
    SetRaw(record, kRpm, 80 + (i * 97) % 560);
    SetRaw(record, kThrottle, (i * 7) % 250);
    SetRaw(record, kSpeed, i / 3 % 100);
    records.push_back(i >= 60 && i < 70 ? GapRecord() : record);
  }
  return records;
}

std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Root()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Compared CompareWithClip(const std::string& clip, const std::string& written, const OverlayJob& job,
                         const RecordSource& records) {
  Compared compared;
  ClipReader source;
  ClipReader result;
  std::string error;
  EXPECT_TRUE(source.Open(clip, error)) << error;
  EXPECT_TRUE(result.Open(written, error)) << error;
  ClipFrame in;
  ClipFrame out;
  while (source.Next(in, error)) {
    if (in.seconds < job.fromS - 1e-9 || (job.toS >= 0 && in.seconds >= job.toS - 1e-9)) continue;
    if (!result.Next(out, error)) {
      ADD_FAILURE() << "the written video ends before the clip's picture at " << in.seconds << " s " << error;
      return compared;
    }
    SCOPED_TRACE("clip time " + std::to_string(in.seconds));
    EXPECT_NEAR(out.seconds, in.seconds - job.fromS, 1e-6);
    const double recordingTime = in.seconds + job.offsetS;
    const std::vector<Gauge> expected = GaugesAt(records, recordingTime, job.columns, job.settings);
    const ClipFrame drawn = WithGauges(in, expected);
    const GaugeLayout layout = StripLayout(in.width, in.height, static_cast<int>(job.columns.size()));
    for (int i = 0; i < layout.count; ++i)
      EXPECT_LT(Difference(out, drawn, GaugeRect(layout, i)), kTolerance) << "gauge " << i;
    for (double neighbour : {recordingTime - 0.01, recordingTime + 0.01}) {
      const std::vector<Gauge> other = GaugesAt(records, neighbour, job.columns, job.settings);
      if (other[0].text == expected[0].text) continue;
      EXPECT_GT(Difference(out, WithGauges(in, other), GaugeRect(layout, 0)), kTolerance) << "a record off";
    }
    ++compared.pictures;
    ++(expected[0].missing ? compared.withoutValues : compared.withValues);
  }
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_FALSE(result.Next(out, error)) << "a picture more than the clip's, at " << out.seconds << " s";
  return compared;
}

}  // namespace video_test
