#include "ui/tools/RecordingWatch.h"

#include <QEvent>
#include <QWidget>

#include "control/RecordingModel.h"

namespace {
constexpr int kTickSlackMs = 2;  // the clock counts whole milliseconds
}

RecordingWatch::RecordingWatch(RecordingModel& model, QObject* parent)
    : QObject(parent), model_(model) {
  clock_.start();
  timer_.setObjectName("RecordingWatchTimer");
  timer_.setInterval(kIdleMs);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &RecordingWatch::Look);
  timer_.start();
}

void RecordingWatch::SetWindows(const std::vector<QWidget*>& windows) {
  windows_.assign(windows.begin(), windows.end());
  for (QWidget* window : windows) window->installEventFilter(this);
}

bool RecordingWatch::eventFilter(QObject* watched, QEvent* event) {
  // A window shown or hidden sets the pace from now on.
  if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
    timer_.start(Following() ? kFollowTimerMs : kIdleMs);
  return QObject::eventFilter(watched, event);
}

bool RecordingWatch::Following() const {
  if (model_.LiveNow()) return true;
  for (const QPointer<QWidget>& window : windows_)
    if (window != nullptr && window->isVisible()) return true;
  return false;
}

void RecordingWatch::DisplayTick() {
  if (!Following() || clock_.elapsed() < dueMs_ - kTickSlackMs) return;
  Look();
}

void RecordingWatch::Look() {
  // Kept to its pace: a look that comes a tick late does not put the next
  // one off, and one after a pause starts the pace again.
  const int64_t now = clock_.elapsed();
  if (now >= dueMs_ - kTickSlackMs)
    dueMs_ = now - dueMs_ < kFollowMs ? dueMs_ + kFollowMs : now + kFollowMs;
  model_.Update();
  // Each look puts the timer off again: it only fires while the display's
  // ticks do not come.
  timer_.start(Following() ? kFollowTimerMs : kIdleMs);
}
