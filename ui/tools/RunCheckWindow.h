// "0-400 Check" and "0-1000 Check": timing from a standing start, live
// (ready, running, the result, the runs since the program started) and over
// a loaded recording (every run in it; choosing one moves the playback
// position to its start).
#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

#include "analysis/LiveRefresh.h"
#include "analysis/RunTiming.h"
#include "analysis/ValueSettings.h"
#include "control/ComparedRecording.h"
#include "control/RecordingModel.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class RunCheckWindow;
}

class TRunCheckWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  // compared: a second recording whose runs are listed under the first's.
  TRunCheckWindow(RecordingModel& recording, ComparedRecording& compared, double distanceM);
  ~TRunCheckWindow() override;

  Ui::RunCheckWindow* Form() const { return ui_.get(); }
  double DistanceM() const { return distanceM_; }
  QString MenuCaption() const override;
  void ShowWindow() override;
  void SaveSettings(IniFile&) const override {}
  // The speed factor times the runs (those of a loaded recording are timed
  // again, a live run going on starts again); the speed unit is shown.
  void ApplyValueSettings(const ValueSettings& settings) override;
  // What the list shows: the live runs of this run of the program, or the
  // runs of the loaded recording.
  const std::vector<RunResult>& ListedRuns() const;
  const std::vector<RunResult>& ComparedRuns() const { return comparedRuns_; }

  // Shared with the text of the list and the result.
  static QString TimeText(double s, double uncertaintyS);
  static QString SpeedText(double kmh, double uncertaintyKmh, SpeedUnit unit = SpeedUnit::kKmh);
  static QString ZeroTo100Text(const RunResult& run);

 public slots:
  void RunListSelect();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void RecordingChanged(const RecordingModel::Change& change);
  void ShowPhase();
  void ShowResult(const RunResult* run);
  void FillList();
  void ListCompared();
  QStringList RowOf(const RunResult& run) const;

  std::unique_ptr<Ui::RunCheckWindow> ui_;
  RecordingModel& recording_;
  RegisterMask recordingMissing_ = 0;  // what runs need that the loaded recording never holds
  ComparedRecording& compared_;
  int subscription_ = 0;
  int comparedSubscription_ = 0;
  std::vector<RunResult> comparedRuns_;
  double distanceM_;
  double speedFactor_ = 1.0;
  SpeedUnit speedUnit_ = SpeedUnit::kKmh;
  std::optional<RunResult> shown_;  // the run the result shows
  LiveRefresh<RunTimer> refresh_;
  std::vector<RunResult> liveRuns_;     // since the program started
  std::vector<RunResult> recordingRuns_;
  bool filling_ = false;
  bool justFinished_ = false;  // a live run ended and the car has not stood since
};
