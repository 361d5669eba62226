// The text log format of the tuning world's log viewers (.msl, as
// MegaLogViewer and TunerStudio write and read it): optional header lines
// in double quotes, a tab-separated line of column names with "Time"
// first, a line of their units, then one line per record. The time is in
// seconds and every value in the engineering units of the display table,
// as exactly as its register gives it (137.5 rpm), always with a decimal
// point; each bit of the banks is a 0/1 column. The columns are those of
// the CSV export, in its order, less those of registers the recording never
// holds: a column with no value anywhere would only draw a flat line of
// nothing. A value or bit a record does not hold (a lost line, a record
// never written) is an empty field.
#pragma once

#include <cstdint>
#include <string>

#include "data/SampleRecord.h"

// "Time", then the values' and the bits' names (the captions without
// their units, but "RPM" and "A/F Alpha", the names the tuning tools look
// up), of a recording of the eighteen or of one that holds the registers
// of held (RegistersHeld, data/CsvWriter.h).
std::string MslNamesLine();
std::string MslNamesLine(RegisterMask held);
// "s", then each value's unit; the bits' is "on/off".
std::string MslUnitsLine();
std::string MslUnitsLine(RegisterMask held);
// A header line: the text in double quotes. The format cannot escape, so
// a double quote in the text becomes a single one and a control character
// (a newline in a file name would end the line) a space.
std::string MslHeaderLine(const std::string& text);
// The header line the viewers' own logs have second: when the recording
// began (milliseconds since 1970 UTC; 0: unknown), as its log file says.
std::string MslCaptureDateLine(int64_t startUtcMs);
// Record index of a recording, as its time ("12.340") and its values, in
// the columns of MslNamesLine() or MslNamesLine(held).
std::string MslRecordLine(uint32_t index, const SampleRecord& record);
std::string MslRecordLine(uint32_t index, const SampleRecord& record, RegisterMask held);
