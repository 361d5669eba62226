// "More Values": the values beyond the main window's twelve (registers
// some ECUs have beyond the eighteen) and the bank beyond its three, shown
// as the main window shows its own: a number and a bar each, the bits as
// indicators, following the live sample and the playback. It lists only
// what the stream asks for or the recording holds; a value asked for that
// the sample lacks reads "n/a".
#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "analysis/ValueSettings.h"
#include "control/RecordingModel.h"
#include "control/Session.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class MoreValuesWindow;
}
class QLabel;
class QRadioButton;
class ValueBar;

class TMoreValuesWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  TMoreValuesWindow(Session& session, RecordingModel& recording);
  ~TMoreValuesWindow() override;

  Ui::MoreValuesWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "&More Values"; }
  void ShowWindow() override;
  void SaveSettings(IniFile&) const override {}
  void ApplyValueSettings(const ValueSettings& settings) override;

  // Whether a row of kAllValueColumns beyond the twelve is listed now, and
  // what its number reads.
  bool Lists(int column) const;
  QString Shown(int column) const;
  bool ListsBank() const;

 public slots:
  // The current sample, unless it is the one shown last.
  void ShowSample();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Row {
    int column = 0;  // in kAllValueColumns
    QLabel* caption = nullptr;
    QLabel* number = nullptr;
    ValueBar* bar = nullptr;
    QString numberStyle;
    QPalette barPalette;
    bool listed = false;
    bool absent = false;
    bool warned = false;
    bool shown = false;
    int32_t lastShown = 0;
  };

  // The registers the stream asks for or the recording holds.
  RegisterMask Offered(const SampleRecord& sample) const;
  void List(RegisterMask offered);
  void ShowNothing();  // every row "-", as before any sample
  void ShowRow(Row& row, const std::optional<int32_t>& value);
  void ShowBank(const SampleRecord& sample);
  void RecordingChanged(const RecordingModel::Change& change);

  std::unique_ptr<Ui::MoreValuesWindow> ui_;
  Session& session_;
  RecordingModel& recording_;
  int subscription_ = 0;
  std::array<Row, kExtraValueCount> rows_{};
  std::array<QRadioButton*, kExtraBitCount> marks_{};
  ValueSettings settings_;
  WarningWatch watch_;
  PeakHold peaks_;
  RegisterMask offered_ = 0;
  bool listedOnce_ = false;
  bool anyShown_ = false;
  bool blank_ = true;  // the rows read "-"
  uint32_t shownVersion_ = 0;
};
