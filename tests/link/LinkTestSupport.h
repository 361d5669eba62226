// Test helpers for the link: a pseudo-terminal pair whose master side the
// test drives as the ECU, and a scripted ECU that answers commands.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/common/WaitFor.h"

using Bytes = std::vector<uint8_t>;


inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The slave path goes into the port map; the slave descriptor stays open
// for the whole test so the terminal lives on and its settings can be read.
class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& path() const { return path_; }
  int slave() const { return slave_; }
  int master() const { return master_; }

  // The ECU sends.
  void Write(const Bytes& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return;
      }
    }
  }

  // What the port sent, as far as it has arrived.
  Bytes ReadAvailable() const {
    Bytes out;
    uint8_t buf[512];
    for (;;) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  // The cable is pulled.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// A scripted ECU on the master side: records every byte the port sends and,
// each time a command pattern has arrived, sends the next of its replies
// (the last one repeats).
class FakeEcu {
 public:
  explicit FakeEcu(const PtyPair& pty) : pty_(pty) {}
  ~FakeEcu() { Stop(); }
  FakeEcu(const FakeEcu&) = delete;
  FakeEcu& operator=(const FakeEcu&) = delete;

  void OnCommand(Bytes pattern, std::vector<Bytes> replies) {
    rules_.push_back({std::move(pattern), std::move(replies), 0, 0});
  }
  void Start() { thread_ = std::thread([this] { Run(); }); }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

  Bytes Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  bool HasReceived(const Bytes& pattern) const {
    const Bytes all = Received();
    return std::search(all.begin(), all.end(), pattern.begin(), pattern.end()) != all.end();
  }

 private:
  struct Rule {
    Bytes pattern;
    std::vector<Bytes> replies;
    size_t searchFrom;
    size_t answered;
  };

  void Run() {
    while (!stop_.load()) {
      pollfd p{pty_.master(), POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      const Bytes chunk = pty_.ReadAvailable();
      if (chunk.empty()) continue;
      Bytes all;
      {
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), chunk.begin(), chunk.end());
        all = received_;
      }
      for (Rule& rule : rules_) {
        for (;;) {
          const auto from = all.begin() + static_cast<std::ptrdiff_t>(rule.searchFrom);
          const auto hit = std::search(from, all.end(), rule.pattern.begin(), rule.pattern.end());
          if (hit == all.end()) break;
          rule.searchFrom = static_cast<size_t>(hit - all.begin()) + rule.pattern.size();
          const size_t k = std::min(rule.answered, rule.replies.size() - 1);
          rule.answered += 1;
          pty_.Write(rule.replies[k]);
        }
      }
    }
  }

  const PtyPair& pty_;
  std::vector<Rule> rules_;  // set before Start, then the ECU thread's alone
  mutable std::mutex mutex_;
  Bytes received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
