// When the program is told to end (SIGTERM, SIGHUP as the session closes,
// SIGINT), the main window closes as File > Exit would, without asking, and
// an unsaved recording is kept in the recovery folder.
#pragma once

class TConsultMainForm;

// Installs the handlers; call once the main window exists. The signal is
// only noted in the handler; the window closes from the event loop.
void CloseOnTerminationSignals(TConsultMainForm* window);
