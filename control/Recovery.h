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

// Writes the unsaved recording of every section a killed or crashed run
// left behind into folder, as ordinary log files named log_<stamp>.eld, and
// clears their markers so that none is written twice. Returns the files.
std::vector<std::string> RecoverLeftoverRecordings(LogMemory& memory, const std::string& folder);

// Saves the recording in memory (state.recordCount records) as a new log
// file in folder; returns its name, or "" when it could not be written.
std::string SaveRecoveryCopy(RecorderState& state, LogMemory& memory, const std::string& folder);
