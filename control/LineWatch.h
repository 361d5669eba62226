// Watches a live reading for a line that went quiet, and finds the ECU again.
//
// A car is a hostile place for the line: a cable is jiggled, the adapter
// resets when the starter pulls the battery down, the ECU loses power for a
// moment and wakes deaf until it is initialised again. The watch notices
// when no frame has come for kQuiet, says so once, and then tries to get the
// reading back every kRetry until it does or the reading is stopped. What
// an attempt does is the session's business; the watch only keeps the time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class LineWatch {
 public:
  // About fifty frame times of the eighteen at 9600 baud.
  static constexpr std::chrono::milliseconds kQuiet{1000};
  static constexpr std::chrono::milliseconds kRetry{2000};
  // How often the frame count is looked at: the loss is told within
  // kQuiet + kLook of the last frame.
  static constexpr std::chrono::milliseconds kLook{100};

  struct Hooks {
    std::function<void()> lost;  // once for each loss, on the watch's thread
    // One attempt to read again, on the watch's thread; true when frames
    // flow again. May take a while (an initialisation): Abandon() then
    // says to give up early. Unset: no attempts, the loss stays.
    std::function<bool()> reconnect;
    std::function<void()> back;  // after an attempt that succeeded
    std::function<void()> look;  // at every look while the line is there
  };

  explicit LineWatch(const std::atomic<uint64_t>& framesDecoded) : frames_(framesDecoded) {}
  ~LineWatch() { End(); }
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

  // Starts watching (a reading has just begun: the clock starts now). A
  // watch already running is ended first.
  void Begin(Hooks hooks);
  // Stops watching and waits for an attempt under way to give up. Safe to
  // repeat.
  void End();
  // The line is lost and not back yet.
  bool Lost() const { return lost_.load(); }
  // Losses and returns since the program began; a test held before a
  // return is no longer held by the ECU.
  uint64_t Returns() const { return returns_.load(); }
  // For an attempt under way: End was called.
  bool Abandon() const { return ending_.load(); }
  // Waits up to timeout or until End; false when End came.
  bool Pause(std::chrono::milliseconds timeout);

 private:
  void Run(Hooks hooks);

  const std::atomic<uint64_t>& frames_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::atomic<bool> ending_{false};
  std::atomic<bool> lost_{false};
  std::atomic<uint64_t> returns_{0};
  std::thread thread_;
};
