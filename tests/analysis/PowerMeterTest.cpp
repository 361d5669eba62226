#include <gtest/gtest.h>

#include <cmath>

#include "analysis/PowerMeter.h"
#include "analysis/RunTiming.h"
#include "tests/analysis/SyntheticDrive.h"

namespace {

// The engine's power at the wheels, known: 120 kW at 5600 rpm.
double TrueKw(double rpm) { return 120 * (1 - std::pow((rpm - 5600) / 4200, 2)); }

// Pulls from 2500 to 7000 rpm in each of the gears, 0.4 s between them
// with the throttle shut, integrated in 1 ms steps from the same equation
// the meter solves.
struct GearPulls {
  std::vector<double> kmh, rpm, throttle;  // every millisecond
  TrueState At(double t) const {
    const size_t i = std::min(kmh.size() - 1, static_cast<size_t>(std::max(0.0, t) * 1000));
    return {kmh[i], rpm[i], throttle[i]};
  }
};

GearPulls MakePulls(const VehicleFigures& car, std::vector<double> kmhPer1000) {
  GearPulls p;
  const double dt = 0.001;
  double v = 2500 * kmhPer1000[0] / 1000 / 3.6;
  auto step = [&](double ratio, bool open) {
    const double rpm = v * 3.6 / ratio * 1000;
    const double drive = open ? TrueKw(rpm) * 1000 / v : 0;
    const double resist = 0.5 * kAirDensityKgM3 * car.cdaM2 * v * v + car.crr * car.massKg * kGravityMS2;
    v += (drive - resist) / car.massKg * dt;
    p.kmh.push_back(v * 3.6);
    p.rpm.push_back(rpm);
    p.throttle.push_back(open ? 4300 : 450);
  };
  for (size_t g = 0; g < kmhPer1000.size(); ++g) {
    for (int i = 0; i < 500; ++i) step(kmhPer1000[g], false);  // before: settled in gear, shut
    while (v * 3.6 / kmhPer1000[g] * 1000 < 7000) step(kmhPer1000[g], true);
  }
  for (int i = 0; i < 500; ++i) step(kmhPer1000.back(), false);
  return p;
}

}  // namespace

// Pulls through the gears, recorded as the ECU registers them: one pull per
// gear, each peak within 3 % of the true one, at an engine speed where the
// true curve is within 3 % of its peak (the top of a curve is flat: its
// engine speed is the less certain figure); the torque is the power over
// the engine's angular speed.
TEST(PowerMeter, RecoversAKnownCurveInEveryGear) {
  const VehicleFigures car;
  for (double frameS : {0.01, 0.0208}) {
    SCOPED_TRACE(testing::Message() << "frame " << frameS);
    const GearPulls truth = MakePulls(car, {14, 20, 27});
    SyntheticDrive drive(frameS, 0.003);
    drive.Add(truth.kmh.size() / 1000.0, [&](double t) { return truth.At(t); });

    const std::vector<PullResult> pulls = FindPulls(drive.records, car);
    ASSERT_EQ(pulls.size(), 3u);
    for (const PullResult& pull : pulls) {
      EXPECT_NEAR(pull.peakKw, 120, 120 * 0.03);
      EXPECT_GE(TrueKw(pull.peakRpm), 120 * 0.97) << pull.peakRpm;
      EXPECT_NEAR(pull.peakPs, pull.peakKw / kKwPerPs, 1e-9);
      EXPECT_EQ(pull.endMs, pull.endIndex * 10);
      ASSERT_GT(pull.curve.size(), 10u);
      EXPECT_LT(pull.curve.front().rpm, &pull == &pulls[0] ? 3200 : 5400);
      EXPECT_GT(pull.curve.back().rpm, 6400);
      for (size_t i = 0; i < pull.curve.size(); ++i) {
        const PowerPoint& point = pull.curve[i];
        if (i > 0) {
          EXPECT_GE(point.rpm, pull.curve[i - 1].rpm);
        }
        EXPECT_NEAR(point.kw, TrueKw(point.rpm), 120 * 0.06) << point.rpm;
        EXPECT_NEAR(point.wheelTorqueNm, point.kw * 1000 / (point.rpm * 2 * M_PI / 60), 1e-6);
      }
    }
  }
}

// A register that reads low by a factor (larger tyres): with the factor the
// known power comes back; without, the power read is far too low.
TEST(PowerMeter, ASpeedFactorCorrectsTheRoadSpeed) {
  const VehicleFigures car;
  const double factor = 1.1;
  const GearPulls truth = MakePulls(car, {20});
  SyntheticDrive drive(0.01, 0.003);
  drive.Add(truth.kmh.size() / 1000.0, [&](double t) {
    TrueState s = truth.At(t);
    s.kmh /= factor;
    return s;
  });
  const std::vector<PullResult> pulls = FindPulls(drive.records, car, factor);
  ASSERT_EQ(pulls.size(), 1u);
  EXPECT_NEAR(pulls[0].peakKw, 120, 120 * 0.03);
  EXPECT_EQ(pulls[0].speedFactor, factor);
  EXPECT_LT(FindPulls(drive.records, car).at(0).peakKw, 120 * 0.9);
}

// Followed live: the curve grows while the pull goes on, and the pull is
// handed over when the throttle shuts. Part throttle, a slipping clutch (the
// engine racing ahead of the road speed) and short bursts make no pull.
TEST(PowerMeter, LiveCurveAndWhatIsNoPull) {
  const VehicleFigures car;
  const GearPulls truth = MakePulls(car, {20});
  SyntheticDrive drive;
  drive.Add(truth.kmh.size() / 1000.0, [&](double t) { return truth.At(t); });

  PullTracker tracker(car);
  size_t grown = 0, ended = 0;
  for (uint32_t i = 0; i < drive.records.size(); ++i) {
    if (tracker.Add(i, drive.records[i])) ++ended;
    if (tracker.InPull()) {
      const size_t now = tracker.CurrentCurve().size();
      EXPECT_GE(now, grown);
      grown = std::max(grown, now);
    }
  }
  EXPECT_EQ(ended, 1u);
  EXPECT_GT(grown, 10u);
  EXPECT_GE(tracker.LastPull().curve.size(), grown);

  auto none = [&](std::function<TrueState(double)> motion, double seconds) {
    SyntheticDrive d;
    d.Add(seconds, motion);
    return FindPulls(d.records, car).empty();
  };
  EXPECT_TRUE(none([](double t) { return TrueState{30 + 10 * t, 1500 + 500 * t, 3000}; }, 6));
  EXPECT_TRUE(none([](double t) { return TrueState{5 + 5 * t, 4000 + 300 * t, 4300}; }, 6));
  EXPECT_TRUE(none([](double t) { return TrueState{50 + 10 * t, 2500 + 500 * t, 4300}; }, 1.5));
}

// A lost line in a pull ends it at the record before: what came before is
// a pull of its own if long enough, never one through the gap. A recording
// without throttle position can give none, and says so.
TEST(PowerMeter, AGapEndsThePullAndMissingRegistersAreSaid) {
  const VehicleFigures car;
  const GearPulls truth = MakePulls(car, {20});
  SyntheticDrive drive;
  drive.Add(truth.kmh.size() / 1000.0, [&](double t) { return truth.At(t); });
  const std::vector<PullResult> whole = FindPulls(drive.records, car);
  ASSERT_EQ(whole.size(), 1u);

  const uint32_t gap = whole[0].startIndex + (whole[0].endIndex - whole[0].startIndex) * 3 / 4;
  std::vector<SampleRecord> cut = drive.records;
  SetPresentRegisters(cut[gap], kEighteenMask & ~MaskOf(0x0B));  // its bytes as they were
  const std::vector<PullResult> pulls = FindPulls(cut, car);
  ASSERT_GE(pulls.size(), 1u);
  EXPECT_EQ(pulls[0].startIndex, whole[0].startIndex);
  EXPECT_EQ(pulls[0].endIndex, gap - 1);
  for (const PullResult& pull : pulls) EXPECT_TRUE(pull.endIndex < gap || pull.startIndex > gap);

  PullTracker tracker(car);
  for (uint32_t i = 0; i < 10; ++i) {
    SampleRecord record = drive.records[i];
    SetPresentRegisters(record, kEighteenMask & ~MaskOf(0x0D));
    tracker.Add(i, record);
  }
  EXPECT_EQ(PullsNeedsMissing(tracker.Held()), MaskOf(0x0D));
  EXPECT_EQ(MissingNeedsText(PullsNeedsMissing(tracker.Held())),
            "The recording holds no throttle position (register 0D)");
  EXPECT_EQ(PullsNeedsMissing(kEighteenMask), 0u);
}

// A pull cut by either end of the recording is none: nobody saw where it
// began or where it would have ended, and the fit leans on one side at the
// cut. Followed live, a pull going on stays one until the recording ends.
TEST(PowerMeter, APullCutByAnEndOfTheRecordingIsNone) {
  const VehicleFigures car;
  const GearPulls truth = MakePulls(car, {14, 20});
  SyntheticDrive drive;
  drive.Add(truth.kmh.size() / 1000.0, [&](double t) { return truth.At(t); });
  const std::span<const SampleRecord> records(drive.records);
  const std::vector<PullResult> whole = FindPulls(records, car);
  ASSERT_EQ(whole.size(), 2u);
  auto middle = [](const PullResult& pull) { return (pull.startIndex + pull.endIndex) / 2; };

  const std::vector<PullResult> endCut = FindPulls(records.first(middle(whole[1])), car);
  ASSERT_EQ(endCut.size(), 1u);
  EXPECT_EQ(endCut[0].startIndex, whole[0].startIndex);

  const uint32_t from = middle(whole[0]);
  std::vector<SampleRecord> startCut(records.begin() + from, records.end());
  for (const bool lostFirst : {false, true}) {  // the line lost at first: as cut
    if (lostFirst) std::fill_n(startCut.begin(), 20, GapRecord());
    const std::vector<PullResult> pulls = FindPulls(startCut, car);
    ASSERT_EQ(pulls.size(), 1u) << lostFirst;
    EXPECT_EQ(pulls[0].startIndex, whole[1].startIndex - from);
  }

  PullTracker tracker(car);
  for (uint32_t i = 0; i < middle(whole[1]); ++i) tracker.Add(i, records[i]);
  EXPECT_TRUE(tracker.InPull());
  EXPECT_FALSE(tracker.CurrentCurve().empty());
  tracker.Finish();
  EXPECT_FALSE(tracker.InPull());
  EXPECT_EQ(tracker.LastPull().startIndex, whole[0].startIndex);
}
