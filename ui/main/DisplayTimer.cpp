#include "ui/main/DisplayTimer.h"

#include <QSocketNotifier>

#include "data/WakeFlag.h"

DisplayTimer::DisplayTimer(WakeFlag& sampleChanged, QObject* parent)
    : QObject(parent), wakeFd_(sampleChanged.WakeFd()) {
  setObjectName("DataShowTimer");
  first_.setSingleShot(true);
  connect(&first_, &QTimer::timeout, this, &DisplayTimer::Tick);
  if (wakeFd_ >= 0) {
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      ClearWakeFd(wakeFd_);
      Tick();
    });
  } else {
    fallback_.setInterval(kIntervalMs);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &DisplayTimer::Tick);
  }
}

void DisplayTimer::start() {
  active_ = true;
  if (notifier_ != nullptr) {
    ClearWakeFd(wakeFd_);  // what changed while stopped is shown by the first tick
    notifier_->setEnabled(true);
  } else {
    fallback_.start();
  }
  first_.start(0);
}

void DisplayTimer::stop() {
  active_ = false;
  first_.stop();
  fallback_.stop();
  // Stopped, the descriptor is not watched: samples that change meanwhile
  // wake nobody.
  if (notifier_ != nullptr) notifier_->setEnabled(false);
}

void DisplayTimer::Tick() {
  if (active_) emit timeout();
}
