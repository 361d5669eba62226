#include "analysis/RunTiming.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

// The register step of the road speed and the midpoint taken for a reading.
constexpr double kSpeedStepKmh = 2.0;
constexpr double kHalfStepKmh = kSpeedStepKmh / 2;

// The launch is fitted to the first steps up to this many, or this speed
// (first gear may end above it), or the first step not swept through.
constexpr size_t kFitSteps = 16;
constexpr size_t kLeastFitSteps = 4;  // fewer: the first step's estimate stands
constexpr double kFitTopKmh = 40;
// Engine speed stands for road speed once a gear's ratio is known to 1 %
// from at least five register steps; the engine speed register's step.
constexpr double kGearRatioWidth = 0.01;
constexpr uint32_t kGearSteps = 5;
constexpr double kRpmStep = 12.5;

// The longest build-up of the launch's force fitted (a gentle clutch), and
// the longest a hard launch takes.
constexpr int kLongestBuildUpTenMs = 150;
constexpr double kHardBuildUpS = 0.2;

// Since its start, the time a launch takes to reach v (m/s) when its
// acceleration builds up evenly over buildS to a (m/s^2) and then holds.
double LaunchTime(double v, double a, double buildS) {
  return v < a * buildS / 2 ? std::sqrt(2 * buildS * v / a) : buildS / 2 + v / a;
}

struct LaunchFit {
  double startS = 0, a = 0, buildS = 0, cost = 0;
};

struct StepPoint {
  double s, v;  // when the register passed a step, and the step's speed in m/s
};

// For a given build-up: the start is the mean of what each point leaves
// over, the acceleration found by golden section on its inverse (the times
// are linear in it once the build-up is over).
LaunchFit FitWithBuildUp(std::span<const StepPoint> points, double buildS) {
  auto fitAt = [&](double a) {
    LaunchFit fit{0, a, buildS, 0};
    for (const StepPoint& p : points) fit.startS += p.s - LaunchTime(p.v, a, buildS);
    fit.startS /= static_cast<double>(points.size());
    for (const StepPoint& p : points) {
      const double miss = p.s - fit.startS - LaunchTime(p.v, a, buildS);
      fit.cost += miss * miss;
    }
    return fit;
  };
  const double golden = (std::sqrt(5.0) - 1) / 2;
  double low = 1 / 30.0, high = 1 / 0.2;  // s^2/m: 30 m/s^2 down to 0.2
  double x1 = high - golden * (high - low), x2 = low + golden * (high - low);
  LaunchFit f1 = fitAt(1 / x1), f2 = fitAt(1 / x2);
  for (int i = 0; i < 32; ++i) {  // to a millionth of the span
    if (f1.cost <= f2.cost) {
      high = x2;
      x2 = x1;
      f2 = f1;
      x1 = high - golden * (high - low);
      f1 = fitAt(1 / x1);
    } else {
      low = x1;
      x1 = x2;
      f1 = f2;
      x2 = low + golden * (high - low);
      f2 = fitAt(1 / x2);
    }
  }
  return f1.cost <= f2.cost ? f1 : f2;
}

}  // namespace

RunTimer::RunTimer(double distanceM, double speedFactor)
    : target_(distanceM), factor_(speedFactor), at100Reading_(100 / speedFactor) {}

double RunTimer::MetresPerRecord(double registerKmh) const {
  return registerKmh * factor_ / 3.6 * kRecordPeriodS;
}

bool RunTimer::Add(uint32_t index, const SampleRecord& record) {
  static const ValueColumn& speedColumn = ValueRowOf("speed");
  static const RegisterMask speedRegisters = RegistersOf(speedColumn);
  const RegisterMask present = PresentRegisters(record);
  held_ |= present;
  const bool follows = haveLast_ && index == lastIndex_ + 1;
  const bool hasSpeed = (present & speedRegisters) == speedRegisters;
  bool completed = false;

  if ((haveLast_ && !follows) || !hasSpeed) {
    // A gap: what went on between is unknown. A record without road speed
    // (a lost line) is one too: a run going on ends there unfinished, as a
    // time over a distance partly unseen would be a guess, and a start
    // needs a standstill after it again.
    phase_ = Phase::Rolling;
    standstill_ = 0;
  }
  if (!hasSpeed) {
    haveLast_ = true;
    lastIndex_ = index;
    lastRecord_ = record;
    return false;
  }
  const int32_t speed = ConvertValue(speedColumn, record);

  if (phase_ == Phase::Running) {
    if (speed <= 0) {
      phase_ = Phase::Rolling;  // stopped short: no run
      standstill_ = 0;
    } else {
      Follow(index, speed, record);
      if (distance_ >= target_) {
        Finish(index, speed);
        phase_ = Phase::Rolling;
        standstill_ = 0;
        completed = true;
      }
    }
  } else if (speed > 0) {
    if (phase_ == Phase::Ready) {
      Begin(index, speed, record);
    } else {
      standstill_ = 0;
    }
  }

  if (phase_ != Phase::Running && !completed && speed <= 0) {
    ++standstill_;
    if (standstill_ >= kStandstillRecords) phase_ = Phase::Ready;
  }

  haveLast_ = true;
  lastIndex_ = index;
  lastRecord_ = record;
  return completed;
}

std::optional<int32_t> RunTimer::EngineSpeed(const SampleRecord& record) {
  static const ValueColumn& rpmColumn = ValueRowOf("rpm");
  static const RegisterMask rpmRegisters = RegistersOf(rpmColumn);
  if ((PresentRegisters(record) & rpmRegisters) != rpmRegisters) return std::nullopt;
  return ConvertValue(rpmColumn, record);
}

void RunTimer::Begin(uint32_t index, int32_t speed, const SampleRecord& record) {
  phase_ = Phase::Running;
  start_ = index;
  firstSpeed_ = speed;
  launchS_ = 0;
  launchRatio_ = 0;
  launchDoubtS_ = 0;
  crossings_.assign(1, Crossing{(index - 0.5) * kRecordPeriodS, static_cast<double>(speed)});
  fitted_ = false;
  distance_ = MetresPerRecord(speed + kHalfStepKmh);
  distanceBefore_ = 0;
  changes_ = 1;
  stayReading_ = speed;
  stayStart_ = index;
  stayEnteredFrom_ = +1;
  unsweptM_ = 0;
  const std::optional<int32_t> rpm = EngineSpeed(record);
  maxRpm_ = rpm.value_or(0);
  ratioLow_ = 0;
  ratioHigh_ = 0;  // allows none: the first record starts a gear
  fine_ = fineBefore_ = FineSpeed{};
  FollowGear(speed, rpm);
  at100_ = speed >= at100Reading_ ? static_cast<double>(index) : -1.0;
}

void RunTimer::Follow(uint32_t index, int32_t speed, const SampleRecord& record) {
  if (record != lastRecord_) ++changes_;
  const std::optional<int32_t> rpm = EngineSpeed(record);
  if (rpm) maxRpm_ = std::max(maxRpm_, *rpm);
  FollowGear(speed, rpm);
  if (at100_ < 0 && speed >= at100Reading_) {
    // The register left the reading that held 100 km/h (at a factor of 1,
    // exactly as it reached 100): 100 was passed that far into its step.
    const double into = stayReading_ < at100Reading_ && speed > stayReading_
                            ? (at100Reading_ - stayReading_) / (speed - stayReading_)
                            : 1.0;
    at100_ = stayStart_ + into * (index - stayStart_);
  }

  if (speed != stayReading_) {
    const int leftTo = speed > stayReading_ ? +1 : -1;
    const double stayS = (index - stayStart_) * kRecordPeriodS;
    if (launchRatio_ == 0 && stayStart_ == start_ && leftTo > 0) {
      // The first step lasted stayS and took the car from firstSpeed_ to
      // speed. At that acceleration it reached firstSpeed_ evenTimeS after
      // leaving the standstill. A launch whose force builds up (the clutch
      // biting, the throttle opening) gets there later, by up to as long
      // again when the build-up is over by the next step: the midpoint of
      // the two is taken, and half of the span goes into the uncertainty.
      launchRatio_ = static_cast<double>(firstSpeed_) / (speed - firstSpeed_);
      const double evenTimeS = launchRatio_ * stayS;
      launchS_ = 1.5 * evenTimeS;
      launchDoubtS_ = 0.5 * evenTimeS;
      distance_ += firstSpeed_ * factor_ / 2.0 / 3.6 * launchS_;
    }
    // A step the speed turned back in (or ended a plateau in) was not swept
    // through: its midpoint may be off by up to half a step all along.
    const bool swept = leftTo == stayEnteredFrom_;
    if (!swept) unsweptM_ += kHalfStepKmh * factor_ / 3.6 * stayS;
    if (!fitted_) {
      // A record stands for the 10 ms around it: the register changed at
      // the boundary before the first record showing the new reading.
      if (swept && leftTo > 0) crossings_.push_back({(index - 0.5) * kRecordPeriodS, static_cast<double>(speed)});
      if (!swept || leftTo < 0 || crossings_.size() >= kFitSteps || speed * factor_ >= kFitTopKmh) FitLaunch();
    }
    stayEnteredFrom_ = leftTo;
    stayReading_ = speed;
    stayStart_ = index;
  }

  distanceBefore_ = distance_;
  distance_ += MetresPerRecord(fine_.kmh >= 0 ? fine_.kmh : speed + kHalfStepKmh);
}

void RunTimer::FollowGear(int32_t speed, std::optional<int32_t> engineSpeed) {
  if (!engineSpeed) {
    // Nothing to tell a gear by: the register's midpoints take over, and a
    // gear starts afresh with the next engine speed.
    ratioLow_ = ratioHigh_ = 0;
    gearSteps_ = 0;
    gearReading_ = speed;
    fineBefore_ = fine_;
    fine_ = FineSpeed{};
    return;
  }
  const int32_t rpm = *engineSpeed;
  // The true speeds [speed, speed + 2) and engine speeds [rpm, rpm + 12.5)
  // allow these ratios.
  const double low = rpm / (speed + kSpeedStepKmh), high = (rpm + kRpmStep) / speed;
  const double common = std::min(ratioHigh_, high) - std::max(ratioLow_, low);
  if (common > 0) {
    ratioLow_ = std::max(ratioLow_, low);
    ratioHigh_ = std::min(ratioHigh_, high);
    if (speed != gearReading_) ++gearSteps_;
  } else {
    ratioLow_ = low;  // a gear of its own from here, or none
    ratioHigh_ = high;
    gearSteps_ = 0;
  }
  gearReading_ = speed;
  fineBefore_ = fine_;
  fine_ = FineSpeed{};
  if (gearSteps_ >= kGearSteps && ratioHigh_ - ratioLow_ <= kGearRatioWidth * ratioLow_) {
    const double fastest = (rpm + kRpmStep) / ratioLow_, slowest = rpm / ratioHigh_;
    fine_ = FineSpeed{(fastest + slowest) / 2, (fastest - slowest) / 2};
  }
}

double RunTimer::SampleSpacingS() const {
  // A reading reaches a record within a record of the frame that carried
  // it, and a frame within its own period of the change. The frame period
  // is taken as the mean time between records that differ: a running car
  // changes some register in nearly every frame, and a value standing
  // still only makes the figure more careful. (The shortest time between
  // such records would not do: the bytes of a serial line arrive in
  // bursts, so two frames can land in one record's time.)
  const double framesS = (lastIndex_ + 1 - start_) * kRecordPeriodS / std::max<uint32_t>(changes_, 1);
  if (framesS < 1.2 * kRecordPeriodS) return kRecordPeriodS;
  return framesS + kRecordPeriodS;
}

void RunTimer::FitLaunch() {
  fitted_ = true;
  if (crossings_.size() < kLeastFitSteps) return;
  std::vector<StepPoint> points;
  for (const Crossing& c : crossings_) points.push_back({c.s, c.kmh * factor_ / 3.6});

  // Every build-up the steps allow: those that fit them within what the
  // frames' timing scatters (each step's time is spread evenly over a
  // sample spacing; within three standard deviations). A build-up over
  // before the first step fits as well as none at all: the car then follows
  // the same path as one launched at full force half the build-up later,
  // so the start is known only to that span. Its middle is taken.
  std::vector<LaunchFit> fits;
  double bestCost = 1e300;
  for (int tenMs = 0; tenMs <= kLongestBuildUpTenMs; ++tenMs) {
    fits.push_back(FitWithBuildUp(points, tenMs * 0.01));
    bestCost = std::min(bestCost, fits.back().cost);
  }
  const double spacing = SampleSpacingS();
  const double allowed = bestCost + 9 * spacing * spacing / 12;
  // A hard launch has its force within kHardBuildUpS: of the build-ups
  // the steps allow, only those count, unless the steps show a longer one.
  bool hardFits = false;
  for (const LaunchFit& fit : fits) hardFits |= fit.cost <= allowed && fit.buildS <= kHardBuildUpS + 1e-9;
  double earliest = 1e300, latest = -1e300;
  for (const LaunchFit& fit : fits)
    if (fit.cost <= allowed && (!hardFits || fit.buildS <= kHardBuildUpS + 1e-9)) {
      earliest = std::min(earliest, fit.startS);
      latest = std::max(latest, fit.startS);
    }
  // The start itself is extrapolated from the steps' times (three standard
  // deviations of that).
  const double scatterS = spacing * std::sqrt(3.0 / static_cast<double>(points.size()));
  const double startS = (earliest + latest) / 2;
  const double doubtS = (latest - earliest) / 2 + scatterS;

  const double firstS = (start_ - 0.5) * kRecordPeriodS;
  const double launchS = std::max(0.0, firstS - startS);
  const double moreM = firstSpeed_ * factor_ / 2.0 / 3.6 * (launchS - launchS_);
  distance_ += moreM;
  distanceBefore_ += moreM;
  launchS_ = launchS;
  launchDoubtS_ = doubtS;
}

double RunTimer::StartUncertaintyS() const {
  if (fitted_ && crossings_.size() >= kLeastFitSteps) return launchDoubtS_;
  // The first step was crossed within a sample spacing before the record
  // showing it (taken at half of one); the launch time scales the duration
  // of that step, known to one spacing.
  const double spacing = SampleSpacingS();
  return spacing / 2 + 1.5 * launchRatio_ * spacing + launchDoubtS_;
}

void RunTimer::Finish(uint32_t index, int32_t speed) {
  if (!fitted_) FitLaunch();
  const double spacing = SampleSpacingS();
  // Record i stands for the 10 ms around it, so the distance after record
  // i is the distance half a record later; the line lies between that
  // point and the one before, where the distance grows evenly.
  const double fraction = (target_ - distanceBefore_) / (distance_ - distanceBefore_);
  const double lineS = (index - start_ - 0.5 + fraction) * kRecordPeriodS;
  // The first record stands from half a record before it; the car left the
  // standstill launchS_ before that.
  const double originS = -0.5 * kRecordPeriodS - launchS_;

  RunResult run;
  run.startIndex = start_;
  run.endIndex = index;
  run.startMs = RecordTimeMs(start_);
  run.distanceM = target_;
  run.timeS = lineS - originS;
  run.speedKmh = (speed + kHalfStepKmh) * factor_;
  run.speedUncertaintyKmh = kHalfStepKmh * factor_;
  if (fine_.kmh >= 0 && fineBefore_.kmh >= 0) {
    // In gear at the line: between the two records' engine speeds.
    run.speedKmh = (fineBefore_.kmh + fraction * (fine_.kmh - fineBefore_.kmh)) * factor_;
    run.speedUncertaintyKmh = std::max(fine_.doubtKmh, fineBefore_.doubtKmh) * factor_;
  }
  run.speedFactor = factor_;

  // The step going on at the line has been crossed only partly: its
  // midpoint may be off by up to half a step over the time it has lasted.
  const double openStayS = (index + 1 - stayStart_) * kRecordPeriodS;
  const double distanceDoubtM = unsweptM_ + kHalfStepKmh * factor_ / 3.6 * openStayS;
  const double lineSpeed = run.speedKmh / 3.6;
  run.timeUncertaintyS = StartUncertaintyS() + distanceDoubtM / lineSpeed + spacing / 2;

  if (at100_ >= 0) {
    // A truncating register first reads 100 within a sample spacing after
    // the car reached 100 km/h.
    const double at100S = (at100_ - start_) * kRecordPeriodS - spacing / 2;
    run.zeroTo100S = at100S - originS;
    run.zeroTo100UncertaintyS = StartUncertaintyS() + spacing / 2;
  }
  run.maxRpm = maxRpm_;
  last_ = run;
}

double RunTimer::ElapsedS() const {
  if (phase_ != Phase::Running) return 0;
  return (lastIndex_ - start_ + 0.5) * kRecordPeriodS + launchS_;
}

double RunTimer::DistanceM() const { return phase_ == Phase::Running ? distance_ : 0; }

namespace {

// What the analysis needs, as a user knows it.
struct NeededValue {
  const ValueColumn* column;
  const char* what;
};
constexpr NeededValue kNeededValues[] = {{&ValueRowOf("speed"), "road speed"},
                                         {&ValueRowOf("rpm"), "engine speed"},
                                         {&ValueRowOf("throttle"), "throttle position"}};

}  // namespace

RegisterMask MissingNeeds(RegisterMask needs, RegisterMask held) {
  // Nothing held at all (no record yet, or lost lines only) says nothing of
  // which registers the ECU has.
  return held == 0 ? 0 : needs & ~held;
}

RegisterMask RunsNeedsMissing(RegisterMask held) { return MissingNeeds(RegistersOf(ValueRowOf("speed")), held); }

std::string MissingNeedsText(RegisterMask missing) {
  std::string text;
  for (const NeededValue& value : kNeededValues) {
    const RegisterMask lacking = RegistersOf(*value.column) & missing;
    if (lacking == 0) continue;
    std::string numbers;
    int count = 0;
    for (int k = 0; k < kCatalogueSize; ++k) {
      if ((lacking >> k & 1) == 0) continue;
      char number[4];
      std::snprintf(number, sizeof number, "%02X", kCatalogue[static_cast<size_t>(k)].number);
      numbers += (count++ > 0 ? ", " : "") + std::string(number);
    }
    text += std::string(text.empty() ? "The recording holds no " : ", no ") + value.what +
            (count > 1 ? " (registers " : " (register ") + numbers + ")";
  }
  return text;
}

std::vector<RunResult> FindRuns(const RecordSource& records, double distanceM, double speedFactor) {
  std::vector<RunResult> runs;
  RunTimer timer(distanceM, speedFactor);
  records.Visit(0, records.Count(), [&](uint32_t first, std::span<const SampleRecord> block) {
    for (size_t i = 0; i < block.size(); ++i)
      if (timer.Add(first + static_cast<uint32_t>(i), block[i])) runs.push_back(timer.LastRun());
  });
  return runs;
}

std::vector<RunResult> FindRuns(std::span<const SampleRecord> records, double distanceM,
                                double speedFactor) {
  return FindRuns(RecordSpan(records), distanceM, speedFactor);
}
