#include "analysis/ValueSettings.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/WarningBell.h"
#include "control/ValueSettingsFile.h"

namespace {

const int kCoolant = ValueColumnOf("coolant");
const int kSpeed = ValueColumnOf("speed");
const int kBattery = ValueColumnOf("battery");

std::array<int32_t, kValueCount> Values(int column, int32_t value) {
  std::array<int32_t, kValueCount> values{};
  values[static_cast<size_t>(column)] = value;
  return values;
}

}  // namespace

// A coolant temperature that hovers at its limit for a long while gives one
// line; it must come back by the dead band before it can cross again.
TEST(WarningWatch, AHoveringValueCrossesOnce) {
  ValueSettings settings;
  settings.limits[static_cast<size_t>(kCoolant)] = ValueLimit{false, 0, true, 105, false};
  settings.limits[static_cast<size_t>(kBattery)] = ValueLimit{true, 12000, false, 0, false};
  WarningWatch watch;
  std::vector<WarningWatch::Crossing> crossed;
  for (int i = 0; i < 500; ++i) {
    std::array<int32_t, kValueCount> values = Values(kCoolant, i % 2 == 0 ? 105 : 106);
    values[static_cast<size_t>(kBattery)] = 14000;
    watch.Feed(values, settings, crossed);
  }
  ASSERT_EQ(crossed.size(), 1u);
  EXPECT_TRUE(crossed[0].above);
  EXPECT_EQ(WarningLine(crossed[0], settings), "Warning: Coolant Temp [deg C] 106 above 105");
  EXPECT_TRUE(watch.Warning(kCoolant));
  const int32_t band = WarningWatch::DeadBand(kCoolant);
  std::array<int32_t, kValueCount> back = Values(kCoolant, 105 - band + 1);
  back[static_cast<size_t>(kBattery)] = 14000;
  watch.Feed(back, settings, crossed);
  EXPECT_TRUE(watch.Warning(kCoolant));  // not back by the dead band yet
  back[static_cast<size_t>(kCoolant)] = 105 - band;
  watch.Feed(back, settings, crossed);
  EXPECT_FALSE(watch.Warning(kCoolant));
  back[static_cast<size_t>(kCoolant)] = 110;
  back[static_cast<size_t>(kBattery)] = 11000;  // the low limit too
  watch.Feed(back, settings, crossed);
  ASSERT_EQ(crossed.size(), 3u);
  EXPECT_EQ(WarningLine(crossed[2], settings), "Warning: Battery [mV] 11000 below 12000");
  settings.limits[static_cast<size_t>(kCoolant)].highOn = false;  // switched off: no longer a warning
  watch.Feed(back, settings, crossed);
  EXPECT_FALSE(watch.Warning(kCoolant));
  EXPECT_EQ(crossed.size(), 3u);
}

TEST(ValueSettings, UnitsAndTheSpeedFactor) {
  ValueSettings settings;
  EXPECT_EQ(ShownCaption(kSpeed, settings), "Speed [km/h]");
  settings.speedUnit = SpeedUnit::kMph;
  settings.temperatureUnit = TemperatureUnit::kFahrenheit;
  settings.speedFactor = 1.05;
  EXPECT_EQ(ShownCaption(kSpeed, settings), "Speed [mph]");
  EXPECT_EQ(ShownCaption(kCoolant, settings), "Coolant Temp [deg F]");
  EXPECT_EQ(ShownCaption(kBattery, settings), "Battery [mV]");
  EXPECT_NEAR(ShownValue(kSpeed, 100, settings), 105 / 1.609344, 1e-9);
  EXPECT_DOUBLE_EQ(ShownValue(kCoolant, 100, settings), 212);
  EXPECT_DOUBLE_EQ(ShownValue(kCoolant, -40, settings), -40);
  EXPECT_DOUBLE_EQ(ShownValue(kBattery, 14000, settings), 14000);

  double mm = 0;
  ASSERT_TRUE(TyreDiameterMm("205/55R16", mm));
  EXPECT_NEAR(mm, 631.9, 0.05);
  double factor = 0;
  ASSERT_TRUE(TyreSpeedFactor("205/55R16", "225/45R17", factor));
  EXPECT_NEAR(factor, (17 * 25.4 + 2 * 225 * 0.45) / mm, 1e-12);  // about 1.004
  EXPECT_FALSE(TyreSpeedFactor("100/20R10", "400/95R24", factor));  // beyond twice
}

// Sizes as the sidewall writes them: the marks that do not change the
// diameter are passed over; anything more is no size.
TEST(ValueSettings, TyreSizesAsOnTheSidewall) {
  double plain = 0;
  ASSERT_TRUE(TyreDiameterMm("205/55R16", plain));
  for (const char* same : {"205/55 R16", "205/55ZR16", "P205/55R16", "205/55R16 91V", "p205/55zr16 91v",
                           " 205 / 55 R 16 ", "LT205/55R16 121/118S"}) {
    double mm = 0;
    EXPECT_TRUE(TyreDiameterMm(same, mm) && mm == plain) << same;
  }
  double mm = 0;
  for (const char* bad : {"205/55R16x", "205/55R16 91", "205/55R16 V", "205/55R16 91VV", "205/55R1691V",
                          "PP205/55R16", "205/55ZZR16", "205/55 16", "20/55R16", "205/55R30", "", "R16"})
    EXPECT_FALSE(TyreDiameterMm(bad, mm)) << bad;
}

// A limit typed in mph or deg F, with a speed correction, reads back as
// typed; one that still reads as it did stays exactly as it was.
TEST(ValueSettings, LimitsTypedInTheUnitsShownReadBackAsTyped) {
  ValueSettings settings;
  settings.speedUnit = SpeedUnit::kMph;
  settings.temperatureUnit = TemperatureUnit::kFahrenheit;
  for (double factor : {ValueSettings::kMinSpeedFactor, 1.1, ValueSettings::kMaxSpeedFactor}) {
    settings.speedFactor = factor;
    for (int column : {kSpeed, kCoolant, kBattery})
      for (int32_t typed = -400; typed <= 400; ++typed)
        ASSERT_EQ(std::lround(ShownValue(column, LimitFromShown(column, typed, 0, settings), settings)), typed)
            << column << " " << typed << " x " << factor;
  }
  settings.speedFactor = 1.1;
  EXPECT_NEAR(LimitFromShown(kSpeed, 59, 0, settings), 59 * 1.609344 / 1.1, 0.0005);  // true speed
  EXPECT_NEAR(LimitFromShown(kCoolant, 220, 0, settings), 104.444, 1e-9);
  EXPECT_EQ(LimitFromShown(kSpeed, 68, 100, settings), 100);  // 100 reads as 68.35: kept
  EXPECT_EQ(LimitFromShown(kCoolant, 221, 105, settings), 105);

  // Kept in the settings file as they are; a whole one as it always was.
  settings.LimitOf(kCoolant) = ValueLimit{false, -10, true, LimitFromShown(kCoolant, 220, 0, settings), false};
  IniFile ini("tcon.ini", "");
  WriteValueSettings(ini, settings);
  EXPECT_NE(ini.Text().find("coolantHigh=104.444\n"), std::string::npos) << ini.Text();
  EXPECT_NE(ini.Text().find("coolantLow=-10\n"), std::string::npos);
  EXPECT_EQ(ReadValueSettings(IniFile("tcon.ini", ini.Text())), settings);
  IniFile broken("tcon.ini", "[Value Setting]\ncoolantHigh=1e999\ncoolantLow=0x10\n");
  EXPECT_EQ(ReadValueSettings(broken).LimitOf(kCoolant).high, 120);
  EXPECT_EQ(ReadValueSettings(broken).LimitOf(kCoolant).low, 16);
}

TEST(ValueSettings, RoundTripThroughTheSettingsFileKeepsWhatItDoesNotKnow) {
  IniFile ini("tcon.ini", "[SET]\ncom_no=3\n\n[Value Setting]\nSomethingNewer=7\nSpeedFactor=banana\n");
  ValueSettings read = ReadValueSettings(ini);
  EXPECT_EQ(read, ValueSettings{});  // a broken factor reads as 1
  ValueSettings settings;
  settings.limits[static_cast<size_t>(kCoolant)] = ValueLimit{true, -10, true, 105, true};
  settings.speedUnit = SpeedUnit::kMph;
  settings.temperatureUnit = TemperatureUnit::kFahrenheit;
  settings.speedFactor = 1.0043;
  WriteValueSettings(ini, settings);
  const IniFile again("tcon.ini", ini.Text());
  EXPECT_EQ(ReadValueSettings(again), settings);
  EXPECT_EQ(again.ReadInteger("SET", "com_no", 0), 3);
  EXPECT_EQ(again.ReadInteger("Value Setting", "SomethingNewer", 0), 7);
  EXPECT_EQ(again.ReadString("Value Setting", "SpeedFactor", ""), "1.0043");
  IniFile outOfRange("tcon.ini", "[Value Setting]\nSpeedFactor=2.5\n");
  EXPECT_DOUBLE_EQ(ReadValueSettings(outOfRange).speedFactor, 1.0);
}

TEST(PeakHold, TheHighestSinceTheLastReset) {
  PeakHold peak;
  EXPECT_FALSE(peak.Has(kCoolant));
  peak.Feed(Values(kCoolant, 80));
  peak.Feed(Values(kCoolant, 95));
  peak.Feed(Values(kCoolant, 90));
  EXPECT_EQ(peak.Peak(kCoolant), 95);
  peak.Reset(kCoolant);  // one value's own reset leaves the others
  EXPECT_TRUE(peak.Has(kSpeed));
  peak.Feed(Values(kCoolant, -5));
  EXPECT_EQ(peak.Peak(kCoolant), -5);
  peak.Reset();
  EXPECT_FALSE(peak.Has(kSpeed));
}

// A value the sample does not hold warns of nothing and leaves its peak;
// beyond its limit again once it is back, it is a new crossing. The values
// beyond the twelve have limits and peaks of their own.
TEST(WarningWatch, AnAbsentValueGivesNoWarningAndNoPeak) {
  const int intake = ValueColumnOf("intaketemp");
  ValueSettings settings;
  EXPECT_EQ(settings.LimitOf(intake).high, 120);
  settings.LimitOf(kCoolant) = ValueLimit{false, 0, true, 105, false};
  settings.LimitOf(intake) = ValueLimit{false, 0, true, 60, false};
  SampleRecord hot;
  hot[RecordByteOf(0x08)] = 160;  // 110 deg C
  hot[RecordByteOf(0x11)] = 115;  // 65 deg C
  SetPresentRegisters(hot, kEighteenMask | MaskOf(0x11));
  WarningWatch watch;
  PeakHold peak;
  std::vector<WarningWatch::Crossing> crossed;
  for (const SampleRecord& record : {hot, hot, GapRecord(), GapRecord(), hot}) {
    watch.Feed(ReadingsOf(record), settings, crossed);
    peak.Feed(ReadingsOf(record));
    EXPECT_EQ(watch.AnyWarning(), !IsGap(record));
  }
  ASSERT_EQ(crossed.size(), 4u);
  EXPECT_EQ(crossed[1].column, intake);
  EXPECT_EQ(WarningLine(crossed[1], settings), "Warning: Intake Air Temp [deg C] 65 above 60");
  EXPECT_EQ(peak.Peak(intake), 65);
  peak.Reset();
  peak.Feed(ReadingsOf(GapRecord()));
  EXPECT_FALSE(peak.Has(kCoolant));
}

// The tone sounds as a warning begins and then once a second while it lasts;
// a warning that comes back within the second waits for it.
TEST(WarningBell, AtOnceThenOnceASecond) {
  WarningBell bell;
  EXPECT_FALSE(bell.Ring(false, 0));
  EXPECT_TRUE(bell.Ring(true, 5));
  EXPECT_FALSE(bell.Ring(true, 10));
  EXPECT_FALSE(bell.Ring(true, 1004));
  EXPECT_TRUE(bell.Ring(true, 1005));
  EXPECT_FALSE(bell.Ring(false, 1500));
  EXPECT_FALSE(bell.Ring(true, 1600));
  EXPECT_TRUE(bell.Ring(true, 2005));
}

TEST(SoundSettings, RoundTripThroughTheSettingsFile) {
  IniFile ini("tcon.ini", "[Sound]\nVolume=250\nLater=1\n");
  EXPECT_EQ(ReadSoundSettings(ini).volume, SoundSettings::kMaxVolume);
  EXPECT_TRUE(ReadSoundSettings(ini).on);
  WriteSoundSettings(ini, SoundSettings{false, 35});
  const IniFile again("tcon.ini", ini.Text());
  EXPECT_EQ(ReadSoundSettings(again), (SoundSettings{false, 35}));
  EXPECT_EQ(again.ReadInteger("Sound", "Later", 0), 1);
}
