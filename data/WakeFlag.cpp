#include "data/WakeFlag.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <ctime>

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

namespace {

// Waits on the flags' descriptors; timeout null: no limit.
void PollFlags(std::initializer_list<const WakeFlag*> flags, const timespec* timeout) {
  pollfd fds[4];
  nfds_t count = 0;
  timespec cut{0, kWithoutDescriptorMs * 1000000L};
  for (const WakeFlag* flag : flags) {
    if (count == std::size(fds)) break;
    if (flag->WakeFd() < 0 &&
        (timeout == nullptr || timeout->tv_sec > 0 || timeout->tv_nsec > cut.tv_nsec))
      timeout = &cut;
    fds[count++] = pollfd{flag->WakeFd(), POLLIN, 0};  // poll() skips a -1
  }
  const int r = ppoll(fds, count, timeout, nullptr);
  if (r <= 0) return;  // timed out, or a signal: the caller looks again either way
  for (nfds_t i = 0; i < count; ++i)
    if ((fds[i].revents & POLLIN) != 0) ClearWakeFd(fds[i].fd);
}

}  // namespace

void WaitForStore(std::initializer_list<const WakeFlag*> flags, int timeoutMs) {
  if (timeoutMs < 0) {
    PollFlags(flags, nullptr);
    return;
  }
  const timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
  PollFlags(flags, &timeout);
}

void WaitForStore(std::initializer_list<const WakeFlag*> flags, std::chrono::microseconds timeout) {
  const int64_t us = std::max<int64_t>(0, timeout.count());
  const timespec t{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
  PollFlags(flags, &t);
}
