// The log viewers' .msl export, read back by a reader written from the
// format's description alone: quoted header lines, a tab-separated line of
// names with Time first, a line of units, then the values, every number
// with a decimal point.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <fstream>
#include <set>

#include "control/RecordingFiles.h"
#include "data/MslWriter.h"
#include "data/Registers.h"
#include "tests/common/TempDir.h"

namespace {

struct MslFile {
  std::vector<std::string> header;  // without their quotes
  std::vector<std::string> names, units;
  std::vector<std::vector<double>> rows;  // an empty field: NaN
  bool wellFormed = true;

  // The column a viewer finds by this name; -1 when there is none.
  int Column(const std::string& name) const {
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : static_cast<int>(at - names.begin());
  }
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', from)) {
    fields.push_back(line.substr(from, tab - from));
    from = tab + 1;
  }
  fields.push_back(line.substr(from));
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
        double value = std::nan("");
        const auto parsed = std::from_chars(field.data(), field.data() + field.size(), value);
        file.wellFormed = file.wellFormed && (field.empty() || (parsed.ec == std::errc() &&
                                                                parsed.ptr == field.data() + field.size()));
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
  const Result result = ExportMslFile(path, 2, 7, RecordSpan(records), {"Torvane log drive.eld"}, 0, lines);
  std::setlocale(LC_NUMERIC, before.c_str());
  ASSERT_EQ(result, Result::kOk);
  EXPECT_EQ(lines, 2 + 2 + 6);

  const MslFile msl = ReadMsl(path);
  EXPECT_TRUE(msl.wellFormed);
  EXPECT_EQ(msl.header, (std::vector<std::string>{"Torvane log drive.eld", "Capture Date: unknown"}));
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
      EXPECT_EQ(msl.rows[r][1 + c], ExactValue(kValueColumns[c], record)) << msl.names[1 + c];
      EXPECT_EQ(msl.units[1 + c], kValueColumns[c].unit);
    }
    for (size_t b = 0; b < kBitColumns.size(); ++b)
      EXPECT_EQ(msl.rows[r][1 + kValueColumns.size() + b], BitIsSet(kBitColumns[b], record) ? 1 : 0);
  }
}

// What a log viewer reads of a recording of old that began before the
// ECU's first frame, exported under a file name with a newline and a tab in
// it: two header lines, the second the capture date; the columns the tuning
// tools look up by name; values in their registers' own steps; rows from
// the first frame on, at their own times; a record never written after it
// is empty, not the zeros it holds.
TEST(MslExport, AViewerFindsItsColumnsByNameFromTheFirstFrameOn) {
  std::vector<SampleRecord> records(3);  // never written: the time before the first frame
  records.push_back(GapRecord());
  for (const SampleRecord& record : Records(4)) records.push_back(record);
  records[4][RecordByteOf(0x00)] = 0;
  records[4][RecordByteOf(0x01)] = 11;   // 11 x 12.5 rpm
  records[4][RecordByteOf(0x1A)] = 100;  // A/F alpha 100 %
  records[4][RecordByteOf(0x17)] = 3;    // AAC valve 1.5 %
  records[6] = SampleRecord{};
  TempDir dir;
  const std::string path = dir.Path("old.msl");
  int64_t lines = 0;
  ASSERT_EQ(ExportMslFile(path, 0, 7, RecordSpan(records), {"Torvane log one\ntwo\t\"three\"\x7f.eld"},
                          1700000000123, lines),
            Result::kOk);

  const MslFile msl = ReadMsl(path);
  EXPECT_TRUE(msl.wellFormed);
  EXPECT_EQ(msl.header, (std::vector<std::string>{"Torvane log one two 'three' .eld",
                                                  "Capture Date: 2023-11-14T22:13:20.123Z"}));
  ASSERT_FALSE(msl.names.empty());
  EXPECT_EQ(msl.names[0], "Time");
  const int rpm = msl.Column("RPM");
  const int alpha = msl.Column("A/F Alpha");
  const int aac = msl.Column("AAC Valve");
  ASSERT_GT(rpm, 0);
  ASSERT_GT(alpha, 0);
  ASSERT_GT(aac, 0);
  EXPECT_EQ(msl.units[static_cast<size_t>(rpm)], "rpm");
  EXPECT_EQ(msl.units[static_cast<size_t>(alpha)], "%");
  EXPECT_EQ(msl.Column("A/F"), -1);

  ASSERT_EQ(msl.rows.size(), 4u);
  const std::vector<double>& first = msl.rows[0];
  EXPECT_DOUBLE_EQ(first[0], 0.04);
  EXPECT_EQ(first[static_cast<size_t>(rpm)], 137.5);
  EXPECT_EQ(first[static_cast<size_t>(alpha)], 100.0);
  EXPECT_EQ(first[static_cast<size_t>(aac)], 1.5);
  const std::vector<double>& unwritten = msl.rows[2];
  EXPECT_DOUBLE_EQ(unwritten[0], 0.06);
  EXPECT_EQ(std::count_if(unwritten.begin() + 1, unwritten.end(), [](double v) { return !std::isnan(v); }), 0);
  EXPECT_EQ(lines, 2 + 2 + 4);
}

// The text of the values: as many decimals as the register's step needs,
// one at least, and no digits of a binary fraction's error.
TEST(MslExport, ValuesAreWrittenAsExactlyAsTheirRegistersGiveThem) {
  SampleRecord record;
  record[0] = kFrameLength;  // every register 0
  record[RecordByteOf(0x01)] = 11;
  record[RecordByteOf(0x17)] = 3;
  const std::vector<std::string> names = Fields(MslNamesLine());
  const auto field = [&](const SampleRecord& r, const std::string& name) {
    const size_t at = static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    const std::vector<std::string> fields = Fields(MslRecordLine(1234, r));
    return at < fields.size() ? fields[at] : "no column " + name;
  };
  EXPECT_EQ(field(record, "Time"), "12.340");
  EXPECT_EQ(field(record, "RPM"), "137.5");
  EXPECT_EQ(field(record, "AAC Valve"), "1.5");
  EXPECT_EQ(field(record, "Coolant Temp"), "-50.0");
  EXPECT_EQ(field(record, "Ignition Timing"), "110.0");
  EXPECT_EQ(field(record, "MAF Voltage"), "0.0");
  record[RecordByteOf(0x00)] = 0xFF;
  record[RecordByteOf(0x01)] = 0xFF;
  EXPECT_EQ(field(record, "RPM"), "819187.5");

  // The display and the CSV cut the same value to a whole number.
  for (const ValueColumn& column : kAllValueColumns) {
    const int raws = column.lowByte != kNoLowByte ? 65536 : 256;
    for (int raw = 0; raw < raws; ++raw) {
      SampleRecord r;
      r[column.highByte] = static_cast<uint8_t>(column.lowByte != kNoLowByte ? raw >> 8 : raw);
      if (column.lowByte != kNoLowByte) r[column.lowByte] = static_cast<uint8_t>(raw);
      const double exact = ExactValue(column, r);
      const int32_t whole = ConvertValue(column, r);
      ASSERT_TRUE(exact >= whole && exact < whole + 1) << column.key << " at " << raw << ": " << exact;
    }
  }
}

// The range is clipped to the recording; an empty one leaves the names and
// units alone; a file that cannot be written is a failure and leaves nothing.
TEST(MslExport, RangesAtTheEdgesAndAFolderThatIsNotThere) {
  TempDir dir;
  const std::vector<SampleRecord> records = Records(4);
  int64_t lines = 0;
  ASSERT_EQ(ExportMslFile(dir.Path("past.msl"), 2, 50, RecordSpan(records), {}, 0, lines), Result::kOk);
  EXPECT_EQ(ReadMsl(dir.Path("past.msl")).rows.size(), 2u);
  ASSERT_EQ(ExportMslFile(dir.Path("none.msl"), 0, 10, RecordSpan({}), {}, 0, lines), Result::kOk);
  const MslFile none = ReadMsl(dir.Path("none.msl"));
  EXPECT_EQ(none.names.size(), 1 + kValueColumns.size() + kBitColumns.size());
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(ExportMslFile(dir.Path("gone/x.msl"), 0, 3, RecordSpan(records), {}, 0, lines), Result::kFailed);
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
  EXPECT_EQ(first.back(), std::to_string(ConvertValue(kExtraValueColumns[5], records[0])) + ".0");
  const std::string second = MslRecordLine(1, records[1], held);
  EXPECT_EQ(second.substr(second.size() - 1), "\t");  // the intake temperature empty
  EXPECT_EQ(MslRecordLine(2, records[2], held), "0.020" + std::string(columns - 1, '\t'));
}
