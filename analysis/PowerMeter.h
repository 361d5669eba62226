// Power at the wheels from the car's acceleration during a pull: wide-open
// throttle, engine speed rising steadily in one gear.
//
//   power = (m a + 1/2 rho CdA v^2 + Crr m g) v
//
// The speed register truncates to 2 km/h steps, so a reading says little
// about the speed between its steps, but the record where it changes says
// exactly when the car passed a step: those step crossings are the samples
// of the road speed, known to within a record (10 ms) in time. The speed and
// acceleration at each crossing come from a least-squares quadratic through
// the nearest crossings (kFitNeighbours on either side). Fitting the raw
// readings instead would turn the staircase into a ripple of several per cent
// in the acceleration, and a wide window to calm it would flatten the curve.
//
// The torque given is the wheel power over the engine's angular speed: the
// torque at the crankshaft that the wheel power stands for, losses in the
// drive train included (no tyre radius is known, so not the axle torque).
// The mass is the one accelerated: rotating parts (wheels, gearbox,
// flywheel) act as extra mass, more so in the low gears, so the power read
// in first gear is the lowest.
//
// A speed factor (tyres or a final drive that differ from stock) scales the
// road speed at every crossing; a pull is still told from the register's
// own readings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "data/RecordSource.h"
#include "data/SampleRecord.h"

struct VehicleFigures {  // defaults documented in the guide
  double massKg = 1400;  // with driver
  double cdaM2 = 0.65;   // drag area
  double crr = 0.015;    // rolling-resistance coefficient
  bool operator==(const VehicleFigures&) const = default;
};

constexpr double kAirDensityKgM3 = 1.2;  // dry air, 20 deg C, sea level
constexpr double kGravityMS2 = 9.81;
constexpr double kKwPerPs = 0.73549875;

// What makes a pull. Throttle sensors read about 0.45 V closed and 4 V or
// more wide open; above 3.5 V the throttle is open well past the point
// where more opening adds power.
constexpr int32_t kWotThrottleMv = 3500;
constexpr int32_t kPullMinSpeedKmh = 10;     // below this the clutch may still slip
constexpr int32_t kPullRpmDropLimit = 200;   // a fall this far below the highest: the pull is over
constexpr double kPullRatioTolerance = 0.05; // engine speed against road speed (one gear), plus a step
constexpr int32_t kPullMinRpmSpan = 1000;    // shorter ones are not kept
constexpr int kFitNeighbours = 5;            // crossings each side of the one evaluated

struct PowerPoint { double rpm = 0, kw = 0, ps = 0, wheelTorqueNm = 0; };
struct PullResult {
  uint32_t startIndex = 0, endIndex = 0;
  int64_t startMs = 0, endMs = 0;
  double peakKw = 0, peakPs = 0, peakRpm = 0;
  double speedFactor = 1;         // true speed over register speed, as worked out
  std::vector<PowerPoint> curve;  // in rising engine speed
};

// The power that accelerates mass m at a m/s^2 against the drag and the
// rolling resistance at v m/s, in watts.
double WheelPowerW(const VehicleFigures& vehicle, double speedMS, double accelerationMS2);

class PullTracker {  // follows records one at a time, live or over a recording
 public:
  // speedFactor: true speed over the register's speed.
  explicit PullTracker(const VehicleFigures& vehicle, double speedFactor = 1.0);
  // As RunTimer::Add; true when a pull ended with this record and
  // LastPull() holds it. A record without road speed, engine speed or
  // throttle position (a gap) ends a pull going on at the record before.
  // A pull going on at the first record that holds them began before the
  // recording: cut by its start, it is followed but not kept.
  bool Add(uint32_t index, const SampleRecord& record);
  // The registers the records fed so far held (see PullsNeedsMissing).
  RegisterMask Held() const { return held_; }
  // The recording ends: a pull going on is cut by its end, and is dropped.
  // Its curve would end where the recording does, not where the pull did,
  // and the fit leans on one side at the cut.
  void Finish();
  bool InPull() const { return !samples_.empty(); }
  std::vector<PowerPoint> CurrentCurve() const;  // the pull going on, so far (may lag by the smoothing)
  const PullResult& LastPull() const { return last_; }

 private:
  struct Sample { uint32_t index; int32_t speed; int32_t rpm; };
  struct Crossing { double t; double kmh; size_t sample; };

  bool Fits(uint32_t index, int32_t speed, int32_t rpm) const;
  bool EndPull();
  void ClearPull();
  std::vector<PowerPoint> Curve(bool whole) const;

  VehicleFigures vehicle_;
  double factor_;
  std::vector<Sample> samples_;  // the pull going on
  std::vector<Crossing> crossings_;
  double ratioSum_ = 0;          // of rpm per km/h, over samples_
  int32_t maxRpm_ = 0;
  bool cutAtStart_ = false;      // the pull going on began before the recording
  bool sawNeeds_ = false;        // a record held what a pull needs
  RegisterMask held_ = 0;
  PullResult last_;
};

// The registers a pull needs that a recording never holds (as
// RunsNeedsMissing, analysis/RunTiming.h): road speed, engine speed and
// throttle position.
RegisterMask PullsNeedsMissing(RegisterMask held);

// Every pull in a recording; one cut by either of its ends is none.
std::vector<PullResult> FindPulls(const RecordSource& records, const VehicleFigures& vehicle,
                                  double speedFactor = 1.0);
std::vector<PullResult> FindPulls(std::span<const SampleRecord> records, const VehicleFigures& vehicle,
                                  double speedFactor = 1.0);
