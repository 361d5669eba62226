// The display's refresh, DataShowTimer: while it runs, the window shows the
// current sample whenever it changes. A frame decoded, a record played back
// or sought stores to the recorder state's sampleChanged flag, and the timer
// wakes on that flag's descriptor: each new sample is on the screen at once,
// and a display with nothing new to show costs nothing, where a timer firing
// every 5 ms would wake the program 200 times a second to find nothing. When
// the system gives the flag no descriptor, a 5 ms timer does the waking.
#pragma once

#include <QObject>
#include <QTimer>

class QSocketNotifier;
class WakeFlag;

class DisplayTimer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kIntervalMs = 5;  // what a sample may wait at most without a descriptor

  DisplayTimer(WakeFlag& sampleChanged, QObject* parent);

  // Running, the first tick follows at once (showing what the sample holds
  // now), then one at every change.
  void start();
  void stop();
  bool isActive() const { return active_; }
  int interval() const { return kIntervalMs; }

 signals:
  void timeout();

 private:
  void Tick();

  bool active_ = false;
  int wakeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer fallback_;
  QTimer first_;
};
