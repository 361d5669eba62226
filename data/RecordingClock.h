// The recording clock: a periodic tick on its own thread while `enable` is
// not 0. While it is 0 the thread sleeps until the flag changes, so a clock
// that records nothing costs nothing. From the moment it is enabled, tick k
// is due at that moment + k x period; deadlines are absolute, so the clock
// does not drift, and a tick that comes late is run at once and the
// following ones catch up, so record i keeps standing for i x 10 ms.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "data/WakeFlag.h"
#include "data/RecordPeriod.h"

class RecordingClock {
 public:
  explicit RecordingClock(std::chrono::nanoseconds period = kRecordPeriod);
  ~RecordingClock();  // Stop()
  RecordingClock(const RecordingClock&) = delete;
  RecordingClock& operator=(const RecordingClock&) = delete;

  // Starts the periodic thread; each tick runs onTick while `enable` is not 0.
  // Called once; a second call does nothing.
  void StartRecordingClock(std::function<void()> onTick);
  // Ends the thread and waits for it: no tick runs after it returns. Safe
  // to repeat; the destructor does it too.
  void Stop();

  WakeFlag enable{0};
  std::chrono::nanoseconds Period() const { return period_; }

  // Figures for the benchmarks and tests: ticks run, the worst lateness
  // seen, and whether the thread is asleep waiting for `enable` (it then
  // runs no tick until the flag changes).
  uint64_t TickCount() const { return ticks_.load(); }
  std::chrono::nanoseconds WorstLateness() const {
    return std::chrono::nanoseconds(worstLateNs_.load());
  }
  bool Parked() const { return parked_.load(); }

 private:
  void Run();
  void TickWhileEnabled();

  const std::chrono::nanoseconds period_;
  std::function<void()> onTick_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> parked_{false};
  std::atomic<uint64_t> ticks_{0};
  std::atomic<int64_t> worstLateNs_{0};
};
