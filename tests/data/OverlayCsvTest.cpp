// The overlay renderers' CSV: what a renderer reads of a recording, line by
// line, in a comma-decimal locale too.
#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <sstream>

#include "control/RecordingFiles.h"
#include "data/OverlayCsv.h"
#include "data/Registers.h"
#include "tests/common/TempDir.h"

namespace {

SampleRecord Frame(int rpmSteps, int speedRaw, int throttleRaw) {
  SampleRecord record;
  record[0] = kFrameLength;
  record[RecordByteOf(0x00)] = static_cast<uint8_t>(rpmSteps >> 8);
  record[RecordByteOf(0x01)] = static_cast<uint8_t>(rpmSteps);
  record[RecordByteOf(0x0B)] = static_cast<uint8_t>(speedRaw);
  record[RecordByteOf(0x0D)] = static_cast<uint8_t>(throttleRaw);
  return record;
}

}  // namespace

// A recording of old that began before the first frame, a lost line in
// it, a speed factor of 1.1: rows from the first frame on at their UTC
// times (across a second), the throttle's span read off the recording, a
// lost line's fields empty, never zeros.
TEST(OverlayCsv, ARendererReadsTheRecordingAtItsUtcTimes) {
  std::vector<SampleRecord> records(2);        // never written
  records.push_back(Frame(65, 0, 22));         // 812.5 rpm, 0 km/h, 440 mV: closed
  records.push_back(Frame(400, 50, 230));      // 5000 rpm, 100 km/h, 4600 mV: wide open
  records.push_back(GapRecord());
  records.push_back(Frame(401, 51, 126));      // 2520 mV: half way
  TempDir dir;
  const std::string path = dir.Path("run.csv");
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is needed";
  int64_t lines = 0;
  const Result result =
      ExportOverlayCsvFile(path, 0, 99, RecordSpan(records), 1781429461975, 1.1, lines);
  std::setlocale(LC_NUMERIC, before.c_str());
  ASSERT_EQ(result, Result::kOk);
  EXPECT_EQ(lines, 5);

  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "Time,RPM,KPH,Throttle\r\n"
            "2026-06-14T09:31:01.995Z,812.5,0.0,0.0\r\n"
            "2026-06-14T09:31:02.005Z,5000.0,110.0,100.0\r\n"
            "2026-06-14T09:31:02.015Z,,,\r\n"
            "2026-06-14T09:31:02.025Z,5012.5,112.2,50.0\r\n");
}

// A drive that used only part of the throttle is not stretched to the whole
// scale; readings outside a span read as its ends.
TEST(OverlayCsv, APartThrottleDriveKeepsATypicalSensorsSpan) {
  const std::vector<SampleRecord> records = {Frame(0, 0, 50), Frame(0, 0, 100)};  // 1000 and 2000 mV
  const ThrottleSpan span = ThrottleSpanOf(RecordSpan(records), 0, 1);
  EXPECT_EQ(span.closedMv, ThrottleSpan::kTypicalClosedMv);
  EXPECT_EQ(span.openMv, ThrottleSpan::kTypicalOpenMv);
  EXPECT_NEAR(ThrottlePercent(2000, span), 39.39, 0.01);
  EXPECT_EQ(ThrottlePercent(0, span), 0.0);
  EXPECT_EQ(ThrottlePercent(5100, span), 100.0);
  // Nothing to read: the typical span.
  EXPECT_EQ(ThrottleSpanOf(RecordSpan(records), 5, 9).openMv, ThrottleSpan::kTypicalOpenMv);
}
