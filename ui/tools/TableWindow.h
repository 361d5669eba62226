// "Table": the mean of a value in cells of engine speed by throttle or
// air-flow voltage, with the samples per cell, over the whole recording or
// a stretch of it; the table a tuner compares with the ECU's maps. Cells
// without samples stay empty. Exported as CSV.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

#include "analysis/ValueGrids.h"
#include "control/RecordingModel.h"
#include "ui/app/WindowContext.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class TableWindow;
}

class TTableWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  static constexpr int kRows = 20;     // 500 rpm each
  static constexpr int kColumns = 10;  // a tenth of the second value's range each

  TTableWindow(RecordingModel& recording, const WindowContext& context);
  ~TTableWindow() override;

  Ui::TableWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "T&able"; }
  void ShowWindow() override;
  void SaveSettings(IniFile&) const override {}
  const CellTable& Shown() const { return table_; }

 public slots:
  void ChoiceChange();
  void ExportButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void RecordingChanged(const RecordingModel::Change& change);

  std::unique_ptr<Ui::TableWindow> ui_;
  RecordingModel& recording_;
  WindowContext context_;
  int subscription_ = 0;
  QElapsedTimer sinceCount_;
  CellTable table_;
};
