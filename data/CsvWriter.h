// CSV lines for a spreadsheet: a header and one line per record, values in
// engineering units and bits as 0/1, fields separated by " , ".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/Memmap.h"
#include "data/SampleRecord.h"

extern const char kCsvSeparator[];  // " , "

// How the writer shows progress (the export dialog's bar).
class CsvProgress {
 public:
  virtual ~CsvProgress() = default;
  virtual void Begin(int32_t maximum) = 0;      // show the bar, 0..maximum, at 0
  virtual void SetPosition(int32_t position) = 0;
  virtual void End() = 0;                       // hide the bar
};

std::string CsvHeaderLine();
// The general number format with five significant digits: plain integers
// up to 99999 in magnitude, 1.2345E5 and 1E5 above; the decimal separator
// is the one of the LC_NUMERIC locale.
std::string FormatCsvNumber(int32_t value);
// The values part of one record (starts with a space).
std::string CsvValuesPart(const SampleRecord& record);

// Fills lines with the header and the lines of records start..end, stopping
// early at the record count. lineCount is set to the number of lines.
void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress);
