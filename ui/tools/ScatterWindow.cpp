#include "ui/tools/ScatterWindow.h"

#include "analysis/ValueSettings.h"
#include "ui/tools/ValueChoice.h"
#include "ui/widgets/Placement.h"
#include "ui_ScatterWindow.h"

TScatterWindow::TScatterWindow(RecordingModel& recording)
    : QWidget(nullptr, Qt::Window), ui_(std::make_unique<Ui::ScatterWindow>()), recording_(recording) {
  ui_->setupUi(this);
  setObjectName("Scatter");
  WrapWithinWindow(*ui_->InfoLabel);
  // Injection time against engine speed, coloured by the throttle: how the
  // fuelling follows the load.
  FillValueBox(*ui_->XBox, AllValues(), ValueColumnOf("rpm"));
  FillValueBox(*ui_->YBox, AllValues(), ValueColumnOf("injection"));
  FillValueBox(*ui_->ColourBox, AllValues(), ValueColumnOf("throttle"), "(none)");
  for (QComboBox* box : {ui_->XBox, ui_->YBox, ui_->ColourBox})
    connect(box, &QComboBox::currentIndexChanged, this, &TScatterWindow::ChoiceChange);
  ConnectStretch(*ui_->WholeBox, *ui_->FromEdit, *ui_->ToEdit, this, &TScatterWindow::ChoiceChange);
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) { RecordingChanged(change); });
}

TScatterWindow::~TScatterWindow() {
  recording_.Unsubscribe(subscription_);
  DisconnectStretch(*ui_->FromEdit, *ui_->ToEdit, this);
}

void TScatterWindow::ShowWindow() { ShowInFront(*this); }

void TScatterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  recording_.Update();
  ChoiceChange();
}

void TScatterWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (isVisible()) ChoiceChange();
}

void TScatterWindow::RecordingChanged(const RecordingModel::Change& change) {
  if (isVisible() && RecountDue(change, sinceCount_)) ChoiceChange();
}

void TScatterWindow::ChoiceChange() {
  sinceCount_.start();
  // A cell of 2 x 2 pixels: a drive's lines stay lines, not dust.
  const QSize size = ui_->Chart->PlotSize() / 2;
  ScatterGrid grid = BuildScatter(recording_, ChosenStretch(*ui_->WholeBox, *ui_->FromEdit, *ui_->ToEdit),
                                  ChosenValue(*ui_->XBox), ChosenValue(*ui_->YBox), ChosenValue(*ui_->ColourBox),
                                  size.width(), size.height());
  ui_->InfoLabel->setText(QString("%1 records").arg(grid.records));
  ui_->Chart->SetGrid(std::move(grid));
}
