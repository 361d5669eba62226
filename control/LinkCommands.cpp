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
const char kLinePlayStart[] = "Play Start";
const char kLinePlayStop[] = "Play Stop";
const char kLineCodesGot[] = "OK. Fault codes got.";
const char kLineCodesNotGot[] = "NG. Fault codes NOT got.";
const char kLineCodesCleared[] = "OK. Fault codes cleared.";
const char kLineCodesNotCleared[] = "NG. Fault codes NOT cleared.";

std::string RefusedRegistersLine(uint32_t refused) {
  std::string names;
  int count = 0;
  for (int i = 0; i < kStreamRegisterCount; ++i) {
    if ((refused & (1u << i)) == 0) continue;
    const StreamRegister& reg = kStreamRegisters[static_cast<size_t>(i)];
    constexpr char kHex[] = "0123456789ABCDEF";
    const std::string number{kHex[reg.number >> 4], kHex[reg.number & 0x0F]};
    names += (count++ > 0 ? ", " : "") + number + " (" + reg.what + ")";
  }
  return std::string(count > 1 ? "NG. ECU lacks registers " : "NG. ECU lacks register ") + names +
         ": reading stopped.";
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
  uint8_t request[100];  // the builder is promised 100 bytes
  int32_t length = 0;
  StreamReceiver::BuildStreamRequest(request, &length);
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
