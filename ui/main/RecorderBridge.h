// How the recorder's steps reach the main window. A step runs on the
// clock's thread (or, while the position bar is dragged, on the interface
// thread) and changes controls of the window: the time readout, the position
// bar, the status list, a message box, the Stop command. Those effects take
// place on the interface thread, in the order the step made them.
#pragma once

#include <QObject>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "data/Recorder.h"
#include "data/WakeFlag.h"

class QLineEdit;
class QListWidget;
class QScrollBar;
class QThread;
class QTimer;
class QWidget;
class UserDialogs;

// Runs effects on the thread of its owner object, in the order posted, from
// whatever thread they come.
class EffectQueue {
 public:
  explicit EffectQueue(QObject* owner) : owner_(owner) {}

  void Post(std::function<void()> effect);

 private:
  void Drain();

  QObject* owner_;
  std::mutex lock_;
  std::deque<std::function<void()>> effects_;
  std::atomic<bool> drainPosted_{false};
  bool draining_ = false;  // owner's thread only: a message box may run a nested loop
};

// The recorder's view of the main window. The clock's thread may call it at
// any moment, also while the window is being destroyed, so it reaches the
// window's controls only under its lock, and not at all once detached.
class RecorderBridge : public RecorderView {
 public:
  // What a step changes. All of it belongs to `window`, which must outlive
  // the bridge's use: the window detaches it before it goes.
  struct Controls {
    QWidget* window = nullptr;  // owns the message boxes; effects run on its thread
    QLineEdit* timeReadout = nullptr;
    QScrollBar* positionBar = nullptr;
    QListWidget* statusList = nullptr;
    UserDialogs* dialogs = nullptr;
    std::function<void()> stop;  // the window's Stop command
    std::function<void()> linkChanged;  // the window shows what the session offers now
    WakeFlag* clockEnable = nullptr;  // the recording clock's flag, which Stop clears first
  };
  explicit RecorderBridge(const Controls& controls);  // on the window's thread

  // The window is going: later steps reach nothing.
  void Detach();
  // The unit of the time readout, from the next step on.
  void SetTimeUnit(TimeUnit unit) { unit_ = unit; }
  // The display shows a sample: the readout and position waiting from the
  // clock's thread go up with it, when the last went up a while ago. This
  // is how they usually reach the screen, without a wake-up of their own.
  void ShowWaitingViews();
  // A line in the status list, which becomes its selected last line.
  void AddStatusLine(const std::string& line) override;
  void LinkChanged() override;

  bool TimeUnitChecked(TimeUnit unit) override { return unit_.load() == unit; }
  void SetStatusText(const std::string& text) override;
  void SetPlayPosition(int32_t position) override;
  void ClickStopButton() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

 private:
  bool OnWindowThread() const;
  // Runs apply under the lock unless detached; false when detached.
  bool Attached(const std::function<void()>& apply);
  void PostEffect(std::function<void()> effect);
  void ScheduleViewFlush();
  void FlushViewUpdates();
  static int64_t NowMs();

  std::mutex lock_;  // guards attached_ and the controls' use from the clock's thread
  bool attached_ = true;
  Controls controls_;
  QThread* const windowThread_;  // read without the lock: the thread outlives the window
  EffectQueue effects_;
  QTimer* flushTimer_;  // the window's child: gone with it
  std::atomic<TimeUnit> unit_{TimeUnit::Msec};

  // The latest readout and bar position from the clock's thread; they
  // change at every 10 ms step, and each change of the readout costs a text
  // layout, so only the latest goes up, at most every kViewFlushMs: ten
  // times a second, as often as anyone reads a running time.
  static constexpr int64_t kViewFlushMs = 100;
  // Without a display that takes them up (no frames come), the clock's
  // thread asks the window itself after this long.
  static constexpr int64_t kUnattendedMs = 150;
  std::mutex latestLock_;
  std::string latestStatus_;
  int32_t latestPosition_ = 0;
  bool statusWaiting_ = false;
  bool positionWaiting_ = false;
  std::atomic<bool> flushScheduled_{false};
  std::atomic<int64_t> lastFlushMs_{0};
};
