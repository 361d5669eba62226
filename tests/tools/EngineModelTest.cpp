// The simulated engine over a long run: the things a demo should show
// (warming up, gear changes, switching bits) do happen, and its bytes use
// the whole range of a register, 255 included.
#include <gtest/gtest.h>

#include <set>

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
