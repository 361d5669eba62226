// How the recorder's steps reach the main window. A step runs on the
// clock's thread (or, while the position bar is dragged, on the interface
// thread) and changes controls of the window; those effects must take place
// on the interface thread, in the order the step made them.
#pragma once

#include <QObject>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "data/Recorder.h"
#include "control/ProgramInstances.h"

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

class TConsultMainForm;

// What the recorder step holds of the window. The clock's thread may call
// it at any moment, also while the window is being destroyed, so it reaches
// the window only under its lock, and not at all once the window is gone.
class RecorderBridge : public RecorderView {
 public:
  RecorderBridge(TConsultMainForm* window, const ProgramInstances& instances);

  // The window is going: later steps reach no window.
  void Detach();

  bool TimeUnitChecked(TimeUnit unit) override;
  void SetStatusText(const std::string& text) override;
  void SetPlayPosition(int32_t position) override;
  void ClickStopButton() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void AddStatusLine(const std::string& line) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

  Recorder recorder;

 private:
  // Off the interface thread the window only queues the effect, so the lock
  // is held briefly. On it, the effect may run a message box; the window
  // cannot be destroyed meanwhile, since that happens on this thread too.
  bool Forward(const std::function<void(TConsultMainForm*)>& apply);

  std::mutex lock_;
  TConsultMainForm* window_;
};
