// The gauges at a moment of the recording: the right record, the values as
// the main window shows them, and "n/a" wherever nothing was sent.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/video/VideoTestSupport.h"
#include "video/GaugeValues.h"

using namespace video_test;

namespace {

void ExpectMissing(const Gauge& gauge) {
  EXPECT_TRUE(gauge.missing);
  EXPECT_EQ(gauge.text, "n/a");
}

TEST(GaugeValues, TakeTheRecordOfTheMomentEvenOnItsFirstInstant) {
  std::vector<SampleRecord> records;
  for (int i = 0; i < 400; ++i) records.push_back(RpmRecord(1000 + 25 * i));
  const RecordVector source(records);
  const std::vector<int> columns = {kRpm};
  for (int i = 0; i < 400; ++i) {
    const std::string expected = std::to_string(1000 + 25 * i);
    // 0.29 s is 28.999... records as a double: still record 29.
    EXPECT_EQ(GaugesAt(source, i * 0.01, columns, {})[0].text, expected) << i;
    EXPECT_EQ(GaugesAt(source, i / 100.0, columns, {})[0].text, expected) << i;
    EXPECT_EQ(GaugesAt(source, i * 0.01 + 0.0099, columns, {})[0].text, expected) << i;
  }
}

TEST(GaugeValues, NothingBeforeTheStartAfterTheEndOrInAGap) {
  std::vector<SampleRecord> records(10, RpmRecord(2000));
  records[4] = GapRecord();
  // The ECU did not send road speed in record 6.
  SetPresentRegisters(records[6], kEighteenMask & ~MaskOf(0x0B));
  const RecordVector source(records);
  const std::vector<int> columns = {kRpm, kSpeed, kBoost, -1};
  for (double t : {-0.001, -100.0, 0.1, 1e12, std::numeric_limits<double>::quiet_NaN()})
    for (const Gauge& gauge : GaugesAt(source, t, columns, {})) ExpectMissing(gauge);
  for (const Gauge& gauge : GaugesAt(RecordVector({}), 0, columns, {})) ExpectMissing(gauge);
  for (const Gauge& gauge : GaugesAt(source, 0.045, columns, {})) ExpectMissing(gauge);

  const std::vector<Gauge> lacking = GaugesAt(source, 0.06, columns, {});
  EXPECT_EQ(lacking[0].text, "2000");
  ExpectMissing(lacking[1]);
  EXPECT_EQ(lacking[1].name, "Speed");  // still named, so the strip keeps its places
  ExpectMissing(lacking[2]);            // a register this ECU never had
  ExpectMissing(lacking[3]);
  EXPECT_EQ(lacking[3].name, "?");

  const std::vector<Gauge> last = GaugesAt(source, 0.0999, columns, {});
  EXPECT_EQ(last[0].text, "2000");
  EXPECT_EQ(last[1].text, "0");  // a zero the ECU sent is a zero
  EXPECT_FALSE(last[1].missing);
}

TEST(GaugeValues, ShownInTheUnitsChosenWithTheBarBetweenTheRangeEnds) {
  SampleRecord record = RpmRecord(5000);
  SetRaw(record, kSpeed, 50);     // 100 km/h as the register reads
  SetRaw(record, kCoolant, 140);  // 90 deg C
  const std::vector<SampleRecord> one{record};
  ValueSettings settings;
  settings.speedUnit = SpeedUnit::kMph;
  settings.speedFactor = 1.1;
  settings.temperatureUnit = TemperatureUnit::kFahrenheit;
  const std::vector<Gauge> gauges = GaugesAt(RecordVector(one), 0, std::vector<int>{kRpm, kSpeed, kCoolant}, settings);
  EXPECT_EQ(gauges[0].name, "CAS Position");
  EXPECT_EQ(gauges[0].unit, "rpm");
  EXPECT_DOUBLE_EQ(gauges[0].fraction, 0.5);
  EXPECT_EQ(gauges[1].name, "Speed");
  EXPECT_EQ(gauges[1].unit, "mph");
  EXPECT_EQ(gauges[1].text, "68");  // 110 km/h true speed
  EXPECT_EQ(gauges[2].name, "Coolant Temp");
  EXPECT_EQ(gauges[2].unit, "deg F");
  EXPECT_EQ(gauges[2].text, "194");

  // Beyond the range the number is as sent, the bar pinned at its end.
  const std::vector<SampleRecord> high{RpmRecord(12500)};
  const Gauge beyond = GaugesAt(RecordVector(high), 0, std::vector<int>{kRpm}, {})[0];
  EXPECT_EQ(beyond.text, "12500");
  EXPECT_DOUBLE_EQ(beyond.fraction, 1);
}

}  // namespace
