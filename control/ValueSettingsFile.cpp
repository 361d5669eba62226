#include "control/ValueSettingsFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

const char kValueSettingSection[] = "Value Setting";
const char kSoundSection[] = "Sound";

namespace {

bool ReadFlag(const IniFile& ini, const std::string& key) {
  return ini.ReadInteger(kValueSettingSection, key, 0) != 0;
}

// A limit is a whole number as it always was, or one with decimals where it
// was typed in other units than the table's; a decimal point whatever the
// locale, as a shared file needs.
double ReadLimit(const IniFile& ini, const std::string& key, double fallback) {
  const std::string text = ini.ReadString(kValueSettingSection, key, "");
  double value = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec == std::errc() && parsed.ptr == text.data() + text.size() && std::isfinite(value) &&
      std::fabs(value) <= std::numeric_limits<int32_t>::max())
    return value;
  int32_t whole = 0;
  return IniFile::ParseInteger(text, whole) ? whole : fallback;
}

void WriteLimit(IniFile& ini, const std::string& key, double value) {
  if (value == std::trunc(value)) {
    ini.WriteInteger(kValueSettingSection, key, static_cast<int32_t>(value));
    return;
  }
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  ini.WriteString(kValueSettingSection, key, std::string(text, written.ptr));
}

}  // namespace

ValueSettings ReadValueSettings(const IniFile& ini) {
  ValueSettings settings;
  for (int column = 0; column < kAllValueCount; ++column) {
    const std::string key = kAllValueColumns[static_cast<size_t>(column)].key;
    ValueLimit& limit = settings.LimitOf(column);
    limit.lowOn = ReadFlag(ini, key + "LowOn");
    limit.low = ReadLimit(ini, key + "Low", limit.low);
    limit.highOn = ReadFlag(ini, key + "HighOn");
    limit.high = ReadLimit(ini, key + "High", limit.high);
    limit.peakHold = ReadFlag(ini, key + "PeakHold");
  }
  settings.speedUnit =
      ini.ReadString(kValueSettingSection, "SpeedUnit", "km/h") == "mph" ? SpeedUnit::kMph : SpeedUnit::kKmh;
  settings.temperatureUnit = ini.ReadString(kValueSettingSection, "TemperatureUnit", "C") == "F"
                                 ? TemperatureUnit::kFahrenheit
                                 : TemperatureUnit::kCelsius;
  // A decimal point whatever the locale, as a shared file needs.
  const std::string factor = ini.ReadString(kValueSettingSection, "SpeedFactor", "1.000");
  double f = 1.0;
  const auto parsed = std::from_chars(factor.data(), factor.data() + factor.size(), f);
  if (parsed.ec == std::errc() && parsed.ptr == factor.data() + factor.size() &&
      f >= ValueSettings::kMinSpeedFactor && f <= ValueSettings::kMaxSpeedFactor)
    settings.speedFactor = f;
  return settings;
}

void WriteValueSettings(IniFile& ini, const ValueSettings& settings) {
  const ValueSettings defaults;
  for (int column = 0; column < kAllValueCount; ++column) {
    const std::string key = kAllValueColumns[static_cast<size_t>(column)].key;
    const ValueLimit& limit = settings.LimitOf(column);
    const ValueLimit& unset = defaults.LimitOf(column);
    // The values beyond the twelve only once set: a file of a car that has
    // none of them stays as it was.
    const bool same = limit.lowOn == unset.lowOn && limit.low == unset.low && limit.highOn == unset.highOn &&
                      limit.high == unset.high && limit.peakHold == unset.peakHold;
    if (column >= kValueCount && same && !ini.KeyExists(kValueSettingSection, key + "LowOn")) continue;
    ini.WriteInteger(kValueSettingSection, key + "LowOn", limit.lowOn ? 1 : 0);
    WriteLimit(ini, key + "Low", limit.low);
    ini.WriteInteger(kValueSettingSection, key + "HighOn", limit.highOn ? 1 : 0);
    WriteLimit(ini, key + "High", limit.high);
    ini.WriteInteger(kValueSettingSection, key + "PeakHold", limit.peakHold ? 1 : 0);
  }
  ini.WriteString(kValueSettingSection, "SpeedUnit", settings.speedUnit == SpeedUnit::kMph ? "mph" : "km/h");
  ini.WriteString(kValueSettingSection, "TemperatureUnit",
                  settings.temperatureUnit == TemperatureUnit::kFahrenheit ? "F" : "C");
  char factor[32];
  const auto written = std::to_chars(factor, factor + sizeof factor, settings.speedFactor, std::chars_format::fixed, 4);
  ini.WriteString(kValueSettingSection, "SpeedFactor", std::string(factor, written.ptr));
}

SoundSettings ReadSoundSettings(const IniFile& ini) {
  SoundSettings settings;
  settings.on = ini.ReadInteger(kSoundSection, "On", settings.on ? 1 : 0) != 0;
  settings.volume = std::clamp(ini.ReadInteger(kSoundSection, "Volume", settings.volume), 0, SoundSettings::kMaxVolume);
  return settings;
}

void WriteSoundSettings(IniFile& ini, const SoundSettings& settings) {
  ini.WriteInteger(kSoundSection, "On", settings.on ? 1 : 0);
  ini.WriteInteger(kSoundSection, "Volume", settings.volume);
}
