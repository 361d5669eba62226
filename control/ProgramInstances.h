// The program-wide single instances. The windows reach them through this
// struct of references, so that the tests can hand each window instances of
// their own instead of the program's.
#pragma once

#include <chrono>
#include <string>

#include "data/Memmap.h"
#include "data/RecordingClock.h"
#include "data/SampleRecord.h"
#include "link/ConsultSession.h"
#include "link/SerialPort.h"
#include "link/StreamReceiver.h"
#include "data/RecordPeriod.h"

struct ProgramInstances {
  SerialPort& serialPort;
  StreamReceiver& streamReceiver;
  ConsultSession& consultSession;
  RecorderState& recorderState;
  RecordingClock& recordingClock;
  LogMemory& logMemory;
};

// The six instances in the program's own order: the log memory store, then
// the serial port, the stream receiver (its thread starts at once, idle,
// bound to the session and recorder built after it), the Consult session,
// the recorder and the recording clock. The program has one; tests, tools
// and benchmarks build their own, the same way.
struct ProgramObjects {
  explicit ProgramObjects(std::chrono::nanoseconds clockPeriod = kRecordPeriod,
                          const std::string& shmBase = ".MMF")
      : logMemory(shmBase), recordingClock(clockPeriod) {}
  // Members go in reverse order, the session and the recorder before the
  // receiver that reads them: its thread must have ended first.
  ~ProgramObjects() { StopAndJoinReceiver(); }
  void StopAndJoinReceiver() {
    (void)streamReceiver.StopReceiver();  // always 0
    streamReceiver.Join();
  }

  LogMemory logMemory;
  SerialPort serialPort;
  StreamReceiver streamReceiver{consultSession, recorderState};
  ConsultSession consultSession{serialPort};
  RecorderState recorderState;
  RecordingClock recordingClock;
  ProgramInstances refs{serialPort,    streamReceiver, consultSession,
                        recorderState, recordingClock, logMemory};
};

// The program's own instances (defined with the program entry, not in the
// window library, so that linking the windows constructs nothing).
ProgramInstances& TheProgramInstances();
