// The simulated engine over a long run: the things a demo should show
// (warming up, gear changes, switching bits) do happen, and its bytes use
// the whole range of a register, 255 included.
#include <gtest/gtest.h>

#include <set>

#include "analysis/PowerMeter.h"
#include "analysis/RunTiming.h"
#include "data/SampleRecord.h"
#include "link/StreamReceiver.h"
#include "tools/ecusim/EcuSimulator.h"
#include "tools/ecusim/EngineModel.h"

namespace {

SampleRecord Sample(const EngineModel& engine) {
  SampleRecord record;
  record[0] = kFrameLength;
  for (int i = 0; i < kStreamRegisterCount; ++i)
    record[i + 1] = engine.Register(kStreamRegisters[static_cast<size_t>(i)].number);
  return record;
}

int32_t Value(const char* key, const SampleRecord& record) {
  for (const ValueColumn& column : kValueColumns)
    if (std::string(column.key) == key) return ConvertValue(column, record);
  ADD_FAILURE() << "no column " << key;
  return 0;
}

bool Bit(const char* csvColumn, const SampleRecord& record) {
  for (const BitColumn& bit : kBitColumns)
    if (std::string(bit.csvColumn) == csvColumn) return BitIsSet(bit, record);
  ADD_FAILURE() << "no bit " << csvColumn;
  return false;
}

}  // namespace

TEST(EngineModel, TenMinutesOfBelievableBytes) {
  EngineModel engine(1);
  const double dt = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  const int steps = static_cast<int>(600 / dt);

  std::set<int> gears;
  int32_t maxRpm = 0, maxSpeed = 0, minIdleRpm = 100000;
  int acChanges = 0, fanChanges = 0, crankingFrames = 0, bytes255 = 0;
  SampleRecord previous = Sample(engine);
  const int32_t firstCoolant = Value("coolant", previous);
  for (int k = 0; k < steps; ++k) {
    engine.Advance(dt);
    const SampleRecord r = Sample(engine);
    for (int i = 1; i <= kFrameLength; ++i) bytes255 += r[i] == 0xFF;
    gears.insert(engine.Gear());
    maxRpm = std::max(maxRpm, Value("rpm", r));
    maxSpeed = std::max(maxSpeed, Value("speed", r));
    if (k > 200 && Value("speed", r) == 0) minIdleRpm = std::min(minIdleRpm, Value("rpm", r));
    acChanges += Bit("A/C Switch", r) != Bit("A/C Switch", previous);
    fanChanges += Bit("Coolang FAN Low", r) != Bit("Coolang FAN Low", previous);
    crankingFrames += Bit("Cranking Signal", r);
    EXPECT_EQ(Bit("Park/Neutral", r), engine.Gear() == 0);
    previous = r;
  }
  EXPECT_EQ(engine.Register(0x77), 0);  // unknown registers read 0
  // Low bytes of the words pass through FF as the values change.
  EXPECT_GT(bytes255, 10);

  EXPECT_GE(gears.size(), 4u);  // neutral and at least three gears
  EXPECT_GT(maxRpm, 2500);
  EXPECT_LE(maxRpm, 7200);
  EXPECT_GT(maxSpeed, 30);
  EXPECT_GT(minIdleRpm, 600);
  EXPECT_LT(minIdleRpm, 1300);
  EXPECT_GE(Value("coolant", previous), 80);
  EXPECT_LE(firstCoolant, 30);
  EXPECT_GE(acChanges, 4);
  EXPECT_GE(fanChanges, 2);
  EXPECT_GT(crankingFrames, 10);                 // the start cranks ...
  EXPECT_FALSE(Bit("Cranking Signal", previous));  // ... and then runs
  EXPECT_TRUE(Bit("Fuel Pump Relay", previous));
}

TEST(EngineModel, TheSeedDecidesEverything) {
  EngineModel a(42), b(42), c(43);
  bool differs = false;
  for (int k = 0; k < 3000; ++k) {
    a.Advance(0.02);
    b.Advance(0.02);
    c.Advance(0.02);
    ASSERT_EQ(Sample(a), Sample(b)) << "step " << k;
    differs = differs || !(Sample(a) == Sample(c));
  }
  EXPECT_TRUE(differs);
}

TEST(SimRandom, StaysInItsRanges) {
  SimRandom random(3);
  for (int k = 0; k < 10000; ++k) {
    const int v = random.Integer(-2, 5);
    ASSERT_GE(v, -2);
    ASSERT_LE(v, 5);
    const double u = random.Uniform(1.5, 2.5);
    ASSERT_GE(u, 1.5);
    ASSERT_LT(u, 2.5);
  }
}

// The drag run, recorded as the program records it (a frame every 20.8 ms,
// a record every 10 ms): standing starts soon after the stream starts, over
// 1000 m and again, the speed register truncating, the engine speed that
// of the gear, and pulls whose power is the documented curve.
TEST(EngineModel, DragRunTimesAndPowerAsDocumented) {
  EngineModel engine(1, true);
  const double dt = EcuSimulator::FrameSeconds(kStreamRegisterCount);
  std::vector<SampleRecord> records;
  SampleRecord frame = Sample(engine);
  double frameTime = 0;
  constexpr double kKmhPer1000[6] = {0, 8, 14, 21, 28, 35};
  while (records.size() < 9000) {
    const double now = records.size() * 0.01;
    while (frameTime <= now) {
      engine.Advance(dt);
      frameTime += dt;
      frame = Sample(engine);
      EXPECT_EQ(Value("speed", frame), 2 * static_cast<int>(engine.SpeedKmh() / 2));
      if (engine.Coupled()) {
        EXPECT_NEAR(Value("rpm", frame), engine.SpeedKmh() / kKmhPer1000[engine.Gear()] * 1000, 13);
      }
    }
    records.push_back(frame);
  }

  // The true times of the first run, from the engine's own speed in fine
  // steps: every run is the same drive.
  EngineModel truth(1, true);
  double t = 0, metres = 0, start = -1, true400 = 0, true1000 = 0;
  while (true1000 == 0 && t < 60) {
    truth.Advance(0.0005);
    t += 0.0005;
    if (truth.SpeedKmh() > 0 && start < 0) start = t - 0.0005;
    metres += truth.SpeedKmh() / 3.6 * 0.0005;
    if (metres >= 400 && true400 == 0) true400 = t - start;
    if (metres >= 1000) true1000 = t - start;
  }
  const std::vector<RunResult> runs = FindRuns(records, 1000);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_LT(runs[0].startMs, 4000);
  const std::vector<RunResult> quarters = FindRuns(records, 400);
  ASSERT_EQ(quarters.size(), runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_NEAR(runs[i].timeS, true1000, runs[i].timeUncertaintyS);
    EXPECT_NEAR(quarters[i].timeS, true400, quarters[i].timeUncertaintyS);
  }
  const std::vector<PullResult> pulls = FindPulls(records, VehicleFigures{});
  ASSERT_GE(pulls.size(), 8u);  // first to fourth gear in each run
  for (const PullResult& pull : pulls) {
    EXPECT_NEAR(pull.peakKw, DragRunCar::kPeakKw, DragRunCar::kPeakKw * 0.03);
    EXPECT_GE(DragRunCar::WheelKw(pull.peakRpm), DragRunCar::kPeakKw * 0.97) << pull.peakRpm;
  }
}
