#include <gtest/gtest.h>

#include <clocale>

#include "TestSupport.h"
#include "data/CsvWriter.h"
#include "data/Recorder.h"

namespace {

class ProgressLog : public CsvProgress {
 public:
  void Begin(int32_t maximum) override { events.push_back("begin:" + std::to_string(maximum)); }
  void SetPosition(int32_t position) override { positions.push_back(position); }
  void End() override { events.push_back("end"); }
  std::vector<std::string> events;
  std::vector<int32_t> positions;
};

SampleRecord ExampleRecord() {
  const uint8_t bytes[20] = {0x12, 0x00, 0x40, 0x00, 0x64, 0x82, 0x80, 0x1E, 0xA0, 0x32,
                             0x05, 0x1B, 0x01, 0xF4, 0x64, 0x50, 0x80, 0xE3, 0x41, 0x00};
  SampleRecord r;
  std::copy(bytes, bytes + 20, r.bytes.begin());
  return r;
}

std::string Joined(const std::vector<std::string>& fields) {
  std::string out;
  for (const std::string& f : fields) out += f + " , ";
  return out;
}

struct CsvFixture : ::testing::Test {
  RecorderState state;
  LogMemory memory;
  std::vector<std::string> lines;
  int32_t lineCount = -1;
  ProgressLog progress;

  void SetUp() override { ASSERT_EQ(CreateLogMemory(memory), Result::kOk); }
  void Build(int32_t start, int32_t end) {
    BuildCsvLines(lines, lineCount, start, end, state, memory, &progress);
    EXPECT_EQ(static_cast<size_t>(lineCount), lines.size());
  }
};

}  // namespace

TEST(CsvHeader, ColumnsInOrder) {
  EXPECT_EQ(CsvHeaderLine(),
            Joined({"Time [msec]", "RPM [rpm]", "MAF Voltage [mV]", "Coolant Temp [deg C]",
                    "O2 Sensor Voltage [mV]", "Speed [km/h]", "Battery Voltage [mV]",
                    "Throttle Position [mV]", "Exhaust Gas Temp [mV]", "Injection Time [us]",
                    "Ignition Timing [deg BTDC]", "AAC Valve [%]", "A/F ALPHA [%]", "A/C Switch",
                    "Power Steering", "Park/Neutral", "Cranking Signal", "CLSD/THLPOS",
                    "Aircon Relay", "Fuel Pump Relay", "VTC SOL", "Coolant FAN High",
                    "Coolang FAN Low", "P/Reg Cont Valve", "Wastegate SOL", "IACV-FICD SOL",
                    "EGR SOL"}));
}

TEST(CsvNumber, GeneralFormatWithFiveDigits) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {0, "0"},           {1, "1"},           {-50, "-50"},        {-145, "-145"},
      {10000, "10000"},   {99999, "99999"},   {100000, "1E5"},     {123450, "1.2345E5"},
      {819187, "8.1919E5"}, {655350, "6.5535E5"}, {327675, "3.2768E5"}, {100010, "1.0001E5"},
      {1000000, "1E6"},   {-100000, "-1E5"},  {2147483647, "2.1475E9"}, {-99999, "-99999"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatCsvNumber(value), text) << value;
}

TEST(CsvNumber, DecimalSeparatorFollowsTheLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "de_DE.utf8") == nullptr)
    GTEST_SKIP() << "no German locale installed";
  EXPECT_EQ(FormatCsvNumber(123450), "1,2345E5");
  EXPECT_EQ(FormatCsvNumber(100000), "1E5");
  EXPECT_EQ(FormatCsvNumber(-50), "-50");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(CsvValues, FrameLengthDecidesTheBytesUsed) {
  SampleRecord record = ExampleRecord();
  const std::string full = CsvValuesPart(record);
  record[0] = 0xFF;  // names more bytes than a record holds: the 19 present count
  EXPECT_EQ(CsvValuesPart(record), full);
  record[0] = 19;
  EXPECT_EQ(CsvValuesPart(record), full);
  record[0] = 0;
  EXPECT_EQ(CsvValuesPart(record), " ");

  // Length 12: the injection low byte (13) and everything after count as 0.
  record = ExampleRecord();
  record[0] = 12;
  EXPECT_EQ(CsvValuesPart(record),
            " " + Joined({"800", "500", "80", "1280", "60", "12800", "1000", "100", "2560", "110",
                          "0", "0", "1", "1", "0", "1", "1", "0", "0", "0", "0", "0", "0", "0",
                          "0", "0"}));
}

TEST_F(CsvFixture, ExampleRecordAtIndexFive) {
  ASSERT_EQ(StoreRecord(memory, ExampleRecord(), 5), Result::kOk);
  state.recordCount = 10;
  Build(5, 5);
  ASSERT_EQ(lineCount, 2);
  EXPECT_EQ(lines[0], CsvHeaderLine());
  EXPECT_EQ(lines[1], "50 ,  " + Joined({"800", "500", "80", "1280", "60", "12800", "1000", "100",
                                         "5000", "10", "40", "128", "1", "1", "0", "1", "1", "1",
                                         "1", "1", "1", "1", "1", "0", "0", "1"}));
}

TEST_F(CsvFixture, StartAndEndZero) {
  state.recordCount = 5;
  Build(0, 0);
  ASSERT_EQ(lineCount, 2);
  EXPECT_EQ(lines[1], "0 ,  ");
}

TEST_F(CsvFixture, CountCheckEndsTheExportAtTheEndOfTheRecording) {
  for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(StoreRecord(memory, ExampleRecord(), i), Result::kOk);
  state.recordCount = 100;
  Build(90, 100);
  ASSERT_EQ(lineCount, 11);
  EXPECT_EQ(lines[1].substr(0, 7), "900 ,  ");
  EXPECT_EQ(lines[10].substr(0, 7), "990 ,  ");
}

TEST_F(CsvFixture, StartAndEndAtTheCountGiveTheRecordBeyond) {
  state.recordCount = 100;
  ASSERT_EQ(StoreRecord(memory, ExampleRecord(), 100), Result::kOk);
  Build(100, 100);
  ASSERT_EQ(lineCount, 2);
  EXPECT_EQ(lines[1], "1000 , " + CsvValuesPart(ExampleRecord()));
}

TEST_F(CsvFixture, NeverWrittenRecordHasNoValues) {
  state.recordCount = 20;
  Build(12, 12);
  EXPECT_EQ(lines[1], "120 ,  ");
}

TEST_F(CsvFixture, NegativesAndScientificValues) {
  SampleRecord record = ExampleRecord();
  record[5] = 0;        // coolant -50
  record[14] = 255;     // ignition -145
  record[12] = 0x30;    // injection count 12345 -> 123450 us
  record[13] = 0x39;
  ASSERT_EQ(StoreRecord(memory, record, 0), Result::kOk);
  state.recordCount = 1;
  Build(0, 0);
  EXPECT_EQ(lines[1], "0 ,  " + Joined({"800", "500", "-50", "1280", "60", "12800", "1000", "100",
                                        "1.2345E5", "-145", "40", "128", "1", "1", "0", "1", "1",
                                        "1", "1", "1", "1", "1", "1", "0", "0", "1"}));
}

TEST_F(CsvFixture, FailedFetchRepeatsThePreviousRecord) {
  // The last record the log memory holds, then two beyond it.
  ASSERT_EQ(StoreRecord(memory, ExampleRecord(), 900000), Result::kOk);
  state.recordCount = 0;
  Build(900000, 900002);
  ASSERT_EQ(lineCount, 4);
  EXPECT_EQ(lines[3], "9000020 , " + CsvValuesPart(ExampleRecord()));
}

TEST_F(CsvFixture, ProgressMovesAboutTenTimes) {
  state.recordCount = 1000;
  Build(0, 100);
  EXPECT_EQ(lineCount, 102);
  EXPECT_EQ(progress.events, (std::vector<std::string>{"begin:100", "end"}));
  EXPECT_EQ(progress.positions, (std::vector<int32_t>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
}

TEST_F(CsvFixture, ShortRangesStillCompleteAndMoveTheBarEveryLine) {
  state.recordCount = 1000;
  Build(10, 13);
  EXPECT_EQ(lineCount, 5);
  EXPECT_EQ(progress.events, (std::vector<std::string>{"begin:3", "end"}));
  EXPECT_EQ(progress.positions, (std::vector<int32_t>{1, 2, 3, 3}));
}

TEST_F(CsvFixture, EndBeforeStartGivesTheHeaderOnly) {
  state.recordCount = 1000;
  Build(10, 9);
  EXPECT_EQ(lineCount, 1);
  BuildCsvLines(lines, lineCount, 0, 2, state, memory, nullptr);
  EXPECT_EQ(lineCount, 4);
}

namespace {

// The example record as a record that says what it holds.
SampleRecord Holding(RegisterMask mask, SampleRecord record = ExampleRecord()) {
  SetPresentRegisters(record, mask);
  return record;
}

const std::vector<std::string> kExampleFields = {"800", "500", "80", "1280", "60", "12800", "1000", "100", "5000",
                                                 "10",  "40",  "128", "1", "1", "0", "1", "1", "1", "1", "1",
                                                 "1",   "1",   "1", "0", "0", "1"};

}  // namespace

// A record that says it holds the eighteen is written as one of old; what a
// record does not hold is an empty cell, never a number; a lost line is a
// line of empty cells.
TEST(CsvValues, WhatARecordDoesNotHoldIsAnEmptyCell) {
  EXPECT_EQ(CsvValuesPart(Holding(kEighteenMask)), CsvValuesPart(ExampleRecord()));
  std::vector<std::string> fields = kExampleFields;
  fields[4] = "";  // road speed
  EXPECT_EQ(CsvValuesPart(Holding(kEighteenMask & ~MaskOf(0x0B))), " " + Joined(fields));
  fields = kExampleFields;
  fields[0] = "";  // engine speed lacks its low byte
  for (size_t b = 12 + 5; b < 12 + 10; ++b) fields[b] = "";  // bank 2
  EXPECT_EQ(CsvValuesPart(Holding(kEighteenMask & ~MaskOf(0x01) & ~MaskOf(0x1E))), " " + Joined(fields));
  EXPECT_EQ(CsvValuesPart(GapRecord()), " " + Joined(std::vector<std::string>(26, "")));
}

// The registers beyond the eighteen that a recording holds anywhere get
// columns after today's, whichever stretch is exported.
TEST_F(CsvFixture, ColumnsBeyondTheEighteenFollowTheWholeRecording) {
  SampleRecord intake = Holding(kEighteenMask | MaskOf(0x11));
  intake[RecordByteOf(0x11)] = 128;  // 78 deg C
  SampleRecord bank4 = Holding(kEighteenMask | MaskOf(0x21));
  bank4[RecordByteOf(0x21)] = 0x80;  // left bank lean
  const SampleRecord noSpeed = Holding(kEighteenMask & ~MaskOf(0x0B));
  const std::vector<SampleRecord> recording = {intake, bank4, GapRecord(), noSpeed};
  for (uint32_t i = 0; i < recording.size(); ++i) ASSERT_EQ(StoreRecord(memory, recording[i], i), Result::kOk);
  state.recordCount = static_cast<uint32_t>(recording.size());

  Build(1, 3);
  ASSERT_EQ(lineCount, 4);
  EXPECT_EQ(lines[0], CsvHeaderLine() + Joined({"Intake Air Temp [deg C]", "Left Bank Lean", "Right Bank Lean"}));
  std::vector<std::string> fields = kExampleFields;
  fields.insert(fields.end(), {"", "1", "0"});
  EXPECT_EQ(lines[1], "10 ,  " + Joined(fields));
  EXPECT_EQ(lines[2], "20 ,  " + Joined(std::vector<std::string>(29, "")));
  fields = kExampleFields;
  fields[4] = "";
  fields.insert(fields.end(), {"", "", ""});
  EXPECT_EQ(lines[3], "30 ,  " + Joined(fields));

  Build(0, 0);
  fields = kExampleFields;
  fields.insert(fields.end(), {"78", "", ""});
  EXPECT_EQ(lines[1], "0 ,  " + Joined(fields));
  EXPECT_EQ(CsvHeaderLine(RegistersHeld(RecordSpan(recording))), lines[0]);
  EXPECT_EQ(CsvHeaderLine(kEighteenMask), CsvHeaderLine());
}
