#include "link/ConsultSession.h"

#include <chrono>
#include <cstring>
#include <string>
#include <system_error>

namespace {

// Every wait of the protocol is a bounded count of these.
void SleepOneMs() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

constexpr int kAckWaitCycles = 600;        // for ecuFound after the initialisation
constexpr int kThreadEndWaitCycles = 301;  // for the initialisation reader to end
constexpr int kReaderCycles = 300;         // of the initialisation reader and the ECU-number reader
constexpr int32_t kMaxReadPerCycle = 1024;

// Consult traffic is always 9600 baud, 8 data bits, no parity, one stop bit.
constexpr PortTimeouts kConsultTimeouts{100, 100, 100, 10, 500};

// A length byte can say up to 255 data bytes; with the length byte at 0 the
// frame then fills positions 0..255. Two more bytes of zeros let an ECU
// number that starts near the end read zeros beyond the frame.
constexpr int kFrameStoreSize = 256;
constexpr uint8_t kEcuNumberMark = 0x55;

// Finds the reply frame FF, length, data in the bytes the ECU sends back.
// Bytes before the first FF are skipped; a later FF after a complete frame
// starts over and the next frame overwrites the store.
struct ReplyFrameParser {
  int state = 0;  // 0 hunting FF, 1 length byte, 2 data
  int position = 0;
  int length = 0;  // L: data bytes of the frame, as the length byte said
  bool complete = false;
  uint8_t store[kFrameStoreSize + 2] = {};

  void Feed(uint8_t b) {
    switch (state) {
      case 0:
        // Only an FF forgets the frame held so far: stray bytes after a
        // complete reply must not throw the reply away.
        if (b == kConsultFrameStart) {
          position = 0;
          length = 0;
          state = 1;
        }
        break;
      case 1:
        length = b;
        store[0] = b;
        position = 1;
        state = 2;
        break;
      default:
        store[position] = b;
        position += 1;
        if (position > length) {
          complete = true;
          state = 0;
        }
        break;
    }
  }
};

}  // namespace

ConsultSession::ConsultSession(SerialPort& port) : port_(port) {}

ConsultSession::~ConsultSession() {
  if (initThread_.joinable()) initThread_.join();
}

int32_t ConsultSession::OpenPort(int32_t n) {
  if (portNumber.load() != 0) return 1;
  // Only 1..10 have a name; the range check also keeps Open's own -1 for
  // "no such name" from passing as success for n = -1.
  const bool named = n >= 1 && n <= SerialPort::kSlotCount;
  portNumber.store(n);
  const std::string name = named ? "COM" + std::to_string(n) : "";
  if (!named || port_.Open(name.c_str(), "9600", "N,8,1") != n) {
    portNumber.store(0);
    return 1;
  }
  // Not examined: the port then keeps the time-outs Open set.
  port_.SetTimeouts(n, kConsultTimeouts);
  return 0;
}

int32_t ConsultSession::ClosePort() {
  const int32_t n = portNumber.load();
  if (n <= 0) return 1;
  Purge();
  if (port_.Close(n) != 1) return 1;
  portNumber.store(0);
  return 0;
}

int32_t ConsultSession::Purge() {
  const int32_t n = portNumber.load();
  if (n <= 0) return 1;
  return port_.Purge(n) > 0 ? 0 : 1;
}

int32_t ConsultSession::Send(const uint8_t* bytes, int32_t count) {
  const int32_t n = portNumber.load();
  if (n <= 0) return 1;
  return port_.Write(n, bytes, count) > 0 ? 0 : 1;
}

int32_t ConsultSession::Receive(uint8_t* buffer, int32_t count, int32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  const int32_t n = portNumber.load();
  if (n <= 0) return 1;
  return port_.Read(n, buffer, count, bytesRead) == 1 ? 0 : 1;
}

int32_t ConsultSession::Waiting() {
  const int32_t n = portNumber.load();
  if (n <= 0) return 0;
  const int32_t waiting = port_.InputCount(n);
  return waiting < 0 ? 0 : waiting;
}

int32_t ConsultSession::WaitInput(int32_t timeoutMs) {
  const int32_t n = portNumber.load();
  if (n <= 0) {
    // Nothing to wait on: still take the time, so a polling loop idles.
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0));
    return 0;
  }
  return port_.WaitInput(n, timeoutMs);
}

int32_t ConsultSession::WaitInput(int32_t timeoutMs, std::span<const int> wakeFds) {
  const int32_t n = portNumber.load();
  // The number is set just before the port opens and cleared just after
  // it closes; in between the slot is what tells.
  if (n <= 0 || !port_.IsOpen(n)) return -1;
  return port_.WaitInput(n, timeoutMs, wakeFds);
}

int32_t ConsultSession::InitializeEcu() {
  if (portNumber.load() <= 0) return 1;
  // A reader left running by an earlier call ends within its 300 cycles;
  // wait for it first, so it can neither drop a joinable thread nor set
  // ecuFound for this call.
  if (initThread_.joinable()) initThread_.join();
  Purge();
  Send(&kConsultStop, 1);
  ecuFound.store(0);

  initThreadEnded_.store(false);
  try {
    initThread_ = std::thread(&ConsultSession::InitReader, this);
  } catch (const std::system_error&) {
    initThreadEnded_.store(true);
    return 1;
  }

  for (int i = 0; i < kAckWaitCycles; ++i) {
    SleepOneMs();
    if (ecuFound.load() == 1) break;
  }
  for (int i = 0; i < kThreadEndWaitCycles; ++i) {
    SleepOneMs();
    if (initThreadEnded_.load()) {
      initThread_.join();
      return ecuFound.load() == 1 ? 0 : 1;
    }
  }
  SleepOneMs();
  return 1;  // the reader is still running; the next call or the destructor joins it
}

void ConsultSession::InitReader() {
  Send(kConsultInit, 3);
  uint8_t buffer[kMaxReadPerCycle + 1];
  for (int cycle = 0; cycle < kReaderCycles && ecuFound.load() != 1; ++cycle) {
    int32_t n = Waiting();
    if (n > kMaxReadPerCycle) n = kMaxReadPerCycle;  // the rest waits for the next cycle
    if (n > 0) {
      int32_t got = 0;
      Receive(buffer, n, &got);
      for (int32_t k = 0; k < got; ++k) {
        if (buffer[k] == kConsultAck) {
          ecuFound.store(1);
          break;
        }
      }
    }
    SleepOneMs();
  }
  initThreadEnded_.store(true);
}

int32_t ConsultSession::ReadEcuNumber(char* out) {
  if (portNumber.load() <= 0 || ecuFound.load() == 0) return 1;
  Purge();
  Send(&kConsultStop, 1);
  Send(kConsultEcuNumberRequest, 2);

  // Starts cleared on every call: bytes beyond a short frame read as 0,
  // never as what an earlier reply left.
  ReplyFrameParser parser;
  uint8_t buffer[kMaxReadPerCycle + 1];
  for (int cycle = 0; cycle < kReaderCycles && !parser.complete; ++cycle) {
    int32_t n = Waiting();
    if (n > kMaxReadPerCycle) n = kMaxReadPerCycle;
    if (n > 0) {
      int32_t got = 0;
      Receive(buffer, n, &got);
      for (int32_t k = 0; k < got; ++k) parser.Feed(buffer[k]);
    }
    SleepOneMs();
  }
  if (!parser.complete) return 1;

  // The number is the five bytes around the first 0x55 of the frame, which
  // must have two bytes before it.
  int mark = -1;
  for (int i = 0; i <= parser.length; ++i) {
    if (parser.store[i] == kEcuNumberMark) {
      mark = i;
      break;
    }
  }
  if (mark <= 1) return 1;
  std::memcpy(out, parser.store + mark - 2, 5);
  out[5] = 0;
  return 0;
}

int32_t ConsultSession::StopStream() { return Send(&kConsultStop, 1) == 0 ? 0 : 1; }

int32_t ConsultSession::FindCable() const { return ::FindCable(deviceTree_, port_); }
