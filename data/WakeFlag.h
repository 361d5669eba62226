// A 32-bit flag that one thread sets and another sleeps on. It reads and
// writes like the std::atomic<int32_t> it wraps (`flag = 1`, `.store(v)`,
// `.load()`), and every store wakes whoever waits for it: a thread blocked
// in Wait or WaitUntil, and a poll() that watches WakeFd(). That lets a
// worker block while it has nothing to do instead of looking at the flag
// every millisecond.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>

class WakeFlag {
 public:
  explicit WakeFlag(int32_t initial = 0);
  ~WakeFlag();
  WakeFlag(const WakeFlag&) = delete;
  WakeFlag& operator=(const WakeFlag&) = delete;

  int32_t load() const { return value_.load(); }
  void store(int32_t value);
  int32_t operator=(int32_t value) {
    store(value);
    return value;
  }

  // How many stores changed the value. A waiter that remembers it can tell
  // "set to 0 and back to 1 while I slept" from "nothing happened".
  uint64_t Changes() const { return changes_.load(); }

  // Wakes the waiters without a store, for one whose condition also looks
  // at something else (its owner going away).
  void Notify();

  // Block until done() holds; done is tested under the flag's lock, at the
  // start and after every store or Notify. WaitUntil gives up at deadline
  // and returns done() then.
  template <class Done>
  void Wait(Done done) {
    std::unique_lock<std::mutex> guard(lock_);
    wakeup_.wait(guard, done);
  }
  template <class Done>
  bool WaitUntil(std::chrono::steady_clock::time_point deadline, Done done) {
    std::unique_lock<std::mutex> guard(lock_);
    return wakeup_.wait_until(guard, deadline, done);
  }

  // An eventfd that turns readable at every store, for a thread that also
  // waits on other descriptors; it reads the descriptor empty once woken,
  // so only one thread may poll it. -1 when the system gave none (callers
  // then wait with a time-out).
  int WakeFd() const { return wakeFd_; }

 private:
  std::atomic<int32_t> value_;
  std::atomic<uint64_t> changes_{0};
  std::mutex lock_;
  std::condition_variable wakeup_;
  int wakeFd_ = -1;
};

// Blocks until one of the flags is stored to or timeoutMs has passed
// (negative: no limit), through their wake descriptors, and reads those
// that fired empty. The caller looks at the flags again afterwards: a
// store that came before the call returns it at once.
void WaitForStore(std::initializer_list<const WakeFlag*> flags, int timeoutMs);
// The same with a finer time-out, for waits of a few byte times.
void WaitForStore(std::initializer_list<const WakeFlag*> flags, std::chrono::microseconds timeout);

// Reads a wake descriptor empty after poll() reported it readable.
void ClearWakeFd(int fd);
