// The gauges at a moment of a recording: each value as the main window
// shows it (speed corrected, in the units chosen), or "n/a" where the
// recording holds none then.
#pragma once

#include <span>
#include <vector>

#include "analysis/ValueSettings.h"
#include "data/RecordSource.h"
#include "video/GaugeRender.h"

// columns are rows of kAllValueColumns. The moment falls in record
// floor(recordingSeconds / 10 ms). Before the recording's start, after its
// end, in a gap or for a register the ECU lacks the gauge is missing: "n/a"
// and no bar, never a zero or the value of another record.
std::vector<Gauge> GaugesAt(const RecordSource& records, double recordingSeconds, std::span<const int> columns,
                            const ValueSettings& settings);
