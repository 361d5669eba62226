#include "data/MslWriter.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "data/CsvWriter.h"
#include "data/LogFileV2.h"
#include "data/RecordPeriod.h"
#include "data/Registers.h"

namespace {

// Names the tuning tools look a column up by, where the caption would not
// do: a plain "A/F" reads as an air-fuel ratio, which alpha is not.
struct ViewerName {
  std::string_view key;
  const char* name;
};
constexpr ViewerName kViewerNames[] = {
    {"rpm", "RPM"},
    {"afalpha", "A/F Alpha"},
    {"afalphar", "A/F Alpha R"},
};

// A caption without its unit: "Coolant Temp [deg C]" is "Coolant Temp".
std::string Name(const char* caption) {
  std::string name = caption;
  const size_t bracket = name.find(" [");
  return bracket == std::string::npos ? name : name.substr(0, bracket);
}

// A value's name: the viewers' own, else its caption's.
std::string Name(const ValueColumn& column) {
  for (const ViewerName& viewer : kViewerNames)
    if (viewer.key == column.key) return viewer.name;
  return Name(column.caption);
}

void AppendInteger(std::string& line, int64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  line.append(text, result.ptr);
}

// The value in as many decimals as its step needs, one at least; to_chars
// rounds the binary double to them, so no digits of its error show, and
// takes no locale.
void AppendValue(std::string& line, const ValueColumn& column, const SampleRecord& record) {
  char text[32];
  const int decimals = std::max(1, ExactDecimals(column));
  const auto result =
      std::to_chars(text, text + sizeof text, ExactValue(column, record), std::chars_format::fixed, decimals);
  line.append(text, result.ptr);
}

// The cells of the held registers, worked out again only when an export
// of another recording asks.
const std::vector<ExportCell>& CellsOf(RegisterMask held) {
  thread_local bool made = false;
  thread_local RegisterMask madeFor = 0;
  thread_local std::vector<ExportCell> cells;
  if (!made || madeFor != held) {
    cells = HeldCells(held);
    madeFor = held;
    made = true;
  }
  return cells;
}

}  // namespace

std::string MslNamesLine() { return MslNamesLine(kEighteenMask); }

std::string MslNamesLine(RegisterMask held) {
  std::string line = "Time";
  for (const ExportCell& cell : HeldCells(held))
    line += "\t" + (cell.value != nullptr ? Name(*cell.value) : Name(cell.bit->caption));
  return line;
}

std::string MslUnitsLine() { return MslUnitsLine(kEighteenMask); }

std::string MslUnitsLine(RegisterMask held) {
  std::string line = "s";
  for (const ExportCell& cell : HeldCells(held))
    line += std::string("\t") + (cell.value != nullptr ? cell.value->unit : "on/off");
  return line;
}

std::string MslHeaderLine(const std::string& text) {
  std::string line = "\"";
  for (const char c : text) {
    const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    line += c == '"' ? '\'' : control ? ' ' : c;
  }
  return line + "\"";
}

std::string MslCaptureDateLine(int64_t startUtcMs) {
  return MslHeaderLine("Capture Date: " + (startUtcMs != 0 ? UtcIsoText(startUtcMs) : std::string("unknown")));
}

std::string MslRecordLine(uint32_t index, const SampleRecord& record) {
  return MslRecordLine(index, record, kEighteenMask);
}

std::string MslRecordLine(uint32_t index, const SampleRecord& record, RegisterMask held) {
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
  const RegisterMask sent = SentRegisters(record);
  for (const ExportCell& cell : CellsOf(held)) {
    line += '\t';
    if ((sent & cell.needs) != cell.needs) continue;
    if (cell.value != nullptr) AppendValue(line, *cell.value, record);
    else line += BitIsSet(*cell.bit, record) ? '1' : '0';
  }
  return line;
}
