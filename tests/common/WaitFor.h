// Waiting for another thread in a test: poll a condition until it holds or
// a deadline passes. The deadline only bounds a failing test; a passing one
// never waits for it, so no test depends on the machine's speed.
#pragma once

#include <chrono>
#include <thread>

// Between two looks runs idle, which must give the other side time: a
// short sleep, or (in the window tests) a turn of the event loop.
template <class Pred, class Idle>
bool WaitFor(Pred pred, std::chrono::steady_clock::duration deadline, Idle idle) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    idle();
  }
  return true;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::steady_clock::duration deadline = std::chrono::seconds(30)) {
  const auto sleep = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  return WaitFor(pred, deadline, sleep);
}
