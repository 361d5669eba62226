// A small, believable engine for the ECU simulator: it cranks, idles with
// a cold-start fast idle, blips the throttle, drives off through the gears,
// cruises, slows down and idles again, while the coolant warms up and the
// fan and air-conditioning bits switch. Everything follows from the seed,
// so two models with the same seed produce the same register bytes.
//
// The ECU's active tests take over parts of it as they would on a car: a
// held idle air valve moves the idle speed, a cut cylinder drops it, the
// fuel pump switched off stalls the engine, a coolant temperature given to
// the ECU makes it fuel, idle and switch the fans as at that temperature.
// While no test holds, nothing of this touches the run the seed gives.
//
// The registers beyond the eighteen (the second bank, the intake and fuel
// temperatures, the self-learned mixture, the turbo, the rear O2 sensors)
// follow the same engine, but their own slow wander draws on a generator of
// its own: the eighteen of a seed stay the bytes they always were.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// A tiny portable generator (splitmix64): the standard distributions are
// not the same on every library, and the simulator must be repeatable.
class SimRandom {
 public:
  explicit SimRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  double Uniform(double low, double high);    // [low, high)
  int Integer(int low, int high);             // [low, high]
  bool Chance(double probability);

 private:
  uint64_t state_;
};

// The drag-run car (--drag-run): standing starts and full-throttle pulls
// through the gears, over more than 1000 m, then braking to a stop, over and
// over. Its figures are the power meter's defaults, so the meter reads its
// curve without entering anything: 1400 kg with driver, drag area 0.65 m^2,
// rolling resistance 0.015, air 1.2 kg/m^3, and no rotating parts to speed
// up (a real car's wheels and flywheel add to the mass it seems to have).
struct DragRunCar {
  static constexpr double kMassKg = 1400;
  static constexpr double kCdaM2 = 0.65;
  static constexpr double kCrr = 0.015;
  static constexpr double kAirDensity = 1.2;
  static constexpr double kPeakKw = 118;        // at the wheels
  static constexpr double kPeakRpm = 5600;
  static constexpr double kCurveWidthRpm = 4400;
  static constexpr double kShiftRpm = 6800;
  static constexpr double kLaunchRpm = 4000;    // held while the clutch slips
  static constexpr double kStandSeconds = 3;    // at a standstill before each start
  static constexpr double kRunMetres = 1150;    // full throttle this far, then the brakes
  static constexpr double kBrakeMS2 = 7;
  static constexpr double kShiftSeconds = 0.35; // throttle shut, clutch down
  // Wheel power at full throttle: a parabola, 118 kW (160.4 PS) at 5600 rpm,
  // 91 kW at 3500, 109 kW at 6800.
  static double WheelKw(double rpm);
};

class EngineModel {
 public:
  explicit EngineModel(uint64_t seed, bool dragRun = false);

  // Moves the engine on by dt seconds of simulated time.
  void Advance(double dt);

  // The raw byte the ECU reports for register nn, scaled as the program
  // converts it back (engine speed word = rpm / 12.5, coolant = deg C + 50,
  // ...) and clamped to the register's range, 0..255 (words 0..FFFF): any
  // byte, 0xFF included, as a real engine gives it. Every catalogue register
  // has a value, those of the right bank included (whether an ECU has them
  // is the ECU's matter). Unknown registers read 0.
  uint8_t Register(uint8_t nn) const;

  // The active tests the ECU holds from now on, as (test number, value) in
  // the order they came, in place of those it held; none gives the engine
  // back to the ECU. Tests it has nothing for change nothing. Clearing the
  // learned values happens as the test comes, not for as long as it holds.
  void HoldTests(const std::vector<std::pair<uint8_t, uint8_t>>& tests);
  // Nobody drives: once started, the engine idles on with the car standing,
  // as on a driveway while its idle is set or its cylinders are compared.
  void SetIdleOnly(bool idleOnly) { idleOnly_ = idleOnly; }

  // Engineering values, for tests and for anyone reading the simulator.
  double Rpm() const { return rpm_; }
  double SpeedKmh() const { return speed_; }
  double CoolantC() const { return coolant_; }
  int Gear() const { return gear_; }
  // Engine and wheels locked together in gear (the clutch neither down nor
  // slipping); kept track of in the drag run.
  bool Coupled() const {
    return gear_ > 0 && (dragPhase_ == DragPhase::Pull || dragPhase_ == DragPhase::Brake);
  }
  double Seconds() const { return time_; }
  // Stopped for want of fuel; it is started again once the fuel comes back.
  bool Stalled() const { return stalled_; }

 private:
  enum class Phase { Crank, Idle, Blip, Accelerate, Cruise, Decelerate };
  enum class DragPhase { Stand, Launch, Pull, Shift, Brake };

  void EnterPhase(Phase phase);
  void UpdatePhase(double dt);
  void UpdateDragRun(double dt);
  void DragStep(double dt);  // one millisecond or less of the drag run
  void UpdateTemperatures(double dt);
  void UpdateSwitches(double dt);
  void UpdateStall(double dt);
  void RollToAStop(double dt);  // clutch down, braking
  void Restart();
  double Airflow() const;  // 0..1, a rough engine load
  // What the ECU takes the coolant to be: the sensor's, or the test's.
  double EcuCoolantC() const;
  double IdleAacPercent() const;  // the valve opening the ECU sets at idle
  double AacRiseRpm() const;      // of the idle, from a held valve opening
  double IdleRpm(double usual) const;  // with the held valve and cut cylinders
  double IdleSettleSeconds(double usual) const;
  double FiringShare() const;     // of the engine's power, with cylinders cut
  bool FuelCut() const;
  bool ClosedLoop() const;
  double LoadPercent() const;     // the ECU's calculated load
  double TurboShare() const;      // 0 off boost .. 1 full boost
  void UpdateBeyondEighteen(double dt);
  bool PumpHeldOff() const { return heldPump_ && *heldPump_ == 0; }
  bool FanLowOn() const { return heldFanLow_ ? *heldFanLow_ != 0 : fanLow_; }
  bool FanHighOn() const { return heldFanHigh_ ? *heldFanHigh_ != 0 : fanHigh_; }

  SimRandom random_;
  Phase phase_ = Phase::Crank;
  bool idleOnly_ = false;
  double phaseLeft_ = 0;   // seconds until the phase ends (idle, blip, cruise)
  double time_ = 0;
  int blipsLeft_ = 0;

  double rpm_ = 0;
  double throttle_ = 0;         // 0 closed .. 1 wide open
  double throttleTarget_ = 0;
  double speed_ = 0;            // km/h
  int gear_ = 0;                // 0 neutral
  double shiftRpm_ = 3000;
  double cruiseSpeed_ = 60;
  double coolant_ = 20;         // deg C
  double exhaustLevel_ = 0;     // 0..1, follows load slowly
  double o2Phase_ = 0;          // closed-loop oscillation, 0..1
  double noise_ = 0;            // small jitter refreshed each step

  bool dragRun_ = false;
  DragPhase dragPhase_ = DragPhase::Stand;
  double dragLeft_ = 0;         // seconds left of a stand or a shift
  double dragMetres_ = 0;       // since the start of the run
  double speedMS_ = 0;          // the drag run's speed, m/s

  bool acSwitch_ = false;
  double acLeft_ = 0;           // seconds until the A/C switch changes
  bool acRelay_ = false;
  double acRelayLeft_ = 0;      // compressor cycling
  bool fanLow_ = false;
  bool fanHigh_ = false;
  bool powerSteering_ = false;
  double steeringLeft_ = 0;

  // What the active tests hold: the value as sent, none where no test does.
  std::optional<uint8_t> heldCoolant_;  // deg C + 50
  std::optional<uint8_t> heldTrim_;     // percent of the injection time
  std::optional<uint8_t> heldAac_;      // percent x 2
  std::optional<uint8_t> heldPump_;
  std::optional<uint8_t> heldFanLow_;
  std::optional<uint8_t> heldFanHigh_;
  int cutCylinders_ = 0;
  double learnedShare_ = 1;     // of the closed-loop correction, 0 just after a clear
  double railFuelSeconds_ = 0;  // left in the rail since the pump stopped
  bool starving_ = false;       // running down for want of fuel
  bool stalled_ = false;

  // The registers beyond the eighteen. Their generator is not random_, so
  // that they cannot move the run of the eighteen.
  SimRandom wander_;
  double ambient_ = 20;         // deg C: the cold engine's coolant at the start
  double fuelTemp_ = 20;        // deg C
  double intakeTemp_ = 20;      // deg C
  double selfLearn_[2] = {100, 100};        // percent, left and right bank
  double selfLearnTarget_[2] = {100, 100};  // where the learning is heading
  double selfLearnLeft_ = 0;    // seconds until the targets move
  double rearO2_[2] = {0x40, 0x40};  // raw
};
