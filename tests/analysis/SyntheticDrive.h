// Recordings of known motion, registered as a real ECU would: the speed
// register truncates to 2 km/h steps, the engine speed to 12.5 rpm, and the
// stream's frames (one every frameS) are stored every 10 ms, so a frame
// stands in as many records as fall before the next one. Every frame
// differs from the one before, as a running engine's do.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "data/SampleRecord.h"

struct TrueState {
  double kmh = 0;
  double rpm = 800;
  double throttleMv = 450;
};

inline SampleRecord RegisterRecord(const TrueState& state) {
  SampleRecord record;
  record[0] = kFrameLength;
  const int rpmWord = static_cast<int>(state.rpm / 12.5);
  record[1] = static_cast<uint8_t>(rpmWord >> 8);
  record[2] = static_cast<uint8_t>(rpmWord & 0xFF);
  record[7] = static_cast<uint8_t>(std::floor(state.kmh / 2));
  record[9] = static_cast<uint8_t>(state.throttleMv / 20);
  return record;
}

// Appends seconds of records, reading the state the motion gives at each
// frame's time; time runs on from the records already there.
class SyntheticDrive {
 public:
  explicit SyntheticDrive(double frameS = 0.01, double frameOffsetS = 0)
      : frameS_(frameS), nextFrameS_(frameOffsetS) {}

  void Add(double seconds, const std::function<TrueState(double t)>& motion) {
    const size_t end = records.size() + static_cast<size_t>(std::lround(seconds * 100));
    while (records.size() < end) {
      const double now = records.size() * 0.01;
      while (nextFrameS_ <= now + 1e-12) {
        frame_ = RegisterRecord(motion(nextFrameS_));
        // A running engine's O2 sensor never reads the same twice in a row.
        frame_[6] = static_cast<uint8_t>(++frames_ % 100);
        nextFrameS_ += frameS_;
      }
      records.push_back(frame_);
    }
  }
  void Stand(double seconds) {
    Add(seconds, [](double) { return TrueState{}; });
  }
  // A standing start at 3 m/s^2 at full throttle in one gear for seconds
  // (17 s passes 400 m), then 7 s of braking at 8 m/s^2 to a stop.
  void StandingStart(double seconds) {
    const double start = Now();
    Add(seconds, [start](double t) {
      const double kmh = 3 * std::max(0.0, t - start) * 3.6;
      return TrueState{kmh, std::max(800.0, kmh * 40), 4300};
    });
    const double brake = Now();
    const double topKmh = 3 * seconds * 3.6;
    Add(7, [brake, topKmh](double t) {
      const double kmh = std::clamp(topKmh - 8 * (t - brake) * 3.6, 0.0, topKmh);
      return TrueState{kmh, std::max(800.0, kmh * 40), 450};
    });
  }
  double Now() const { return records.size() * 0.01; }

  std::vector<SampleRecord> records;

 private:
  double frameS_;
  double nextFrameS_;
  SampleRecord frame_{};
  unsigned frames_ = 0;
};
