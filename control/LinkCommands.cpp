#include "control/LinkCommands.h"

#include <algorithm>
#include <chrono>

const char kLineEcuFound[] = "OK. ECU Found.";
const char kLineEcuNotFound[] = "NG. ECU NOT Found.";
const char kLineEcuNumberGot[] = "OK. ECU No. got.";
const char kLineEcuNumberNotFound[] = "NG. ECU No. NOT Found.";
const char kLineRequestSent[] = "REQ CMD Send.";
const char kLineReadStart[] = "ECU Read Start";
const char kLineCommunicationStop[] = "ECU Communication Stop";
const char kLineLineLost[] = "NG. ECU line lost: no data for 1 s.";
const char kLineLineBack[] = "OK. ECU line back: reading resumed.";
const char kLinePlayStart[] = "Play Start";
const char kLinePlayStop[] = "Play Stop";
const char kLineCodesGot[] = "OK. Fault codes got.";
const char kLineCodesNotGot[] = "NG. Fault codes NOT got.";
const char kLineCodesCleared[] = "OK. Fault codes cleared.";
const char kLineCodesNotCleared[] = "NG. Fault codes NOT cleared.";

std::string RefusedRegistersLine(RegisterMask refused) {
  return std::string(RegisterCount(refused) > 1 ? "NG. ECU lacks registers " : "NG. ECU lacks register ") +
         RegisterLabels(refused) + ": reading stopped.";
}

std::string LackingRegistersLine(RegisterMask lacking) {
  return std::string(RegisterCount(lacking) > 1 ? "ECU lacks registers " : "ECU lacks register ") +
         RegisterLabels(lacking) + ": shown as n/a.";
}

std::vector<std::string> EcuFoundLines(uint8_t initAnswered) {
  std::vector<std::string> lines{kLineEcuFound};
  if (initAnswered == 0xED) lines.push_back("ECU answered the initialisation FF FF ED (not FF FF EF).");
  return lines;
}

RegisterMask RequestMask(const RegisterList& request, uint32_t requestBits) {
  RegisterMask mask = 0;
  for (int i = 0; i < request.count; ++i)
    if ((requestBits >> i & 1) != 0) mask |= RegisterMask{1} << request.entries[static_cast<size_t>(i)];
  return mask;
}

std::string OpenInterfaceLine(int32_t port, bool ok) {
  return std::string(ok ? "OK. COM" : "NG. COM") + std::to_string(port) +
         (ok ? " Open Interface OK" : " Open Interface NG");
}

std::string CloseInterfaceLine(int32_t port, bool ok) {
  return std::string(ok ? "OK. COM" : "NG. COM") + std::to_string(port) +
         (ok ? " Close Interface OK" : " Close Interface NG");
}

Result SendStreamRequest(ConsultSession& session, int testIndex, int testValue) {
  return SendStreamRequest(session, EighteenRegisters(), testIndex, testValue);
}

Result SendStreamRequest(ConsultSession& session, const RegisterList& registers, int testIndex, int testValue) {
  uint8_t request[kMaxStreamRequestLength + kActiveTestRequestMax];
  int32_t length = 0;
  StreamReceiver::BuildStreamRequest(registers, request, &length);
  if (testIndex >= 0) {
    uint8_t test[kActiveTestRequestMax];
    const int n = BuildActiveTestRequest(testIndex, testValue, test);
    if (n == 0) return ConsultSession::kFailed;
    // In front of the terminator, which ends the request.
    std::copy(test, test + n, request + length - 1);
    length += n;
    request[length - 1] = kConsultTerminator;
  }
  return session.Send(request, length);
}

void StopLiveStream(StreamReceiver& receiver, ConsultSession& session) {
  receiver.active = 0;
  (void)session.StopStream();
}

void WaitUntilQuiet(ConsultSession& session) {
  // 150 ms of bytes after the stop byte means it was lost: once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (session.DrainUntilQuiet(std::chrono::milliseconds(150))) return;
    (void)session.StopStream();
  }
}

std::string PrintableEcuNumber(const char* number) {
  std::string text(number, 5);
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) c = '?';
  }
  return text;
}
