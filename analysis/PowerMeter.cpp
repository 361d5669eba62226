#include "analysis/PowerMeter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "analysis/RunTiming.h"

namespace {

// Engine speed around a crossing: the mean over the 100 ms about it
// smooths the register's 12.5 rpm steps.
constexpr int kRpmHalfWindow = 5;

// Least-squares quadratic v = c0 + c1 t + c2 t^2 through the points;
// false when they do not determine one.
bool FitQuadratic(const std::vector<double>& t, const std::vector<double>& v, double& c0,
                  double& c1) {
  double s[5] = {0, 0, 0, 0, 0};  // sums of t^0..t^4
  double r[3] = {0, 0, 0};        // sums of v t^0..t^2
  for (size_t i = 0; i < t.size(); ++i) {
    double p = 1;
    for (int k = 0; k < 5; ++k) {
      s[k] += p;
      if (k < 3) r[k] += v[i] * p;
      p *= t[i];
    }
  }
  // Normal equations, solved by Cramer's rule: three unknowns.
  const double m[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
  auto det = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double d = det(m);
  if (std::fabs(d) < 1e-12 * std::max(1.0, s[0] * s[4])) return false;
  double m0[3][3], m1[3][3];
  std::memcpy(m0, m, sizeof m);
  std::memcpy(m1, m, sizeof m);
  for (int i = 0; i < 3; ++i) {
    m0[i][0] = r[i];
    m1[i][1] = r[i];
  }
  c0 = det(m0) / d;
  c1 = det(m1) / d;
  return true;
}

}  // namespace

double WheelPowerW(const VehicleFigures& vehicle, double speedMS, double accelerationMS2) {
  const double force = vehicle.massKg * accelerationMS2 +
                       0.5 * kAirDensityKgM3 * vehicle.cdaM2 * speedMS * speedMS +
                       vehicle.crr * vehicle.massKg * kGravityMS2;
  return force * speedMS;
}

PullTracker::PullTracker(const VehicleFigures& vehicle, double speedFactor)
    : vehicle_(vehicle), factor_(speedFactor) {}

bool PullTracker::Fits(uint32_t index, int32_t speed, int32_t rpm) const {
  const Sample& previous = samples_.back();
  if (index != previous.index + 1) return false;
  if (speed < kPullMinSpeedKmh) return false;
  if (rpm < maxRpm_ - kPullRpmDropLimit) return false;
  // One gear: the engine speed predicts the road speed, to within the
  // reading's step and a margin for the tyre and the register's lag.
  const double ratio = ratioSum_ / static_cast<double>(samples_.size());
  const double midpoint = speed + 1.0;
  return std::fabs(rpm / ratio - midpoint) <= 1.0 + kPullRatioTolerance * midpoint;
}

RegisterMask PullsNeedsMissing(RegisterMask held) {
  return MissingNeeds(RegistersOf(ValueRowOf("speed")) | RegistersOf(ValueRowOf("rpm")) | RegistersOf(ValueRowOf("throttle")),
                      held);
}

bool PullTracker::Add(uint32_t index, const SampleRecord& record) {
  static const ValueColumn& speedColumn = ValueRowOf("speed");
  static const ValueColumn& rpmColumn = ValueRowOf("rpm");
  static const ValueColumn& throttleColumn = ValueRowOf("throttle");
  static const RegisterMask needs =
      RegistersOf(speedColumn) | RegistersOf(rpmColumn) | RegistersOf(throttleColumn);
  const RegisterMask present = PresentRegisters(record);
  held_ |= present;
  if ((present & needs) != needs) {
    // A gap (a lost line): a pull ends at the record before it, and is kept
    // as one if what came before makes one. Continued across the gap, its
    // speed crossings would span time nobody saw.
    return InPull() && EndPull();
  }
  const int32_t speed = ConvertValue(speedColumn, record);
  const int32_t rpm = ConvertValue(rpmColumn, record);
  const bool open = ConvertValue(throttleColumn, record) >= kWotThrottleMv;
  const bool first = !std::exchange(sawNeeds_, true);

  bool ended = false;
  if (InPull() && !(open && Fits(index, speed, rpm))) ended = EndPull();
  if (!open || speed < kPullMinSpeedKmh || rpm <= 0) return ended;
  if (!InPull()) cutAtStart_ = first;

  if (!samples_.empty()) {
    const Sample& previous = samples_.back();
    // A truncating register changes its reading at the moment the car
    // passes a step: rising to s, or falling below the reading it held.
    if (speed != previous.speed)
      crossings_.push_back({index * kRecordPeriodS, std::max(speed, previous.speed) * factor_, samples_.size()});
  }
  samples_.push_back({index, speed, rpm});
  ratioSum_ += rpm / (speed + 1.0);
  maxRpm_ = std::max(maxRpm_, rpm);
  return ended;
}

void PullTracker::Finish() { ClearPull(); }

bool PullTracker::EndPull() {
  int32_t minRpm = maxRpm_;
  for (const Sample& s : samples_) minRpm = std::min(minRpm, s.rpm);
  bool kept = false;
  if (!cutAtStart_ && maxRpm_ - minRpm >= kPullMinRpmSpan) {
    std::vector<PowerPoint> curve = Curve(true);
    if (!curve.empty()) {
      PullResult pull;
      pull.startIndex = samples_.front().index;
      pull.endIndex = samples_.back().index;
      pull.startMs = RecordTimeMs(pull.startIndex);
      pull.endMs = RecordTimeMs(pull.endIndex);
      const auto peak = std::max_element(curve.begin(), curve.end(),
                                         [](const PowerPoint& a, const PowerPoint& b) { return a.kw < b.kw; });
      pull.peakKw = peak->kw;
      pull.peakPs = peak->ps;
      pull.peakRpm = peak->rpm;
      pull.speedFactor = factor_;
      pull.curve = std::move(curve);
      last_ = std::move(pull);
      kept = true;
    }
  }
  ClearPull();
  return kept;
}

void PullTracker::ClearPull() {
  samples_.clear();
  crossings_.clear();
  ratioSum_ = 0;
  maxRpm_ = 0;
  cutAtStart_ = false;
}

std::vector<PowerPoint> PullTracker::CurrentCurve() const { return Curve(false); }

std::vector<PowerPoint> PullTracker::Curve(bool whole) const {
  std::vector<PowerPoint> curve;
  const size_t n = crossings_.size();
  std::vector<double> t, v;
  for (size_t k = 0; k < n; ++k) {
    const size_t lo = k >= static_cast<size_t>(kFitNeighbours) ? k - kFitNeighbours : 0;
    const size_t hi = std::min(n - 1, k + kFitNeighbours);
    // Near the ends of a pull the fit leans on one side; two neighbours
    // there still pin the curvature. A live curve waits for the full set
    // after a crossing, so that its points are final.
    if (k - lo < 2 || hi - k < 2) continue;
    if (!whole && hi - k < static_cast<size_t>(kFitNeighbours)) continue;
    t.clear();
    v.clear();
    for (size_t j = lo; j <= hi; ++j) {
      t.push_back(crossings_[j].t - crossings_[k].t);
      v.push_back(crossings_[j].kmh);
    }
    double c0 = 0, c1 = 0;
    if (!FitQuadratic(t, v, c0, c1)) continue;

    const size_t at = crossings_[k].sample;
    const size_t first = at >= static_cast<size_t>(kRpmHalfWindow) ? at - kRpmHalfWindow : 0;
    const size_t last = std::min(samples_.size() - 1, at + kRpmHalfWindow - 1);
    double rpmSum = 0;
    for (size_t j = first; j <= last; ++j) rpmSum += samples_[j].rpm;
    const double rpm = rpmSum / static_cast<double>(last - first + 1);

    const double watts = WheelPowerW(vehicle_, c0 / 3.6, c1 / 3.6);
    PowerPoint point;
    point.rpm = rpm;
    point.kw = watts / 1000;
    point.ps = point.kw / kKwPerPs;
    point.wheelTorqueNm = rpm > 0 ? watts / (rpm * 2 * std::numbers::pi / 60) : 0;
    curve.push_back(point);
  }
  std::stable_sort(curve.begin(), curve.end(),
                   [](const PowerPoint& a, const PowerPoint& b) { return a.rpm < b.rpm; });
  return curve;
}

std::vector<PullResult> FindPulls(const RecordSource& records, const VehicleFigures& vehicle,
                                  double speedFactor) {
  std::vector<PullResult> pulls;
  PullTracker tracker(vehicle, speedFactor);
  records.Visit(0, records.Count(), [&](uint32_t first, std::span<const SampleRecord> block) {
    for (size_t i = 0; i < block.size(); ++i)
      if (tracker.Add(first + static_cast<uint32_t>(i), block[i])) pulls.push_back(tracker.LastPull());
  });
  return pulls;
}

std::vector<PullResult> FindPulls(std::span<const SampleRecord> records, const VehicleFigures& vehicle,
                                  double speedFactor) {
  return FindPulls(RecordSpan(records), vehicle, speedFactor);
}
