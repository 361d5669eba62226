// The program-wide objects, built in the program's own order: the log
// memory store, then the serial port, the stream receiver (its thread starts
// at once, idle, bound to the Consult session and recorder built after it),
// the Consult session, the recorder and the recording clock, and last the
// session that drives them all. The program has one; tests, tools and
// benchmarks build their own, the same way.
#pragma once

#include <chrono>
#include <string>

#include "control/ProgramInstances.h"
#include "control/Session.h"
#include "data/RecordPeriod.h"

struct ProgramObjects {
  explicit ProgramObjects(std::chrono::nanoseconds clockPeriod = kRecordPeriod,
                          const std::string& shmBase = ".MMF")
      : logMemory(shmBase), recordingClock(clockPeriod) {}
  // Members go in reverse order: the session stops the clock's thread, and
  // the Consult session and the recorder go before the receiver that reads
  // them, whose thread must have ended first.
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
  Session session{refs};
};

// The program's own objects (defined with the program entry, not in the
// window library, so that linking the windows constructs nothing).
ProgramObjects& TheProgram();
