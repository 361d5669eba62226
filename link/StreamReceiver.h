// The background reader of the ECU's register stream. Its thread lives from
// construction to destruction and reads the port only while `active` is set.
// It never wakes on a timer: inactive, it sleeps until `active` or `running`
// changes; active, it sleeps in poll() until bytes arrive or a flag changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "data/RecorderState.h"
#include "data/Registers.h"
#include "data/WakeFlag.h"
#include "link/ConsultSession.h"
#include "link/FrameDecoder.h"
#include "link/StreamEcho.h"

// The request asks for the chosen registers in catalogue order
// (data/RegisterList.h), which fixes the position of each value in a frame.
constexpr int kStreamRequestLength = 2 + 2 * kStreamRegisterCount;  // 38 for the eighteen
constexpr int kMaxStreamRequestLength = 2 + 2 * kMaxFrameLength;

class StreamReceiver {
 public:
  // Starts the thread at once, idle.
  StreamReceiver(ConsultSession& session, RecorderState& recorder);
  // Stops the thread and waits for it (it is woken at once).
  ~StreamReceiver();
  StreamReceiver(const StreamReceiver&) = delete;
  StreamReceiver& operator=(const StreamReceiver&) = delete;

  // Clears active and running and returns 0 at once, without waiting.
  int32_t StopReceiver();
  // Waits for the thread to end (after StopReceiver). The program calls it
  // before the session and the recorder it reads are destroyed: they are
  // built after the receiver, so they go before it. Safe to repeat.
  void Join();

  // Fills the stream request: 30, 5A nn for each register, F0 (38 bytes
  // for the eighteen). buffer holds kMaxStreamRequestLength.
  static void BuildStreamRequest(uint8_t* buffer, int32_t* length);
  static void BuildStreamRequest(const RegisterList& registers, uint8_t* buffer, int32_t* length);

  WakeFlag running{1};
  WakeFlag active{0};

  // Called before the stream request is sent (and `active` set): the
  // receiver reads the ECU's echo of it afresh, and decodes frames of these
  // registers. What the echo said, until it was complete or the first
  // frame came:
  void BeginStream(const RegisterList& registers = EighteenRegisters());
  std::atomic<uint32_t> refusedRegisters{0};  // bit i: the request's register i refused
  std::atomic<bool> echoComplete{false};

  // For tests and benchmarks: the thread has seen `active` at 0 and sleeps
  // without touching the line; the thread has ended.
  bool Parked() const { return parked_.load(); }
  bool Ended() const { return ended_.load(); }

 private:
  void Run();

  ConsultSession& session_;
  RecorderState& recorder_;
  void WatchEcho(const uint8_t* bytes, int32_t count);

  StreamDecoderState decoder_;  // from one read to the next; each request starts it afresh
  std::atomic<uint32_t> streamStarts_{0};
  std::mutex layoutLock_;
  RegisterList nextLayout_ = EighteenRegisters();  // under layoutLock_
  // Receiver thread only: the echo of the request of start seenStarts_.
  uint32_t seenStarts_ = 0;
  bool echoOpen_ = false;
  uint64_t framesAtStart_ = 0;
  StreamEcho echo_;
  uint8_t buffer_[1024 + 1] = {};
  std::atomic<bool> parked_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};
