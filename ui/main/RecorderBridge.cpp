#include "ui/main/RecorderBridge.h"

#include <QMetaObject>
#include <QThread>

#include "ui/main/Consultmain.h"

void EffectQueue::Post(std::function<void()> effect) {
  if (QThread::currentThread() == owner_->thread()) {
    // Made by an effect being applied (or from inside its message box):
    // it belongs to that effect and runs in place.
    if (draining_) {
      effect();
      return;
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      effects_.push_back(std::move(effect));
    }
    Drain();  // earlier queued effects first
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    effects_.push_back(std::move(effect));
  }
  if (!drainPosted_.exchange(true)) {
    QMetaObject::invokeMethod(owner_, [this] { Drain(); }, Qt::QueuedConnection);
  }
}

void EffectQueue::Drain() {
  drainPosted_ = false;
  // A message box of an effect runs its own event loop; a drain posted
  // meanwhile must wait, or later effects would overtake it.
  if (draining_) return;
  draining_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{draining_};
  for (;;) {
    std::function<void()> effect;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (effects_.empty()) break;
      effect = std::move(effects_.front());
      effects_.pop_front();
    }
    effect();
  }
}

RecorderBridge::RecorderBridge(TConsultMainForm* window, const ProgramInstances& instances)
    : recorder{instances.recorderState, instances.logMemory, instances.recordingClock.enable, this},
      window_(window) {}

void RecorderBridge::Detach() {
  std::lock_guard<std::mutex> hold(lock_);
  window_ = nullptr;
}

bool RecorderBridge::Forward(const std::function<void(TConsultMainForm*)>& apply) {
  std::unique_lock<std::mutex> hold(lock_);
  TConsultMainForm* window = window_;
  if (window == nullptr) return false;
  if (QThread::currentThread() == window->thread()) hold.unlock();
  apply(window);
  return true;
}

bool RecorderBridge::TimeUnitChecked(TimeUnit unit) {
  std::lock_guard<std::mutex> hold(lock_);
  return window_ != nullptr ? window_->TimeUnitChecked(unit) : unit == TimeUnit::Msec;
}

void RecorderBridge::SetStatusText(const std::string& text) {
  Forward([&](TConsultMainForm* w) { w->SetStatusText(text); });
}

void RecorderBridge::SetPlayPosition(int32_t position) {
  Forward([&](TConsultMainForm* w) { w->SetPlayPosition(position); });
}

void RecorderBridge::ClickStopButton() {
  // Without a window the Stop command still ends the clock's work.
  if (!Forward([](TConsultMainForm* w) { w->ClickStopButton(); })) recorder.clockEnable = 0;
}

void RecorderBridge::ShowMessage(const std::string& text, const std::string& caption) {
  Forward([&](TConsultMainForm* w) { w->ShowMessage(text, caption); });
}

void RecorderBridge::AddStatusLine(const std::string& line) {
  Forward([&](TConsultMainForm* w) { w->AddStatusLine(line); });
}

bool RecorderBridge::AskYesNo(const std::string& text, const std::string& caption) {
  TConsultMainForm* window = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    window = window_;
  }
  return window != nullptr && window->AskYesNo(text, caption);
}
