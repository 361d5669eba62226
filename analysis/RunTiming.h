// Timing from a standing start over a distance (0-400 m, 0-1000 m) from the
// road-speed register alone: the distance is the sum of speed x 10 ms over
// the records.
//
// How the figures are worked out, and how sure they are:
// - The speed register truncates: a reading of s km/h means a true speed in
//   [s, s + 2). While the car accelerates it sweeps through every 2 km/h
//   step, so the mean true speed over the time a reading lasts is its
//   midpoint, s + 1: moving readings are taken at their midpoint. Without
//   that, 400 m would come out some 4 m short, a tenth of a second.
// - A run starts at the first record showing a speed above 0, but the car
//   left the standstill earlier. The times at which the register passed
//   its first steps (2, 4, 6 ... km/h) fix that moment far better than the
//   first moving record: launches whose force builds up evenly over some
//   time and then holds are fitted to them. A build-up over before the
//   first step leaves no trace in the steps (the car then follows the path
//   of one launched at full force half the build-up later), so the steps
//   allow a span of starts. A hard launch has its force within 0.2 s: the
//   start is the middle of the starts such launches give, and half their
//   span goes into the uncertainty, unless the steps show a longer build-up.
//   Until enough steps are in, the start is estimated from the first one.
// - The uncertainty adds up what the steps and the record spacing leave
//   open: when the first step and the next were crossed (within a sample
//   spacing), the unfinished step at the line, every step the speed did not
//   sweep through (a gear change, a lift), and the record spacing at the
//   line. The sample spacing is the record spacing, or a frame period and a
//   record when the stream delivers frames less often than records are
//   stored (the frame period taken from how often the records change).
// - Once the clutch is engaged, engine speed in gear gives a far finer road
//   speed (12.5 rpm steps against 2 km/h). Each record allows a range of
//   ratios of engine speed to register speed; while the records of a
//   stretch all allow a common one, narrowed to 1 % over five or more
//   steps, the engine speed stands for the road speed, in the distance and
//   at the line. Where a record allows none of them (a slipping clutch, a
//   gear change) the register's midpoints take over again.
// - A speed factor (tyres or a final drive that differ from stock) scales
//   every speed and distance: the register's steps are then factor x 2 km/h
//   of true speed. 100 km/h may fall inside a step; it is placed within the
//   step in proportion, as the car swept through it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data/RecordSource.h"
#include "data/SampleRecord.h"
#include "data/RecordPeriod.h"

// Records at a standstill before a start counts: half a second.
constexpr uint32_t kStandstillRecords = 50;

struct RunResult {
  uint32_t startIndex = 0;  // first record with a speed above 0
  uint32_t endIndex = 0;    // first record at or past the distance
  int64_t startMs = 0;      // RecordTimeMs(startIndex)
  double timeS = 0, timeUncertaintyS = 0;
  double speedKmh = 0, speedUncertaintyKmh = 0;       // speed at the line
  double zeroTo100S = -1, zeroTo100UncertaintyS = 0;  // negative: 100 km/h not reached
  int32_t maxRpm = 0;
  double distanceM = 0;     // the distance the run was timed over
  double speedFactor = 1;   // true speed over register speed, as timed
};

class RunTimer {  // follows records one at a time, live or over a recording
 public:
  // speedFactor: true speed over the register's speed.
  explicit RunTimer(double distanceM, double speedFactor = 1.0);
  enum class Phase { Rolling, Ready, Running };  // Rolling: not yet 0.5 s at a standstill
  // Feeds the record that follows the one fed before (10 ms later); index is
  // its record number. True when this record completed a run; LastRun() then
  // holds it. A run that stops short is dropped. A record that does not
  // follow the one before, or holds no road speed (a gap), drops a run going
  // on and waits for a standstill again. Engine speed is used where the
  // records hold it.
  bool Add(uint32_t index, const SampleRecord& record);
  Phase CurrentPhase() const { return phase_; }
  double ElapsedS() const;  // since the start, while Running
  double DistanceM() const;  // since the start, while Running
  const RunResult& LastRun() const { return last_; }
  double TargetDistanceM() const { return target_; }
  // The registers the records fed so far held, any of them: with
  // RunsNeedsMissing, whether the recording can give a run at all.
  RegisterMask Held() const { return held_; }

 private:
  static std::optional<int32_t> EngineSpeed(const SampleRecord& record);
  void Begin(uint32_t index, int32_t speed, const SampleRecord& record);
  void Follow(uint32_t index, int32_t speed, const SampleRecord& record);
  void Finish(uint32_t index, int32_t speed);
  double SampleSpacingS() const;
  double StartUncertaintyS() const;
  void FitLaunch();
  void FollowGear(int32_t speed, std::optional<int32_t> engineSpeed);

  double MetresPerRecord(double registerKmh) const;

  double target_;
  double factor_;
  double at100Reading_;  // the register reading that stands for a true 100 km/h
  Phase phase_ = Phase::Rolling;
  RegisterMask held_ = 0;
  bool haveLast_ = false;
  uint32_t lastIndex_ = 0;
  SampleRecord lastRecord_{};
  uint32_t standstill_ = 0;  // records at 0 in a row

  // The run going on.
  uint32_t start_ = 0;
  int32_t firstSpeed_ = 0;       // the first reading above 0
  double launchS_ = 0;           // time from leaving the standstill to the first step
  double launchRatio_ = 0;       // launchS_ over the duration of the step it came from; 0: not yet known
  double launchDoubtS_ = 0;      // how far launchS_ may be off, as the launch builds up
  struct Crossing {
    double s;     // record time
    double kmh;   // register speed reached
  };
  std::vector<Crossing> crossings_;  // the first steps, while they rise in turn
  bool fitted_ = false;              // launchS_ comes from the steps' fit
  double distance_ = 0;          // m, from the first moving record on, launch included
  double distanceBefore_ = 0;    // distance_ before the latest record
  uint32_t changes_ = 0;         // records that differ from the one before
  int32_t stayReading_ = 0;      // the reading that lasts now
  uint32_t stayStart_ = 0;
  int stayEnteredFrom_ = 0;      // +1 from below, -1 from above
  double unsweptM_ = 0;          // distance doubt of the steps not swept through
  // The gear the records show: the ratios of engine speed to register speed
  // all of them allow, and the register steps seen in it.
  double ratioLow_ = 0, ratioHigh_ = 0;
  int32_t gearReading_ = 0;
  uint32_t gearSteps_ = 0;
  struct FineSpeed {
    double kmh = -1, doubtKmh = 0;  // register km/h from engine speed; negative: not in gear
  };
  FineSpeed fine_, fineBefore_;  // at the latest record and the one before
  int32_t maxRpm_ = 0;
  double at100_ = -1;            // in records: when the car reached 100 km/h; negative: not yet

  RunResult last_;
};

// The registers of what an analysis needs that a recording never holds
// (held: the registers it holds anywhere, as RegistersHeld in
// data/CsvWriter.h or a tracker's Held() gives them); 0 when none is
// missing, and for a recording that holds nothing at all (none yet, or
// lost lines only), which says nothing of the ECU. Run timing needs road
// speed.
RegisterMask MissingNeeds(RegisterMask needs, RegisterMask held);
RegisterMask RunsNeedsMissing(RegisterMask held);
// What a user is told of missing registers: "The recording holds no road
// speed (register 0B)", the values named in the order road speed, engine
// speed, throttle position.
std::string MissingNeedsText(RegisterMask missing);

// Every run over the distance in a recording.
std::vector<RunResult> FindRuns(const RecordSource& records, double distanceM, double speedFactor = 1.0);
std::vector<RunResult> FindRuns(std::span<const SampleRecord> records, double distanceM,
                                double speedFactor = 1.0);
