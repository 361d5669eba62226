#include "CsvWriter.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "data/Recorder.h"
#include "data/RecordPeriod.h"

const char kCsvSeparator[] = " , ";

std::string CsvHeaderLine() {
  std::string line = std::string("Time [msec]") + kCsvSeparator;
  for (const ValueColumn& column : kValueColumns) line += std::string(column.csvColumn) + kCsvSeparator;
  for (const BitColumn& bit : kBitColumns) line += std::string(bit.csvColumn) + kCsvSeparator;
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

void AppendValuesPart(std::string& part, const SampleRecord& record) {
  const int frameLength = record[0];
  if (frameLength == 0) {
    part += ' ';
    return;
  }
  // Data bytes past the frame length count as 0. A length above 19 (only a
  // damaged file has one) names more bytes than a record holds: the 19
  // present are used.
  SampleRecord work;
  work[0] = record[0];
  const int last = std::min(frameLength, kSampleRecordSize - 1);
  for (int b = 1; b <= last; ++b) work[b] = record[b];

  part += ' ';
  for (const ValueColumn& column : kValueColumns) {
    AppendCsvNumber(part, ConvertValue(column, work));
    part += kCsvSeparator;
  }
  for (const BitColumn& bit : kBitColumns) {
    part += BitIsSet(bit, work) ? '1' : '0';
    part += kCsvSeparator;
  }
}

}  // namespace

std::string CsvValuesPart(const SampleRecord& record) {
  std::string part;
  AppendValuesPart(part, record);
  return part;
}

void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress) {
  lines.clear();
  lines.push_back(CsvHeaderLine());
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
    AppendValuesPart(line, work);
    lines.push_back(std::move(line));
    ++count;
    if (i == end) break;
    // The count is read afresh: a live recording may still be growing.
    if (static_cast<uint32_t>(i + 1) == state.recordCount.load()) break;
  }

  if (progress != nullptr) progress->End();
  lineCount = static_cast<int32_t>(count);
}
