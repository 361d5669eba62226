#include "ui/tools/TableWindow.h"

#include <QHeaderView>

#include "analysis/ValueSettings.h"
#include "data/AtomicFile.h"
#include "data/Escape.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/tools/ValueChoice.h"
#include "ui/widgets/Placement.h"
#include "ui_TableWindow.h"

TTableWindow::TTableWindow(RecordingModel& recording, const WindowContext& context)
    : QWidget(nullptr, Qt::Window), ui_(std::make_unique<Ui::TableWindow>()), recording_(recording), context_(context) {
  ui_->setupUi(this);
  setObjectName("Table");
  WrapWithinWindow(*ui_->InfoLabel);
  FillValueBox(*ui_->ValueBox, AllValues(), ValueColumnOf("injection"));
  FillValueBox(*ui_->AcrossBox, {ValueColumnOf("throttle"), ValueColumnOf("maf")}, ValueColumnOf("throttle"));
  for (QComboBox* box : {ui_->ValueBox, ui_->AcrossBox})
    connect(box, &QComboBox::currentIndexChanged, this, &TTableWindow::ChoiceChange);
  ConnectStretch(*ui_->WholeBox, *ui_->FromEdit, *ui_->ToEdit, this, &TTableWindow::ChoiceChange);
  connect(ui_->ExportButton, &QPushButton::clicked, this, &TTableWindow::ExportButtonClick);
  ui_->CellTable->setRowCount(kRows);
  ui_->CellTable->setColumnCount(kColumns);
  ui_->CellTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) { RecordingChanged(change); });
}

TTableWindow::~TTableWindow() {
  recording_.Unsubscribe(subscription_);
  DisconnectStretch(*ui_->FromEdit, *ui_->ToEdit, this);
}

void TTableWindow::ShowWindow() { ShowInFront(*this); }

void TTableWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  recording_.Update();
  ChoiceChange();
}

void TTableWindow::RecordingChanged(const RecordingModel::Change& change) {
  if (isVisible() && RecountDue(change, sinceCount_)) ChoiceChange();
}

void TTableWindow::ChoiceChange() {
  sinceCount_.start();
  table_ = BuildCellTable(recording_, ChosenStretch(*ui_->WholeBox, *ui_->FromEdit, *ui_->ToEdit),
                          ChosenValue(*ui_->ValueBox), ValueColumnOf("rpm"), kRows, ChosenValue(*ui_->AcrossBox),
                          kColumns);
  QStringList columns, rows;
  for (int c = 0; c < kColumns; ++c) columns << QString("%1-%2").arg(table_.columnEdges[c]).arg(table_.columnEdges[c + 1]);
  // The highest engine speed at the top, as the ECU's maps are drawn.
  for (int r = kRows - 1; r >= 0; --r) rows << QString("%1 rpm").arg(table_.rowEdges[r]);
  ui_->CellTable->setHorizontalHeaderLabels(columns);
  ui_->CellTable->setVerticalHeaderLabels(rows);
  uint32_t samples = 0;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      const std::optional<double> mean = table_.Mean(r, c);
      auto* item = new QTableWidgetItem(mean ? QString::number(*mean, 'f', 1) : QString());
      item->setTextAlignment(Qt::AlignCenter);
      item->setToolTip(QString("%1 samples").arg(table_.Count(r, c)));
      ui_->CellTable->setItem(kRows - 1 - r, c, item);
      samples += table_.Count(r, c);
    }
  }
  ui_->InfoLabel->setText(QString("%1 samples. A cell: the mean in %2; its tip: how many samples.")
                              .arg(samples)
                              .arg(kAllValueColumns[static_cast<size_t>(table_.valueColumn)].unit));
}

void TTableWindow::ExportButtonClick() {
  const QString file =
      context_.dialogs.SaveFile(this, "Export Table", "table.csv", "CSV (*.csv);;All files (*)", true);
  if (file.isEmpty()) return;
  std::string text;
  for (const std::string& line : CellTableCsv(table_)) text += line + "\n";
  AtomicFileWriter writer(file.toStdString());
  bool saved = writer.Open();
  if (saved) saved = std::fwrite(text.data(), 1, text.size(), writer.Stream()) == text.size();
  saved = saved && writer.Commit();
  ui_->InfoLabel->setText(
      WrappableText(QString::fromStdString((saved ? "Saved to " : "Could not write ") + Escaped(file.toStdString()))));
}
