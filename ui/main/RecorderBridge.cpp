#include "ui/main/RecorderBridge.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <utility>

#include "ui/dialogs/UserDialogs.h"

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

RecorderBridge::RecorderBridge(const Controls& controls)
    : controls_(controls),
      windowThread_(controls.window->thread()),
      effects_(controls.window),
      flushTimer_(new QTimer(controls.window)) {
  flushTimer_->setSingleShot(true);
  QObject::connect(flushTimer_, &QTimer::timeout, flushTimer_, [this] { FlushViewUpdates(); });
}

void RecorderBridge::Detach() {
  std::lock_guard<std::mutex> hold(lock_);
  attached_ = false;
}

int64_t RecorderBridge::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool RecorderBridge::OnWindowThread() const { return QThread::currentThread() == windowThread_; }

// Off the window's thread the effect is only queued, under the lock, so the
// window cannot go meanwhile. On it, the effect may run a message box; the
// window cannot be destroyed meanwhile, since that happens on this thread
// too, and the clock's thread must not wait for the box.
bool RecorderBridge::Attached(const std::function<void()>& apply) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!attached_) return false;
  if (OnWindowThread()) hold.unlock();
  apply();
  return true;
}

void RecorderBridge::PostEffect(std::function<void()> effect) {
  Attached([&] {
    effects_.Post([this, effect = std::move(effect)] {
      FlushViewUpdates();  // the readout and position made before this effect
      effect();
    });
  });
}

void RecorderBridge::SetStatusText(const std::string& text) {
  if (OnWindowThread()) {
    PostEffect([this, text] { controls_.timeReadout->setText(QString::fromStdString(text)); });
    return;
  }
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    latestStatus_ = text;
    statusWaiting_ = true;
  }
  ScheduleViewFlush();
}

void RecorderBridge::SetPlayPosition(int32_t position) {
  if (OnWindowThread()) {
    PostEffect([this, position] {
      const QSignalBlocker quiet(controls_.positionBar);  // a position set here seeks nothing
      controls_.positionBar->setValue(position);
    });
    return;
  }
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    latestPosition_ = position;
    positionWaiting_ = true;
  }
  ScheduleViewFlush();
}

// The display takes what waits up as it shows the samples (ShowWaitingViews);
// only when it has not done so for a while is the window asked to.
void RecorderBridge::ScheduleViewFlush() {
  if (NowMs() - lastFlushMs_.load() < kUnattendedMs) return;
  if (flushScheduled_.exchange(true)) return;
  Attached([this] {
    QMetaObject::invokeMethod(
        controls_.window,
        [this] {
          const int64_t since = NowMs() - lastFlushMs_.load();
          flushTimer_->start(static_cast<int>(std::clamp<int64_t>(kViewFlushMs - since, 0, kViewFlushMs)));
        },
        Qt::QueuedConnection);
  });
}

void RecorderBridge::ShowWaitingViews() {
  if (NowMs() - lastFlushMs_.load() >= kViewFlushMs) FlushViewUpdates();
}

void RecorderBridge::FlushViewUpdates() {
  flushScheduled_ = false;  // what comes from now on is flushed next time
  std::string status;
  int32_t position = 0;
  bool hasStatus = false;
  bool hasPosition = false;
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    std::swap(status, latestStatus_);
    position = latestPosition_;
    hasStatus = std::exchange(statusWaiting_, false);
    hasPosition = std::exchange(positionWaiting_, false);
  }
  if (hasStatus) controls_.timeReadout->setText(QString::fromStdString(status));
  if (hasPosition) {
    const QSignalBlocker quiet(controls_.positionBar);
    controls_.positionBar->setValue(position);
  }
  lastFlushMs_ = NowMs();
}

void RecorderBridge::ClickStopButton() {
  // The clock stops stepping at once, as Stop does first; the rest of Stop
  // waits its turn on the interface thread. The click runs whatever the
  // button's enabled state.
  if (!OnWindowThread() && controls_.clockEnable != nullptr) controls_.clockEnable->store(0);
  PostEffect([this] { controls_.stop(); });
}

void RecorderBridge::ShowMessage(const std::string& text, const std::string& caption) {
  PostEffect([this, text, caption] {
    controls_.dialogs->Information(controls_.window, QString::fromStdString(text),
                                   QString::fromStdString(caption));
  });
}

void RecorderBridge::AddStatusLine(const std::string& line) {
  PostEffect([this, line] {
    QListWidget* list = controls_.statusList;
    list->addItem(QString::fromStdString(line));
    list->setCurrentRow(list->count() - 1);
    list->scrollToItem(list->currentItem());
  });
}

void RecorderBridge::LinkChanged() {
  PostEffect([this] {
    if (controls_.linkChanged) controls_.linkChanged();
  });
}

bool RecorderBridge::AskYesNo(const std::string& text, const std::string& caption) {
  bool yes = false;
  Attached([&] {
    yes = controls_.dialogs->Question(controls_.window, QString::fromStdString(text),
                                      QString::fromStdString(caption));
  });
  return yes;
}
