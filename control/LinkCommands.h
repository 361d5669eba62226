// The Consult link flows that the window's ECU commands and torvane-cli both
// run, and the status lines that report them. Results are the session's own:
// ConsultSession::kOk and kFailed (data/Result.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/RegisterList.h"

#include "link/ActiveTests.h"
#include "link/ConsultSession.h"
#include "link/StreamReceiver.h"

// Status lines, exactly as the program has always written them.
std::string OpenInterfaceLine(int32_t port, bool ok);   // "OK. COM3 Open Interface OK"
std::string CloseInterfaceLine(int32_t port, bool ok);  // "NG. COM3 Close Interface NG"
extern const char kLineEcuFound[];                      // "OK. ECU Found."
extern const char kLineEcuNotFound[];                   // "NG. ECU NOT Found."
extern const char kLineEcuNumberGot[];                  // "OK. ECU No. got."
extern const char kLineEcuNumberNotFound[];             // "NG. ECU No. NOT Found."
extern const char kLineRequestSent[];                   // "REQ CMD Send."
extern const char kLineReadStart[];                     // "ECU Read Start"
extern const char kLineCommunicationStop[];             // "ECU Communication Stop"
extern const char kLineLineLost[];                       // "NG. ECU line lost: no data for 1 s."
extern const char kLineLineBack[];                       // "OK. ECU line back: reading resumed."
extern const char kLinePlayStart[];                     // "Play Start"
extern const char kLinePlayStop[];                      // "Play Stop"
extern const char kLineCodesGot[];                      // "OK. Fault codes got."
extern const char kLineCodesNotGot[];                   // "NG. Fault codes NOT got."
extern const char kLineCodesCleared[];                  // "OK. Fault codes cleared."
extern const char kLineCodesNotCleared[];               // "NG. Fault codes NOT cleared."
// "NG. ECU lacks registers 17 (AAC valve), 1A (A/F alpha): reading stopped."
// when nothing is left to read.
std::string RefusedRegistersLine(RegisterMask refused);
// "ECU lacks register 17 (AAC valve): shown as n/a." when the rest is read.
std::string LackingRegistersLine(RegisterMask lacking);
// "OK. ECU Found." and, for an ECU that answered only the late
// initialisation, a line that says so.
std::vector<std::string> EcuFoundLines(uint8_t initAnswered);
// The registers of a request (bit i: its register i) as a catalogue mask.
RegisterMask RequestMask(const RegisterList& request, uint32_t requestBits);

// Builds the stream request for the registers (the eighteen unless said)
// and sends it. With a test (an index of kActiveTests and a value it
// allows) the test's bytes go before the terminator: the ECU streams and
// holds the test. kFailed, and nothing sent, for a test the table does not
// allow.
Result SendStreamRequest(ConsultSession& session, int testIndex = -1, int testValue = 0);
Result SendStreamRequest(ConsultSession& session, const RegisterList& registers, int testIndex = -1,
                         int testValue = 0);

// Stops reading, then sends the stop byte; the send's result is not
// examined (the stream stopping is seen on the line, not in the result).
void StopLiveStream(StreamReceiver& receiver, ConsultSession& session);

// After the stop byte: waits until the ECU has gone quiet, sending the stop
// byte once more if frames keep coming, so that closing the port right after
// never leaves an ECU streaming to nobody.
void WaitUntilQuiet(ConsultSession& session);

// The five characters of an ECU number as they can be shown: bytes outside
// printable ASCII become '?', as the ECU is outside the program's control.
std::string PrintableEcuNumber(const char* number);
