// A small, believable engine for the ECU simulator: it cranks, idles with
// a cold-start fast idle, blips the throttle, drives off through the gears,
// cruises, slows down and idles again, while the coolant warms up and the
// fan and air-conditioning bits switch. Everything follows from the seed,
// so two models with the same seed produce the same register bytes.
#pragma once

#include <cstdint>

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

class EngineModel {
 public:
  explicit EngineModel(uint64_t seed);

  // Moves the engine on by dt seconds of simulated time.
  void Advance(double dt);

  // The raw byte the ECU reports for register nn, scaled as the program
  // converts it back (engine speed word = rpm / 12.5, coolant = deg C + 50,
  // ...) and clamped to the register's range, 0..255 (words 0..FFFF): any
  // byte, 0xFF included, as a real engine gives it. Unknown registers read 0.
  uint8_t Register(uint8_t nn) const;

  // Engineering values, for tests and for anyone reading the simulator.
  double Rpm() const { return rpm_; }
  double SpeedKmh() const { return speed_; }
  double CoolantC() const { return coolant_; }
  int Gear() const { return gear_; }
  double Seconds() const { return time_; }

 private:
  enum class Phase { Crank, Idle, Blip, Accelerate, Cruise, Decelerate };

  void EnterPhase(Phase phase);
  void UpdatePhase(double dt);
  void UpdateTemperatures(double dt);
  void UpdateSwitches(double dt);
  double Airflow() const;  // 0..1, a rough engine load

  SimRandom random_;
  Phase phase_ = Phase::Crank;
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

  bool acSwitch_ = false;
  double acLeft_ = 0;           // seconds until the A/C switch changes
  bool acRelay_ = false;
  double acRelayLeft_ = 0;      // compressor cycling
  bool fanLow_ = false;
  bool fanHigh_ = false;
  bool powerSteering_ = false;
  double steeringLeft_ = 0;
};
