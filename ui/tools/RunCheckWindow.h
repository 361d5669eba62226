// "0-400 Check" and "0-1000 Check": timing from a standing start, live
// (ready, running, the result, the runs since the program started) and over
// a loaded recording (every run in it; choosing one moves the playback
// position to its start).
#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "analysis/RunTiming.h"
#include "control/ProgramInstances.h"
#include "ui/tools/RecordingMirror.h"

namespace Ui {
class RunCheckWindow;
}
class TConsultMainForm;

class TRunCheckWindow : public QWidget {
  Q_OBJECT

 public:
  TRunCheckWindow(TConsultMainForm& main, const ProgramInstances& instances, double distanceM);
  ~TRunCheckWindow() override;

  Ui::RunCheckWindow* Form() const { return ui_.get(); }
  QTimer& RefreshTimer() { return refreshTimer_; }
  double DistanceM() const { return distanceM_; }
  void ShowWindow();
  // What the list shows: the live runs of this run of the program, or the
  // runs of the loaded recording.
  const std::vector<RunResult>& ListedRuns() const;

  // Shared with the text of the list and the result.
  static QString TimeText(double s, double uncertaintyS);
  static QString SpeedText(double kmh, double uncertaintyKmh);
  static QString ZeroTo100Text(const RunResult& run);

 public slots:
  void RefreshTimerTimer();
  void RunListSelect();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FeedLive();
  void ShowPhase();
  void ShowResult(const RunResult* run);
  void FillList();

  std::unique_ptr<Ui::RunCheckWindow> ui_;
  TConsultMainForm& main_;
  ProgramInstances instances_;
  double distanceM_;
  RecordingMirror mirror_;
  QTimer refreshTimer_;

  RunTimer timer_;
  size_t fed_ = 0;                      // records of the mirror fed to the timer
  std::vector<RunResult> liveRuns_;     // since the program started
  std::vector<RunResult> recordingRuns_;
  bool listingRecording_ = false;
  bool filling_ = false;
  bool justFinished_ = false;  // a live run ended and the car has not stood since
};
