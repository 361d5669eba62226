// The Consult protocol layer: the one port the program talks through, the
// initialisation handshake, the ECU number, and the stop byte.
// Results are 0 for success and 1 for failure unless said otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "link/CableDiscovery.h"
#include "link/SerialPort.h"

// Consult bytes.
constexpr uint8_t kConsultStop = 0x30;
constexpr uint8_t kConsultAck = 0x10;
constexpr uint8_t kConsultFrameStart = 0xFF;
constexpr uint8_t kConsultRegisterRead = 0x5A;
constexpr uint8_t kConsultTerminator = 0xF0;
constexpr uint8_t kConsultInit[3] = {0xFF, 0xFF, 0xEF};
constexpr uint8_t kConsultEcuNumberRequest[2] = {0xD0, 0xF0};

class ConsultSession {
 public:
  explicit ConsultSession(SerialPort& port);
  ~ConsultSession();  // waits for a still-running initialisation reader
  ConsultSession(const ConsultSession&) = delete;
  ConsultSession& operator=(const ConsultSession&) = delete;

  int32_t OpenPort(int32_t portNumber);  // "COMn" at "9600", "N,8,1", Consult time-outs
  int32_t ClosePort();
  int32_t Purge();
  int32_t Send(const uint8_t* bytes, int32_t count);
  // buffer holds count + 1; 0 when bytes came. bytesRead as SerialPort::Read.
  int32_t Receive(uint8_t* buffer, int32_t count, int32_t* bytesRead = nullptr);
  int32_t Waiting();                                // bytes waiting; 0 when unknown
  int32_t WaitInput(int32_t timeoutMs);             // Waiting() after at most timeoutMs
  // For a reader that also waits on its own wake descriptors (see
  // SerialPort::WaitInput); timeoutMs negative means no limit. -1 at once
  // when no port is open: there is nothing to wait on.
  int32_t WaitInput(int32_t timeoutMs, std::span<const int> wakeFds);
  int32_t InitializeEcu();                          // 0 when the ECU answered 0x10
  int32_t ReadEcuNumber(char* out);                 // out: at least 6 bytes
  int32_t StopStream();
  // The COM number of the first cable among the devices present, 0 when
  // none. Opens nothing and changes no state.
  int32_t FindCable() const;
  // Where FindCable looks: the system's own device tree unless a test or a
  // tool points it elsewhere.
  void SetDeviceTree(const DeviceTree& tree) { deviceTree_ = tree; }

  SerialPort& Port() { return port_; }

  std::atomic<int32_t> ecuFound{0};
  std::atomic<int32_t> portNumber{0};

 private:
  void InitReader();

  SerialPort& port_;
  DeviceTree deviceTree_;  // interface thread only
  std::thread initThread_;              // the initialisation reader while it may run
  std::atomic<bool> initThreadEnded_{true};
};
