#include <gtest/gtest.h>

#include <map>
#include <string>

#include "data/SampleRecord.h"

namespace {

// Every analogue value of one record, keyed as in the value table.
std::map<std::string, int32_t> AllValues(const SampleRecord& record) {
  std::map<std::string, int32_t> values;
  for (const ValueColumn& column : kValueColumns) values[column.key] = ConvertValue(column, record);
  return values;
}

std::vector<std::string> SetBits(uint8_t bank1, uint8_t bank2, uint8_t bank3) {
  SampleRecord record;
  record[11] = bank1;
  record[17] = bank2;
  record[18] = bank3;
  std::vector<std::string> names;
  for (const BitColumn& bit : kBitColumns)
    if (BitIsSet(bit, record)) names.push_back(bit.csvColumn);
  return names;
}

}  // namespace

TEST(Conversions, AllZeroBytes) {
  const std::map<std::string, int32_t> expected = {
      {"rpm", 0},     {"maf", 0},      {"coolant", -50},  {"o2", 0},   {"speed", 0},    {"battery", 0},
      {"throttle", 0}, {"exhaust", 0}, {"injection", 0}, {"ignition", 110}, {"aac", 0}, {"afalpha", 0}};
  EXPECT_EQ(AllValues(SampleRecord{}), expected);
}

TEST(Conversions, WordCount800) {
  SampleRecord record;
  for (int high : {1, 3, 12}) record[high] = 0x03;
  for (int low : {2, 4, 13}) record[low] = 0x20;
  const auto values = AllValues(record);
  EXPECT_EQ(values.at("rpm"), 10000);
  EXPECT_EQ(values.at("maf"), 4000);
  EXPECT_EQ(values.at("injection"), 8000);
}

TEST(Conversions, Raw255InEverySingleByteValue) {
  SampleRecord record;
  for (int b : {5, 6, 7, 8, 9, 10, 14, 15, 16}) record[b] = 255;
  const auto values = AllValues(record);
  EXPECT_EQ(values.at("coolant"), 205);
  EXPECT_EQ(values.at("o2"), 2550);
  EXPECT_EQ(values.at("speed"), 510);
  EXPECT_EQ(values.at("battery"), 20400);
  EXPECT_EQ(values.at("throttle"), 5100);
  EXPECT_EQ(values.at("exhaust"), 5100);
  EXPECT_EQ(values.at("ignition"), -145);
  EXPECT_EQ(values.at("aac"), 127);
  EXPECT_EQ(values.at("afalpha"), 255);
}

TEST(Conversions, EngineSpeedTruncatesAndNeverClamps) {
  int32_t max = 0, min = 0;
  EXPECT_EQ(RpmFromRaw(0, 1, max, min), 12);
  EXPECT_EQ(RpmFromRaw(0, 3, max, min), 37);
  EXPECT_EQ(RpmFromRaw(255, 255, max, min), 819187);
  EXPECT_EQ(max, 10000);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(MafVoltageFromRaw(255, 255, max, min), 327675);
  EXPECT_EQ(InjectionTimeFromRaw(255, 255, max, min), 655350);
}

TEST(Conversions, NamedBits) {
  EXPECT_EQ(SetBits(0, 0, 0x80), std::vector<std::string>{"IACV-FICD SOL"});
  EXPECT_TRUE(SetBits(0, 0, 0x1E).empty());
  EXPECT_EQ(SetBits(0x1F, 0, 0),
            (std::vector<std::string>{"A/C Switch", "Power Steering", "Park/Neutral",
                                      "Cranking Signal", "CLSD/THLPOS"}));
  EXPECT_TRUE(SetBits(0xE0, 0, 0).empty());
  EXPECT_TRUE(SetBits(0, 0x1C, 0).empty());
  EXPECT_EQ(SetBits(0, 0, 0xFF),
            (std::vector<std::string>{"P/Reg Cont Valve", "Wastegate SOL", "IACV-FICD SOL", "EGR SOL"}));
}
