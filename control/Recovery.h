// A recording survives the program: what a terminated run saves on its way
// out, and what the next start finds of a run that was killed or crashed.
#pragma once

#include <string>
#include <vector>

#include "data/Memmap.h"
#include "data/SampleRecord.h"

// $XDG_DATA_HOME/torvane/recovered, ~/.local/share/torvane/recovered by
// default. Created when a file is written there.
std::string RecoveryFolder();

// A name in folder for the file a live recording is written to as it is
// made (control/WriteThrough.h): unsaved_<stamp>.eld, then _2, _3 ... when
// taken. Creates the folder; "" when it cannot.
std::string WriteThroughFileName(const std::string& folder);

// Offers back what a run that was killed or crashed, or lost its power,
// left behind, as ordinary log files named log_<stamp>.eld in folder, and
// returns them:
// - the unsaved recording of every leftover section, whose marker is then
//   cleared so that none is written twice;
// - every unsaved_*.eld file in folder that no live writer holds, renamed.
//   One that does not open as a log file is renamed all the same; only one
//   that is a header and not a byte more (a recording of nothing) is
//   removed.
// A crash leaves both a section (every record, no facts) and its file (the
// facts, all but the last records): when a file's records are the
// section's first ones and its registers cover every record of the
// section, the section's file gets the file's part number, start time and
// registers, and the file goes.
std::vector<std::string> RecoverLeftoverRecordings(LogMemory& memory, const std::string& folder);

// Saves the recording in memory (state.recordCount records) as a new log
// file in folder; returns its name, or "" when it could not be written.
std::string SaveRecoveryCopy(RecorderState& state, LogMemory& memory, const std::string& folder);
