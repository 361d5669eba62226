// "Sub Window": a time chart of chosen values, live or over the whole
// recording, with a cursor at the playback position.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "control/ProgramInstances.h"
#include "ui/tools/RecordingMirror.h"

namespace Ui {
class SubWindow;
}
class IniFile;
class QCheckBox;
class TConsultMainForm;

class TSubWindow : public QWidget {
  Q_OBJECT

 public:
  // Reads its section of the settings file; stays hidden until asked for.
  TSubWindow(TConsultMainForm& main, const ProgramInstances& instances);
  ~TSubWindow() override;

  Ui::SubWindow* Form() const { return ui_.get(); }
  QTimer& RefreshTimer() { return refreshTimer_; }
  // Shown and raised, brought up to date at once.
  void ShowWindow();
  // Its section, written with the program's settings when the program
  // closes (closing the window only hides it).
  void SaveSettings(IniFile& ini) const;

  // The live spans to choose from, in records.
  static constexpr std::array<int64_t, 3> kSpans = {1000, 3000, 12000};

 public slots:
  void ValueBoxClick();
  void BitTracksBoxClick();
  void SpanBoxChange();
  void RefreshTimerTimer();
  void DisplayTick();
  void ChartClick(int64_t index);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ReadSettings();
  void UpdateReadout();
  std::vector<int> ChosenValues() const;

  std::unique_ptr<Ui::SubWindow> ui_;
  TConsultMainForm& main_;
  ProgramInstances instances_;
  RecordingMirror mirror_;
  std::array<QCheckBox*, kValueCount> valueBoxes_{};
  QTimer refreshTimer_;
  QElapsedTimer clock_;
  int64_t refreshDueMs_ = 0;  // on clock_: when the next refresh is due
  int64_t readoutAt_ = -2;   // the record the readout shows; -2 none yet
  bool readoutLive_ = false;
  bool shownOnce_ = false;
};
