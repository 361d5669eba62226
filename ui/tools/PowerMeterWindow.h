// "Power Meter": power at the wheels from the car's acceleration, against
// engine speed. Live, the curve grows while a pull goes on; over a loaded
// recording every pull is listed and the chosen one drawn.
#pragma once

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "analysis/LiveRefresh.h"
#include "analysis/PowerMeter.h"
#include "control/ComparedRecording.h"
#include "control/RecordingModel.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class PowerMeterWindow;
}

class TPowerMeterWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  // compared: a second recording whose strongest pull is drawn beside.
  TPowerMeterWindow(RecordingModel& recording, ComparedRecording& compared, const std::string& settingsPath);
  ~TPowerMeterWindow() override;

  Ui::PowerMeterWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "&Power Meter"; }
  void ShowWindow() override;
  VehicleFigures Vehicle() const;
  const std::vector<PullResult>& ListedPulls() const;
  // The "Vehicle" section, written with the program's settings at close.
  void SaveSettings(IniFile& ini) const override;
  // The speed factor: the pulls of a loaded recording are worked out again,
  // a live pull going on starts again.
  void ApplyValueSettings(const ValueSettings& settings) override;

 public slots:
  void VehicleEditChange();
  void PullListSelect();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ReadSettings(const std::string& settingsPath);
  void RecordingChanged(const RecordingModel::Change& change);
  void FeedLive();
  void EndLivePull();
  void ShowPull(const PullResult* pull);
  void FillList();
  void WorkOutAgain();
  void ShowCompared();

  std::unique_ptr<Ui::PowerMeterWindow> ui_;
  RecordingModel& recording_;
  ComparedRecording& compared_;
  int subscription_ = 0;
  int comparedSubscription_ = 0;
  LiveRefresh<PullTracker> refresh_;
  std::vector<PullResult> livePulls_;
  std::vector<PullResult> recordingPulls_;
  bool filling_ = false;
  bool showingGrowing_ = false;  // the chart shows the live pull going on
  VehicleFigures applied_;       // the figures the pulls were worked out with
  double speedFactor_ = 1.0;
  bool vehicleChanged_ = false;  // entered in this run: written at close
};
