#include "analysis/ValueSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analysis/ColumnSummary.h"

namespace {
constexpr double kKmPerMile = 1.609344;
const int kSpeed = ValueColumnOf("speed");
const int kCoolant = ValueColumnOf("coolant");
}  // namespace

int ValueColumnOf(const std::string& key) {
  for (int i = 0; i < kAllValueCount; ++i)
    if (key == kAllValueColumns[static_cast<size_t>(i)].key) return i;
  return -1;
}

ValueReadings ReadingsOf(const SampleRecord& record) {
  ValueReadings readings;
  for (int c = 0; c < kAllValueCount; ++c) readings[static_cast<size_t>(c)] = HeldValue(c, record);
  return readings;
}

double ShownValue(int column, int32_t value, const ValueSettings& settings) {
  if (column == kSpeed) return SpeedInUnit(value * settings.speedFactor, settings.speedUnit);
  if (column == kCoolant && settings.temperatureUnit == TemperatureUnit::kFahrenheit) return value * 9.0 / 5.0 + 32;
  return value;
}

std::string ShownUnit(int column, const ValueSettings& settings) {
  if (column == kSpeed && settings.speedUnit == SpeedUnit::kMph) return "mph";
  if (column == kCoolant && settings.temperatureUnit == TemperatureUnit::kFahrenheit) return "deg F";
  return kAllValueColumns[static_cast<size_t>(column)].unit;
}

std::string ShownCaption(int column, const ValueSettings& settings) {
  const ValueColumn& c = kAllValueColumns[static_cast<size_t>(column)];
  const std::string unit = ShownUnit(column, settings);
  if (unit == c.unit) return c.caption;
  std::string caption = c.caption;
  const size_t open = caption.rfind('[');
  return caption.substr(0, open) + "[" + unit + "]";
}

double SpeedInUnit(double kmh, SpeedUnit unit) { return unit == SpeedUnit::kMph ? kmh / kKmPerMile : kmh; }

const char* SpeedUnitText(SpeedUnit unit) { return unit == SpeedUnit::kMph ? "mph" : "km/h"; }

std::string SpeedFactorText(double factor) {
  char text[32];
  std::snprintf(text, sizeof text, "x %.3f", factor);
  return text;
}

bool TyreDiameterMm(const std::string& size, double& diameterMm) {
  unsigned width = 0;
  unsigned aspect = 0;
  unsigned rim = 0;
  char r = 0;
  int used = 0;
  if (std::sscanf(size.c_str(), "%3u/%3u%c%2u%n", &width, &aspect, &r, &rim, &used) != 4 ||
      used != static_cast<int>(size.size()) || (r != 'R' && r != 'r'))
    return false;
  if (width < 100 || width > 400 || aspect < 20 || aspect > 95 || rim < 10 || rim > 24) return false;
  diameterMm = rim * 25.4 + 2.0 * width * aspect / 100.0;
  return true;
}

bool TyreSpeedFactor(const std::string& stock, const std::string& fitted, double& factor) {
  double stockMm = 0;
  double fittedMm = 0;
  if (!TyreDiameterMm(stock, stockMm) || !TyreDiameterMm(fitted, fittedMm)) return false;
  const double f = fittedMm / stockMm;
  if (f < ValueSettings::kMinSpeedFactor || f > ValueSettings::kMaxSpeedFactor) return false;
  factor = f;
  return true;
}

int32_t WarningWatch::DeadBand(int column) {
  const ValueColumn& c = kAllValueColumns[static_cast<size_t>(column)];
  // One per cent of the value's range, and at least one step.
  return std::max<int32_t>(1, (c.rangeMax - c.rangeMin) / 100);
}

void WarningWatch::Feed(const std::array<int32_t, kValueCount>& values, const ValueSettings& settings,
                        std::vector<Crossing>& crossed) {
  for (int column = 0; column < kValueCount; ++column)
    FeedOne(column, values[static_cast<size_t>(column)], settings, crossed);
}

void WarningWatch::Feed(const ValueReadings& values, const ValueSettings& settings, std::vector<Crossing>& crossed) {
  for (int column = 0; column < kAllValueCount; ++column)
    FeedOne(column, values[static_cast<size_t>(column)], settings, crossed);
}

void WarningWatch::FeedOne(int column, std::optional<int32_t> value, const ValueSettings& settings,
                           std::vector<Crossing>& crossed) {
  int8_t& state = state_[static_cast<size_t>(column)];
  if (!value) {
    state = 0;
    return;
  }
  const ValueLimit& limit = settings.LimitOf(column);
  const int32_t v = *value;
  const int32_t band = DeadBand(column);
  // Back inside (by the dead band), or a limit switched off.
  if (state > 0 && (!limit.highOn || v <= limit.high - band)) state = 0;
  if (state < 0 && (!limit.lowOn || v >= limit.low + band)) state = 0;
  if (state == 0 && limit.highOn && v > limit.high) {
    state = 1;
    crossed.push_back(Crossing{column, true, v, limit.high});
  } else if (state == 0 && limit.lowOn && v < limit.low) {
    state = -1;
    crossed.push_back(Crossing{column, false, v, limit.low});
  }
}

bool WarningWatch::AnyWarning() const {
  for (int8_t s : state_)
    if (s != 0) return true;
  return false;
}

std::string WarningLine(const WarningWatch::Crossing& crossing, const ValueSettings& settings) {
  auto shown = [&](int32_t v) {
    return std::to_string(static_cast<long>(std::lround(ShownValue(crossing.column, v, settings))));
  };
  return "Warning: " + ShownCaption(crossing.column, settings) + " " + shown(crossing.value) +
         (crossing.above ? " above " : " below ") + shown(crossing.limit);
}

void PeakHold::Feed(const std::array<int32_t, kValueCount>& values) {
  for (size_t i = 0; i < values.size(); ++i) FeedOne(i, values[i]);
}

void PeakHold::Feed(const ValueReadings& values) {
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i]) FeedOne(i, *values[i]);
}
