// CSV lines for a spreadsheet: a header and one line per record, values in
// engineering units and bits as 0/1, fields separated by " , ". A value or
// bit the record does not hold is an empty cell. The columns are those of
// the eighteen; a recording that holds registers beyond them has their
// columns too, after those (values, then bits), for the registers it holds
// anywhere, so that its header does not depend on the stretch exported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/Memmap.h"
#include "data/RecordSource.h"
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

// The registers any record of a recording holds (RegisterMask bit k:
// catalogue register k): one pass over the records' presence.
RegisterMask RegistersHeld(const RecordSource& records);

// The cells of an export line in their order, each a value or a bit with
// the registers it is made of.
struct ExportCell {
  const ValueColumn* value = nullptr;  // or
  const BitColumn* bit = nullptr;
  RegisterMask needs = 0;
};
// The CSV's cells for a recording that holds held: the eighteen's values
// and bits always, then the values and bits beyond them that held holds.
std::vector<ExportCell> CsvCells(RegisterMask held);
// Every value and bit, in the CSV's order, whose registers held holds all.
std::vector<ExportCell> HeldCells(RegisterMask held);

// The header of a recording of the eighteen, and of one that holds the
// registers of held (only those beyond the eighteen change it).
std::string CsvHeaderLine();
std::string CsvHeaderLine(RegisterMask held);
// The general number format with five significant digits: plain integers
// up to 99999 in magnitude, 1.2345E5 and 1E5 above; the decimal separator
// is the one of the LC_NUMERIC locale.
std::string FormatCsvNumber(int32_t value);
// The values part of one record (starts with a space), with the columns of
// CsvHeaderLine() or CsvHeaderLine(held).
std::string CsvValuesPart(const SampleRecord& record);
std::string CsvValuesPart(const SampleRecord& record, RegisterMask held);

// Fills lines with the header and the lines of records start..end, stopping
// early at the record count. lineCount is set to the number of lines. The
// columns follow what the whole recording holds: the first form works that
// out (a pass over the recording), the second is told it (held, as
// RegistersHeld gives it), so that an export in windows needs one pass.
void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress);
void BuildCsvLines(std::vector<std::string>& lines, int32_t& lineCount, int32_t start,
                   int32_t end, const RecorderState& state, LogMemory& memory,
                   CsvProgress* progress, RegisterMask held);
