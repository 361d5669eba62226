#include <gtest/gtest.h>

#include <cmath>

#include "analysis/RunTiming.h"
#include "tests/analysis/SyntheticDrive.h"

namespace {

// From rest at `start` with constant acceleration a (m/s^2) up to topKmh,
// then steady.
std::function<TrueState(double)> Accelerate(double start, double a, double topKmh = 1000) {
  return [=](double t) {
    TrueState s;
    s.kmh = std::min(topKmh, std::max(0.0, a * (t - start) * 3.6));
    s.rpm = 1000 + s.kmh * 40;
    return s;
  };
}

// Slows from kmh at `start` by d m/s^2 to a stop.
std::function<TrueState(double)> Brake(double start, double kmh, double d) {
  return [=](double t) {
    TrueState s;
    s.kmh = std::max(0.0, kmh - d * (t - start) * 3.6);
    return s;
  };
}

}  // namespace

// From rest at `start`, the acceleration building up evenly over rampS to
// a (m/s^2): speed and distance in closed form.
struct Launch {
  double start, a, rampS;
  double Speed(double t) const {  // m/s
    const double u = t - start;
    if (u <= 0) return 0;
    return u < rampS ? a * u * u / (2 * rampS) : a * rampS / 2 + a * (u - rampS);
  }
  double Distance(double t) const {
    const double u = t - start;
    if (u <= 0) return 0;
    if (u < rampS) return a * u * u * u / (6 * rampS);
    const double w = u - rampS;
    return a * rampS * rampS / 6 + a * rampS / 2 * w + a / 2 * w * w;
  }
  double TimeTo(double metres) const {  // since the start
    double low = start, high = start + 1000;
    for (int i = 0; i < 100; ++i) (Distance((low + high) / 2) < metres ? low : high) = (low + high) / 2;
    return low - start;
  }
};

// Constant acceleration gives t = sqrt(2d/a) and v = sqrt(2ad), a launch
// that builds up a little more: every figure lies within its stated
// uncertainty, and the uncertainty is no wider than the register's steps,
// the sample spacing and the launch to the first step make it.
TEST(RunTiming, KnownMotionWithinTheStatedUncertainty) {
  struct Case { double a, rampS, distance, frameS, phase; };
  for (const Case c : {Case{3.0, 0, 400, 0.01, 0.0037}, Case{2.2, 0, 400, 0.0208, 0.0151},
                       Case{1.6, 0, 1000, 0.0208, 0.0093}, Case{5.5, 0, 1000, 0.01, 0.0},
                       Case{7.0, 0.1, 400, 0.0208, 0.0071}, Case{4.0, 0.15, 1000, 0.01, 0.002}}) {
    SCOPED_TRACE(testing::Message() << "a " << c.a << " ramp " << c.rampS << " d " << c.distance
                                    << " frame " << c.frameS);
    const Launch launch{1.0 + c.phase, c.a, c.rampS};
    if (c.rampS == 0) {
      EXPECT_NEAR(launch.TimeTo(c.distance), std::sqrt(2 * c.distance / c.a), 1e-6);
    }
    SyntheticDrive drive(c.frameS, 0.004);
    drive.Add(launch.start + launch.TimeTo(c.distance) + 1, [&](double t) {
      TrueState s;
      s.kmh = launch.Speed(t) * 3.6;
      s.rpm = 1000 + s.kmh * 40;
      return s;
    });

    const std::vector<RunResult> runs = FindRuns(drive.records, c.distance);
    ASSERT_EQ(runs.size(), 1u);
    const RunResult& run = runs[0];
    const double firstStepS = 2 / 3.6 / c.a;  // at even acceleration
    EXPECT_NEAR(run.timeS, launch.TimeTo(c.distance), run.timeUncertaintyS);
    EXPECT_LT(run.timeUncertaintyS, 0.1 + 0.6 * firstStepS);
    const double lineKmh = launch.Speed(launch.start + launch.TimeTo(c.distance)) * 3.6;
    EXPECT_NEAR(run.speedKmh, lineKmh, run.speedUncertaintyKmh);
    EXPECT_NEAR(run.zeroTo100S, launch.TimeTo(0) + (100 / 3.6 - launch.Speed(launch.start + c.rampS)) / c.a + c.rampS,
                run.zeroTo100UncertaintyS);
    EXPECT_LT(run.zeroTo100UncertaintyS, 0.1 + 0.6 * firstStepS);
    EXPECT_EQ(run.startMs, run.startIndex * 10);
    EXPECT_GE(run.maxRpm, static_cast<int32_t>(1000 + run.speedKmh * 40 - 150));
  }
}

// The first steps' times fix the start: a launch whose force builds up
// within 0.2 s (hidden below the first step or not) is timed over 400 m to
// 0.05 s plus what the frames' timing leaves open, and a longer build-up
// that shows in the steps is recovered as well.
TEST(RunTiming, LaunchesFromTheirFirstSteps) {
  struct Case { double a, rampS, frameS, phase; };
  std::vector<Case> cases;
  for (double a : {1.5, 3.0, 5.5, 7.0})
    for (double rampS : {0.0, 0.1, 0.2})
      for (double frameS : {0.01, 0.0208}) cases.push_back({a, rampS, frameS, a / 100});
  cases.push_back({5.5, 0.6, 0.0208, 0.003});
  cases.push_back({7.0, 0.45, 0.01, 0.011});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "a " << c.a << " ramp " << c.rampS << " frame " << c.frameS);
    const Launch launch{1.0 + c.phase, c.a, c.rampS};
    SyntheticDrive drive(c.frameS, 0.004);
    drive.Add(launch.start + launch.TimeTo(400) + 1, [&](double t) {
      TrueState s;
      s.kmh = launch.Speed(t) * 3.6;
      return s;
    });
    const std::vector<RunResult> runs = FindRuns(drive.records, 400);
    ASSERT_EQ(runs.size(), 1u);
    const double miss = std::fabs(runs[0].timeS - launch.TimeTo(400));
    EXPECT_LE(miss, runs[0].timeUncertaintyS);
    EXPECT_LE(miss, 0.05 + 0.01);
    EXPECT_LE(runs[0].timeUncertaintyS, 0.09);
  }
}

// A drag run through the gears: a slipping clutch at the launch, then each
// gear engaged until 6500 rpm and 0.3 s without drive to shift. Worked out
// in 0.1 ms steps; the engine speed follows the gear while it is engaged.
struct GearedRun {
  double start = 1.0;
  bool converter = false;  // an automatic's slip: engine speed never in step
  std::vector<TrueState> states;  // every 0.1 ms from the start
  double lineS = -1, lineKmh = 0;
  explicit GearedRun(bool slipping) : converter(slipping) {
    const double ratio[] = {120, 75, 52, 40}, pull[] = {6, 4, 2.8, 2};  // rpm per km/h, m/s^2
    double v = 0, x = 0, shiftLeft = 0;
    int gear = 0;
    for (int i = 0; lineS < 0 || states.size() < 400000; ++i) {
      TrueState s;
      s.kmh = v * 3.6;
      const double inGear = ratio[gear] * s.kmh;
      if (converter) s.rpm = 1500 + inGear * 1.04;
      else if (shiftLeft > 0) s.rpm = inGear + (ratio[gear - 1] - ratio[gear]) * s.kmh * shiftLeft / 0.3;
      else s.rpm = std::max(3000.0, inGear);  // the clutch slips below 3000 rpm
      states.push_back(s);
      if (shiftLeft > 0) {
        shiftLeft -= 1e-4;
      } else {
        v += pull[gear] * 1e-4;
        if (gear < 3 && ratio[gear] * v * 3.6 >= 6500) {
          ++gear;
          shiftLeft = 0.3;
        }
      }
      x += v * 1e-4;
      if (lineS < 0 && x >= 400) {
        lineS = i * 1e-4;
        lineKmh = v * 3.6;
      }
    }
  }
  TrueState At(double t) const {
    const double u = (t - start) / 1e-4;
    if (u < 0) return TrueState{0, 3000};
    return states[std::min(states.size() - 1, static_cast<size_t>(u))];
  }
};

// Engaged in gear, engine speed gives the speed at the line to a few tenths
// of a km/h; an engine speed that never keeps step with the road (a torque
// converter's slip) leaves it to the register. The time holds either way.
TEST(RunTiming, EngineSpeedInGear) {
  for (const bool slipping : {false, true}) {
    SCOPED_TRACE(slipping ? "converter" : "clutch");
    const GearedRun run(slipping);
    SyntheticDrive drive(0.0208, 0.004);
    drive.Add(run.start + run.lineS + 1, [&](double t) { return run.At(t); });
    const std::vector<RunResult> runs = FindRuns(drive.records, 400);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NEAR(runs[0].timeS, run.lineS, runs[0].timeUncertaintyS);
    EXPECT_NEAR(runs[0].speedKmh, run.lineKmh, runs[0].speedUncertaintyKmh);
    if (slipping) EXPECT_EQ(runs[0].speedUncertaintyKmh, 1.0);
    else EXPECT_LT(runs[0].speedUncertaintyKmh, 0.3);
  }
}

// Tyres larger than stock make the register read low by the factor: timed
// with that factor, the run matches the true motion (0-100 km/h placed
// inside a register step); timed as it reads, it comes out slow.
TEST(RunTiming, ASpeedFactorTimesTheTrueMotion) {
  const double a = 3.0;
  for (double factor : {1.12, 0.85}) {
    SCOPED_TRACE(testing::Message() << "factor " << factor);
    const Launch launch{1.0, a, 0};
    SyntheticDrive drive(0.0208, 0.004);
    drive.Add(launch.start + launch.TimeTo(400) + 1, [&](double t) {
      TrueState s;
      s.kmh = launch.Speed(t) * 3.6 / factor;
      s.rpm = 1000 + s.kmh * 40;
      return s;
    });
    const std::vector<RunResult> runs = FindRuns(drive.records, 400, factor);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].speedFactor, factor);
    EXPECT_NEAR(runs[0].timeS, launch.TimeTo(400), runs[0].timeUncertaintyS);
    EXPECT_NEAR(runs[0].speedKmh, std::sqrt(2 * a * 400) * 3.6, runs[0].speedUncertaintyKmh);
    EXPECT_NEAR(runs[0].zeroTo100S, 100 / 3.6 / a, runs[0].zeroTo100UncertaintyS);

    const RunResult asRead = FindRuns(drive.records, 400).at(0);
    EXPECT_GT(std::fabs(asRead.timeS - launch.TimeTo(400)), 3 * asRead.timeUncertaintyS);
  }
}

// A run that turns back short of the line is no run; the standstill that
// follows arms the next start, and two runs in one recording are both found.
TEST(RunTiming, StopsShortStartsRollingAndTwoRuns) {
  SyntheticDrive drive;
  // Rolling at the start, then a standstill one record short of half a
  // second: the start after it does not count.
  drive.Add(1.0, [](double) { return TrueState{40, 2000, 2000}; });
  drive.Stand(0.49);
  const double shortStart = drive.Now();
  drive.Add(8, Accelerate(shortStart, 3, 60));  // about 140 m, and no standstill before
  drive.Add(5, Brake(drive.Now(), 60, 6));      // stops: no run in this first stretch
  drive.Stand(0.5);
  double start = drive.Now();
  drive.Add(6, Accelerate(start, 3, 50));       // about 70 m
  drive.Add(4, Brake(drive.Now(), 50, 5));      // stops short: dropped
  drive.Stand(0.6);
  const double first = drive.Now();
  drive.Add(25, Accelerate(first, 2.5, 200));
  drive.Add(10, Brake(drive.Now(), 200, 8));
  drive.Stand(1);
  const double second = drive.Now();
  drive.Add(25, Accelerate(second, 4, 200));

  const std::vector<RunResult> runs = FindRuns(drive.records, 400);
  ASSERT_EQ(runs.size(), 2u);
  // The register shows the first step once the car is past 2 km/h.
  EXPECT_NEAR(runs[0].startIndex * 0.01, first + 2 / 3.6 / 2.5, 0.02);
  EXPECT_NEAR(runs[1].startIndex * 0.01, second + 2 / 3.6 / 4, 0.02);
  EXPECT_NEAR(runs[0].timeS, std::sqrt(2 * 400 / 2.5), runs[0].timeUncertaintyS);
  EXPECT_LT(runs[1].endIndex, drive.records.size());

  // A recording that ends before the line holds no run either.
  drive.records.resize(runs[1].endIndex);
  EXPECT_EQ(FindRuns(drive.records, 400).size(), 1u);
}

// Followed a record at a time: the phases, the figures while running, and
// a gap in the records dropping the run going on.
TEST(RunTiming, LivePhasesAndAGap) {
  SyntheticDrive drive;
  drive.Stand(1);
  drive.Add(10, Accelerate(1, 3));
  RunTimer timer(400);
  EXPECT_EQ(timer.CurrentPhase(), RunTimer::Phase::Rolling);
  for (uint32_t i = 0; i < 49; ++i) EXPECT_FALSE(timer.Add(i, drive.records[i]));
  EXPECT_EQ(timer.CurrentPhase(), RunTimer::Phase::Rolling);
  timer.Add(49, drive.records[49]);  // the 50th record at a standstill: half a second
  EXPECT_EQ(timer.CurrentPhase(), RunTimer::Phase::Ready);
  for (uint32_t i = 50; i < 100; ++i) EXPECT_FALSE(timer.Add(i, drive.records[i]));
  for (uint32_t i = 100; i < 600; ++i) EXPECT_FALSE(timer.Add(i, drive.records[i]));
  ASSERT_EQ(timer.CurrentPhase(), RunTimer::Phase::Running);
  EXPECT_NEAR(timer.ElapsedS(), 5.0, 0.03 + 0.5 * 2 / 3.6 / 3);  // as the launch allowance
  EXPECT_NEAR(timer.DistanceM(), 0.5 * 3 * 25, 0.5);

  timer.Add(700, drive.records[700]);  // records 600..699 never came
  EXPECT_EQ(timer.CurrentPhase(), RunTimer::Phase::Rolling);
  EXPECT_EQ(timer.DistanceM(), 0);
}

// A record without road speed (a lost line) cuts the run going on: it is
// not finished through the gap, and the car still moving after it gives no
// new start. Without engine speed the run is timed from the register alone.
// A recording that never holds road speed says so.
TEST(RunTiming, AGapCutsTheRunAndMissingRoadSpeedIsSaid) {
  SyntheticDrive drive;
  drive.Stand(1);
  drive.Add(25, Accelerate(1, 3));
  ASSERT_EQ(FindRuns(drive.records, 400).size(), 1u);

  std::vector<SampleRecord> cut = drive.records;
  cut[600] = GapRecord();
  EXPECT_TRUE(FindRuns(cut, 400).empty());
  SetPresentRegisters(cut[600], kEighteenMask & ~MaskOf(0x0B));
  EXPECT_TRUE(FindRuns(cut, 400).empty());

  std::vector<SampleRecord> noRpm = drive.records;
  for (SampleRecord& record : noRpm) SetPresentRegisters(record, kEighteenMask & ~MaskOf(0x00) & ~MaskOf(0x01));
  const std::vector<RunResult> runs = FindRuns(noRpm, 400);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_NEAR(runs[0].timeS, std::sqrt(2 * 400 / 3.0), runs[0].timeUncertaintyS);
  EXPECT_EQ(runs[0].maxRpm, 0);
  EXPECT_EQ(runs[0].speedUncertaintyKmh, 1.0);  // from the register, not from a gear

  RunTimer timer(400);
  EXPECT_EQ(RunsNeedsMissing(timer.Held()), 0u);  // nothing yet: nothing to say
  timer.Add(0, GapRecord());
  EXPECT_EQ(RunsNeedsMissing(timer.Held()), 0u);
  SampleRecord noSpeed = drive.records[0];
  SetPresentRegisters(noSpeed, kEighteenMask & ~MaskOf(0x0B));
  timer.Add(1, noSpeed);
  EXPECT_EQ(RunsNeedsMissing(timer.Held()), MaskOf(0x0B));
  EXPECT_EQ(RunsNeedsMissing(kEighteenMask), 0u);
  EXPECT_EQ(MissingNeedsText(MaskOf(0x0B)), "The recording holds no road speed (register 0B)");
  EXPECT_EQ(MissingNeedsText(MaskOf(0x0B) | MaskOf(0x00) | MaskOf(0x01) | MaskOf(0x0D)),
            "The recording holds no road speed (register 0B), no engine speed (registers 00, 01), "
            "no throttle position (register 0D)");
}
