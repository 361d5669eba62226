// The program-wide single instances. The windows reach them through this
// struct of references, so that the tests can hand each window instances of
// their own instead of the program's.
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

// The program's own instances (defined with the program entry, not in the
// window library, so that linking the windows constructs nothing).
ProgramInstances& TheProgramInstances();
