// The CSV that overlay renderers (the tools that draw gauges over a video)
// read: a time column in UTC, so that a renderer lines the data up with the
// clip's own clock, and the columns under the names they look for:
//
//   Time,RPM,KPH,Throttle
//   2026-06-14T09:31:02.120Z,812.5,0.0,0.0
//
// Time is ISO 8601 in UTC with milliseconds, RPM as exactly as the ECU
// gives it, KPH the speed in km/h times the speed factor, Throttle in %.
// Numbers always take a point, whatever the locale; lines end in CR LF.
// A value the ECU did not send in a record (a lost line, a register the ECU
// lacks) is an empty field.
#pragma once

#include <cstdint>
#include <string>

#include "data/RecordSource.h"
#include "data/SampleRecord.h"

// The sensor gives a voltage; a renderer wants 0 to 100 %. Sensors differ
// (about 0.45 V closed, 4 V or more wide open), so the span is read off the
// recording: closed at its lowest reading, open at its highest. A drive
// that never closes or never opens the throttle fully would stretch the
// part it used to the whole scale, so closed is at most, and open at least,
// a typical sensor's reading.
struct ThrottleSpan {
  static constexpr int32_t kTypicalClosedMv = 700;
  static constexpr int32_t kTypicalOpenMv = 4000;
  int32_t closedMv = kTypicalClosedMv;
  int32_t openMv = kTypicalOpenMv;
};
// The span of records first..last (clipped to the recording).
ThrottleSpan ThrottleSpanOf(const RecordSource& records, int64_t first, int64_t last);
// 0 to 100.
double ThrottlePercent(int32_t mv, const ThrottleSpan& span);

std::string OverlayCsvNamesLine();
// Record index of a recording that began at startUtcMs (ms since 1970).
std::string OverlayCsvLine(int64_t startUtcMs, uint32_t index, const SampleRecord& record, const ThrottleSpan& span,
                           double speedFactor);
