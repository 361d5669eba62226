#include "video/GaugeValues.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "data/RecordPeriod.h"

namespace {

// A frame's time often falls exactly on a record's start (40 ms, 290 ms),
// which a double may hold a hair below: a millionth of a record is far
// finer than any clock that made the clip, and keeps such a time in its
// own record.
constexpr double kRecordRounding = 1e-6;

std::optional<SampleRecord> RecordAt(const RecordSource& records, double seconds) {
  const double index = std::floor(seconds * kRecordsPerSecond + kRecordRounding);
  if (!(index >= 0) || index >= records.Count()) return std::nullopt;  // NaN too
  return records.At(static_cast<uint32_t>(index));
}

// "Coolant Temp [deg C]" is "Coolant Temp" over its number: the unit
// stands beside the number.
std::string NameOf(int column, const ValueSettings& settings) {
  const std::string caption = ShownCaption(column, settings);
  return caption.substr(0, caption.find(" ["));
}

Gauge GaugeOf(int column, std::optional<int32_t> value, const ValueSettings& settings) {
  Gauge gauge;
  gauge.text = "n/a";
  gauge.missing = true;
  if (column < 0 || column >= kAllValueCount) {
    gauge.name = "?";
    return gauge;
  }
  gauge.name = NameOf(column, settings);
  gauge.unit = ShownUnit(column, settings);
  if (!value) return gauge;
  // Whole numbers and a bar between the range's ends, as the main window's
  // rows show them.
  const auto shown = [&](double v) { return std::lround(ShownValue(column, v, settings)); };
  const ValueColumn& row = kAllValueColumns[static_cast<size_t>(column)];
  const long number = shown(*value);
  const long low = shown(row.rangeMin);
  const long high = shown(row.rangeMax);
  gauge.text = std::to_string(number);
  if (high > low)
    gauge.fraction = static_cast<double>(std::clamp(number, low, high) - low) / static_cast<double>(high - low);
  gauge.missing = false;
  return gauge;
}

}  // namespace

std::vector<Gauge> GaugesAt(const RecordSource& records, double recordingSeconds, std::span<const int> columns,
                            const ValueSettings& settings) {
  const std::optional<SampleRecord> record = RecordAt(records, recordingSeconds);
  const ValueReadings readings = record ? ReadingsOf(*record) : ValueReadings{};
  std::vector<Gauge> gauges;
  for (int column : columns) {
    const bool known = column >= 0 && column < kAllValueCount;
    gauges.push_back(GaugeOf(column, known ? readings[static_cast<size_t>(column)] : std::nullopt, settings));
  }
  return gauges;
}
