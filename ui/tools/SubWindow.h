// "Sub Window": a time chart of chosen values, live or over the whole
// recording, with a cursor at the playback position; a second recording
// from a log file may be drawn under it to compare, lined up by its start,
// its first run's or first pull's start, or a shift.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/ValueSettings.h"
#include "control/ComparedRecording.h"
#include "control/RecordingModel.h"
#include "ui/app/WindowContext.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class SubWindow;
}
class IniFile;
class QCheckBox;

class TSubWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  // Reads its section of the settings file; stays hidden until asked for.
  TSubWindow(RecordingModel& recording, ComparedRecording& compared, const WindowContext& context);
  ~TSubWindow() override;

  Ui::SubWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "Sub &Window"; }
  void ShowWindow() override;
  void SaveSettings(IniFile& ini) const override;
  // The warning limits are drawn on the chart (in the values' own units);
  // the readout gives the values as the main window shows them.
  void ApplyValueSettings(const ValueSettings& settings) override;

  // The live spans to choose from, in records.
  static constexpr std::array<int64_t, 3> kSpans = {1000, 3000, 12000};

 public slots:
  void ValueBoxClick();
  void BitTracksBoxClick();
  void SpanBoxChange();
  void ChartClick(int64_t index);
  void CompareButtonClick();
  void NoCompareButtonClick();
  void AlignBoxChange();

 public:
  // Compares with the records of a log file, named as it is shown; false
  // (and nothing changed) when it cannot be read.
  bool CompareWith(const std::string& fileName);
  // Where the compared recording's record j stands: at record j + shift.
  int64_t CompareShift() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ReadSettings(const std::string& settingsPath);
  void RecordingChanged(const RecordingModel::Change& change);
  void UpdateReadout();
  void ComparedChanged();
  std::vector<int> ChosenValues() const;
  int64_t ChosenSpan() const;

  std::unique_ptr<Ui::SubWindow> ui_;
  RecordingModel& recording_;
  ComparedRecording& compared_;
  WindowContext context_;
  int comparedSubscription_ = 0;
  int subscription_ = 0;
  std::array<QCheckBox*, kAllValueCount> valueBoxes_{};  // the twelve, then those beyond
  ValueSettings settings_;
  int64_t readoutAt_ = -2;  // the record the readout shows; -2 none yet
  bool readoutLive_ = false;
  bool shownOnce_ = false;
};
