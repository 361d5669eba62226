// What the video tests share: records built from the values' raw bytes, a
// recording that changes at every record, and a written video compared
// picture by picture with the clip it came from.
#pragma once

#include <string>
#include <vector>

#include "analysis/ValueSettings.h"
#include "data/RecordSource.h"
#include "data/SampleRecord.h"
#include "tests/common/TempDir.h"
#include "video/OverlayWriter.h"

namespace video_test {

inline const int kRpm = ValueColumnOf("rpm");
inline const int kSpeed = ValueColumnOf("speed");
inline const int kCoolant = ValueColumnOf("coolant");
inline const int kThrottle = ValueColumnOf("throttle");
inline const int kBoost = ValueColumnOf("boost");

// The raw byte(s) of one value of the table, high byte first.
void SetRaw(SampleRecord& record, int column, int raw);
// A record of the eighteen whose engine speed is rpm (a multiple of 12.5).
SampleRecord RpmRecord(int rpm);

// Engine speed and throttle change at every record, so a picture given
// the gauges of the record before or after shows other digits; records
// 60 to 69 are a gap.
std::vector<SampleRecord> ChangingRecording(int count);

// The names in the folder, sorted.
std::vector<std::string> FilesIn(const TempDir& dir);

struct Compared {
  int pictures = 0;
  int withValues = 0;  // pictures whose first gauge showed a value
  int withoutValues = 0;
};
// Decodes the clip and the written video side by side. Each written
// picture is the clip's picture of its time (less the stretch's start)
// with the gauges of that moment drawn on it, to within the lossy
// encode; the gauges of the record before or after would be seen.
Compared CompareWithClip(const std::string& clip, const std::string& written, const OverlayJob& job,
                         const RecordSource& records);

}  // namespace video_test
