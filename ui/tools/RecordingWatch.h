// The pace at which the tool windows follow the recording: the recording
// model is looked at 20 times a second while a tool window is shown or a
// live recording grows (the timing and power windows follow one even while
// hidden), and once a second otherwise, to notice one begin. While the main
// display shows samples, the looks ride its ticks instead of waking the
// program on a timer of their own; the timer only runs when they do not
// come (a stopped playback whose position is moved, a file just loaded).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <vector>

class QWidget;
class RecordingModel;

class RecordingWatch : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFollowMs = 50;
  static constexpr int kIdleMs = 1000;
  // While following, the timer waits past a look's due time by more than a
  // frame's interval (20.8 ms at 9600 baud), so that it stays put while the
  // display's ticks come and only fires once they stop.
  static constexpr int kFollowTimerMs = kFollowMs + 25;

  RecordingWatch(RecordingModel& model, QObject* parent = nullptr);

  // The windows whose being shown sets the faster pace, at once.
  void SetWindows(const std::vector<QWidget*>& windows);
  QTimer& Timer() { return timer_; }

 public slots:
  // The main display showed a sample: a look, when one is due.
  void DisplayTick();
  // A look now, out of turn or at the timer: the model tells its listeners.
  void Look();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Following() const;

  RecordingModel& model_;
  std::vector<QPointer<QWidget>> windows_;
  QTimer timer_;
  QElapsedTimer clock_;
  int64_t dueMs_ = 0;  // on clock_: when the next look is due
};
