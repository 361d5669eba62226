// A clip written again with the engine's values over it, in step with the
// recording: for a track day's or a drag run's film, to see where the
// boost came and to share it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "analysis/ValueSettings.h"
#include "data/RecordSource.h"
#include "data/Result.h"

struct OverlayJob {
  std::string clip;
  // An .mp4 file; QuickTime's .mov inside where the clip's sound is one
  // mp4 does not hold (the PCM of some cameras).
  std::string out;
  double offsetS = 0;      // recording time = clip time + offsetS
  double fromS = 0;        // the stretch of the clip written, in clip time;
  double toS = -1;         // -1: to the clip's end
  std::vector<int> columns;  // rows of kAllValueColumns, at most kMaxGauges
  ValueSettings settings;    // as the main window shows the values
};

// Each picture of the stretch gets the gauges of its own time (GaugesAt)
// and is encoded as H.264 (MPEG-4 where this FFmpeg has no H.264 encoder);
// the pictures keep their times, so a variable-rate clip stays in step,
// and the clip's audio is copied as it is. A stretch starts at 0.
// progress gets the part of the stretch done and returns false to cancel.
// Nothing is at out until the whole video is: a failure or a cancel leaves
// no file, and an existing one as it was; error then says why
// ("cancelled" for a cancel).
Result WriteOverlayVideo(const OverlayJob& job, const RecordSource& records,
                         const std::function<bool(double fraction)>& progress, std::string& error);
