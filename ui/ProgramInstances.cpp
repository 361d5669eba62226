// All program-wide instances live in this one file: within a translation
// unit objects are constructed in the order of their definitions, so the
// order below is the order of construction (and the reverse of destruction).
#include "ui/ProgramInstances.h"

namespace program {

extern ConsultSession consultSession;
extern RecorderState recorderState;

// The log memory store exists from program load, before everything else.
LogMemory logMemory;

// 1. Every port slot closed.
SerialPort serialPort;
// 2. Its thread starts at once and idles. It is handed the session and the
// recorder defined just below; while idle (active 0) it touches neither, so
// binding the references before they are constructed is safe.
StreamReceiver streamReceiver(consultSession, recorderState);
// 3. No port open.
ConsultSession consultSession(serialPort);
// 4. All flags 0, record count 0, current sample zeroed.
RecorderState recorderState;
// 5. Period 10 ms, enable flag 0, no thread until the main window starts it.
RecordingClock recordingClock;

ProgramInstances instances{serialPort,    streamReceiver, consultSession,
                           recorderState, recordingClock, logMemory};

}  // namespace program

ProgramInstances& TheProgramInstances() { return program::instances; }
