#include "CsvWriter.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "data/LogRecords.h"
#include "data/Recorder.h"
#include "data/RecordPeriod.h"

const char kCsvSeparator[] = " , ";

namespace {

RegisterMask BankMask(const BitColumn& bit) {
  return RegisterMask{1} << CatalogueIndexOf(kAllBitBanks[static_cast<size_t>(bit.bank)].registerNumber);
}

// Every cell in the CSV's order: the eighteen's values and bits, then the
// values and bits beyond them; always is how many lead.
std::vector<ExportCell> MakeAllCells(size_t& always) {
  std::vector<ExportCell> cells;
  for (const ValueColumn& column : kValueColumns) cells.push_back({&column, nullptr, RegistersOf(column)});
  for (const BitColumn& bit : kBitColumns) cells.push_back({nullptr, &bit, BankMask(bit)});
  always = cells.size();
  for (const ValueColumn& column : kExtraValueColumns) cells.push_back({&column, nullptr, RegistersOf(column)});
  for (const BitColumn& bit : kExtraBitColumns) cells.push_back({nullptr, &bit, BankMask(bit)});
  return cells;
}

const std::vector<ExportCell>& AllCells(size_t& always) {
  static size_t eighteen = 0;
  static const std::vector<ExportCell> all = MakeAllCells(eighteen);
  always = eighteen;
  return all;
}

std::vector<ExportCell> Cells(RegisterMask held, bool eighteenAlways) {
  size_t always = 0;
  const std::vector<ExportCell>& all = AllCells(always);
  std::vector<ExportCell> cells;
  for (size_t i = 0; i < all.size(); ++i)
    if ((eighteenAlways && i < always) || (held & all[i].needs) == all[i].needs) cells.push_back(all[i]);
  return cells;
}

}  // namespace

std::vector<ExportCell> CsvCells(RegisterMask held) { return Cells(held, true); }
std::vector<ExportCell> HeldCells(RegisterMask held) { return Cells(held, false); }

RegisterMask RegistersHeld(const RecordSource& records) {
  RegisterMask held = 0;
  records.Visit(0, records.Count(), [&](uint32_t, std::span<const SampleRecord> block) {
    for (const SampleRecord& record : block) held |= PresentRegisters(record);
  });
  return held;
}

std::string CsvHeaderLine() { return CsvHeaderLine(kEighteenMask); }

std::string CsvHeaderLine(RegisterMask held) {
  std::string line = std::string("Time [msec]") + kCsvSeparator;
  for (const ExportCell& cell : CsvCells(held))
    line += std::string(cell.value != nullptr ? cell.value->csvColumn : cell.bit->csvColumn) + kCsvSeparator;
  return line;
}

// "%.5G" is the general format with five significant digits and the
// LC_NUMERIC decimal point; it already drops trailing zeros and gives plain
// integers below 100000. Only its exponent differs from the texts the
// spreadsheet files have always had: "1.2345E+05" is written "1.2345E5".
// Values are whole numbers, so the exponent is never negative.
namespace {

// Below 100000 in magnitude the general format writes the plain integer,
// which needs no locale and no floating point: nearly every field of an
// export is one of these.
constexpr int32_t kPlainLimit = 99999;

void AppendCsvNumber(std::string& out, int32_t value) {
  if (value >= -kPlainLimit && value <= kPlainLimit) {
    char text[12];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
    return;
  }
  out += FormatCsvNumber(value);
}

}  // namespace

std::string FormatCsvNumber(int32_t value) {
  if (value >= -kPlainLimit && value <= kPlainLimit) return std::to_string(value);
  const float asFloat = static_cast<float>(value);
  char text[32];
  std::snprintf(text, sizeof text, "%.5G", static_cast<double>(asFloat));
  std::string out = text;
  const size_t e = out.find('E');
  if (e == std::string::npos) return out;
  size_t digits = e + 1;
  if (digits < out.size() && (out[digits] == '+' || out[digits] == '-')) {
    if (out[digits] == '+') out.erase(digits, 1);
    else ++digits;
  }
  while (digits + 1 < out.size() && out[digits] == '0') out.erase(digits, 1);
  return out;
}

namespace {

void AppendValuesPart(std::string& part, const SampleRecord& record, const std::vector<ExportCell>& cells) {
  SampleRecord work;
  RegisterMask present = 0;
  if (record[kPresenceKindByte] == 0) {
    // A record of the first kind holds the eighteen, as its frame length
    // says: data bytes past it count as 0, and a length above 19 (only a
    // damaged file has one) names more bytes than such a record has: the 19
    // there are used. A length of 0 is a record never written: no fields.
    const int frameLength = record[0];
    if (frameLength == 0) {
      part += ' ';
      return;
    }
    work[0] = record[0];
    const int last = std::min(frameLength, kLegacyRecordSize - 1);
    for (int b = 1; b <= last; ++b) work[b] = record[b];
    present = kEighteenMask;
  } else {
    work = record;
    present = PresentRegisters(record);
  }

  part += ' ';
  for (const ExportCell& cell : cells) {
    if ((present & cell.needs) == cell.needs) {
      if (cell.value != nullptr) AppendCsvNumber(part, ConvertValue(*cell.value, work));
      else part += BitIsSet(*cell.bit, work) ? '1' : '0';
    }
    part += kCsvSeparator;
  }
}

}  // namespace

std::string CsvValuesPart(const SampleRecord& record) { return CsvValuesPart(record, kEighteenMask); }

std::string CsvValuesPart(const SampleRecord& record, RegisterMask held) {
  std::string part;
  AppendValuesPart(part, record, CsvCells(held));
  return part;
}

void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress) {
  BuildCsvLines(lines, lineCount, start, end, state, memory, progress,
                RegistersHeld(LogMemoryRecords(memory, state.recordCount.load())));
}

void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress, RegisterMask held) {
  const std::vector<ExportCell> cells = CsvCells(held);
  lines.clear();
  lines.push_back(CsvHeaderLine(held));
  if (end < start) {  // nothing chosen: the header alone
    lineCount = 1;
    return;
  }

  const int64_t range = static_cast<int64_t>(end) - start;
  const int32_t maximum = static_cast<int32_t>(std::min<int64_t>(range, INT32_MAX));
  // The bar moves about ten times per export; with fewer than ten records
  // to a tenth there is no step, and it then moves after every line.
  const int64_t step = range / 10;
  if (progress != nullptr) progress->Begin(maximum);

  int64_t count = 1;
  SampleRecord work;  // all zero before the first fetch
  for (int64_t i = start;; ++i) {
    if (progress != nullptr && (step == 0 || count % step == 0))
      progress->SetPosition(static_cast<int32_t>(std::min<int64_t>(count, maximum)));
    (void)FetchRecord(memory, work, static_cast<uint32_t>(i));  // a failure keeps the last record
    std::string line;
    line.reserve(160);
    line += std::to_string(RecordTimeMs(i));
    line += kCsvSeparator;
    AppendValuesPart(line, work, cells);
    lines.push_back(std::move(line));
    ++count;
    if (i == end) break;
    // The count is read afresh: a live recording may still be growing.
    if (static_cast<uint32_t>(i + 1) == state.recordCount.load()) break;
  }

  if (progress != nullptr) progress->End();
  lineCount = static_cast<int32_t>(count);
}
