#include "control/LineWatch.h"

void LineWatch::Begin(Hooks hooks) {
  End();
  ending_.store(false);
  lost_.store(false);
  thread_ = std::thread(&LineWatch::Run, this, std::move(hooks));
}

void LineWatch::End() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_.store(true);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  lost_.store(false);
}

bool LineWatch::Pause(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  return !wake_.wait_for(hold, timeout, [this] { return ending_.load(); });
}

void LineWatch::Run(Hooks hooks) {
  using Clock = std::chrono::steady_clock;
  uint64_t seen = frames_.load();
  Clock::time_point seenAt = Clock::now();
  while (Pause(kLook)) {
    if (hooks.look) hooks.look();
    const uint64_t frames = frames_.load();
    const Clock::time_point now = Clock::now();
    if (frames != seen) {
      seen = frames;
      seenAt = now;
      continue;
    }
    if (now - seenAt < kQuiet) continue;
    lost_.store(true);
    if (hooks.lost) hooks.lost();
    if (!hooks.reconnect) return;  // the loss stays until the reading stops
    // At once, and then every kRetry from the start of the last attempt:
    // a slow attempt (an ECU that never answers) does not stretch the pace.
    Clock::time_point attemptAt = Clock::now();
    bool back = false;
    while (!back && !ending_.load()) {
      back = hooks.reconnect();
      if (back || ending_.load()) break;
      attemptAt += kRetry;
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(attemptAt - Clock::now());
      if (wait.count() > 0 && !Pause(wait)) break;
      if (wait.count() <= 0) attemptAt = Clock::now();
    }
    if (!back) return;
    returns_.fetch_add(1);  // before the loss ends: whoever sees it over sees the return
    lost_.store(false);
    if (hooks.back) hooks.back();
    seen = frames_.load();
    seenAt = Clock::now();
  }
}
