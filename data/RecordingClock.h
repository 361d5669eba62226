// The recording clock: a periodic tick on its own thread. Deadlines are
// absolute (start + k x period), so the clock does not drift; a tick that
// comes late is run at once and the following ones catch up, so record i
// keeps standing for i x 10 ms.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class RecordingClock {
 public:
  explicit RecordingClock(std::chrono::nanoseconds period = std::chrono::milliseconds(10));
  ~RecordingClock();  // stops the thread and waits for it
  RecordingClock(const RecordingClock&) = delete;
  RecordingClock& operator=(const RecordingClock&) = delete;

  // Starts the periodic thread; each tick runs onTick while `enable` is not 0.
  // Called once; a second call does nothing.
  void StartRecordingClock(std::function<void()> onTick);

  std::atomic<int32_t> enable{0};
  std::chrono::nanoseconds Period() const { return period_; }

  // Figures for the benchmarks: ticks run and the worst lateness seen.
  uint64_t TickCount() const { return ticks_.load(); }
  std::chrono::nanoseconds WorstLateness() const {
    return std::chrono::nanoseconds(worstLateNs_.load());
  }

 private:
  void Run();

  const std::chrono::nanoseconds period_;
  std::function<void()> onTick_;
  std::thread thread_;
  std::mutex stopLock_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
  std::atomic<uint64_t> ticks_{0};
  std::atomic<int64_t> worstLateNs_{0};
};
