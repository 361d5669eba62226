#include "RecordingClock.h"

RecordingClock::RecordingClock(std::chrono::nanoseconds period) : period_(period) {}

RecordingClock::~RecordingClock() {
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopping_ = true;
  }
  // The thread sleeps on this condition, so it wakes at once even when the
  // period is long.
  stopSignal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RecordingClock::StartRecordingClock(std::function<void()> onTick) {
  if (thread_.joinable()) return;
  onTick_ = std::move(onTick);
  thread_ = std::thread(&RecordingClock::Run, this);
}

// Tick k is due at start + k x period, an absolute deadline on the steady
// clock, so sleeping too long once never shifts the ticks after it. A tick
// that comes late (the thread was not scheduled in time, or the previous
// tick ran long) runs at once, and any ticks that fell due meanwhile follow
// back to back until the clock has caught up. Record k thus stays the
// sample of k x period: time is never silently stretched. Ticks run one
// after another on this one thread and never overlap.
void RecordingClock::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  uint64_t k = 0;
  std::unique_lock<std::mutex> guard(stopLock_);
  while (!stopping_) {
    ++k;
    const Clock::time_point deadline = start + period_ * static_cast<int64_t>(k);
    // A tick already due runs without a trip through the kernel: catching
    // up after a stall costs no more than the ticks themselves.
    if (Clock::now() < deadline) {
      if (stopSignal_.wait_until(guard, deadline, [this] { return stopping_; })) break;
    }
    guard.unlock();

    const int64_t late =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - deadline).count();
    if (late > worstLateNs_.load()) worstLateNs_.store(late);
    if (enable.load() != 0) onTick_();
    ticks_.fetch_add(1);

    guard.lock();
  }
}
