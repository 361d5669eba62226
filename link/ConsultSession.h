// The Consult protocol layer: the one port the program talks through, the
// initialisation handshake, the ECU number, and the stop byte.
// Results are ConsultSession::kOk and kFailed (data/Result.h) unless said
// otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "data/FaultCodes.h"
#include "data/Result.h"
#include "link/CableDiscovery.h"
#include "link/SerialPort.h"
#include "link/StreamEcho.h"

// Consult bytes.
constexpr uint8_t kConsultStop = 0x30;
constexpr uint8_t kConsultAck = 0x10;
constexpr uint8_t kConsultFrameStart = 0xFF;
constexpr uint8_t kConsultRegisterRead = 0x5A;
constexpr uint8_t kConsultTerminator = 0xF0;
constexpr uint8_t kConsultInit[3] = {0xFF, 0xFF, 0xEF};
// The initialisations of an engine ECU, in the order they are tried, with
// the byte that acknowledges each (the last byte inverted). Other last
// bytes select other units of the car (gearbox, air conditioning...) and
// are never sent.
struct InitRequest {
  uint8_t bytes[3];
  uint8_t ack;
};
constexpr InitRequest kConsultInits[2] = {{{0xFF, 0xFF, 0xEF}, 0x10}, {{0xFF, 0xFF, 0xED}, 0x12}};
constexpr uint8_t kConsultEcuNumberRequest[2] = {0xD0, 0xF0};
constexpr uint8_t kConsultFaultCodesRequest[2] = {0xD1, 0xF0};
constexpr uint8_t kConsultClearCodesRequest[2] = {0xC1, 0xF0};
constexpr uint8_t kConsultClearCodesEcho = 0x3E;  // C1 inverted
constexpr uint8_t kConsultStopEcho = 0xCF;        // 30 inverted: a repeated reply has ended

// A reply frame of the ECU (to the number request, to the self-diagnosis),
// taken in as the reads bring it: FF, a length byte L, then L data bytes
// (one when L is 0). Bytes before the first FF are skipped, and so is
// everything after the first complete frame.
class ReplyFrame {
 public:
  // One read's worth of bytes. The caller stops reading once Complete().
  void Feed(const uint8_t* bytes, int32_t count);
  bool Complete() const { return complete_; }
  // The L data bytes of the complete frame (none when L is 0).
  std::span<const uint8_t> Data() const {
    return complete_ ? std::span<const uint8_t>(store_ + 1, static_cast<size_t>(length_))
                     : std::span<const uint8_t>();
  }
  // The ECU number, followed by a zero. Home-market ECUs put a 'U' (0x55)
  // in its middle: the five bytes around the frame's first 0x55, which must
  // have two bytes before it (bytes beyond a short frame read as zero).
  // Export-market ECUs end their reply with the five characters and hold no
  // 0x55 past the first two bytes: then the last five data bytes, when they
  // are printable. False when neither gives a number.
  [[nodiscard]] bool Number(char (&out)[6]) const;

 private:
  // A length byte can say up to 255 data bytes; with the length byte at 0
  // the frame then fills positions 0..255. Two more bytes of zeros let a
  // number that starts near the end read zeros beyond the frame.
  static constexpr int kStoreSize = 256 + 2;

  int state_ = 0;  // 0 hunting FF, 1 length byte, 2 data
  int position_ = 0;
  int length_ = 0;  // L: data bytes of the frame, as the length byte said
  bool complete_ = false;
  uint8_t store_[kStoreSize] = {};
};

enum class RegisterProbe { kHas, kLacks, kNoAnswer };

class ConsultSession {
 public:
  static constexpr Result kOk = Result::kOk;
  static constexpr Result kFailed = Result::kFailed;

  explicit ConsultSession(SerialPort& port);
  ~ConsultSession();  // waits for a still-running initialisation reader
  ConsultSession(const ConsultSession&) = delete;
  ConsultSession& operator=(const ConsultSession&) = delete;

  // "COMn" at "9600", "N,8,1", then the Consult time-outs.
  Result OpenPort(int32_t portNumber);
  Result ClosePort();
  Result Purge();
  Result Send(const uint8_t* bytes, int32_t count);
  // buffer holds count + 1; kOk when bytes came. bytesRead as SerialPort::Read.
  Result Receive(uint8_t* buffer, int32_t count, int32_t* bytesRead = nullptr);
  [[nodiscard]] int32_t Waiting();      // bytes waiting; 0 when unknown
  int32_t WaitInput(int32_t timeoutMs);  // Waiting() after at most timeoutMs
  // For a reader that also waits on its own wake descriptors (see
  // SerialPort::WaitInput); timeoutMs negative means no limit. -1 at once
  // when no port is open: there is nothing to wait on.
  int32_t WaitInput(int32_t timeoutMs, std::span<const int> wakeFds);
  // kOk when the ECU answered FF FF EF with 0x10 or, failing that, FF FF ED
  // with 0x12; initAnswered then says which (EF or ED).
  Result InitializeEcu();
  Result ReadEcuNumber(char* out);  // out: at least 6 bytes
  // The stored fault codes, in the ECU's order; the single (0x55, 0) when
  // none is stored. Needs the ECU found, like ReadEcuNumber.
  Result ReadFaultCodes(std::vector<FaultCode>& codes);
  // Clears the stored codes: kOk when the ECU echoed the request.
  Result ClearFaultCodes();
  Result StopStream();
  // Asks the ECU for one catalogue register alone and reads its echo: A5
  // nn, it has it; A5 FE, it lacks it. The stream that follows is stopped.
  RegisterProbe ProbeRegister(int catalogueIndex);
  // Reads and drops what comes until the line has been quiet for 30 ms
  // (the ECU has stopped sending); false when it still sends after
  // patience.
  bool DrainUntilQuiet(std::chrono::milliseconds patience);
  // The COM number of the first cable among the devices present, 0 when
  // none. Opens nothing and changes no state.
  int32_t FindCable() const;
  // Where FindCable looks: the system's own device tree unless a test or a
  // tool points it elsewhere.
  void SetDeviceTree(const DeviceTree& tree) { deviceTree_ = tree; }

  SerialPort& Port() { return port_; }

  std::atomic<int32_t> ecuFound{0};
  std::atomic<int32_t> portNumber{0};
  std::atomic<uint8_t> initAnswered{0};  // last byte of the initialisation answered; 0: none

 private:
  Result InitializeWith(const InitRequest& init);
  void InitReader(InitRequest init);
  // Sends the stop byte and a request and reads what comes until take is
  // satisfied or the reader's cycles are over; then ends the reply (some
  // ECUs repeat it until they get the stop byte), so that nothing of it is
  // left for whoever reads the line next.
  bool Exchange(std::span<const uint8_t> request, const std::function<bool(const uint8_t*, int32_t)>& take);

  SerialPort& port_;
  DeviceTree deviceTree_;  // interface thread only
  std::thread initThread_;              // the initialisation reader while it may run
  std::atomic<bool> initThreadEnded_{true};
};
