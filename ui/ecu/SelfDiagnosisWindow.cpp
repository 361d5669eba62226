#include "ui/ecu/SelfDiagnosisWindow.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>

#include "data/AtomicFile.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/widgets/Placement.h"
#include "ui/widgets/ResultList.h"
#include "ui_SelfDiagnosisWindow.h"

TSelfDiagnosisWindow::TSelfDiagnosisWindow(Session& session, UserDialogs& dialogs, Report report)
    : ui_(std::make_unique<Ui::SelfDiagnosisWindow>()), session_(session), dialogs_(dialogs), report_(std::move(report)) {
  ui_->setupUi(this);
  WrapWithinWindow(*ui_->ListLabel);
  ui_->CodeList->setColumnWidth(0, 60);
  ui_->CodeList->setColumnWidth(1, 80);
  ui_->CodeList->setColumnWidth(2, 120);
  connect(ui_->ReadButton, &QPushButton::clicked, this, &TSelfDiagnosisWindow::ReadButtonClick);
  connect(ui_->ClearButton, &QPushButton::clicked, this, &TSelfDiagnosisWindow::ClearButtonClick);
  connect(ui_->SaveButton, &QPushButton::clicked, this, &TSelfDiagnosisWindow::SaveButtonClick);
  SetAllowed(false);
}

TSelfDiagnosisWindow::~TSelfDiagnosisWindow() = default;

void TSelfDiagnosisWindow::ShowWindow() {
  ShowInFront(*this);
  ReadButtonClick();
}

void TSelfDiagnosisWindow::SetAllowed(bool allowed) {
  allowed_ = allowed;
  ui_->ReadButton->setEnabled(allowed);
  ui_->ClearButton->setEnabled(allowed);
  ui_->SaveButton->setEnabled(!codes_.empty());
}

void TSelfDiagnosisWindow::ReadButtonClick() {
  if (!allowed_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string number;
  const CommandOutcome numbered = session_.ReadEcuNumber(number);
  const CommandOutcome read = session_.ReadFaultCodes(codes_);
  QApplication::restoreOverrideCursor();
  partNumber_ = numbered.done ? EcuPartNumber(number) : std::string();
  ui_->PartNumberLabel->setText(numbered.done ? QString::fromStdString(partNumber_) : QString("- - - -"));
  if (numbered.done) emit EcuNumberRead(QString::fromStdString(number));
  report_(numbered);
  report_(read);
  ShowCodes(read.done);
}

void TSelfDiagnosisWindow::ClearButtonClick() {
  if (!allowed_) return;
  if (!dialogs_.Question(this,
                         "Clear the fault codes stored in the ECU?\n\n"
                         "The ECU forgets every stored code and its count of engine starts. "
                         "A fault that is still present is stored again.",
                         "Self Diagnosis"))
    return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CommandOutcome cleared = session_.ClearFaultCodes(codes_);
  QApplication::restoreOverrideCursor();
  report_(cleared);
  ShowCodes(!codes_.empty());
}

void TSelfDiagnosisWindow::SaveButtonClick() {
  if (codes_.empty()) return;
  const QString file = dialogs_.SaveFile(this, "Save Fault Codes", "fault-codes.txt",
                                       "Text (*.txt);;All files (*)", true);
  if (file.isEmpty()) return;
  const std::string text = "Torvane self diagnosis, " +
                           QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString() + "\n" +
                           "ECU part number: " + (partNumber_.empty() ? "not read" : partNumber_) + "\n\n" +
                           FaultCodesCsv(codes_);
  AtomicFileWriter writer(file.toStdString());
  bool saved = writer.Open();
  if (saved) saved = std::fwrite(text.data(), 1, text.size(), writer.Stream()) == text.size();
  saved = saved && writer.Commit();
  CommandOutcome outcome;
  outcome.done = saved;
  outcome.lines.push_back(saved ? "OK. Fault code list saved." : "NG. Fault code list NOT saved.");
  report_(outcome);
}

void TSelfDiagnosisWindow::ShowCodes(bool read) {
  std::vector<QStringList> rows;
  for (const FaultCode& code : codes_)
    rows.push_back({QString::fromStdString(FaultCodeText(code.raw)), QString::fromStdString(FaultCodeRawText(code.raw)),
                    QString::number(code.starts), QString::fromUtf8(FaultCodeMeaningOf(code.raw))});
  FillResultList(*ui_->CodeList, rows, true);
  if (!read) {
    ui_->ListLabel->setText("The ECU sent no fault codes.");
  } else if (NoMalfunction(codes_)) {
    ui_->ListLabel->setText("No fault stored (code 55).");
  } else {
    ui_->ListLabel->setText(QString("Stored fault codes: %1").arg(codes_.size()));
  }
  ui_->SaveButton->setEnabled(!codes_.empty());
}
