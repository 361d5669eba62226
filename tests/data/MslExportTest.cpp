// The log viewers' .msl export, read back by a reader written from the
// format's description alone: quoted header lines, a tab-separated line of
// names with Time first, a line of units, then the values, every number
// with a decimal point.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <fstream>
#include <set>
#include <sstream>

#include "control/RecordingFiles.h"
#include "data/MslWriter.h"
#include "data/Registers.h"
#include "tests/common/TempDir.h"

namespace {

struct MslFile {
  std::vector<std::string> header;  // without their quotes
  std::vector<std::string> names, units;
  std::vector<std::vector<double>> rows;
  bool wellFormed = true;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

MslFile ReadMsl(const std::string& path) {
  MslFile file;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (file.names.empty() && line.size() >= 2 && line.front() == '"' && line.back() == '"') {
      file.header.push_back(line.substr(1, line.size() - 2));
    } else if (file.names.empty()) {
      file.names = Fields(line);
    } else if (file.units.empty()) {
      file.units = Fields(line);
    } else {
      std::vector<double> row;
      for (const std::string& field : Fields(line)) {
        double value = 0;
        const auto parsed = std::from_chars(field.data(), field.data() + field.size(), value);
        file.wellFormed = file.wellFormed && parsed.ec == std::errc() && parsed.ptr == field.data() + field.size();
        row.push_back(value);
      }
      file.wellFormed = file.wellFormed && row.size() == file.names.size();
      file.rows.push_back(row);
    }
  }
  return file;
}

std::vector<SampleRecord> Records(int count) {
  std::vector<SampleRecord> records(static_cast<size_t>(count));
  uint32_t noise = 99;
  for (SampleRecord& record : records) {
    record[0] = kFrameLength;
    for (int b = 1; b < kLegacyRecordSize; ++b) {
      noise = noise * 1664525u + 1013904223u;
      record[b] = static_cast<uint8_t>(noise >> 24);
    }
  }
  return records;
}

}  // namespace

// In a comma-decimal locale too: every record of the range in the
// display table's units, every bit as 0/1, one name and unit a column.
TEST(MslExport, AStretchReadsBackAsTheTableGivesIt) {
  TempDir dir;
  const std::vector<SampleRecord> records = Records(10);
  const std::string path = dir.Path("drive.msl");
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is needed";
  int64_t lines = 0;
  const Result result = ExportMslFile(path, 2, 7, RecordSpan(records), {"Torvane log drive.eld"}, lines);
  std::setlocale(LC_NUMERIC, before.c_str());
  ASSERT_EQ(result, Result::kOk);
  EXPECT_EQ(lines, 1 + 2 + 6);

  const MslFile msl = ReadMsl(path);
  EXPECT_TRUE(msl.wellFormed);
  EXPECT_EQ(msl.header, std::vector<std::string>{"Torvane log drive.eld"});
  const size_t columns = 1 + kValueColumns.size() + kBitColumns.size();
  ASSERT_EQ(msl.names.size(), columns);
  ASSERT_EQ(msl.units.size(), columns);
  EXPECT_EQ(msl.names[0], "Time");
  EXPECT_EQ(msl.units[0], "s");
  EXPECT_EQ(std::set<std::string>(msl.names.begin(), msl.names.end()).size(), columns);
  ASSERT_EQ(msl.rows.size(), 6u);
  for (size_t r = 0; r < msl.rows.size(); ++r) {
    const SampleRecord& record = records[r + 2];
    EXPECT_DOUBLE_EQ(msl.rows[r][0], (r + 2) * 0.01);
    for (size_t c = 0; c < kValueColumns.size(); ++c) {
      EXPECT_EQ(msl.rows[r][1 + c], ConvertValue(kValueColumns[c], record)) << msl.names[1 + c];
      EXPECT_EQ(msl.units[1 + c], kValueColumns[c].unit);
    }
    for (size_t b = 0; b < kBitColumns.size(); ++b)
      EXPECT_EQ(msl.rows[r][1 + kValueColumns.size() + b], BitIsSet(kBitColumns[b], record) ? 1 : 0);
  }
}

// The range is clipped to the recording; an empty one leaves the names and
// units alone; a file that cannot be written is a failure and leaves nothing.
TEST(MslExport, RangesAtTheEdgesAndAFolderThatIsNotThere) {
  TempDir dir;
  const std::vector<SampleRecord> records = Records(4);
  int64_t lines = 0;
  ASSERT_EQ(ExportMslFile(dir.Path("past.msl"), 2, 50, RecordSpan(records), {}, lines), Result::kOk);
  EXPECT_EQ(ReadMsl(dir.Path("past.msl")).rows.size(), 2u);
  ASSERT_EQ(ExportMslFile(dir.Path("none.msl"), 0, 10, RecordSpan({}), {}, lines), Result::kOk);
  const MslFile none = ReadMsl(dir.Path("none.msl"));
  EXPECT_EQ(none.names.size(), 1 + kValueColumns.size() + kBitColumns.size());
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(ExportMslFile(dir.Path("gone/x.msl"), 0, 3, RecordSpan(records), {}, lines), Result::kFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("gone")));
}

// A register the recording never holds has no column; one beyond the
// eighteen that it holds has one; a value a record lacks, and every field
// of a lost line, is empty. A recording of the eighteen keeps today's columns.
TEST(MslExport, ColumnsOfWhatTheRecordingHolds) {
  std::vector<SampleRecord> records = Records(3);
  const RegisterMask mask = (kEighteenMask & ~MaskOf(0x0B)) | MaskOf(0x11);
  for (SampleRecord& record : records) SetPresentRegisters(record, mask);
  SetPresentRegisters(records[1], mask & ~MaskOf(0x11));
  records[2] = GapRecord();
  const RegisterMask held = RegistersHeld(RecordSpan(records));
  EXPECT_EQ(held, mask);

  EXPECT_EQ(MslNamesLine(kEighteenMask), MslNamesLine());
  EXPECT_EQ(MslUnitsLine(kEighteenMask), MslUnitsLine());
  const std::vector<std::string> names = Fields(MslNamesLine(held));
  const std::vector<std::string> units = Fields(MslUnitsLine(held));
  const size_t columns = 1 + (kValueColumns.size() - 1) + kBitColumns.size() + 1;
  ASSERT_EQ(names.size(), columns);
  ASSERT_EQ(units.size(), columns);
  EXPECT_EQ(std::count(names.begin(), names.end(), "Speed"), 0);
  EXPECT_EQ(names.back(), "Intake Air Temp");
  EXPECT_EQ(units.back(), "deg C");

  const std::vector<std::string> first = Fields(MslRecordLine(0, records[0], held));
  ASSERT_EQ(first.size(), columns);
  EXPECT_EQ(first.back(), std::to_string(ConvertValue(kExtraValueColumns[5], records[0])));
  const std::string second = MslRecordLine(1, records[1], held);
  EXPECT_EQ(second.substr(second.size() - 1), "\t");  // the intake temperature empty
  EXPECT_EQ(MslRecordLine(2, records[2], held), "0.020" + std::string(columns - 1, '\t'));
}
