// The background reader of the ECU's register stream. Its thread lives from
// construction to destruction and reads the port only while `active` is set.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "link/ConsultSession.h"
#include "data/SampleRecord.h"

constexpr int kStreamRegisterCount = 18;
// The registers of the stream request, in request order; the order fixes
// the position of each value in a frame and in a SampleRecord.
extern const uint8_t kStreamRegisters[kStreamRegisterCount];
constexpr int kStreamRequestLength = 2 + 2 * kStreamRegisterCount;  // 38

class StreamReceiver {
 public:
  // Starts the thread at once, idle.
  StreamReceiver(ConsultSession& session, RecorderState& recorder);
  // Stops the thread and waits for it (it ends within about 1 ms).
  ~StreamReceiver();
  StreamReceiver(const StreamReceiver&) = delete;
  StreamReceiver& operator=(const StreamReceiver&) = delete;

  // Clears active and running and returns 0 at once, without waiting.
  int32_t StopReceiver();

  // Fills the 38-byte stream request: 30, 5A nn for each register, F0.
  static void BuildStreamRequest(uint8_t* buffer, int32_t* length);

  std::atomic<int32_t> running{1};
  std::atomic<int32_t> active{0};

 private:
  void Run();

  ConsultSession& session_;
  RecorderState& recorder_;
  uint8_t buffer_[1024 + 1] = {};
  std::thread thread_;
};
