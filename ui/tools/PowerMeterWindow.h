// "Power Meter": power at the wheels from the car's acceleration, against
// engine speed. Live, the curve grows while a pull goes on; over a loaded
// recording every pull is listed and the chosen one drawn.
#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "analysis/PowerMeter.h"
#include "control/ProgramInstances.h"
#include "ui/tools/RecordingMirror.h"

namespace Ui {
class PowerMeterWindow;
}
class IniFile;
class TConsultMainForm;

class TPowerMeterWindow : public QWidget {
  Q_OBJECT

 public:
  TPowerMeterWindow(TConsultMainForm& main, const ProgramInstances& instances);
  ~TPowerMeterWindow() override;

  Ui::PowerMeterWindow* Form() const { return ui_.get(); }
  void ShowWindow();
  VehicleFigures Vehicle() const;
  const std::vector<PullResult>& ListedPulls() const;
  // The "Vehicle" section, written with the program's settings at close.
  void SaveSettings(IniFile& ini) const;

 public slots:
  void RefreshTimerTimer();
  void VehicleEditChange();
  void PullListSelect();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ReadSettings();
  void FeedLive();
  void EndLivePull();
  void ShowPull(const PullResult* pull);
  void FillList();

  std::unique_ptr<Ui::PowerMeterWindow> ui_;
  TConsultMainForm& main_;
  ProgramInstances instances_;
  RecordingMirror mirror_;
  QTimer refreshTimer_;

  PullTracker tracker_;
  size_t fed_ = 0;
  std::vector<PullResult> livePulls_;
  std::vector<PullResult> recordingPulls_;
  bool listingRecording_ = false;
  bool filling_ = false;
  bool showingGrowing_ = false;  // the chart shows the live pull going on
  bool vehicleChanged_ = false;  // entered in this run: written at close
};
