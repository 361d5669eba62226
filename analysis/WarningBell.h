// When the warning tone sounds: as soon as a value goes beyond one of its
// limits, and again every second while any value stays beyond one, so that
// a driver who looked away still hears it, and a value that hovers at a
// limit does not make a din.
#pragma once

#include <cstdint>
#include <limits>

struct SoundSettings {
  static constexpr int kMaxVolume = 100;
  bool on = true;
  int volume = 80;  // 0..kMaxVolume, as the ear hears it
  bool operator==(const SoundSettings&) const = default;
};

class WarningBell {
 public:
  static constexpr int64_t kRepeatMs = 1000;
  // warning: a value is beyond a limit now; nowMs: a steady clock. True
  // when the tone is due now.
  bool Ring(bool warning, int64_t nowMs) {
    if (!warning || nowMs - lastMs_ < kRepeatMs) return false;
    lastMs_ = nowMs;
    return true;
  }

 private:
  int64_t lastMs_ = std::numeric_limits<int64_t>::min() / 2;
};
