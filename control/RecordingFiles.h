// Moving recordings out of the program: the CSV export and the log viewers'
// .msl export that the export dialog and torvane-cli share. Results are kExportOk and kExportFailed
// (data/Result.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/CsvWriter.h"
#include "data/Memmap.h"
#include "data/RecordSource.h"
#include "data/Result.h"
#include "data/SampleRecord.h"

constexpr Result kExportOk = Result::kOk;
constexpr Result kExportFailed = Result::kFailed;

// Writes the header and the lines of records first..last (both included,
// stopping early at the record count, as BuildCsvLines does) to fileName,
// every line ended by CR LF. Long ranges are built a window of 65,501
// records at a time, so memory stays small. The file appears only when
// every byte was written: a failed export leaves no partial file and an
// existing file as it was. linesWritten receives the number of lines.
Result ExportCsvFile(const std::string& fileName, int32_t first, int32_t last,
                      const RecorderState& state, LogMemory& memory, CsvProgress* progress,
                      int64_t& linesWritten);
// The same with the caller's line buffer (the export dialog keeps one for
// its whole life).
Result ExportCsvFile(const std::string& fileName, int32_t first, int32_t last,
                      const RecorderState& state, LogMemory& memory, CsvProgress* progress,
                      int64_t& linesWritten, std::vector<std::string>& lines);

// Writes records first..last (both included, clipped to the recording) in
// the log viewers' format (data/MslWriter.h), after the header lines given
// and the capture date (the recording's start, startUtcMs; 0: unknown),
// every line ended by LF; as safely as the CSV export. Records before the
// stretch's first frame are left out (a viewer would draw their nothing
// as a spike), each record keeps its own time. linesWritten receives the
// number of lines, header lines included.
Result ExportMslFile(const std::string& fileName, int64_t first, int64_t last, const RecordSource& records,
                     const std::vector<std::string>& headerLines, int64_t startUtcMs, int64_t& linesWritten);

// Writes records first..last (clipped to the recording) as the overlay
// renderers' CSV (data/OverlayCsv.h) of a recording that began at
// startUtcMs, the speed times speedFactor; records before the stretch's
// first frame are left out, as in the .msl export. As safely as the CSV
// export; linesWritten counts the names line too.
Result ExportOverlayCsvFile(const std::string& fileName, int64_t first, int64_t last, const RecordSource& records,
                            int64_t startUtcMs, double speedFactor, int64_t& linesWritten);

// The first record of first..last (clipped to the recording) that holds a
// frame of the ECU (HoldsFrame, data/Registers.h); -1 when none does: the
// stretch has nothing to export.
int64_t FirstRecordWithFrame(const RecordSource& records, int64_t first, int64_t last);

// The date and time of default file names: year, month, day, "_", hour,
// minute, second in local time, as 20070810_140509. Sorts by time.
std::string MakeTimeStamp();

// fileName with its extension replaced by extension (".eld"); a name
// without one gets it appended.
std::string WithExtension(const std::string& fileName, const std::string& extension);
