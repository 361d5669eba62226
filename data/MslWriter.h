// The text log format of the tuning world's log viewers (.msl, as
// MegaLogViewer and TunerStudio write and read it): optional header lines
// in double quotes, a tab-separated line of column names with "Time"
// first, a line of their units, then one line per record. The time is in
// seconds and every value in the engineering units of the display table,
// always with a decimal point; each bit of the banks is a 0/1 column. The
// columns are those of the CSV export, in its order, less those of
// registers the recording never holds: a column with no value anywhere
// would only draw a flat line of nothing. A value or bit a record does not
// hold (a lost line) is an empty field.
#pragma once

#include <cstdint>
#include <string>

#include "data/SampleRecord.h"

// "Time", then the values' and the bits' names (the captions without
// their units), of a recording of the eighteen or of one that holds the
// registers of held (RegistersHeld, data/CsvWriter.h).
std::string MslNamesLine();
std::string MslNamesLine(RegisterMask held);
// "s", then each value's unit; the bits' is "on/off".
std::string MslUnitsLine();
std::string MslUnitsLine(RegisterMask held);
// A header line: the text in double quotes (any double quote in it is
// made a single one, which the format cannot escape).
std::string MslHeaderLine(const std::string& text);
// Record index of a recording, as its time ("12.340") and its values, in
// the columns of MslNamesLine() or MslNamesLine(held).
std::string MslRecordLine(uint32_t index, const SampleRecord& record);
std::string MslRecordLine(uint32_t index, const SampleRecord& record, RegisterMask held);
