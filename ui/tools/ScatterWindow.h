// "Scatter": any value against any other over the whole recording or a
// stretch of it, coloured by a third, drawn by density so that a full
// recording stays readable. Live, it is counted again a second at a time.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

#include "control/RecordingModel.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class ScatterWindow;
}

class TScatterWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  explicit TScatterWindow(RecordingModel& recording);
  ~TScatterWindow() override;

  Ui::ScatterWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "&Scatter"; }
  void ShowWindow() override;
  void SaveSettings(IniFile&) const override {}

 public slots:
  void ChoiceChange();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RecordingChanged(const RecordingModel::Change& change);

  std::unique_ptr<Ui::ScatterWindow> ui_;
  RecordingModel& recording_;
  int subscription_ = 0;
  QElapsedTimer sinceCount_;
};
