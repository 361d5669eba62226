#include "data/MslWriter.h"

#include <charconv>

#include "data/RecordPeriod.h"
#include "data/Registers.h"

namespace {

// A caption without its unit: "Coolant Temp [deg C]" is "Coolant Temp".
std::string Name(const char* caption) {
  std::string name = caption;
  const size_t bracket = name.find(" [");
  return bracket == std::string::npos ? name : name.substr(0, bracket);
}

void AppendInteger(std::string& line, int64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  line.append(text, result.ptr);
}

}  // namespace

std::string MslNamesLine() {
  std::string line = "Time";
  for (const ValueColumn& column : kValueColumns) line += "\t" + Name(column.caption);
  for (const BitColumn& bit : kBitColumns) line += "\t" + Name(bit.caption);
  return line;
}

std::string MslUnitsLine() {
  std::string line = "s";
  for (const ValueColumn& column : kValueColumns) line += std::string("\t") + column.unit;
  for (size_t i = 0; i < kBitColumns.size(); ++i) line += "\ton/off";
  return line;
}

std::string MslHeaderLine(const std::string& text) {
  std::string line = "\"";
  for (const char c : text) line += c == '"' ? '\'' : c;
  return line + "\"";
}

std::string MslRecordLine(uint32_t index, const SampleRecord& record) {
  // The time from the whole milliseconds, so that no rounding of a double
  // can make two records' times look alike: 10 ms is "0.01".
  const int64_t ms = static_cast<int64_t>(index) * kRecordPeriodMs;
  std::string line;
  AppendInteger(line, ms / 1000);
  line += '.';
  const int64_t fraction = ms % 1000;
  line += static_cast<char>('0' + fraction / 100);
  line += static_cast<char>('0' + fraction / 10 % 10);
  line += static_cast<char>('0' + fraction % 10);
  for (const ValueColumn& column : kValueColumns) {
    line += '\t';
    AppendInteger(line, ConvertValue(column, record));
  }
  for (const BitColumn& bit : kBitColumns) line += BitIsSet(bit, record) ? "\t1" : "\t0";
  return line;
}
