#include "tools/ecusim/EngineModel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

uint64_t SimRandom::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double SimRandom::Uniform(double low, double high) {
  const double unit = static_cast<double>(Next() >> 11) / 9007199254740992.0;  // 2^53
  return low + (high - low) * unit;
}

int SimRandom::Integer(int low, int high) {
  const uint64_t span = static_cast<uint64_t>(high - low) + 1;
  return low + static_cast<int>(Next() % span);
}

bool SimRandom::Chance(double probability) { return Uniform(0, 1) < probability; }

namespace {

// Road speed per 1000 rpm in each gear (gear 0 is neutral).
constexpr double kKmhPer1000Rpm[6] = {0, 8, 14, 21, 28, 35};
constexpr double kThermostatC = 88;

// The active tests the engine answers to, by test number.
constexpr uint8_t kTestCoolant = 0x80;
constexpr uint8_t kTestInjectionTrim = 0x81;
constexpr uint8_t kTestAac = 0x84;
constexpr uint8_t kTestPowerBalance = 0x88;
constexpr uint8_t kTestFuelPump = 0x89;
constexpr uint8_t kTestClearLearning = 0x8B;
constexpr uint8_t kTestFanLow = 0x93;
constexpr uint8_t kTestFanHigh = 0x94;

constexpr int kCylinders = 6;
constexpr uint8_t kCylinderBits = 0x3F;  // one a cylinder; the top two cut nothing
// With half its cylinders cut the engine cannot carry itself.
constexpr int kCutCylindersToStall = 3;
constexpr double kRpmPerCutCylinder = 130;
// The O2 sensor sees the unburnt air of a cut cylinder as lean, and the
// closed loop richens against it.
constexpr double kAlphaPerCutCylinder = 4;
constexpr double kRpmPerAacPercent = 25;
// The air past the closed throttle alone keeps the engine turning.
constexpr double kLeastIdleRpm = 450;
// The ECU's own idle control eases the speed to its target; a valve held or
// a cylinder cut changes the air or the power at once and the speed follows
// within a few hundred revolutions.
constexpr double kHeldIdleSettleSeconds = 0.3;
constexpr double kRailSeconds = 0.6;     // the pressure the rail keeps once the pump stops
constexpr double kStallRpm = 150;        // below it a starving engine stops dead
constexpr double kRelearnSeconds = 3;    // for the closed loop's swing to grow back

// The right bank: its O2 sensor swings a little behind the left one's, its
// air flow meter and injectors read a few steps apart.
constexpr double kRightBankPhase = 0.2;  // of a swing
constexpr double kRightMafOffsetMv = 15;
constexpr double kRightInjectionOffsetUs = 30;
constexpr double kLeanMv = 450;          // an O2 sensor below it reads lean
// The tank warms from the fuel the rail sends back, a few degrees over the
// air at most, and over many minutes.
constexpr double kFuelAboveAmbientC = 7;
constexpr double kFuelSeconds = 300;
// The intake soaks up the engine bay's heat standing; the wind clears it.
constexpr double kIntakeSoakC = 10;
constexpr double kIntakeSeconds = 45;
constexpr double kSelfLearnSeconds = 90;
constexpr double kSelfLearnSpread = 4;   // percent either side of 100
constexpr double kRearO2Seconds = 4;     // behind the catalyst the swings are gone
constexpr double kRearO2Middle = 0x40;

double Approach(double value, double target, double dt, double timeConstant) {
  return value + (target - value) * std::min(1.0, dt / timeConstant);
}

// Scales an engineering value into a register byte or word, clamped to
// what the register can hold: a value at full scale reads 255 (or FFFF), as
// on a real ECU.
uint8_t ToByte(double value) {
  const long v = std::lround(value);
  return static_cast<uint8_t>(std::clamp(v, 0L, 0xFFL));
}
uint8_t HighByte(double word) {
  const long v = std::clamp(std::lround(word), 0L, 0xFFFFL);
  return static_cast<uint8_t>(v >> 8);
}
uint8_t LowByte(double word) {
  const long v = std::clamp(std::lround(word), 0L, 0xFFFFL);
  return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

EngineModel::EngineModel(uint64_t seed, bool dragRun)
    : random_(seed),
      dragRun_(dragRun),
      railFuelSeconds_(kRailSeconds),
      wander_(seed ^ 0x5E1F1EA550BEEF01ull) {
  coolant_ = random_.Uniform(8, 28);
  // Standing overnight, everything is at the temperature of the air.
  ambient_ = fuelTemp_ = intakeTemp_ = coolant_;
  for (int bank = 0; bank < 2; ++bank) {
    selfLearn_[bank] = 100 + wander_.Uniform(-kSelfLearnSpread, kSelfLearnSpread);
    selfLearnTarget_[bank] = selfLearn_[bank];
  }
  selfLearnLeft_ = wander_.Uniform(60, 180);
  acLeft_ = random_.Uniform(8, 20);
  steeringLeft_ = random_.Uniform(3, 10);
  EnterPhase(Phase::Crank);
  if (dragRun_) {
    // Warmed up and idling at the line: the first start follows the stand.
    coolant_ = 84;
    EnterPhase(Phase::Idle);
    rpm_ = 850;
    dragPhase_ = DragPhase::Stand;
    dragLeft_ = DragRunCar::kStandSeconds;
  }
}

double DragRunCar::WheelKw(double rpm) {
  const double x = (rpm - kPeakRpm) / kCurveWidthRpm;
  return std::max(0.0, kPeakKw * (1 - x * x));
}

namespace {

// The throttle gives full power once it is three quarters open.
double PowerShare(double throttle) { return std::clamp(throttle / 0.75, 0.0, 1.0); }

double ResistanceN(double speedMS) {
  if (speedMS <= 0) return 0;
  return 0.5 * DragRunCar::kAirDensity * DragRunCar::kCdaM2 * speedMS * speedMS +
         DragRunCar::kCrr * DragRunCar::kMassKg * 9.81;
}

double GearMS(int gear, double rpm) { return rpm / 1000 * kKmhPer1000Rpm[gear] / 3.6; }

}  // namespace

void EngineModel::UpdateDragRun(double dt) {
  // A frame is some 20 ms; the car moves on in steps of a millisecond at
  // most so that the speed follows the curve, not the frame rate.
  const int steps = std::max(1, static_cast<int>(std::ceil(dt / 0.001)));
  for (int i = 0; i < steps; ++i) DragStep(dt / steps);
  speed_ = speedMS_ * 3.6;
  rpm_ = std::clamp(rpm_, 0.0, 7200.0);
}

void EngineModel::DragStep(double h) {
  const double mass = DragRunCar::kMassKg;
  switch (dragPhase_) {
    case DragPhase::Stand:
      speedMS_ = 0;
      if (dragLeft_ > 1) {
        gear_ = 0;
        throttleTarget_ = 0;
        rpm_ = Approach(rpm_, IdleRpm(850) + 10 * noise_, h, IdleSettleSeconds(0.4));
      } else {
        // The last second: first gear in, clutch down, the revs held at the
        // launch engine speed.
        gear_ = 1;
        throttleTarget_ = 0.35;
        rpm_ = Approach(rpm_, DragRunCar::kLaunchRpm + 15 * noise_, h, 0.2);
      }
      dragLeft_ -= h;
      if (dragLeft_ <= 0) {
        dragPhase_ = DragPhase::Launch;
        gear_ = 1;
        throttleTarget_ = 1;
        dragMetres_ = 0;
      }
      break;
    case DragPhase::Launch: {
      // The clutch is let in at once and slips, passing the engine's torque
      // on: the force at the wheels is what the power would give at the
      // speed the engine speed stands for in first gear.
      rpm_ = Approach(rpm_, DragRunCar::kLaunchRpm, h, 0.15);
      const double lockMS = GearMS(1, rpm_);
      const double force =
          DragRunCar::WheelKw(rpm_) * 1000 * PowerShare(throttle_) * FiringShare() / lockMS;
      speedMS_ = std::max(0.0, speedMS_ + (force - ResistanceN(speedMS_)) / mass * h);
      if (speedMS_ >= lockMS) dragPhase_ = DragPhase::Pull;
      break;
    }
    case DragPhase::Pull: {
      rpm_ = speedMS_ / GearMS(gear_, 1);
      // A rev limiter holds the last gear at 7000 rpm.
      const double kw =
          rpm_ < 7000 ? DragRunCar::WheelKw(rpm_) * PowerShare(throttle_) * FiringShare() : 0;
      speedMS_ += (kw * 1000 / speedMS_ - ResistanceN(speedMS_)) / mass * h;
      rpm_ = speedMS_ / GearMS(gear_, 1);
      if (dragMetres_ >= DragRunCar::kRunMetres) {
        dragPhase_ = DragPhase::Brake;
        throttleTarget_ = 0;
      } else if (rpm_ >= DragRunCar::kShiftRpm && gear_ < 5) {
        dragPhase_ = DragPhase::Shift;
        dragLeft_ = DragRunCar::kShiftSeconds;
        throttleTarget_ = 0;
      }
      break;
    }
    case DragPhase::Shift:
      // Clutch down: the car rolls on against the drag while the engine
      // falls towards the speed of the next gear.
      speedMS_ -= ResistanceN(speedMS_) / mass * h;
      rpm_ = Approach(rpm_, speedMS_ / GearMS(gear_ + 1, 1), h, 0.08);
      dragLeft_ -= h;
      if (dragLeft_ <= 0) {
        ++gear_;
        rpm_ = speedMS_ / GearMS(gear_, 1);
        dragPhase_ = DragPhase::Pull;
        throttleTarget_ = 1;
      }
      break;
    case DragPhase::Brake:
      speedMS_ = std::max(0.0, speedMS_ - (DragRunCar::kBrakeMS2 + ResistanceN(speedMS_) / mass) * h);
      if (gear_ > 0) {
        rpm_ = speedMS_ / GearMS(gear_, 1);
        if (rpm_ < 1300) {
          if (gear_ > 1 && speedMS_ * 3.6 > 15) {
            --gear_;
            rpm_ = speedMS_ / GearMS(gear_, 1);
          } else {
            gear_ = 0;  // clutch down, roll to a stop
          }
        }
      } else {
        rpm_ = Approach(rpm_, IdleRpm(850), h, IdleSettleSeconds(0.4));
      }
      if (speedMS_ <= 0) {
        dragPhase_ = DragPhase::Stand;
        dragLeft_ = DragRunCar::kStandSeconds;
      }
      break;
  }
  dragMetres_ += speedMS_ * h;
}

double EngineModel::Airflow() const {
  return std::clamp(rpm_ / 7000.0 * (0.2 + 0.8 * throttle_), 0.0, 1.0);
}

void EngineModel::EnterPhase(Phase phase) {
  phase_ = phase;
  switch (phase) {
    case Phase::Crank:
      phaseLeft_ = random_.Uniform(0.8, 1.4);
      gear_ = 0;
      throttleTarget_ = 0;
      break;
    case Phase::Idle:
      phaseLeft_ = random_.Uniform(4, 10);
      gear_ = 0;
      throttleTarget_ = 0;
      break;
    case Phase::Blip:
      phaseLeft_ = random_.Uniform(0.3, 0.6);
      throttleTarget_ = random_.Uniform(0.3, 0.7);
      break;
    case Phase::Accelerate:
      gear_ = 1;
      shiftRpm_ = random_.Uniform(2600, 5800);
      cruiseSpeed_ = random_.Uniform(40, 140);
      throttleTarget_ = random_.Uniform(0.3, 0.9);
      break;
    case Phase::Cruise:
      phaseLeft_ = random_.Uniform(5, 15);
      throttleTarget_ = random_.Uniform(0.12, 0.25);
      break;
    case Phase::Decelerate:
      throttleTarget_ = 0;
      break;
  }
}

void EngineModel::UpdatePhase(double dt) {
  const double coldIdle = std::max(0.0, 60 - EcuCoolantC()) * 8;
  const double idleRpm = IdleRpm(760 + coldIdle + (acRelay_ ? 90 : 0));
  phaseLeft_ -= dt;

  switch (phase_) {
    case Phase::Crank:
      rpm_ = 230 + 30 * noise_;
      if (speed_ > 0) RollToAStop(dt);  // started again before the car stood
      if (phaseLeft_ <= 0) {
        rpm_ = 1100;
        EnterPhase(Phase::Idle);
      }
      break;
    case Phase::Idle:
      rpm_ = Approach(rpm_, idleRpm + 12 * noise_, dt, IdleSettleSeconds(0.6));
      speed_ = Approach(speed_, 0, dt, 0.5);
      if (phaseLeft_ <= 0 && idleOnly_) {
        phaseLeft_ = random_.Uniform(4, 10);
      } else if (phaseLeft_ <= 0) {
        if (blipsLeft_ > 0) {
          --blipsLeft_;
          EnterPhase(Phase::Blip);
        } else if (random_.Chance(0.4)) {
          blipsLeft_ = random_.Integer(1, 3) - 1;
          EnterPhase(Phase::Blip);
        } else {
          EnterPhase(Phase::Accelerate);
        }
      }
      break;
    case Phase::Blip:
      rpm_ = Approach(rpm_, idleRpm + throttle_ * 6000, dt, 0.15);
      if (phaseLeft_ <= 0) {
        EnterPhase(Phase::Idle);
        phaseLeft_ = random_.Uniform(1, 3);
      }
      break;
    case Phase::Accelerate: {
      // Engine and car are locked together in gear; the rise slows in the
      // higher gears.
      const double rise = throttle_ * 2600 / gear_ * FiringShare();
      rpm_ = std::max(rpm_ + rise * dt, 0.0);
      if (gear_ == 1 && speed_ < 8) {
        // Pulling away: the clutch slips until the gear catches up.
        rpm_ = std::max(rpm_, 1300.0);
        speed_ = std::min(speed_ + 6 * dt, rpm_ / 1000 * kKmhPer1000Rpm[1]);
      } else {
        speed_ = rpm_ / 1000 * kKmhPer1000Rpm[gear_];
      }
      if (speed_ >= cruiseSpeed_) {
        EnterPhase(Phase::Cruise);
      } else if (rpm_ >= shiftRpm_ && gear_ < 5 && speed_ >= 8) {
        ++gear_;
        rpm_ = speed_ / kKmhPer1000Rpm[gear_] * 1000;  // the drop of a gear change
        shiftRpm_ = random_.Uniform(2600, 5800);
      }
      break;
    }
    case Phase::Cruise:
      speed_ = Approach(speed_, cruiseSpeed_, dt, 4) + 0.05 * noise_;
      rpm_ = speed_ / kKmhPer1000Rpm[gear_] * 1000;
      if (phaseLeft_ <= 0) EnterPhase(Phase::Decelerate);
      break;
    case Phase::Decelerate:
      speed_ = std::max(speed_ - random_.Uniform(2.5, 4.0) * dt, 0.0);
      if (gear_ > 0) {
        rpm_ = speed_ / kKmhPer1000Rpm[gear_] * 1000;
        if (rpm_ < 1300) {
          if (gear_ > 1 && speed_ > 15) {
            --gear_;
            rpm_ = speed_ / kKmhPer1000Rpm[gear_] * 1000;
          } else {
            gear_ = 0;  // clutch down, roll to a stop
          }
        }
      } else {
        rpm_ = Approach(rpm_, idleRpm, dt, IdleSettleSeconds(0.4));
      }
      if (speed_ <= 0.5) {
        speed_ = 0;
        EnterPhase(Phase::Idle);
      }
      break;
  }
  rpm_ = std::clamp(rpm_, 0.0, 7200.0);
}

void EngineModel::UpdateTemperatures(double dt) {
  const double load = Airflow();
  const bool running = phase_ != Phase::Crank && !stalled_;
  if (running && coolant_ < kThermostatC) {
    coolant_ += dt * (0.25 + 0.6 * load);
  } else if (running) {
    // At temperature: standing still heats up, the fan and the wind cool.
    double drift = 0.05 + 0.3 * load - speed_ / 100 * 0.25;
    if (FanLowOn()) drift -= 0.35;
    if (FanHighOn()) drift -= 0.5;
    coolant_ += dt * drift;
    coolant_ = std::max(coolant_, kThermostatC - 2);
  }
  coolant_ = std::clamp(coolant_, -30.0, 118.0);
  exhaustLevel_ = Approach(exhaustLevel_, load, dt, 8);

  // The O2 sensor swings rich and lean in closed loop, faster at speed.
  o2Phase_ += dt * (0.8 + rpm_ / 2500);
  o2Phase_ -= std::floor(o2Phase_);
}

void EngineModel::UpdateSwitches(double dt) {
  acLeft_ -= dt;
  if (acLeft_ <= 0) {
    acSwitch_ = !acSwitch_;
    acLeft_ = acSwitch_ ? random_.Uniform(15, 40) : random_.Uniform(10, 30);
    acRelayLeft_ = 0;
  }
  if (acSwitch_ && phase_ != Phase::Crank && !stalled_) {
    acRelayLeft_ -= dt;
    if (acRelayLeft_ <= 0) {
      acRelay_ = !acRelay_;
      acRelayLeft_ = acRelay_ ? random_.Uniform(3, 8) : random_.Uniform(2, 5);
    }
  } else {
    acRelay_ = false;
  }

  // Radiator fan: low with the compressor or above 96, off again below 92;
  // high only above 102. The ECU goes by the temperature it takes.
  const double ecuCoolant = EcuCoolantC();
  if (ecuCoolant > 96 || acRelay_) fanLow_ = true;
  else if (ecuCoolant < 92) fanLow_ = false;
  if (ecuCoolant > 102) fanHigh_ = true;
  else if (ecuCoolant < 98) fanHigh_ = false;

  steeringLeft_ -= dt;
  if (steeringLeft_ <= 0) {
    powerSteering_ = !powerSteering_ && speed_ < 30;
    steeringLeft_ = powerSteering_ ? random_.Uniform(0.5, 2) : random_.Uniform(4, 15);
  }
}

void EngineModel::Advance(double dt) {
  time_ += dt;
  noise_ = random_.Uniform(-1, 1);
  throttle_ = Approach(throttle_, throttleTarget_, dt, 0.12);
  learnedShare_ = std::min(1.0, learnedShare_ + dt / kRelearnSeconds);
  railFuelSeconds_ = PumpHeldOff() ? std::max(0.0, railFuelSeconds_ - dt) : kRailSeconds;
  if ((PumpHeldOff() && railFuelSeconds_ <= 0) || cutCylinders_ >= kCutCylindersToStall) {
    UpdateStall(dt);
  } else {
    starving_ = false;
    if (stalled_) Restart();
    // A drag-run engine started again cranks as any other, then stands.
    if (dragRun_ && phase_ != Phase::Crank) {
      UpdateDragRun(dt);
    } else {
      UpdatePhase(dt);
    }
  }
  UpdateTemperatures(dt);
  UpdateSwitches(dt);
  UpdateBeyondEighteen(dt);
}

void EngineModel::UpdateBeyondEighteen(double dt) {
  const double warmth =
      std::clamp((coolant_ - ambient_) / std::max(1.0, kThermostatC - ambient_), 0.0, 1.0);
  fuelTemp_ = Approach(fuelTemp_, ambient_ + kFuelAboveAmbientC * warmth, dt, kFuelSeconds);
  fuelTemp_ = std::min(fuelTemp_, coolant_);
  const double standing = 1 - std::clamp(speed_ / 50, 0.0, 1.0);
  intakeTemp_ = Approach(intakeTemp_, ambient_ + 1 + kIntakeSoakC * warmth * standing, dt,
                         kIntakeSeconds);

  // The learned mixture drifts where the fuel, the air and the injectors
  // take it; it learns only in closed loop.
  selfLearnLeft_ -= dt;
  if (selfLearnLeft_ <= 0) {
    for (double& target : selfLearnTarget_)
      target = 100 + wander_.Uniform(-kSelfLearnSpread, kSelfLearnSpread);
    selfLearnLeft_ = wander_.Uniform(60, 180);
  }
  if (ClosedLoop())
    for (int bank = 0; bank < 2; ++bank)
      selfLearn_[bank] = Approach(selfLearn_[bank], selfLearnTarget_[bank], dt, kSelfLearnSeconds);

  // Lean in the fuel cut-off, rich at full throttle, otherwise a slow
  // wander around the middle.
  constexpr double kWanderSeconds[2] = {37, 53};
  for (int bank = 0; bank < 2; ++bank) {
    const double wander = 5 * std::sin(2 * std::numbers::pi * time_ / kWanderSeconds[bank]);
    const double target = FuelCut() ? 0x18 : throttle_ >= 0.7 ? 0x58 : kRearO2Middle + wander;
    rearO2_[bank] = Approach(rearO2_[bank], target, dt, kRearO2Seconds);
  }
}

// Without fuel the engine runs down and stops; the driver puts the clutch
// down and lets the car come to a stop. The phase it is left in is one the
// engine can pick up from should the fuel come back before it stops.
void EngineModel::UpdateStall(double dt) {
  if (!starving_) {
    starving_ = true;
    gear_ = 0;
    throttleTarget_ = 0;
    if (dragRun_) {
      dragPhase_ = DragPhase::Brake;
    } else if (phase_ != Phase::Crank && phase_ != Phase::Idle) {
      EnterPhase(Phase::Decelerate);
    }
  }
  rpm_ = Approach(rpm_, 0, dt, 0.25);
  if (rpm_ < kStallRpm) {
    rpm_ = 0;
    stalled_ = true;
  }
  RollToAStop(dt);
}

void EngineModel::RollToAStop(double dt) {
  if (dragRun_) {
    speedMS_ = std::max(0.0, speedMS_ - DragRunCar::kBrakeMS2 * dt);
    speed_ = speedMS_ * 3.6;
  } else {
    speed_ = std::max(0.0, speed_ - 3 * dt);
  }
}

// The driver turns the key again once the engine can run.
void EngineModel::Restart() {
  stalled_ = false;
  EnterPhase(Phase::Crank);
  if (dragRun_) {
    dragPhase_ = speedMS_ > 0 ? DragPhase::Brake : DragPhase::Stand;
    dragLeft_ = DragRunCar::kStandSeconds;
  }
}

void EngineModel::HoldTests(const std::vector<std::pair<uint8_t, uint8_t>>& tests) {
  heldCoolant_.reset();
  heldTrim_.reset();
  heldAac_.reset();
  heldPump_.reset();
  heldFanLow_.reset();
  heldFanHigh_.reset();
  cutCylinders_ = 0;
  for (const auto& [number, value] : tests) {
    switch (number) {
      case kTestCoolant: heldCoolant_ = value; break;
      case kTestInjectionTrim: heldTrim_ = value; break;
      case kTestAac: heldAac_ = value; break;
      case kTestPowerBalance:
        cutCylinders_ = std::popcount(static_cast<unsigned>(value & kCylinderBits));
        break;
      case kTestFuelPump: heldPump_ = value; break;
      case kTestClearLearning:
        learnedShare_ = 0;
        selfLearn_[0] = selfLearn_[1] = 100;
        break;
      case kTestFanLow: heldFanLow_ = value; break;
      case kTestFanHigh: heldFanHigh_ = value; break;
      default: break;
    }
  }
}

double EngineModel::EcuCoolantC() const { return heldCoolant_ ? *heldCoolant_ - 50.0 : coolant_; }

double EngineModel::IdleAacPercent() const {
  return 28 + std::max(0.0, 60 - EcuCoolantC()) * 0.5 + (acRelay_ ? 8 : 0);
}

double EngineModel::AacRiseRpm() const {
  return heldAac_ ? kRpmPerAacPercent * (*heldAac_ / 2.0 - IdleAacPercent()) : 0;
}

double EngineModel::IdleRpm(double usual) const {
  double rpm = usual;
  if (heldAac_) rpm = std::max(kLeastIdleRpm, rpm + AacRiseRpm());
  return rpm - kRpmPerCutCylinder * cutCylinders_;
}

double EngineModel::IdleSettleSeconds(double usual) const {
  return heldAac_ || cutCylinders_ > 0 ? std::min(usual, kHeldIdleSettleSeconds) : usual;
}

double EngineModel::FiringShare() const {
  return static_cast<double>(kCylinders - cutCylinders_) / kCylinders;
}

// The cut-off on a closed throttle stays above an idle a held valve raised.
bool EngineModel::FuelCut() const {
  return throttle_ < 0.02 && rpm_ > 1500 + std::max(0.0, AacRiseRpm());
}

bool EngineModel::ClosedLoop() const {
  return EcuCoolantC() > 50 && throttle_ < 0.7 && !FuelCut() && phase_ != Phase::Crank &&
         !stalled_;
}

double EngineModel::LoadPercent() const {
  return rpm_ > 0 ? 100 * (0.2 + 0.8 * throttle_) : 0;
}

// The turbo builds boost only with the load on and the engine speed up.
double EngineModel::TurboShare() const {
  return std::clamp((LoadPercent() - 30) / 60, 0.0, 1.0) *
         std::clamp((rpm_ - 1800) / 2200, 0.0, 1.0);
}

uint8_t EngineModel::Register(uint8_t nn) const {
  const bool cranking = phase_ == Phase::Crank;
  const double load = Airflow();
  const double coolant = EcuCoolantC();
  const bool fuelCut = FuelCut();
  const bool closedLoop = ClosedLoop();
  const double o2Swing = o2Phase_ < 0.5 ? 1.0 : -1.0;
  const double o2SwingRight = std::fmod(o2Phase_ + kRightBankPhase, 1.0) < 0.5 ? 1.0 : -1.0;

  const double maf = 1000 + 3200 * load;                                   // mV
  double injection = fuelCut || stalled_ ? 0
                                         : 1500 + 8000 * load + std::max(0.0, 50 - coolant) * 25;  // us
  if (heldTrim_) injection *= *heldTrim_ / 100.0;
  const auto o2Of = [&](double swing) -> double {
    return cranking ? 450 : fuelCut ? 60 : !closedLoop ? (throttle_ >= 0.7 ? 880 : 450)
                                                       : 480 + 370 * swing;  // mV
  };
  const double o2 = o2Of(o2Swing);
  const double o2Right = o2Of(o2SwingRight);
  const double battery = cranking   ? 10600 + 200 * noise_
                         : stalled_ ? 12500 + 20 * noise_  // no charge
                                    : 14150 + 60 * noise_;  // mV
  const double throttleMv = 450 + 3850 * throttle_;
  const double exhaustMv = 400 + 2800 * exhaustLevel_;
  double ignition = 12 + 22 * std::clamp((rpm_ - 800) / 3500, 0.0, 1.0) - 12 * throttle_;
  if (cranking) ignition = 8;
  const double aac = std::clamp(IdleAacPercent() - (throttle_ > 0.05 ? 10 : 0), 0.0, 100.0);
  const auto afAlphaOf = [&](double swing) {
    double alpha = closedLoop ? 100 - 6 * swing + noise_ : 100;
    if (closedLoop && cutCylinders_ > 0) alpha += kAlphaPerCutCylinder * cutCylinders_;
    // Cleared, the correction starts again from 100 and its swing grows back.
    if (learnedShare_ < 1) alpha = 100 + (alpha - 100) * learnedShare_;
    return alpha;
  };
  const double afAlpha = afAlphaOf(o2Swing);

  switch (nn) {
    case 0x00: return HighByte(rpm_ / 12.5);
    case 0x01: return LowByte(rpm_ / 12.5);
    case 0x04: return HighByte(maf / 5);
    case 0x05: return LowByte(maf / 5);
    case 0x08: return ToByte(coolant + 50);
    case 0x09: return ToByte(o2 / 10);
    // The speed register truncates, as a real one counts whole steps.
    case 0x0B: return ToByte(std::floor(speed_ / 2));
    case 0x0C: return ToByte(battery / 80);
    case 0x0D: return ToByte(throttleMv / 20);
    case 0x12: return ToByte(exhaustMv / 20);
    case 0x13: {
      uint8_t bits = 0;
      if (acSwitch_) bits |= 0x10;
      if (powerSteering_) bits |= 0x08;
      if (gear_ == 0) bits |= 0x04;
      if (cranking) bits |= 0x02;
      if (throttle_ < 0.02) bits |= 0x01;
      return bits;
    }
    case 0x14: return HighByte(injection / 10);
    case 0x15: return LowByte(injection / 10);
    case 0x16: return ToByte(110 - ignition);
    case 0x17: return heldAac_ ? *heldAac_ : ToByte(aac * 2);
    case 0x1A: return ToByte(afAlpha);
    case 0x1E: {
      uint8_t bits = 0;
      // The fuel pump relay: on while cranking or running, or as held.
      if (heldPump_ ? *heldPump_ != 0 : !stalled_) bits |= 0x40;
      if (acRelay_) bits |= 0x80;
      if (rpm_ > 1500 && rpm_ < 5200 && throttle_ > 0.3) bits |= 0x20;
      if (FanHighOn()) bits |= 0x02;
      if (FanLowOn()) bits |= 0x01;
      return bits;
    }
    case 0x1F: {
      uint8_t bits = 0;
      if (coolant < 40 && !cranking) bits |= 0x40;
      if (throttle_ > 0.6 && rpm_ > 3000) bits |= 0x20;
      if (acRelay_) bits |= 0x80;
      if (throttle_ > 0.1 && throttle_ < 0.4 && rpm_ > 1800 && rpm_ < 3500 && coolant > 60)
        bits |= 0x01;
      return bits;
    }
    // Beyond the eighteen.
    case 0x02: return HighByte(rpm_ / 8);
    case 0x03: return LowByte(rpm_ / 8);
    case 0x06: return HighByte((maf + kRightMafOffsetMv) / 5);
    case 0x07: return LowByte((maf + kRightMafOffsetMv) / 5);
    case 0x0A: return ToByte(o2Right / 10);
    case 0x0F: return ToByte(fuelTemp_ + 50);
    // A second sensor further down the pipe: the same heat, a little less.
    case 0x10: return ToByte((exhaustMv - 60) / 20);
    case 0x11: return ToByte(intakeTemp_ + 50);
    case 0x1B: return ToByte(afAlphaOf(o2SwingRight));
    case 0x1C: return ToByte(selfLearn_[0]);
    case 0x1D: return ToByte(selfLearn_[1]);
    case 0x21: {
      uint8_t bits = 0;
      if (o2 < kLeanMv) bits |= 0x80;
      if (o2Right < kLeanMv) bits |= 0x40;
      return bits;
    }
    case 0x22: return HighByte(injection > 0 ? (injection + kRightInjectionOffsetUs) / 10 : 0);
    case 0x23: return LowByte(injection > 0 ? (injection + kRightInjectionOffsetUs) / 10 : 0);
    case 0x28: return ToByte(85 * TurboShare());
    // Below the air's pressure at idle, above it on boost; the air's own
    // with the engine stopped.
    case 0x29: return ToByte(rpm_ > 0 ? 35 + 0.4 * LoadPercent() + 120 * TurboShare() : 75);
    case 0x33: return ToByte(LoadPercent());
    case 0x35: return ToByte(rearO2_[0]);
    case 0x36: return ToByte(rearO2_[1]);
    default:
      return 0;
  }
}
