// Moving the playback position from a tool window: the same steps as a drag
// of the main window's position bar, so that pausing, seeking and resuming
// follow the bar's rules exactly.
#pragma once

#include <cstdint>

class TConsultMainForm;

// Moves the bar's thumb to index (kept inside its range) as a thumb drag
// does, then ends the scroll as releasing the mouse does.
void SeekPlayback(TConsultMainForm& main, int64_t index);
