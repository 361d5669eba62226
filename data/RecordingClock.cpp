#include "data/RecordingClock.h"

using Clock = std::chrono::steady_clock;

RecordingClock::RecordingClock(std::chrono::nanoseconds period) : period_(period) {}

RecordingClock::~RecordingClock() { Stop(); }

void RecordingClock::Stop() {
  stopping_.store(true);
  // The thread sleeps on the enable flag, whether disabled or between two
  // ticks, so it wakes at once even when the period is long.
  enable.Notify();
  if (thread_.joinable()) thread_.join();
}

void RecordingClock::StartRecordingClock(std::function<void()> onTick) {
  if (thread_.joinable()) return;
  onTick_ = std::move(onTick);
  thread_ = std::thread(&RecordingClock::Run, this);
}

void RecordingClock::Run() {
  while (!stopping_.load()) {
    parked_.store(true);
    enable.Wait([this] { return stopping_.load() || enable.load() != 0; });
    parked_.store(false);
    if (!stopping_.load()) TickWhileEnabled();
  }
}

// Ticks from now until the enable flag changes. Tick k is due at the moment
// the clock saw the flag set + k x period, an absolute deadline on the
// steady clock, so sleeping too long once never shifts the ticks after it.
// A tick that comes late (the thread was not scheduled in time, or the
// previous tick ran long) runs at once, and any ticks that fell due
// meanwhile follow back to back until the clock has caught up. Record k thus
// stays the sample of k x period: time is never silently stretched. Ticks
// run one after another on this one thread and never overlap.
//
// Any change of the flag ends the run: to 0, the thread goes back to sleep
// at once; to 0 and back to 1 (Stop then Start within one period), the
// caller starts a fresh run, so the ticks count from the new start.
void RecordingClock::TickWhileEnabled() {
  const uint64_t changesAtStart = enable.Changes();
  const Clock::time_point start = Clock::now();
  const auto over = [&] {
    return stopping_.load() || enable.load() == 0 || enable.Changes() != changesAtStart;
  };
  for (uint64_t k = 1;; ++k) {
    const Clock::time_point deadline = start + period_ * static_cast<int64_t>(k);
    // A tick already due runs without a trip through the kernel: catching
    // up after a stall costs no more than the ticks themselves.
    if (Clock::now() < deadline) enable.WaitUntil(deadline, over);
    if (over()) return;

    const int64_t late =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - deadline).count();
    if (late > worstLateNs_.load()) worstLateNs_.store(late);
    onTick_();
    ticks_.fetch_add(1);
  }
}
