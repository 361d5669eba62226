// The program-wide single instances, as references: the session, the
// windows and the tools reach them through this struct, so that each test
// can hand them instances of its own instead of the program's. They are
// built together in ProgramObjects (control/ProgramObjects.h).
#pragma once

#include "data/Memmap.h"
#include "data/RecordingClock.h"
#include "data/SampleRecord.h"
#include "link/ConsultSession.h"
#include "link/SerialPort.h"
#include "link/StreamReceiver.h"

struct ProgramInstances {
  SerialPort& serialPort;
  StreamReceiver& streamReceiver;
  ConsultSession& consultSession;
  RecorderState& recorderState;
  RecordingClock& recordingClock;
  LogMemory& logMemory;
};
