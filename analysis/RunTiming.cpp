#include "analysis/RunTiming.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>

namespace {

// The register step of the road speed and the midpoint taken for a reading.
constexpr double kSpeedStepKmh = 2.0;
constexpr double kHalfStepKmh = kSpeedStepKmh / 2;

const ValueColumn& Column(const char* key) {
  for (const ValueColumn& column : kValueColumns)
    if (std::strcmp(column.key, key) == 0) return column;
  return kValueColumns[0];  // not reached: the keys are the table's own
}

}  // namespace

RunTimer::RunTimer(double distanceM, double speedFactor)
    : target_(distanceM), factor_(speedFactor), at100Reading_(100 / speedFactor) {}

double RunTimer::MetresPerRecord(double registerKmh) const {
  return registerKmh * factor_ / 3.6 * kRecordPeriodS;
}

bool RunTimer::Add(uint32_t index, const SampleRecord& record) {
  static const ValueColumn& speedColumn = Column("speed");
  const int32_t speed = ConvertValue(speedColumn, record);
  const bool follows = haveLast_ && index == lastIndex_ + 1;
  bool completed = false;

  if (haveLast_ && !follows) {
    // A gap: what went on between is unknown.
    phase_ = Phase::Rolling;
    standstill_ = 0;
  }

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

void RunTimer::Begin(uint32_t index, int32_t speed, const SampleRecord& record) {
  static const ValueColumn& rpmColumn = Column("rpm");
  phase_ = Phase::Running;
  start_ = index;
  firstSpeed_ = speed;
  launchS_ = 0;
  launchRatio_ = 0;
  launchDoubtS_ = 0;
  distance_ = MetresPerRecord(speed + kHalfStepKmh);
  distanceBefore_ = 0;
  changes_ = 1;
  stayReading_ = speed;
  stayStart_ = index;
  stayEnteredFrom_ = +1;
  unsweptM_ = 0;
  maxRpm_ = ConvertValue(rpmColumn, record);
  at100_ = speed >= at100Reading_ ? static_cast<double>(index) : -1.0;
}

void RunTimer::Follow(uint32_t index, int32_t speed, const SampleRecord& record) {
  static const ValueColumn& rpmColumn = Column("rpm");
  if (record != lastRecord_) ++changes_;
  maxRpm_ = std::max(maxRpm_, ConvertValue(rpmColumn, record));
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
    if (leftTo != stayEnteredFrom_) unsweptM_ += kHalfStepKmh * factor_ / 3.6 * stayS;
    stayEnteredFrom_ = leftTo;
    stayReading_ = speed;
    stayStart_ = index;
  }

  distanceBefore_ = distance_;
  distance_ += MetresPerRecord(speed + kHalfStepKmh);
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

double RunTimer::StartUncertaintyS() const {
  // The first step was crossed within a sample spacing before the record
  // showing it (taken at half of one); the launch time scales the duration
  // of that step, known to one spacing.
  const double spacing = SampleSpacingS();
  return spacing / 2 + 1.5 * launchRatio_ * spacing + launchDoubtS_;
}

void RunTimer::Finish(uint32_t index, int32_t speed) {
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
