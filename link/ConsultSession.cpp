#include "link/ConsultSession.h"

#include <algorithm>
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

constexpr uint8_t kEcuNumberMark = 0x55;

}  // namespace

void ReplyFrame::Feed(const uint8_t* bytes, int32_t count) {
  // The first complete frame is the reply. Many ECUs repeat it until the
  // stop byte: what follows in the same read is its next copy, which a read
  // may cut anywhere (even right after its FF), so it is not taken.
  for (int32_t k = 0; k < count && !complete_; ++k) {
    const uint8_t b = bytes[k];
    switch (state_) {
      case 0:
        if (b == kConsultFrameStart) {
          position_ = 0;
          length_ = 0;
          state_ = 1;
        }
        break;
      case 1:
        length_ = b;
        store_[0] = b;
        position_ = 1;
        state_ = 2;
        break;
      default:
        store_[position_] = b;
        position_ += 1;
        if (position_ > length_) {
          complete_ = true;
          state_ = 0;
        }
        break;
    }
  }
}

bool ReplyFrame::Number(char (&out)[6]) const {
  if (!complete_) return false;
  int mark = -1;
  for (int i = 0; i <= length_; ++i) {
    if (store_[i] == kEcuNumberMark) {
      mark = i;
      break;
    }
  }
  if (mark >= 2) {
    std::memcpy(out, store_ + mark - 2, 5);
    out[5] = 0;
    return true;
  }
  // A first 0x55 among the first two bytes is no number; when another
  // follows, the reply is not of the export kind either.
  for (int i = 2; i <= length_; ++i)
    if (store_[i] == kEcuNumberMark) return false;
  if (length_ < 5) return false;
  const uint8_t* last = store_ + length_ - 4;
  for (int i = 0; i < 5; ++i)
    if (last[i] < 0x20 || last[i] > 0x7E) return false;
  std::memcpy(out, last, 5);
  out[5] = 0;
  return true;
}

ConsultSession::ConsultSession(SerialPort& port) : port_(port) {}

ConsultSession::~ConsultSession() {
  if (initThread_.joinable()) initThread_.join();
}

Result ConsultSession::OpenPort(int32_t n) {
  if (portNumber.load() != 0) return kFailed;
  // Only 1..10 have a name; the range check also keeps Open's own -1 for
  // "no such name" from passing as success for n = -1.
  const bool named = n >= 1 && n <= SerialPort::kSlotCount;
  portNumber.store(n);
  const std::string name = named ? "COM" + std::to_string(n) : "";
  // Open gives the port number back on success, and never a number in 1..10 otherwise.
  if (!named || port_.Open(name.c_str(), "9600", "N,8,1") != n) {
    portNumber.store(0);
    return kFailed;
  }
  (void)port_.SetTimeouts(n, kConsultTimeouts);  // refused: the port keeps the time-outs Open set
  return kOk;
}

Result ConsultSession::ClosePort() {
  const int32_t n = portNumber.load();
  if (n <= 0) return kFailed;
  (void)Purge();  // a refused purge must not keep the port open
  if (port_.Close(n) != SerialPort::kDone) return kFailed;
  portNumber.store(0);
  return kOk;
}

Result ConsultSession::Purge() {
  const int32_t n = portNumber.load();
  if (n <= 0) return kFailed;
  // Only kOk is success: kBadPort (-1) is non-zero as well.
  return port_.Purge(n) == SerialPort::kDone ? kOk : kFailed;
}

Result ConsultSession::Send(const uint8_t* bytes, int32_t count) {
  const int32_t n = portNumber.load();
  if (n <= 0) return kFailed;
  return port_.Write(n, bytes, count) == SerialPort::kDone ? kOk : kFailed;
}

Result ConsultSession::Receive(uint8_t* buffer, int32_t count, int32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  const int32_t n = portNumber.load();
  if (n <= 0) return kFailed;
  return port_.Read(n, buffer, count, bytesRead) == SerialPort::kDone ? kOk : kFailed;
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

Result ConsultSession::InitializeEcu() {
  initAnswered.store(0);
  // Most engine ECUs answer FF FF EF; some late ones only FF FF ED.
  for (const InitRequest& init : kConsultInits) {
    const Result result = InitializeWith(init);
    if (result == kOk) {
      initAnswered.store(init.bytes[2]);
      return kOk;
    }
    if (portNumber.load() <= 0 || !initThreadEnded_.load()) return kFailed;
  }
  return kFailed;
}

Result ConsultSession::InitializeWith(const InitRequest& init) {
  if (portNumber.load() <= 0) return kFailed;
  // A reader left running by an earlier call ends within its 300 cycles;
  // wait for it first, so it can neither drop a joinable thread nor set
  // ecuFound for this call.
  if (initThread_.joinable()) initThread_.join();
  // Both only prepare the line; the handshake's own answer decides.
  (void)Purge();
  (void)Send(&kConsultStop, 1);
  ecuFound.store(0);

  initThreadEnded_.store(false);
  try {
    initThread_ = std::thread(&ConsultSession::InitReader, this, init);
  } catch (const std::system_error&) {
    initThreadEnded_.store(true);
    return kFailed;
  }

  for (int i = 0; i < kAckWaitCycles; ++i) {
    SleepOneMs();
    if (ecuFound.load() == 1) break;
  }
  for (int i = 0; i < kThreadEndWaitCycles; ++i) {
    SleepOneMs();
    if (initThreadEnded_.load()) {
      initThread_.join();
      return ecuFound.load() == 1 ? kOk : kFailed;
    }
  }
  SleepOneMs();
  return kFailed;  // the reader is still running; the next call or the destructor joins it
}

void ConsultSession::InitReader(InitRequest init) {
  (void)Send(init.bytes, 3);  // a lost request shows as no acknowledgement
  uint8_t buffer[kMaxReadPerCycle + 1];
  for (int cycle = 0; cycle < kReaderCycles && ecuFound.load() != 1; ++cycle) {
    int32_t n = Waiting();
    if (n > kMaxReadPerCycle) n = kMaxReadPerCycle;  // the rest waits for the next cycle
    if (n > 0) {
      int32_t got = 0;
      (void)Receive(buffer, n, &got);  // a failed read brings no bytes
      for (int32_t k = 0; k < got; ++k) {
        if (buffer[k] == init.ack) {
          ecuFound.store(1);
          break;
        }
      }
    }
    SleepOneMs();
  }
  initThreadEnded_.store(true);
}

// Sends the stop byte and a request, then hands what comes to take, a
// read at a time, until take says it has what it wanted or the reader's
// cycles are over; then ends the reply. True when take was satisfied.
bool ConsultSession::Exchange(std::span<const uint8_t> request,
                              const std::function<bool(const uint8_t*, int32_t)>& take) {
  // A lost request shows as no reply.
  (void)Purge();
  (void)Send(&kConsultStop, 1);
  (void)Send(request.data(), static_cast<int32_t>(request.size()));
  bool satisfied = false;
  uint8_t buffer[kMaxReadPerCycle + 1];
  for (int cycle = 0; cycle < kReaderCycles && !satisfied; ++cycle) {
    int32_t n = Waiting();
    if (n > kMaxReadPerCycle) n = kMaxReadPerCycle;
    if (n > 0) {
      int32_t got = 0;
      // A failed read brings no bytes (got stays 0); the cycles go on.
      (void)Receive(buffer, n, &got);
      satisfied = take(buffer, got);
    }
    SleepOneMs();
  }
  // An ECU that repeats its reply sends it once more after the stop byte,
  // then CF; one that sent it once is quiet already.
  (void)Send(&kConsultStop, 1);
  (void)DrainUntilQuiet(std::chrono::milliseconds(300));
  return satisfied;
}

bool ConsultSession::DrainUntilQuiet(std::chrono::milliseconds patience) {
  using Clock = std::chrono::steady_clock;
  // A frame takes some 21 ms at 9600 baud: 30 ms without a byte means the
  // ECU has stopped sending.
  constexpr auto kQuiet = std::chrono::milliseconds(30);
  const Clock::time_point began = Clock::now();
  Clock::time_point lastByte = began;
  uint8_t discard[kMaxReadPerCycle + 1];
  while (Clock::now() - lastByte < kQuiet) {
    if (Clock::now() - began >= patience) return false;
    int32_t waiting = WaitInput(5);
    if (waiting <= 0) continue;
    if (waiting > kMaxReadPerCycle) waiting = kMaxReadPerCycle;
    (void)Receive(discard, waiting);  // thrown away either way
    lastByte = Clock::now();
  }
  return true;
}

Result ConsultSession::ReadEcuNumber(char* out) {
  if (portNumber.load() <= 0 || ecuFound.load() == 0) return kFailed;
  // Starts cleared on every call: bytes beyond a short frame read as 0,
  // never as what an earlier reply left.
  ReplyFrame reply;
  (void)Exchange(kConsultEcuNumberRequest, [&](const uint8_t* bytes, int32_t count) {
    reply.Feed(bytes, count);
    return reply.Complete();
  });
  char number[6] = {};
  if (!reply.Number(number)) return kFailed;
  std::memcpy(out, number, 6);
  return kOk;
}

Result ConsultSession::ReadFaultCodes(std::vector<FaultCode>& codes) {
  codes.clear();
  if (portNumber.load() <= 0 || ecuFound.load() == 0) return kFailed;
  ReplyFrame reply;
  const bool replied = Exchange(kConsultFaultCodesRequest, [&](const uint8_t* bytes, int32_t count) {
    reply.Feed(bytes, count);
    return reply.Complete();
  });
  if (!replied) return kFailed;
  const std::span<const uint8_t> data = reply.Data();
  // A reply with an odd byte still lists every whole pair it holds.
  (void)DecodeFaultCodes(data.data(), data.size(), codes);
  return codes.empty() ? kFailed : kOk;
}

Result ConsultSession::ClearFaultCodes() {
  if (portNumber.load() <= 0 || ecuFound.load() == 0) return kFailed;
  const bool echoed = Exchange(kConsultClearCodesRequest, [](const uint8_t* bytes, int32_t count) {
    return std::find(bytes, bytes + count, kConsultClearCodesEcho) != bytes + count;
  });
  return echoed ? kOk : kFailed;
}

RegisterProbe ConsultSession::ProbeRegister(int catalogueIndex) {
  if (portNumber.load() <= 0 || ecuFound.load() == 0) return RegisterProbe::kNoAnswer;
  RegisterList one;
  one.entries[0] = static_cast<uint8_t>(catalogueIndex);
  one.count = 1;
  const uint8_t request[3] = {kConsultRegisterRead, one.Number(0), kConsultTerminator};
  StreamEcho echo(one);
  // The ECU streams the register after its echo; Exchange stops it.
  if (!Exchange(request, [&](const uint8_t* bytes, int32_t count) {
        echo.Feed(bytes, count);
        return echo.Complete();
      }))
    return RegisterProbe::kNoAnswer;
  return echo.Refused() != 0 ? RegisterProbe::kLacks : RegisterProbe::kHas;
}

Result ConsultSession::StopStream() { return Send(&kConsultStop, 1); }

int32_t ConsultSession::FindCable() const { return ::FindCable(deviceTree_, port_); }
