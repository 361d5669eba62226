// What the user sets about the values: warning limits and peak hold per
// value of the display table, the units shown, and a correction of the
// speed register for tyres or a final drive that differ from stock. The
// records, log files and CSV stay as the ECU sent them: these settings
// change only what is shown, warned about and worked out from speed.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/Registers.h"

enum class SpeedUnit { kKmh, kMph };
enum class TemperatureUnit { kCelsius, kFahrenheit };

// Limits are in the value table's own units (deg C, km/h as the register
// reads it, before the speed correction), whatever is shown: the settings
// file has always kept them so. One typed in other units may fall between
// two whole ones.
struct ValueLimit {
  bool lowOn = false;
  double low = 0;
  bool highOn = false;
  double high = 0;
  bool peakHold = false;
  bool operator==(const ValueLimit&) const = default;
};

struct ValueSettings {
  static constexpr double kMinSpeedFactor = 0.5;
  static constexpr double kMaxSpeedFactor = 2.0;
  // Every limit off, standing at its end of the value's display range: a
  // limit switched on starts from there.
  ValueSettings() {
    for (int i = 0; i < kAllValueCount; ++i) {
      LimitOf(i).low = kAllValueColumns[static_cast<size_t>(i)].rangeMin;
      LimitOf(i).high = kAllValueColumns[static_cast<size_t>(i)].rangeMax;
    }
  }
  // Per row of kValueColumns, and per value beyond them (kExtraValueColumns).
  std::array<ValueLimit, kValueCount> limits{};
  std::array<ValueLimit, kExtraValueCount> extraLimits{};
  // The limit of a row of kAllValueColumns.
  ValueLimit& LimitOf(int column) {
    return column < kValueCount ? limits[static_cast<size_t>(column)]
                                : extraLimits[static_cast<size_t>(column - kValueCount)];
  }
  const ValueLimit& LimitOf(int column) const {
    return column < kValueCount ? limits[static_cast<size_t>(column)]
                                : extraLimits[static_cast<size_t>(column - kValueCount)];
  }
  SpeedUnit speedUnit = SpeedUnit::kKmh;
  TemperatureUnit temperatureUnit = TemperatureUnit::kCelsius;
  double speedFactor = 1.0;  // true speed = register speed x factor
  bool operator==(const ValueSettings&) const = default;
};

// The index of the value of that key in kAllValueColumns (for the twelve,
// their index in kValueColumns too); -1 when none.
int ValueColumnOf(const std::string& key);

// One sample's values, per row of kAllValueColumns in the table's units;
// empty where the sample does not hold the value (a register the ECU
// lacks, a lost line).
using ValueReadings = std::array<std::optional<int32_t>, kAllValueCount>;
ValueReadings ReadingsOf(const SampleRecord& record);

// Columns below are rows of kAllValueColumns.
// A value of the table as shown: the speed corrected and in the unit
// chosen, the temperature in the unit chosen, the rest as they are.
double ShownValue(int column, double value, const ValueSettings& settings);
// A limit typed in the units shown, in the table's units (to a thousandth,
// far finer than a step shown: it reads back as typed). While the number
// is still what the limit before reads as, that limit stays exactly as it
// was: turned back from a rounded number, a limit set in other units would
// move.
double LimitFromShown(int column, int32_t shown, double before, const ValueSettings& settings);
// The unit shown, and the caption: the table's caption, with the unit
// replaced where it differs ("Speed [mph]").
std::string ShownUnit(int column, const ValueSettings& settings);
std::string ShownCaption(int column, const ValueSettings& settings);

// A true speed in km/h in the unit chosen, and that unit ("km/h", "mph").
double SpeedInUnit(double kmh, SpeedUnit unit);
const char* SpeedUnitText(SpeedUnit unit);
// The speed factor as the windows that use it say it: "x 1.100".
std::string SpeedFactorText(double factor);

// A tyre size as the sidewall gives it, such as "205/55R16" (width mm /
// aspect % R rim inches), and its overall diameter in mm; false for
// anything else. What does not change the diameter may stand with it, in
// either case: a P or LT before, a Z before the R, spaces between the
// parts, and the load index and speed rating after ("225/45 ZR17 94W").
bool TyreDiameterMm(const std::string& size, double& diameterMm);
// The speed factor for fitted tyres against stock ones; false when either
// size is not one, or the factor falls outside the allowed range.
bool TyreSpeedFactor(const std::string& stock, const std::string& fitted, double& factor);

// Watches the values for limits crossed. A value that goes beyond a limit
// is a crossing; it counts as back only once it has come back inside by
// the value's dead band, so a value that hovers at a limit gives one
// crossing, not one a sample.
class WarningWatch {
 public:
  struct Crossing {
    int column = 0;
    bool above = false;  // beyond the high limit; else below the low one
    int32_t value = 0;
    double limit = 0;
  };
  // One sample's values (the table's units); the crossings it brought are
  // appended to crossed. A value the sample does not hold gives no warning:
  // one that was beyond a limit counts as back, and crosses again if it
  // returns beyond it, as nothing was known of it meanwhile. The first form
  // feeds the twelve, all held, and leaves the values beyond them as they are.
  void Feed(const std::array<int32_t, kValueCount>& values, const ValueSettings& settings,
            std::vector<Crossing>& crossed);
  void Feed(const ValueReadings& values, const ValueSettings& settings, std::vector<Crossing>& crossed);
  bool Warning(int column) const { return state_[static_cast<size_t>(column)] != 0; }
  bool AnyWarning() const;
  void Reset() { state_.fill(0); }
  // How far back inside a limit a value must come to count as back.
  static int32_t DeadBand(int column);

 private:
  void FeedOne(int column, std::optional<int32_t> value, const ValueSettings& settings,
               std::vector<Crossing>& crossed);

  std::array<int8_t, kAllValueCount> state_{};  // 0 inside, 1 above, -1 below
};

// "Warning: Coolant Temp [deg C] 106 above 105", in the units shown.
std::string WarningLine(const WarningWatch::Crossing& crossing, const ValueSettings& settings);

// The highest value of each value since the last Reset (a Start), or since
// that value's own reset (a right-click on its bar). A value the sample
// does not hold leaves its peak as it is.
class PeakHold {
 public:
  void Feed(const std::array<int32_t, kValueCount>& values);  // the twelve, all held
  void Feed(const ValueReadings& values);
  bool Has(int column) const { return seen_[static_cast<size_t>(column)]; }
  int32_t Peak(int column) const { return peak_[static_cast<size_t>(column)]; }
  void Reset() { seen_.fill(false); }
  void Reset(int column) { seen_[static_cast<size_t>(column)] = false; }

 private:
  void FeedOne(size_t column, int32_t value) {
    peak_[column] = seen_[column] ? std::max(peak_[column], value) : value;
    seen_[column] = true;
  }

  std::array<bool, kAllValueCount> seen_{};
  std::array<int32_t, kAllValueCount> peak_{};
};
