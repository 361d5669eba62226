#include "data/WakeFlag.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

WakeFlag::WakeFlag(int32_t initial) : value_(initial) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WakeFlag::~WakeFlag() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void WakeFlag::store(int32_t value) {
  if (value_.exchange(value) != value) changes_.fetch_add(1);
  Notify();
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    // Fails only when the counter is about to overflow, which still wakes.
    if (::write(wakeFd_, &one, sizeof one) < 0) {
    }
  }
}

void WakeFlag::Notify() {
  // A waiter tests its condition and goes to sleep under the lock; taking
  // it here, after the value changed, means it either saw the new value or
  // is already asleep and gets the notification.
  { std::lock_guard<std::mutex> guard(lock_); }
  wakeup_.notify_all();
}

void ClearWakeFd(int fd) {
  uint64_t count = 0;
  if (::read(fd, &count, sizeof count) < 0) {
    // EAGAIN: someone read it first; nothing else can happen to an eventfd.
  }
}

// A flag without a descriptor cannot end the poll, so the wait is then
// cut to this and the caller finds the store when it looks again.
constexpr int kWithoutDescriptorMs = 10;

void WaitForStore(std::initializer_list<const WakeFlag*> flags, int timeoutMs) {
  pollfd fds[4];
  nfds_t count = 0;
  for (const WakeFlag* flag : flags) {
    if (count == std::size(fds)) break;
    if (flag->WakeFd() < 0 && (timeoutMs < 0 || timeoutMs > kWithoutDescriptorMs))
      timeoutMs = kWithoutDescriptorMs;
    fds[count++] = pollfd{flag->WakeFd(), POLLIN, 0};  // poll() skips a -1
  }
  const int r = poll(fds, count, timeoutMs < 0 ? -1 : timeoutMs);
  if (r <= 0) return;  // timed out, or a signal: the caller looks again either way
  for (nfds_t i = 0; i < count; ++i)
    if ((fds[i].revents & POLLIN) != 0) ClearWakeFd(fds[i].fd);
}
