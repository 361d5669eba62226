// The text log format of the tuning world's log viewers (.msl, as
// MegaLogViewer and TunerStudio write and read it): optional header lines
// in double quotes, a tab-separated line of column names with "Time"
// first, a line of their units, then one line per record. The time is in
// seconds and every value in the engineering units of the display table,
// always with a decimal point; each bit of the three banks is a 0/1
// column. The columns are those of the CSV export, in its order.
#pragma once

#include <cstdint>
#include <string>

#include "data/SampleRecord.h"

// "Time", then the values' and the bits' names (the captions without
// their units).
std::string MslNamesLine();
// "s", then each value's unit; the bits' is "on/off".
std::string MslUnitsLine();
// A header line: the text in double quotes (any double quote in it is
// made a single one, which the format cannot escape).
std::string MslHeaderLine(const std::string& text);
// Record index of a recording, as its time ("12.340") and its values.
std::string MslRecordLine(uint32_t index, const SampleRecord& record);
