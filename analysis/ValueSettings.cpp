#include "analysis/ValueSettings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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

double ShownValue(int column, double value, const ValueSettings& settings) {
  if (column == kSpeed) return SpeedInUnit(value * settings.speedFactor, settings.speedUnit);
  if (column == kCoolant && settings.temperatureUnit == TemperatureUnit::kFahrenheit) return value * 9.0 / 5.0 + 32;
  return value;
}

double LimitFromShown(int column, int32_t shown, double before, const ValueSettings& settings) {
  if (std::lround(ShownValue(column, before, settings)) == shown) return before;
  double value = shown;
  if (column == kSpeed) {
    const double kmh = settings.speedUnit == SpeedUnit::kMph ? shown * kKmPerMile : shown;
    value = kmh / settings.speedFactor;
  } else if (column == kCoolant && settings.temperatureUnit == TemperatureUnit::kFahrenheit) {
    value = (shown - 32) * 5.0 / 9.0;
  }
  return std::round(value * 1000) / 1000;
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

namespace {

// Reads a text from its start, a part at a time, letters in either case;
// spaces between the parts do not count.
class PartReader {
 public:
  explicit PartReader(std::string_view text) : rest_(text) {}
  bool AtEnd() {
    SkipSpaces();
    return rest_.empty();
  }
  bool Take(std::string_view letters) {
    SkipSpaces();
    if (rest_.size() < letters.size()) return false;
    for (size_t i = 0; i < letters.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(rest_[i])) != letters[i]) return false;
    rest_.remove_prefix(letters.size());
    return true;
  }
  bool TakeLetter() {
    SkipSpaces();
    if (rest_.empty() || !std::isalpha(static_cast<unsigned char>(rest_.front()))) return false;
    rest_.remove_prefix(1);
    return true;
  }
  // A number of one to maxDigits digits.
  bool TakeNumber(size_t maxDigits, unsigned& value) {
    SkipSpaces();
    size_t digits = 0;
    value = 0;
    while (digits < rest_.size() && std::isdigit(static_cast<unsigned char>(rest_[digits]))) {
      value = value * 10 + static_cast<unsigned>(rest_[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > maxDigits) return false;
    rest_.remove_prefix(digits);
    return true;
  }

 private:
  void SkipSpaces() {
    while (!rest_.empty() && std::isspace(static_cast<unsigned char>(rest_.front()))) rest_.remove_prefix(1);
  }

  std::string_view rest_;
};

// The load index and speed rating after a size: "91V", or "121/118S" for
// a tyre with a second load index for twin wheels.
bool TakeServiceDescription(PartReader& reader) {
  unsigned load = 0;
  if (!reader.TakeNumber(3, load)) return false;
  if (reader.Take("/") && !reader.TakeNumber(3, load)) return false;
  return reader.TakeLetter();
}

}  // namespace

bool TyreDiameterMm(const std::string& size, double& diameterMm) {
  PartReader reader(size);
  unsigned width = 0;
  unsigned aspect = 0;
  unsigned rim = 0;
  // P or LT (car or light truck) and Z (a rating above 240 km/h) say
  // nothing of the size.
  if (!reader.Take("LT")) reader.Take("P");
  if (!reader.TakeNumber(3, width) || !reader.Take("/") || !reader.TakeNumber(2, aspect)) return false;
  reader.Take("Z");
  if (!reader.Take("R") || !reader.TakeNumber(2, rim)) return false;
  if (!reader.AtEnd() && !(TakeServiceDescription(reader) && reader.AtEnd())) return false;
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
  auto shown = [&](double v) {
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
